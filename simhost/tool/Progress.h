// Where a frame is (reading, pre-render, render, writing) and how long it has taken: with --verbose, one line
// per finished stage; on a terminal, once the frame takes more than a moment, one line that updates in place and
// is cleared when the frame ends. The tool's own messages go through Say, so that they never share a line with
// it.
#pragma once

#include <string>

namespace velloran_tool {

void SetVerboseProgress(bool verbose);
// How long a frame runs before the line in place is shown (kProgressAfterSeconds unless changed).
void SetProgressDelay(double seconds);
// Ends the stage before (if any) and starts `stage`; the first call starts the frame's clock.
void EnterStage(const char* stage);
// Ends the last stage and clears the line in place. Safe to call when no stage was entered.
void EndProgress();
// Writes "velloran-render: TEXT" and a newline on stderr, on a line of its own.
void Say(const std::string& text);

}  // namespace velloran_tool
