#include "bench/BenchOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace velloran_bench {

namespace {

[[noreturn]] void Refuse(const std::string& option, const std::string& value, const std::string& why) {
    throw std::invalid_argument(option + " " + value + ": " + why);
}

// Whole text as an integer in [low, high]; strtol alone would take "12abc" as 12.
int ParseInt(const std::string& option, const std::string& text, int low, int high) {
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE) Refuse(option, text, "not a whole number");
    if (value < low || value > high)
        Refuse(option, text, "must lie in " + std::to_string(low) + " to " + std::to_string(high));
    return int(value);
}

double ParseNumber(const std::string& option, const std::string& text, double low, double high) {
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno == ERANGE || !std::isfinite(value)) Refuse(option, text, "not a number");
    if (value < low || value > high) Refuse(option, text, "out of range");
    return value;
}

}  // namespace

void ParseSize(const std::string& text, int* width, int* height) {
    const size_t x = text.find('x');
    if (x == std::string::npos) Refuse("--size", text, "expected WIDTHxHEIGHT");
    *width = ParseInt("--size", text.substr(0, x), 1, 16384);
    *height = ParseInt("--size", text.substr(x + 1), 1, 16384);
}

BenchOptions ParseBenchOptions(int argc, const char* const* argv) {
    BenchOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--describe") {
            o.describe = true;
        } else if (arg == "--size") {
            ParseSize(value(), &o.width, &o.height);
        } else if (arg == "--mode") {
            o.mode = value();
            if (o.mode != "Exponential" && o.mode != "Lens Iris")
                Refuse(arg, o.mode, "expected \"Exponential\" or \"Lens Iris\"");
        } else if (arg == "--radius") {
            o.radius = ParseNumber(arg, value(), 0, 2000);  // the parameter's valid range
        } else if (arg == "--preset") {
            o.preset = value();
        } else if (arg == "--iris-iterations") {
            o.irisIterations = ParseInt(arg, value(), 1, 20);
        } else if (arg == "--frames") {
            o.timedFrames = ParseInt(arg, value(), 1, 1000);
        } else if (arg == "--max-seconds") {
            o.maxSeconds = ParseNumber(arg, value(), 0, 1e6);
        } else if (arg == "--threads") {
            o.threads = ParseInt(arg, value(), 1, 1024);
        } else if (arg == "--set") {
            o.assignments.push_back(value());
        } else if (arg == "--write-scene") {
            o.writeScene = value();
        } else if (arg == "--write-output") {
            o.writeOutput = value();
        } else if (arg == "--label") {
            o.label = value();
        } else {
            throw std::invalid_argument("unknown argument " + arg + " (see --help)");
        }
    }
    if (o.mode == "Lens Iris" && o.preset == "Custom")
        Refuse("--preset", o.preset, "\"Lens Iris\" has no \"Custom\" quality");
    return o;
}

std::string BenchHelpText() {
    return "usage: velloran-bench [options]\n"
           "Renders the built-in test frame through the simulated host and prints the time the effect takes\n"
           "for the smart pre-render and render commands: the first frame on its own, then the median of the\n"
           "timed frames after it. One line of NAME=VALUE fields, tab-separated.\n"
           "  --size WxH              frame size (1920x1080)\n"
           "  --mode MODE             \"Exponential\" or \"Lens Iris\" (Exponential)\n"
           "  --radius R              Radius, 0 to 2000 (100)\n"
           "  --preset NAME           quality preset: Draft, Low, Medium, Standard, High, Extreme, Custom (Medium)\n"
           "  --iris-iterations N     Iris Iterations, 1 to 20 (10)\n"
           "  --frames N              timed frames after the first (3)\n"
           "  --max-seconds S         fewer timed frames (one at least) where they would take longer than S\n"
           "  --threads N             the host's worker threads (one per core)\n"
           "  --set NAME=VALUE        any other parameter, by name or index (repeatable)\n"
           "  --label TEXT            carried into the result line\n"
           "  --write-scene FILE      write the test frame (.exr or .png) and exit\n"
           "  --write-output FILE     write the last frame's output\n"
           "  --describe              print the GL renderer and the host's set-up, render nothing\n";
}

}  // namespace velloran_bench
