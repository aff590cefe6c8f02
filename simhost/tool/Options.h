// The command line of velloran-render as one table. Another tool file adds an option, or a step run before
// the frame, from a static initializer of its own:
//     static const bool added = velloran_tool::AddOption({"--set", "NAME=VALUE", "set a parameter",
//         [](velloran_tool::ToolState& s, const std::string& v) { s.extra["--set"].push_back(v); }});
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sdk/AE_Effect.h"
#include "simhost/SimHost.h"
#include "simhost/World.h"
#include "simhost/tool/ProgressLine.h"

namespace velloran_tool {

struct ToolState {
    std::string input;               // empty: the built-in test scene
    std::string output = "out.png";  // .png or .exr
    bool about = false;
    bool help = false;
    bool version = false;
    bool verbose = false;  // each stage's time as a plain line
    double progressAfter = kProgressAfterSeconds;  // seconds a frame runs before a terminal gets the line in place
    simhost::PixelDepth sceneDepth = simhost::PixelDepth::k32f;
    A_long sceneWidth = 192, sceneHeight = 128;
    bool sceneGiven = false;  // --scene-size or --scene-depth given, which only the built-in scene reads
    std::map<std::string, std::vector<std::string>> extra;  // values of options added by other tool files
    // Every image file the frame will read (the input, layers): checked before the host starts, so that a
    // missing file costs no set-up and says plainly what is wrong.
    std::vector<std::string> inputFiles;
    // Warnings found while parsing, one for each thing they are about (an option given 10,000 times is one
    // warning), said once parsing is done.
    std::map<std::string, std::string> warnings;
};

struct ToolOption {
    const char* name;      // "--about"
    const char* argument;  // null for a switch, else the value's name for the help text
    const char* help;
    std::function<void(ToolState&, const std::string& value)> apply;  // may throw std::invalid_argument
};

bool AddOption(ToolOption option);
const std::vector<ToolOption>& Options();

// An argument as a message quotes it: whole when short, else its first hundred characters and its length,
// so that a pasted megabyte does not fill the terminal.
std::string Quoted(const std::string& argument);
// "ASSIGNMENT: ERROR" for a --set the parameters refused, with the assignment quoted once: the error quotes
// pieces of it again, which for a long one are left out.
std::string SetRefusal(const std::string& assignment, const std::string& error);

// Parses argv; a lone argument that is not an option is the input file, as is every argument after "--".
// Throws std::invalid_argument.
ToolState ParseCommandLine(int argc, char** argv);
// Throws std::runtime_error naming the first input file that cannot be read, and why.
void CheckInputFiles(const ToolState& state);
std::string HelpText();
// True when the command line asks only for text (--about, --list-params, --controls): no frame is rendered
// and no file written.
bool PrintsOnly(const ToolState& state);

// Renders one frame of `input` through the host into `output`, which it fills with a world of its own.
using FrameRenderer =
    std::function<PF_Err(simhost::SimHost&, const ToolState&, const simhost::SimWorld& input, simhost::SimWorld& output)>;
// Replaces the renderer (the last one set wins); until a renderer is set, the frame passes through unchanged.
bool SetFrameRenderer(FrameRenderer renderer);
const FrameRenderer& CurrentFrameRenderer();

// Steps run on the host after global setup, before the frame (setting parameters, adding layers). A step that
// fails writes its own one-line reason to stderr and returns the error; one that finds a mistake in the
// command line throws std::invalid_argument instead, and the host is still set down before the tool ends.
using HostStep = std::function<PF_Err(simhost::SimHost&, const ToolState&)>;
// Steps run in rising `order`, those of one order as added: a step that reads what another sets up (the
// controls window reads the attached layers) asks for a later order.
bool AddBeforeFrameStep(HostStep step, int order = 0);
std::vector<HostStep> BeforeFrameSteps();

}  // namespace velloran_tool
