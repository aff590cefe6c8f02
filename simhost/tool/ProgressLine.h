// The texts of the tool's progress report, kept apart from the clock and the terminal so that they can be
// checked on their own.
#pragma once

#include <cstdio>
#include <string>

namespace velloran_tool {

// A frame shorter than this finishes before a progress line would help; one that takes longer shows it.
constexpr double kProgressAfterSeconds = 2.0;

// Whether the line that updates in place is drawn: only on a terminal (a log or a pipe would collect every
// update), and only once the frame has taken a while.
inline bool ShowsProgressLine(bool stderrIsTerminal, double secondsSinceStart) {
    return stderrIsTerminal && secondsSinceStart >= kProgressAfterSeconds;
}

inline std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s", seconds < 0 ? 0.0 : seconds);
    return text;
}

// The line that updates in place: where the frame is and how long it has taken so far.
inline std::string ProgressText(const std::string& stage, double secondsSinceStart) {
    return "velloran-render: " + stage + "... " + Seconds(secondsSinceStart);
}

// One plain line per finished stage, for logs (--verbose).
inline std::string StageTimeLine(const std::string& stage, double stageSeconds) {
    return "velloran-render: " + stage + " took " + Seconds(stageSeconds) + "\n";
}

}  // namespace velloran_tool
