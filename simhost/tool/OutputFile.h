// The frame's output file: written beside its final name and moved there only once every byte of it is on the
// storage, so that a failed or interrupted write never leaves a partial image under that name, nor destroys an
// older image there.
#pragma once

#include <string>

#include "simhost/ImageIO.h"
#include "simhost/World.h"
#include "simhost/tool/Options.h"

namespace velloran_tool {

// Throws std::invalid_argument when the output names a file the frame reads (the input or a layer), however it
// is spelled or linked: the frame would replace the user's own image.
void RefuseOutputOverInputs(const ToolState& state);

// Where the frame lies on the input's picture (`input`: where the input's pixels lie on it), in the input's own
// coordinates: the input's origin there plus the frame's origin as the effect grew it, on the input's picture.
// At --downsample N both are at 1/N: a coordinate becomes the pixel of 1/N it falls in, and the picture takes
// every such pixel it partly covers, as the host's frame takes every pixel of 1/N the input partly covers.
simhost::ImagePlacement PlacementOnInput(const ToolState& state, const simhost::ImagePlacement& input,
                                         const simhost::SimWorld& frame);

// Writes `frame` to the state's output and says so on stderr ("wrote PATH (WxH)"); returns the tool's exit
// status: 0, or 1 after one line saying why the file could not be written, the older file left as it was.
int WriteOutputFile(const ToolState& state, const simhost::ImagePlacement& input, const simhost::SimWorld& frame);

}  // namespace velloran_tool
