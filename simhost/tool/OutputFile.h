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

// Where the frame lies on the input's picture (`input`: where the input's pixels lie on it), in the input's own
// coordinates: the input's origin there plus the frame's origin as the effect grew it, on the input's picture.
// At --downsample N both are at 1/N: a coordinate becomes the pixel of 1/N it falls in, and the picture takes
// every such pixel it partly covers, as the host's frame takes every pixel of 1/N the input partly covers.
simhost::ImagePlacement PlacementOnInput(const ToolState& state, const simhost::ImagePlacement& input,
                                         const simhost::SimWorld& frame);

// Writes `frame` to the state's output and says so on stderr ("wrote PATH (WxH)"); returns the tool's exit
// status: 0, or 1 after one line saying why the file could not be written, the older file left as it was
// (but for a folder that could not be synced after the new file took its place, which the line says). A file
// replaced keeps its permissions.
int WriteOutputFile(const ToolState& state, const simhost::ImagePlacement& input, const simhost::SimWorld& frame);

}  // namespace velloran_tool
