// The OpenGL renderer and version of a context made through the CGL stand-in, as the effect makes its own: the
// stand-in picks the display by the same rules in the benchmark's process as inside the bundle, so this is the
// renderer the timed frames ran on. The effect's own report is cut to the host's name length.
#pragma once

#include <string>

namespace velloran_bench {

struct GlInfo {
    std::string renderer, version;
    std::string error;  // why there is none, when renderer is empty
};

GlInfo QueryGlInfo();

}  // namespace velloran_bench
