#include "simhost/tool/RendererLine.h"

#include <cstdio>

#include "CGLStandIn.h"

namespace velloran_tool {

// The tool's own copy of the CGL stand-in picks the display by the same rules as the copy inside the bundle,
// so a context of its own gets the renderer the effect's contexts get.
void PrintRenderer() {
    const char* renderer = CGLStandInRenderer();
    std::fprintf(stderr, "velloran-render: renderer %s\n", renderer[0] ? renderer : "unknown (no OpenGL context)");
}

int LargestFrameSide() { return CGLStandInMaxTextureSize(); }

}  // namespace velloran_tool
