// Where a frame is (pre-render, render, writing) and how long it has taken: with --verbose, one line per
// finished stage; on a terminal, once the frame takes more than a moment, one line that updates in place and
// is cleared when the frame ends.
#pragma once

namespace velloran_tool {

void SetVerboseProgress(bool verbose);
// Ends the stage before (if any) and starts `stage`; the first call starts the frame's clock.
void EnterStage(const char* stage);
// Ends the last stage and clears the line in place. Safe to call when no stage was entered.
void EndProgress();

}  // namespace velloran_tool
