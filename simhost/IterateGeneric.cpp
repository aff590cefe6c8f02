#include "simhost/IterateGeneric.h"

#include <map>
#include <mutex>
#include <thread>

#include "simhost/CallFailures.h"
#include "simhost/Parallel.h"
#include "simhost/SimHost.h"

namespace simhost {

namespace {

// Numbers the threads of one loop in the order they take their first iteration, so that an effect keeping
// per-thread scratch space by index gets indices below the thread count.
class ThreadNumbers {
public:
    A_long Of(std::thread::id id) {
        std::lock_guard<std::mutex> lock(mutex_);
        return numbers_.emplace(id, A_long(numbers_.size())).first->second;
    }

private:
    std::mutex mutex_;
    std::map<std::thread::id, A_long> numbers_;
};

A_Err IterateGeneric(A_long iterationsL, void* refconPV, AEGP_IterateGenericFunc fn_func) {
    SimHost* host = SimHost::Active();
    if (!host || !fn_func) return PF_Err_BAD_CALLBACK_PARAM;
    if (PF_Err err = PlannedFailure(*host, kIterateGenericFault)) return err;
    ThreadNumbers threads;
    return ParallelRows(iterationsL, host->WorkerThreads(), [&](A_long i) -> PF_Err {
        return fn_func(refconPV, threads.Of(std::this_thread::get_id()), i, iterationsL);
    });
}

const AEGP_IterateSuite1 kIterateSuite1 = {IterateGeneric};

}  // namespace

void InstallIterateGenericSuite(SimHost& host) {
    host.AddSuite(kAEGPIterateSuite, kAEGPIterateSuiteVersion1, &kIterateSuite1);
}

}  // namespace simhost
