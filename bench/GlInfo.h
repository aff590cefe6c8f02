// The OpenGL renderer this machine gives a surfaceless EGL context, asked the way the effect's CGL layer asks
// (Mesa's surfaceless platform first, then the first EGL device that initialises). The benchmark states it
// when the effect itself reports no renderer.
#pragma once

#include <string>

namespace velloran_bench {

struct GlInfo {
    std::string renderer, version;
    std::string error;  // why there is none, when renderer is empty
};

GlInfo QueryGlInfo();

}  // namespace velloran_bench
