#include "simhost/tool/Progress.h"

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "simhost/tool/ProgressLine.h"

namespace velloran_tool {

namespace {

using Clock = std::chrono::steady_clock;

double SecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

class Progress {
public:
    ~Progress() { End(); }

    void SetVerbose(bool verbose) {
        std::lock_guard<std::mutex> lock(mutex_);
        verbose_ = verbose;
    }

    void Enter(const char* stage) {
        std::unique_lock<std::mutex> lock(mutex_);
        const Clock::time_point now = Clock::now();
        FinishStage(now);
        if (!started_) {
            started_ = true;
            start_ = now;
            if (::isatty(STDERR_FILENO)) ticker_ = std::thread([this] { Tick(); });
        }
        stage_ = stage;
        stageStart_ = now;
    }

    void End() {
        std::unique_lock<std::mutex> lock(mutex_);
        FinishStage(Clock::now());
        stopping_ = true;
        lock.unlock();
        wake_.notify_all();
        if (ticker_.joinable()) ticker_.join();
    }

private:
    // Caller holds mutex_.
    void FinishStage(Clock::time_point now) {
        ClearLine();
        if (!stage_.empty() && verbose_)
            std::fputs(StageTimeLine(stage_, SecondsBetween(stageStart_, now)).c_str(), stderr);
        stage_.clear();
    }

    // Caller holds mutex_.
    void ClearLine() {
        if (!lineShown_) return;
        std::fputs("\r\033[K", stderr);
        lineShown_ = false;
    }

    void Tick() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stopping_) {
            wake_.wait_for(lock, std::chrono::milliseconds(200));
            if (stopping_ || stage_.empty()) continue;
            const double elapsed = SecondsBetween(start_, Clock::now());
            if (!ShowsProgressLine(true, elapsed)) continue;
            // The cursor is left at the start of the line, so that any other message simply writes over it.
            std::fputs(("\r" + ProgressText(stage_, elapsed) + "\033[K\r").c_str(), stderr);
            lineShown_ = true;
        }
        ClearLine();
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread ticker_;
    bool verbose_ = false, started_ = false, stopping_ = false, lineShown_ = false;
    std::string stage_;
    Clock::time_point start_, stageStart_;
};

Progress& TheProgress() {
    static Progress progress;
    return progress;
}

}  // namespace

void SetVerboseProgress(bool verbose) { TheProgress().SetVerbose(verbose); }
void EnterStage(const char* stage) { TheProgress().Enter(stage); }
void EndProgress() { TheProgress().End(); }

}  // namespace velloran_tool
