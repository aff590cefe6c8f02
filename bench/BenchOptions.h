// The command line of velloran-bench: one configuration of the effect per run, so that the first frame of each
// configuration is a cold one (the bundle and its per-thread programs live as long as the process).
#pragma once

#include <string>
#include <vector>

namespace velloran_bench {

struct BenchOptions {
    int width = 1920, height = 1080;
    std::string mode = "Exponential";  // "Glow Mode": "Exponential" or "Lens Iris"
    double radius = 100;
    std::string preset = "Medium";     // "Quality Preset" (and "Quality Preset Iris" in "Lens Iris")
    int irisIterations = 10;
    int timedFrames = 3;               // frames timed after the first one
    double maxSeconds = 0;             // stop the timed frames (after one at least) at this much effect time; 0: never
    int threads = 0;                   // the host's worker threads; 0: one per core
    std::vector<std::string> assignments;  // further "Name=VALUE" settings, applied last
    std::string writeScene;            // write the test frame (and nothing else) to this file
    std::string writeOutput;           // write the last frame's output to this file
    std::string label;                 // printed with the result, for the report
    bool describe = false;             // print the machine's GL renderer and the host's set-up, render nothing
    bool help = false;
};

// Throws std::invalid_argument naming the option and the value it could not take.
BenchOptions ParseBenchOptions(int argc, const char* const* argv);
// "WIDTHxHEIGHT", both at least 1 and at most 16384.
void ParseSize(const std::string& text, int* width, int* height);
std::string BenchHelpText();

}  // namespace velloran_bench
