#include "simhost/RenderThreads.h"

#include <stdexcept>

#include "simhost/LayerSuites.h"

namespace simhost {

RenderThreads::RenderThreads(SimHost& host, int count) : host_(host) {
    EffectLayerOf(host);  // installs the world suite among the effect layer's suites
    if (count < 1) count = 1;
    for (int i = 0; i < count; ++i) {
        workers_.push_back(std::make_unique<Worker>());
        Worker& worker = *workers_.back();
        worker.thread = std::thread([&worker] { Loop(worker); });
    }
}

RenderThreads::~RenderThreads() { End(); }

void RenderThreads::Loop(Worker& worker) {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(worker.mutex);
            worker.wake.wait(lock, [&] { return worker.hasJob || worker.stop; });
            if (!worker.hasJob) return;  // stopping with nothing left to run
            job = std::move(worker.job);
        }
        std::exception_ptr failure;
        try {
            job();
        } catch (...) {
            failure = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> lock(worker.mutex);
            worker.hasJob = false;
            worker.jobDone = true;
            worker.failure = failure;
        }
        worker.wake.notify_all();
    }
}

void RenderThreads::Post(Worker& worker, std::function<void()> job) {
    {
        std::lock_guard<std::mutex> lock(worker.mutex);
        worker.job = std::move(job);
        worker.hasJob = true;
        worker.jobDone = false;
        worker.failure = nullptr;
    }
    worker.wake.notify_all();
}

void RenderThreads::Wait(Worker& worker) {
    std::unique_lock<std::mutex> lock(worker.mutex);
    worker.wake.wait(lock, [&] { return worker.jobDone; });
}

void RenderThreads::Run(int index, const std::function<void()>& job) {
    if (ended_) throw std::logic_error("simhost: render threads have ended");
    Worker& worker = *workers_.at(size_t(index));
    Post(worker, job);
    Wait(worker);
    if (worker.failure) std::rethrow_exception(worker.failure);
}

CommandResult RenderThreads::Send(int index, PF_Cmd cmd, const CommandArgs& args) {
    CommandResult result;
    Run(index, [&] { result = host_.Send(cmd, args); });
    return result;
}

void RenderThreads::RunTogether(const std::vector<std::function<void()>>& jobs) {
    if (ended_) throw std::logic_error("simhost: render threads have ended");
    if (jobs.size() > workers_.size()) throw std::out_of_range("simhost: more jobs than render threads");

    // Every job waits until all have arrived, so their first steps really overlap.
    std::mutex gateMutex;
    std::condition_variable gate;
    size_t arrived = 0;
    for (size_t i = 0; i < jobs.size(); ++i) {
        Post(*workers_[i], [&, i] {
            {
                std::unique_lock<std::mutex> lock(gateMutex);
                if (++arrived == jobs.size()) gate.notify_all();
                gate.wait(lock, [&] { return arrived == jobs.size(); });
            }
            jobs[i]();
        });
    }
    for (size_t i = 0; i < jobs.size(); ++i) Wait(*workers_[i]);
    for (size_t i = 0; i < jobs.size(); ++i) {
        if (workers_[i]->failure) std::rethrow_exception(workers_[i]->failure);
    }
}

void RenderThreads::End() {
    if (ended_) return;
    ended_ = true;
    for (auto& worker : workers_) {
        {
            std::lock_guard<std::mutex> lock(worker->mutex);
            worker->stop = true;
        }
        worker->wake.notify_all();
    }
    for (auto& worker : workers_) {
        if (worker->thread.joinable()) worker->thread.join();
    }
}

}  // namespace simhost
