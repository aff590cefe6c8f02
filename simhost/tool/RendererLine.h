#pragma once

#include <string>

namespace velloran_tool {

// Prints on standard error the OpenGL renderer the effect draws with, so a frame made on a software renderer
// never passes for one made on the GPU.
void PrintRenderer();

// The widest and tallest frame that renderer takes (its largest texture), 0 when it cannot be asked.
int LargestFrameSide();

// Whether a context like the effect's own can be made here, and if not, why.
bool CanMakeContext();
std::string ContextFailure();

}  // namespace velloran_tool
