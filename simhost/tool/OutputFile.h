// The frame's output file: written beside its final name and moved there only once it is whole, so that a
// failed or interrupted write never leaves a partial image under that name, nor destroys an older image there.
#pragma once

#include <string>

#include "simhost/World.h"

namespace velloran_tool {

// Writes `frame` to `path` and says so on stderr ("wrote PATH (WxH)"); returns the tool's exit status: 0, or 1
// after one line saying why the file could not be written.
int WriteOutputFile(const std::string& path, const simhost::SimWorld& frame);

}  // namespace velloran_tool
