// The simulated host's own parts that the effect relies on being real: handles, faults, worlds and row
// spreading. A host part that quietly does nothing would let effect faults through.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

#include "simhost/Parallel.h"
#include "simhost/SimHost.h"
#include "simhost/World.h"
#include "support/TempHome.h"

namespace {

class SimHostPartsTest : public ::testing::Test {
protected:
    testsupport::ScopedHome home_;
    simhost::SimHost host_;
    const PF_HandleSuite2* handles_ = [this] {
        const void* s = nullptr;
        host_.AcquireSuite(kPFHandleSuite, 2, &s);
        return static_cast<const PF_HandleSuite2*>(s);
    }();
    void TearDown() override { host_.ReleaseSuite(kPFHandleSuite, 2); }
};

TEST_F(SimHostPartsTest, HandlesHoldRealZeroedMemoryUntilDisposed) {
    ASSERT_NE(handles_, nullptr);
    PF_Handle h = handles_->host_new_handle(64);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(handles_->host_get_handle_size(h), 64u);
    auto* p = static_cast<unsigned char*>(handles_->host_lock_handle(h));
    ASSERT_EQ(p, *h) << "a locked handle's block is what the handle points at";
    for (int i = 0; i < 64; ++i) ASSERT_EQ(p[i], 0);
    std::memset(p, 7, 64);
    EXPECT_EQ(host_.Handles().LockCount(h), 1);
    handles_->host_unlock_handle(h);
    EXPECT_EQ(host_.Handles().Live(), 1);
    handles_->host_dispose_handle(h);
    EXPECT_EQ(host_.Handles().Live(), 0);
    // Using it after disposal is counted as the effect's fault, not followed.
    handles_->host_dispose_handle(h);
    EXPECT_EQ(handles_->host_lock_handle(h), nullptr);
    EXPECT_EQ(host_.Handles().BadHandleCalls(), 2);
}

TEST_F(SimHostPartsTest, TheUtilityCallbacksShareTheHandleStore) {
    PF_Handle h = host_.Utils().host_new_handle(8);
    EXPECT_TRUE(host_.Handles().IsLive(h));
    handles_->host_dispose_handle(h);
    EXPECT_EQ(host_.Handles().Live(), 0);
}

TEST_F(SimHostPartsTest, ResizingKeepsTheContentsAndRefusesALockedBlock) {
    PF_Handle h = handles_->host_new_handle(4);
    std::memcpy(handles_->host_lock_handle(h), "abcd", 4);
    EXPECT_NE(handles_->host_resize_handle(16, &h), PF_Err_NONE);
    handles_->host_unlock_handle(h);
    ASSERT_EQ(handles_->host_resize_handle(16, &h), PF_Err_NONE);
    const char* p = static_cast<const char*>(handles_->host_lock_handle(h));
    EXPECT_EQ(std::string(p, 4), "abcd");
    EXPECT_EQ(p[15], 0);
    handles_->host_unlock_handle(h);
    handles_->host_dispose_handle(h);
}

TEST_F(SimHostPartsTest, TheNthCallOfANamedHostCallFailsOnDemand) {
    host_.Faults().FailCall("host_new_handle", 2);
    PF_Handle a = handles_->host_new_handle(1);
    PF_Handle b = handles_->host_new_handle(1);
    PF_Handle c = handles_->host_new_handle(1);
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(b, nullptr);
    EXPECT_NE(c, nullptr);
    host_.Faults().FailCallsFrom("host_lock_handle", 1);
    EXPECT_EQ(handles_->host_lock_handle(a), nullptr);
    EXPECT_EQ(handles_->host_lock_handle(c), nullptr);
    host_.Faults().Clear();
    EXPECT_NE(handles_->host_lock_handle(a), nullptr);
    handles_->host_unlock_handle(a);
    handles_->host_dispose_handle(a);
    handles_->host_dispose_handle(c);
    EXPECT_EQ(host_.Faults().Calls("host_new_handle"), 3);
}

TEST_F(SimHostPartsTest, TheAbortCheckInterruptsAfterNChecks) {
    PF_InData& in = host_.InDataTemplate();
    host_.Faults().InterruptAfterAbortChecks(2);
    EXPECT_EQ(in.inter.abort(in.effect_ref), PF_Err_NONE);
    EXPECT_EQ(in.inter.abort(in.effect_ref), PF_Err_NONE);
    EXPECT_EQ(in.inter.abort(in.effect_ref), PF_Interrupt_CANCEL);
    EXPECT_EQ(in.inter.abort(in.effect_ref), PF_Interrupt_CANCEL);
}

TEST_F(SimHostPartsTest, SuitesAreServedByNameAndVersionAndCounted) {
    static const int table = 0;
    host_.AddSuite("PF Test Suite", 3, &table);
    const void* s = nullptr;
    EXPECT_EQ(host_.BasicSuite()->AcquireSuite("PF Test Suite", 3, &s), kSPNoError);
    EXPECT_EQ(s, &table);
    EXPECT_NE(host_.BasicSuite()->AcquireSuite("PF Test Suite", 2, &s), kSPNoError);
    EXPECT_EQ(s, nullptr);
    EXPECT_THAT(host_.UnbalancedSuites(), ::testing::Contains("PF Test Suite v3: 1 acquired, 0 released"));
    host_.BasicSuite()->ReleaseSuite("PF Test Suite", 3);
    host_.SetSuiteMissing("PF Test Suite", 3);
    EXPECT_NE(host_.BasicSuite()->AcquireSuite("PF Test Suite", 3, &s), kSPNoError);
    EXPECT_EQ(host_.Counts("PF Test Suite", 3).failedAcquires, 1);
    EXPECT_EQ(host_.Counts("PF Test Suite", 2).failedAcquires, 1);
}

TEST_F(SimHostPartsTest, OnlyOneHostAtATime) { EXPECT_THROW(simhost::SimHost second, std::logic_error); }

struct ServiceProbe {
    explicit ServiceProbe(simhost::SimHost& h) : host(&h) {}
    simhost::SimHost* host;
};

TEST_F(SimHostPartsTest, AServiceIsMadeOncePerHost) {
    EXPECT_EQ(host_.FindService<ServiceProbe>(), nullptr);
    ServiceProbe& a = host_.Service<ServiceProbe>();
    EXPECT_EQ(&a, &host_.Service<ServiceProbe>());
    EXPECT_EQ(a.host, &host_);
}

struct WorldCase {
    simhost::PixelDepth depth;
    size_t pixelBytes;
    A_long flags;
};

TEST(SimWorld, RowsAreRowbytesApartWithGuardedPadding) {
    const WorldCase cases[] = {
        {simhost::PixelDepth::k8, 4, PF_WorldFlag_WRITEABLE},
        {simhost::PixelDepth::k16, 8, PF_WorldFlag_WRITEABLE | PF_WorldFlag_DEEP},
        {simhost::PixelDepth::k32f, 16, PF_WorldFlag_WRITEABLE | PF_WorldFlag_FLOAT},
    };
    for (const WorldCase& c : cases) {
        simhost::SimWorld w(5, 3, c.depth, 12);
        const PF_EffectWorld& pf = *w.world();
        EXPECT_EQ(pf.width, 5);
        EXPECT_EQ(pf.height, 3);
        EXPECT_EQ(size_t(pf.rowbytes), 5 * c.pixelBytes + 12);
        EXPECT_EQ(pf.world_flags, c.flags);
        EXPECT_EQ(simhost::DepthOfWorld(pf), c.depth);
        w.SetFloat(4, 2, {1.f, 0.5f, 0.25f, 0.f});
        const PF_PixelFloat p = w.GetFloat(4, 2);
        EXPECT_NEAR(p.red, 0.5f, 0.003f);
        EXPECT_NEAR(p.green, 0.25f, 0.003f);
        EXPECT_TRUE(w.PaddingIntact());
        // A write one pixel past the row's end lands in the padding and is seen.
        static_cast<unsigned char*>(pf.data)[size_t(pf.rowbytes) + 5 * c.pixelBytes] = 0;
        EXPECT_FALSE(w.PaddingIntact());

        simhost::SimWorld moved = std::move(w);
        EXPECT_EQ(moved.world()->data, moved.Row<unsigned char>(0));
        EXPECT_EQ(moved.width(), 5);
    }
}

TEST(ParallelRows, VisitsEveryRowOnceOverSeveralThreadsAndStopsAtAnError) {
    constexpr A_long kRows = 200;
    std::vector<std::atomic<int>> visits(kRows);
    std::mutex m;
    std::condition_variable second;
    std::set<std::thread::id> threads;
    EXPECT_EQ(simhost::ParallelRows(kRows, 4,
                                    [&](A_long y) {
                                        ++visits[size_t(y)];
                                        std::unique_lock<std::mutex> lock(m);
                                        threads.insert(std::this_thread::get_id());
                                        second.notify_all();
                                        // Hold the first rows until a second thread has taken one, so a quick
                                        // caller cannot do all the rows alone before the others start.
                                        second.wait_for(lock, std::chrono::seconds(2),
                                                        [&] { return threads.size() > 1; });
                                        return PF_Err_NONE;
                                    }),
              PF_Err_NONE);
    for (A_long y = 0; y < kRows; ++y) ASSERT_EQ(visits[size_t(y)].load(), 1) << y;
    EXPECT_GT(threads.size(), 1u);

    std::atomic<int> after{0};
    EXPECT_EQ(simhost::ParallelRows(kRows, 1,
                                    [&](A_long y) {
                                        if (y > 10) ++after;
                                        return y == 10 ? PF_Interrupt_CANCEL : PF_Err_NONE;
                                    }),
              PF_Interrupt_CANCEL);
    EXPECT_EQ(after.load(), 0);
}

}  // namespace
