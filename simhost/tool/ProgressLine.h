// The tool's progress report as text, kept apart from the clock, the thread and the terminal so that what it
// writes at each moment can be checked on its own: every call takes the time it happens at and returns what
// is to be written to stderr.
#pragma once

#include <cstdio>
#include <string>

namespace velloran_tool {

// By default a frame shorter than this finishes before a progress line would help; one that takes longer
// shows it. --progress-after changes it.
constexpr double kProgressAfterSeconds = 2.0;

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

// Moves to the start of the line and erases it.
constexpr const char* kEraseLine = "\r\033[K";

class ProgressReport {
public:
    // The line in place is drawn only on a terminal (a log or a pipe would collect every update), and only
    // once the frame has taken `delaySeconds`.
    ProgressReport(bool terminal, bool verbose, double delaySeconds)
        : terminal_(terminal), verbose_(verbose), delay_(delaySeconds) {}

    // Ends the stage before (its time on its own line with --verbose) and starts `stage`; the first call
    // starts the frame's clock. A line already showing, or one due, shows the new stage at once.
    std::string Enter(const std::string& stage, double now) {
        std::string text = FinishStage(now);
        if (!started_) {
            started_ = true;
            start_ = now;
        }
        stage_ = stage;
        stageStart_ = now;
        return text + Draw(now);
    }

    // The line brought up to date, once it is due.
    std::string Tick(double now) { return Draw(now); }

    // A message line (with its newline), written on a clean line: a line showing is erased first and drawn
    // again below the message, so that neither leaves a piece of the other.
    std::string Say(const std::string& line, double now) {
        const bool wasShown = shown_;
        std::string text = Erase() + line;
        if (wasShown) text += Draw(now);
        return text;
    }

    // Ends the last stage and erases the line. Nothing to write when no stage was entered.
    std::string End(double now) { return FinishStage(now); }

    bool Started() const { return started_; }
    bool Running() const { return !stage_.empty(); }
    bool Shown() const { return shown_; }
    // When the line is first due, in the clock of the calls.
    double DueAt() const { return start_ + delay_; }

private:
    std::string FinishStage(double now) {
        std::string text = Erase();
        if (!stage_.empty() && verbose_) text += StageTimeLine(stage_, now - stageStart_);
        stage_.clear();
        return text;
    }

    std::string Erase() {
        if (!shown_) return "";
        shown_ = false;
        return kEraseLine;
    }

    std::string Draw(double now) {
        if (!terminal_ || stage_.empty() || now - start_ < delay_) return "";
        shown_ = true;
        // The cursor is left at the start of the line, so that a message the effect writes itself begins
        // there rather than after the progress text.
        return std::string("\r") + ProgressText(stage_, now - start_) + "\033[K\r";
    }

    bool terminal_, verbose_;
    double delay_;
    bool started_ = false, shown_ = false;
    std::string stage_;
    double start_ = 0, stageStart_ = 0;
};

}  // namespace velloran_tool
