#include "simhost/tool/RendererLine.h"

#include <string>

#include "CGLStandIn.h"
#include "simhost/tool/Progress.h"

namespace velloran_tool {

// The tool's own copy of the CGL stand-in picks the display by the same rules as the copy inside the bundle,
// so a context of its own gets the renderer the effect's contexts get.
void PrintRenderer() {
    const char* renderer = CGLStandInRenderer();
    Say(std::string("renderer ") + (renderer[0] ? renderer : "unknown (no OpenGL context)"));
}

bool CanMakeContext() { return CGLStandInRenderer()[0] != '\0'; }

std::string ContextFailure() {
    const char* why = CGLStandInContextFailure();
    return why[0] ? why : "no reason given";
}

int LargestFrameSide() { return CGLStandInMaxTextureSize(); }

}  // namespace velloran_tool
