// The simulated host's own parts that the effect relies on being real: handles, faults, worlds and row
// spreading. A host part that quietly does nothing would let effect faults through.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

#include "simhost/Parallel.h"
#include "simhost/PixelAccess.h"
#include "simhost/SimHost.h"
#include "simhost/World.h"
#include "simhost/WorldSuites.h"
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
    bool gaveUp = false;
    EXPECT_EQ(simhost::ParallelRows(kRows, 4,
                                    [&](A_long y) {
                                        ++visits[size_t(y)];
                                        std::unique_lock<std::mutex> lock(m);
                                        threads.insert(std::this_thread::get_id());
                                        second.notify_all();
                                        // Hold the first rows until a second thread has taken one, so a quick
                                        // caller cannot do all the rows alone before the others start. The
                                        // bound only keeps a broken ParallelRows from hanging the suite: a
                                        // loaded machine may take long to start a thread, so it is generous,
                                        // and it is spent once, not once a row.
                                        if (!gaveUp &&
                                            !second.wait_for(lock, std::chrono::seconds(120),
                                                             [&] { return threads.size() > 1; }))
                                            gaveUp = true;
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

namespace {

// A world of each depth whose pixels hold the awkward values: both ends of the range, a 16-bit channel above
// the host's white, floats below 0, above 1 and NaN.
simhost::SimWorld AwkwardWorld(simhost::PixelDepth depth) {
    simhost::SimWorld w(5, 2, depth, 8);
    for (A_long y = 0; y < 2; ++y) {
        for (A_long x = 0; x < 5; ++x) {
            const int k = int(y * 5 + x);
            switch (depth) {
                case simhost::PixelDepth::k8:
                    w.At<PF_Pixel>(x, y) = {A_u_char(k * 28), A_u_char(255 - k), A_u_char(k % 2 ? 255 : 0), 1};
                    break;
                case simhost::PixelDepth::k16:
                    w.At<PF_Pixel16>(x, y) = {A_u_short(k * 3641), A_u_short(65535 - k), simhost::kMax16, 32769};
                    break;
                case simhost::PixelDepth::k32f:
                    w.At<PF_PixelFloat>(x, y) = {k * 0.13f - 0.2f, std::numeric_limits<float>::quiet_NaN(), 1.5f,
                                                 -0.0f};
                    break;
            }
        }
    }
    return w;
}

bool SameBytes(const simhost::SimWorld& a, const simhost::SimWorld& b) {
    return a.rowbytes() == b.rowbytes() && a.height() == b.height() &&
           std::memcmp(a.world()->data, b.world()->data, size_t(a.rowbytes()) * size_t(a.height())) == 0;
}

}  // namespace

// The row services (used by transfers, fills, copies and layer checkouts) must write exactly the bytes that
// the pixel-by-pixel read and write would, for every pair of depths, or host output would change with them.
TEST(PixelRows, RowServicesWriteWhatPixelByPixelAccessWrites) {
    using simhost::PixelDepth;
    const PixelDepth depths[] = {PixelDepth::k8, PixelDepth::k16, PixelDepth::k32f};
    for (PixelDepth from : depths) {
        for (PixelDepth to : depths) {
            SCOPED_TRACE(testing::Message() << "from depth " << int(from) << " to depth " << int(to));
            const simhost::SimWorld src = AwkwardWorld(from);
            simhost::SimWorld expected(6, 2, to, 8), copied(6, 2, to, 8), written(6, 2, to, 8);
            for (A_long y = 0; y < 2; ++y) {
                // Columns 1..3 of the source land on 2..4; the rest of each row is left alone.
                for (A_long x = 1; x < 4; ++x)
                    simhost::WritePixel(*expected.world(), x + 1, y, simhost::ReadPixel(*src.world(), x, y));
                simhost::CopyRow(*src.world(), 1, y, *copied.world(), 2, y, 3);
                simhost::Rgba run[3];
                simhost::ReadRow(*src.world(), 1, y, 3, run);
                simhost::WriteRow(*written.world(), 2, y, 3, run);
            }
            EXPECT_TRUE(SameBytes(copied, expected));
            EXPECT_TRUE(SameBytes(written, expected));
            EXPECT_TRUE(copied.PaddingIntact());
        }
    }
}

TEST(PixelRows, FillRowWritesWhatWritePixelWrites) {
    using simhost::PixelDepth;
    const simhost::Rgba colours[] = {{}, {1, 0.5, 0.25, 0.125}, {0.3, 1.7, -1, 0.999}};
    for (PixelDepth depth : {PixelDepth::k8, PixelDepth::k16, PixelDepth::k32f}) {
        for (const simhost::Rgba& c : colours) {
            SCOPED_TRACE(testing::Message() << "depth " << int(depth) << " alpha " << c.alpha);
            simhost::SimWorld expected = AwkwardWorld(depth), filled = AwkwardWorld(depth);
            for (A_long x = 1; x < 4; ++x) simhost::WritePixel(*expected.world(), x, 1, c);
            simhost::FillRow(*filled.world(), 1, 1, 3, c);
            EXPECT_TRUE(SameBytes(filled, expected));
        }
    }
}

// A copy of equal-sized rectangles goes pixel for pixel; where the source rectangle runs past its world (here
// left, right and below), the destination keeps what it had.
TEST(PixelRows, EqualSizeCopyLeavesWhatLiesOffTheSourceAlone) {
    for (simhost::PixelDepth depth : {simhost::PixelDepth::k8, simhost::PixelDepth::k32f}) {
        SCOPED_TRACE(int(depth));
        const simhost::SimWorld src = AwkwardWorld(depth);  // 5 x 2
        simhost::SimWorld expected(8, 3, depth, 8, 0x77), copied(8, 3, depth, 8, 0x77);
        const PF_Rect from{-1, 1, 7, 3}, to{0, 0, 8, 2};
        for (A_long y = 0; y < 2; ++y)
            for (A_long x = 0; x < 8; ++x)
                if (x + from.left >= 0 && x + from.left < 5 && y + from.top < 2)
                    simhost::WritePixel(*expected.world(), x, y,
                                        simhost::ReadPixel(*src.world(), x + from.left, y + from.top));
        ASSERT_EQ(simhost::CopyWorld(3, src.world(), copied.world(), &from, &to), PF_Err_NONE);
        EXPECT_TRUE(SameBytes(copied, expected));
    }
}
