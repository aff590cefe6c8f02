// Standard output carries only what the user asked for (the version, the About text, the parameter list, the
// controls), so that it can be piped or compared; whatever the loaded effect prints on its standard output is
// a message, and goes to stderr with the tool's own.
#pragma once

#include <cstdio>

namespace velloran_tool {

// Keeps the real standard output for UserOutput and points file descriptor 1, where the effect's prints go,
// at stderr. Called once, before the effect is loaded.
void SeparateUserOutput();
// Where the tool writes what the user asked for.
std::FILE* UserOutput();
// Flushes it; false (with a line on stderr) when what was asked for could not all be written.
bool FinishUserOutput();

}  // namespace velloran_tool
