#pragma once

namespace velloran_tool {

// Prints on standard error the OpenGL renderer the effect draws with, so a frame made on a software renderer
// never passes for one made on the GPU.
void PrintRenderer();

}  // namespace velloran_tool
