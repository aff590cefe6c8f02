#include "simhost/tool/Options.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace velloran_tool {

namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}
bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Known before the frame is rendered, so a typing slip in the name does not cost the render.
void SetOutput(ToolState& s, const std::string& v) {
    const std::string lower = Lower(v);
    if (!EndsWith(lower, ".png") && !EndsWith(lower, ".exr"))
        throw std::invalid_argument("the output file " + Quoted(v) + " must end in .png or .exr");
    s.output = v;
}

std::vector<ToolOption>& Table() {
    static std::vector<ToolOption> table = {
        {"--about", nullptr, "print the effect's About text (and render nothing)",
         [](ToolState& s, const std::string&) { s.about = true; }},
        {"--output", "FILE", "write the frame to FILE, .png or .exr; default out.png", SetOutput},
        {"-o", "FILE", "same as --output", SetOutput},
        {"--scene-depth", "8|32", "bit depth of the built-in test scene (default 32)",
         [](ToolState& s, const std::string& v) {
             s.sceneGiven = true;
             if (v == "8")
                 s.sceneDepth = simhost::PixelDepth::k8;
             else if (v == "32")
                 s.sceneDepth = simhost::PixelDepth::k32f;
             else
                 throw std::invalid_argument("--scene-depth takes 8 or 32");
         }},
        {"--scene-size", "WxH", "size of the built-in test scene (default 192x128)",
         [](ToolState& s, const std::string& v) {
             int w = 0, h = 0;
             char x = 0, rest = 0;
             if (std::sscanf(v.c_str(), "%d%c%d%c", &w, &x, &h, &rest) != 3 || x != 'x' || w <= 0 || h <= 0 ||
                 w > 8192 || h > 8192)
                 throw std::invalid_argument("--scene-size takes WIDTHxHEIGHT, e.g. 192x128");
             s.sceneWidth = w;
             s.sceneHeight = h;
             s.sceneGiven = true;
         }},
        {"--verbose", nullptr, "print the time each stage of the frame took (pre-render, render, writing)",
         [](ToolState& s, const std::string&) { s.verbose = true; }},
        {"-v", nullptr, "same as --verbose", [](ToolState& s, const std::string&) { s.verbose = true; }},
        {"--progress-after", "SECONDS",
         "on a terminal, show the frame's progress on one line once it has taken SECONDS (default 2)",
         [](ToolState& s, const std::string& v) {
             char* end = nullptr;
             const double seconds = std::strtod(v.c_str(), &end);
             // A week at most: the line is for a person watching, and the clock takes no more.
             if (v.empty() || !end || *end != '\0' || !(seconds >= 0 && seconds <= 604800))
                 throw std::invalid_argument("--progress-after takes a number of seconds from 0 to 604800");
             s.progressAfter = seconds;
         }},
        {"--version", nullptr, "print the effect's name and version",
         [](ToolState& s, const std::string&) { s.version = true; }},
        {"--help", nullptr, "show this text", [](ToolState& s, const std::string&) { s.help = true; }},
        {"-h", nullptr, "same as --help", [](ToolState& s, const std::string&) { s.help = true; }},
    };
    return table;
}

FrameRenderer& Renderer() {
    static FrameRenderer renderer;
    return renderer;
}

std::vector<std::pair<int, HostStep>>& Steps() {
    static std::vector<std::pair<int, HostStep>> steps;
    return steps;
}

}  // namespace

bool AddOption(ToolOption option) {
    Table().push_back(std::move(option));
    return true;
}

const std::vector<ToolOption>& Options() { return Table(); }

std::string Quoted(const std::string& argument) {
    constexpr size_t kShown = 100;
    if (argument.size() <= kShown + 20) return argument;
    return argument.substr(0, kShown) + "... (" + std::to_string(argument.size()) + " characters)";
}

std::string SetRefusal(const std::string& assignment, const std::string& error) {
    if (Quoted(assignment) == assignment) return assignment + ": " + error;
    // The error names the parameter or the value as typed, in quotes or after its last colon: such a piece of
    // the assignment is cut short there, the rest of the error kept.
    constexpr size_t kPiece = 40;
    const auto cut = [&](const std::string& piece) {
        return piece.size() > kPiece && assignment.find(piece) != std::string::npos ? piece.substr(0, kPiece) + "..."
                                                                                    : piece;
    };
    std::string shortened;
    size_t from = 0;
    for (;;) {
        const size_t open = error.find('"', from);
        const size_t close = open == std::string::npos ? std::string::npos : error.find('"', open + 1);
        if (close == std::string::npos) break;
        shortened += error.substr(from, open + 1 - from) + cut(error.substr(open + 1, close - open - 1)) + '"';
        from = close + 1;
    }
    std::string rest = error.substr(from);
    const size_t colon = rest.rfind(": ");
    if (colon != std::string::npos) rest = rest.substr(0, colon + 2) + cut(rest.substr(colon + 2));
    return Quoted(assignment) + ": " + shortened + rest;
}

ToolState ParseCommandLine(int argc, char** argv) {
    ToolState state;
    bool haveInput = false, optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool inlineValue = false;
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            const size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
                inlineValue = true;
            }
        }
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            if (haveInput)
                throw std::invalid_argument("more than one input file: " + Quoted(state.input) + " and " +
                                            Quoted(arg));
            state.input = arg;
            state.inputFiles.push_back(arg);
            haveInput = true;
            continue;
        }
        const ToolOption* option = nullptr;
        for (const ToolOption& o : Table())
            if (arg == o.name) option = &o;
        if (!option) throw std::invalid_argument("unknown option " + Quoted(arg) + " (see --help)");
        if (option->argument && !inlineValue) {
            if (i + 1 >= argc) throw std::invalid_argument(arg + " needs " + option->argument);
            value = argv[++i];
        } else if (!option->argument && inlineValue) {
            throw std::invalid_argument(arg + " takes no value");
        }
        option->apply(state, value);
    }
    if (haveInput && state.sceneGiven)
        state.warnings["--scene"] = "--scene-size and --scene-depth shape only the built-in scene; the input " +
                                    Quoted(state.input) + " is rendered as it is";
    return state;
}

void CheckInputFiles(const ToolState& state) {
    for (const std::string& path : state.inputFiles) {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) {
            throw std::runtime_error(Quoted(path) + ": cannot read (" + std::strerror(errno) + ")");
        }
        if (S_ISDIR(info.st_mode))
            throw std::runtime_error(Quoted(path) + ": cannot read (a folder, not an image file)");
        if (::access(path.c_str(), R_OK) != 0) {
            throw std::runtime_error(Quoted(path) + ": cannot read (" + std::strerror(errno) + ")");
        }
    }
}

std::string HelpText() {
    std::string text = "usage: velloran-render [options] [--] [input.png|input.exr]\n"
                       "Loads the effect's bundle into the simulated host and renders one frame of the input\n"
                       "(without an input, a built-in test scene).\n\n";
    for (const ToolOption& o : Table()) {
        std::string left = std::string("  ") + o.name + (o.argument ? std::string(" ") + o.argument : "");
        if (left.size() < 24) left.resize(24, ' ');
        text += left + " " + o.help + "\n";
    }
    text += "\nOutput files:\n"
            "  PNG   an 8-bit frame is written with 8 bits a channel; a 32-bit frame gets 16 bits a channel.\n"
            "  EXR   32-bit float; its display window is the input's (a PNG's: the frame at 0,0), and its\n"
            "        data window is the input's data window grown by the glow, in the input's coordinates.\n"
            "--about, --list-params and --controls print and exit without rendering or writing a file.\n"
            "Parameter names match without regard to case; a name several parameters share needs the index.\n"
            "On a terminal, a frame that takes more than two seconds (--progress-after) shows its progress on\n"
            "one line. Everything after -- is a file name, even when it starts with -.\n";
    return text;
}

bool SetFrameRenderer(FrameRenderer renderer) {
    Renderer() = std::move(renderer);
    return true;
}

const FrameRenderer& CurrentFrameRenderer() { return Renderer(); }

bool AddBeforeFrameStep(HostStep step, int order) {
    Steps().emplace_back(order, std::move(step));
    return true;
}

std::vector<HostStep> BeforeFrameSteps() {
    std::vector<std::pair<int, HostStep>> steps = Steps();
    std::stable_sort(steps.begin(), steps.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<HostStep> ordered;
    for (auto& s : steps) ordered.push_back(std::move(s.second));
    return ordered;
}

bool PrintsOnly(const ToolState& state) {
    return state.about || state.extra.count("--list-params") || state.extra.count("--controls");
}

}  // namespace velloran_tool
