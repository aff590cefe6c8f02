#pragma once

#include <string>
#include <vector>

namespace velloran_tool {

// The lines of text the effect drew into frames since the last call, in the order drawn. The tool serves the
// effect's text drawing itself (passing every call on), so what it reports is what the picture shows.
std::vector<std::string> TakeDrawnText();

}  // namespace velloran_tool
