// The host's generic parallel loop: every index once, thread numbers within the host's threads, the first
// error stops the loop and is returned, a planned failure calls nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "sdk/AEGP_IterateSuite.h"
#include "simhost/IterateGeneric.h"
#include "support/SimHostFixture.h"

namespace {

struct Visits {
    std::vector<std::atomic<int>> perIndex;
    std::atomic<int> badThread{0};
    std::atomic<int> badTotal{0};
    int threads = 0;
    A_long iterations = 0;
    A_long failAt = -1;
    explicit Visits(A_long n) : perIndex(size_t(n)) {}
};

A_Err Visit(void* refcon, A_long thread, A_long i, A_long iterations) {
    auto* v = static_cast<Visits*>(refcon);
    if (thread < 0 || thread >= v->threads) ++v->badThread;
    if (iterations != v->iterations) ++v->badTotal;
    ++v->perIndex[size_t(i)];
    return i == v->failAt ? PF_Err_OUT_OF_MEMORY : PF_Err_NONE;
}

class IterateGeneric : public testsupport::SimHostTest {
protected:
    const AEGP_IterateSuite1* Suite() {
        const void* suite = nullptr;
        EXPECT_EQ(host().AcquireSuite(kAEGPIterateSuite, kAEGPIterateSuiteVersion1, &suite), kSPNoError);
        return static_cast<const AEGP_IterateSuite1*>(suite);
    }
    void Release() { host().ReleaseSuite(kAEGPIterateSuite, kAEGPIterateSuiteVersion1); }
};

TEST_F(IterateGeneric, VisitsEveryIndexOnceOnTheHostsThreads) {
    for (int threads : {1, 3, 8}) {
        host().SetWorkerThreads(threads);
        Visits v(500);
        v.threads = threads;
        v.iterations = 500;
        EXPECT_EQ(Suite()->AEGP_IterateGeneric(500, &v, Visit), PF_Err_NONE);
        Release();
        for (size_t i = 0; i < v.perIndex.size(); ++i) ASSERT_EQ(v.perIndex[i].load(), 1) << "index " << i;
        EXPECT_EQ(v.badThread.load(), 0) << threads << " threads";
        EXPECT_EQ(v.badTotal.load(), 0);
    }
}

TEST_F(IterateGeneric, TheFirstErrorIsReturnedAndAPlannedFailureCallsNothing) {
    Visits v(200);
    v.threads = host().WorkerThreads();
    v.iterations = 200;
    v.failAt = 17;
    EXPECT_EQ(Suite()->AEGP_IterateGeneric(200, &v, Visit), PF_Err_OUT_OF_MEMORY);
    Release();

    Visits none(10);
    none.threads = host().WorkerThreads();
    none.iterations = 10;
    host().Faults().FailCall(simhost::kIterateGenericFault);
    EXPECT_EQ(Suite()->AEGP_IterateGeneric(10, &none, Visit), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(Suite()->AEGP_IterateGeneric(0, &none, Visit), PF_Err_NONE);
    Release();
    Release();
    for (auto& count : none.perIndex) EXPECT_EQ(count.load(), 0);
}

}  // namespace
