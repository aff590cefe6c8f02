// Render threads of the simulated host: a fixed set of threads, each running the jobs given to it one after
// the other, as a host's render threads run frame after frame. Ending them lets every thread return and joins
// it, so whatever the effect keeps per thread has been torn down by the time End returns.
//
// A host that renders on these threads also serves "PF World Suite" v2 (through the effect-layer service),
// which the iris-blur library asks for an iris world's pixel format.
#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "simhost/SimHost.h"

namespace simhost {

class RenderThreads {
public:
    RenderThreads(SimHost& host, int count);
    ~RenderThreads();  // ends the threads still running
    RenderThreads(const RenderThreads&) = delete;
    RenderThreads& operator=(const RenderThreads&) = delete;

    int Count() const { return int(workers_.size()); }
    SimHost& host() { return host_; }

    // Runs job on thread `index` and waits for it; an exception of the job is thrown here.
    void Run(int index, const std::function<void()>& job);
    // Sends one command from thread `index`.
    CommandResult Send(int index, PF_Cmd cmd, const CommandArgs& args = {});
    // Runs jobs[i] on thread i, none starting before every thread has its job, and waits for all of them.
    // The first exception of a job (in thread order) is thrown here once all have finished.
    void RunTogether(const std::vector<std::function<void()>>& jobs);
    // Lets every thread return and joins it; later Run calls throw std::logic_error.
    void End();

private:
    struct Worker {
        std::thread thread;
        std::mutex mutex;
        std::condition_variable wake;
        std::function<void()> job;
        bool hasJob = false;
        bool jobDone = false;
        bool stop = false;
        std::exception_ptr failure;
    };
    static void Loop(Worker& worker);
    void Post(Worker& worker, std::function<void()> job);
    static void Wait(Worker& worker);

    SimHost& host_;
    std::vector<std::unique_ptr<Worker>> workers_;
    bool ended_ = false;
};

}  // namespace simhost
