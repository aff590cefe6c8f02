#include "bench/GlInfo.h"

#include "CGLStandIn.h"

namespace velloran_bench {

GlInfo QueryGlInfo() {
    GlInfo info;
    info.renderer = CGLStandInRenderer();
    info.version = CGLStandInVersion();
    if (info.renderer.empty()) {
        const std::string failure = CGLStandInContextFailure();
        info.error = "no OpenGL 3.3 core context: " + (failure.empty() ? std::string("no renderer text") : failure);
    }
    return info;
}

}  // namespace velloran_bench
