#pragma once

#include <string>
#include <vector>

namespace velloran_tool {

// The warning lines the effect composited into frames since the last call, in the order drawn. The tool, as
// the host, sees each line as a world the effect lays over its output; it names the line by comparing that
// world with the effect's warning lines as they are drawn, so what it reports is what the picture shows.
std::vector<std::string> TakeDrawnText();

}  // namespace velloran_tool
