// The frame's output file: written as a file nobody else can reach and given its final name only once every
// byte of it is on the storage, so that a failed or interrupted write never leaves a partial image under that
// name nor anything beside it, never destroys an older image there, and never writes through a planted link.
#pragma once

#include <string>

#include "simhost/ImageIO.h"
#include "simhost/World.h"
#include "simhost/tool/Options.h"

namespace velloran_tool {

// Throws std::invalid_argument when the output names a file the frame reads (the input or a layer), however it
// is spelled or linked: the frame would replace the user's own image.
void RefuseOutputOverInputs(const ToolState& state);

// Throws std::runtime_error, with the line to show, when the frame could not be written where the output names,
// before any time goes into rendering it: the folder missing, not a folder or not writable, or the name
// taken by a folder. Does nothing for a run that writes no frame.
void CheckOutputFolder(const ToolState& state);

// Where the frame lies on the input's picture: its origin as the effect grew it, in a picture of the input's
// size at the frame's resolution (1/N of it for --downsample N).
simhost::ImagePlacement PlacementOnInput(const ToolState& state, const simhost::SimWorld& input,
                                         const simhost::SimWorld& frame);

// Writes `frame` to the state's output and says so on stderr ("wrote PATH (WxH)"); returns the tool's exit
// status: 0, or 1 after one line saying why the file could not be written, the older file left as it was
// (but for a folder that could not be synced after the new file took its place, which the line says). A file
// replaced keeps its permissions.
int WriteOutputFile(const ToolState& state, const simhost::SimWorld& input, const simhost::SimWorld& frame);

}  // namespace velloran_tool
