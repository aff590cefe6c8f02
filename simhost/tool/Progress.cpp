#include "simhost/tool/Progress.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#include "simhost/tool/ProgressLine.h"

namespace velloran_tool {

namespace {

using Clock = std::chrono::steady_clock;

// How often the line in place is brought up to date once it shows.
constexpr std::chrono::milliseconds kTickEvery(200);

class Progress {
public:
    ~Progress() { End(); }

    void SetVerbose(bool verbose) {
        std::lock_guard<std::mutex> lock(mutex_);
        verbose_ = verbose;
    }

    void SetDelay(double seconds) {
        std::lock_guard<std::mutex> lock(mutex_);
        delay_ = seconds;
    }

    void Enter(const char* stage) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!report_) {
            const bool terminal = ::isatty(STDERR_FILENO) == 1;
            report_ = std::make_unique<ProgressReport>(terminal, verbose_, delay_);
            epoch_ = Clock::now();
            if (terminal) ticker_ = std::thread([this] { Tick(); });
        }
        Write(report_->Enter(stage, Now()));
    }

    void End() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (report_) Write(report_->End(Now()));
        stopping_ = true;
        lock.unlock();
        wake_.notify_all();
        if (ticker_.joinable()) ticker_.join();
    }

    void Say(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        // What the effect printed (sent to stderr) comes first, as it came first.
        std::fflush(stdout);
        const std::string line = "velloran-render: " + text + "\n";
        Write(report_ ? report_->Say(line, Now()) : line);
    }

private:
    double Now() const { return std::chrono::duration<double>(Clock::now() - epoch_).count(); }

    // Caller holds mutex_. Unbuffered stderr writes each piece at once; one piece keeps a line whole.
    static void Write(const std::string& text) {
        if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stderr);
    }

    void Tick() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stopping_) {
            // Asleep until the line is due, then woken at each step.
            // (a minute at most at a time: a delay of years would overflow the clock's time points)
            const double untilDue = report_->Shown() ? 0.0 : std::min(report_->DueAt() - Now(), 60.0);
            if (untilDue > 0)
                wake_.wait_for(lock, std::chrono::duration<double>(untilDue));
            else
                wake_.wait_for(lock, kTickEvery);
            if (!stopping_) Write(report_->Tick(Now()));
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread ticker_;
    bool verbose_ = false, stopping_ = false;
    double delay_ = kProgressAfterSeconds;
    std::unique_ptr<ProgressReport> report_;
    Clock::time_point epoch_;
};

Progress& TheProgress() {
    static Progress progress;
    return progress;
}

}  // namespace

void SetVerboseProgress(bool verbose) { TheProgress().SetVerbose(verbose); }
void SetProgressDelay(double seconds) { TheProgress().SetDelay(seconds); }
void EnterStage(const char* stage) { TheProgress().Enter(stage); }
void EndProgress() { TheProgress().End(); }
void Say(const std::string& text) { TheProgress().Say(text); }

}  // namespace velloran_tool
