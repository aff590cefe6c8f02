// The smart render through the host: masking, frames with nothing to glow, the source composite, interrupts
// between the passes and a failure at every host call, each leaving no world behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "sdk/AE_EffectSuites.h"
#include "simhost/CallFailures.h"
#include "simhost/TransferRect.h"
#include "smartfx_fixture.h"

namespace {

using namespace testsupport::param_index;

using simhost::PixelDepth;
using simhost::SimWorld;

// The host's transfer_rect, recording the masks it was given and the destination it wrote.
struct TransferRecord {
    bool masked = false;
    A_long what_is_mask = -1;
    PF_Point offset{};
    PF_TransferMode xfer = -1;
    SimWorld destination;
};
std::mutex gTransfersMutex;
std::vector<TransferRecord> gTransfers;

PF_Err RecordingTransfer(PF_ProgPtr, PF_Quality, A_long, PF_Field, const PF_Rect* src_rec, const PF_EffectWorld* src,
                         const PF_CompositeMode* mode, const PF_MaskWorld* mask, A_long dest_x, A_long dest_y,
                         PF_EffectWorld* dst) {
    if (PF_Err planned = simhost::PlannedFailure(*simhost::SimHost::Active(), "transfer_rect")) return planned;
    const PF_Err err = simhost::TransferRect(1, src_rec, src, mode, mask, dest_x, dest_y, dst);
    TransferRecord record;
    record.masked = mask != nullptr;
    if (mask) {
        record.what_is_mask = mask->what_is_mask;
        record.offset = mask->offset;
    }
    record.xfer = mode ? mode->xfer : -1;
    if (dst && dst->data) {
        record.destination = SimWorld(dst->width, dst->height, PixelDepth::k8);
        for (A_long y = 0; y < dst->height; ++y)
            for (A_long x = 0; x < dst->width; ++x)
                record.destination.At<PF_Pixel>(x, y) =
                    reinterpret_cast<const PF_Pixel*>(static_cast<const char*>(dst->data) + y * dst->rowbytes)[x];
    }
    std::lock_guard<std::mutex> lock(gTransfersMutex);
    gTransfers.push_back(std::move(record));
    return err;
}
const PF_WorldTransformSuite1 kRecordingTransformSuite = {nullptr, nullptr, nullptr, nullptr, nullptr,
                                                          RecordingTransfer, nullptr};

class RenderThroughHost : public smartfx_test::SmartFxFrame {
protected:
    void SetUp() override {
        SmartFxFrame::SetUp();
        gTransfers.clear();
        host().AddSuite(kPFWorldTransformSuite, kPFWorldTransformSuiteVersion1, &kRecordingTransformSuite);
    }
    // Every pixel of the output, 8-bit.
    static bool AllPixels(const SimWorld& w, PF_Pixel p) {
        for (A_long y = 0; y < w.height(); ++y)
            for (A_long x = 0; x < w.width(); ++x) {
                const PF_Pixel& q = w.At<PF_Pixel>(x, y);
                if (q.alpha != p.alpha || q.red != p.red || q.green != p.green || q.blue != p.blue) return false;
            }
        return true;
    }
};

TEST_F(RenderThroughHost, LuminanceInvertedMaskAtItsOffset) {
    // 20 x 10 mask at (10, 20) in the input: white on its left half, black on its right half.
    SimWorld mask(20, 10, PixelDepth::k8);
    for (A_long y = 0; y < 10; ++y)
        for (A_long x = 0; x < 20; ++x) mask.At<PF_Pixel>(x, y) = x < 10 ? PF_Pixel{255, 255, 255, 255} : PF_Pixel{255, 0, 0, 0};
    AddLayer(std::move(mask), 110, 70, kMaskLayer);
    Set(kMaskMode, 2);  // "Luminance"
    Set(kMaskInvert, 1);
    Set(kSourceOpacity, 0);  // no source composite, so the masking is the frame's only transfer
    const simhost::FrameResult r = Frame();
    ASSERT_EQ(r.render.err, PF_Err_NONE) << r.render.return_msg;
    ASSERT_EQ(gTransfers.size(), 1u);
    const TransferRecord& t = gTransfers[0];
    ASSERT_TRUE(t.masked);
    EXPECT_EQ(t.what_is_mask, PF_MaskFlag_LUMINANCE | PF_MaskFlag_INVERTED);
    EXPECT_EQ(t.offset.h, 10);
    EXPECT_EQ(t.offset.v, 20);
    EXPECT_EQ(t.xfer, PF_Xfer_COPY);
    // The matte: the input where the inverted mask lets it through.
    ASSERT_EQ(t.destination.width(), 40);
    EXPECT_EQ(t.destination.At<PF_Pixel>(0, 0).alpha, 255) << "outside the mask an inverted mask passes all";
    EXPECT_EQ(t.destination.At<PF_Pixel>(12, 25).alpha, 0) << "under the white half";
    EXPECT_EQ(t.destination.At<PF_Pixel>(25, 25).alpha, 255) << "under the black half";
    EXPECT_EQ(t.destination.At<PF_Pixel>(25, 25).red, 200);
    EXPECT_EQ(r.effectCheckins, (std::vector<A_long>{36}));
    EXPECT_EQ(r.worldsMade, 1);
    EXPECT_EQ(r.worldsDisposed, 1);
}

TEST_F(RenderThroughHost, NothingToGlowLeavesTheOutputTransparentBlack) {
    struct Case {
        const char* what;
        A_long inputWidth, inputHeight;
    };
    const Case cases[] = {{"empty input layer", 0, 0}, {"input without height", 12, 0}};
    for (const auto& c : cases) {
        comp().SetInputLayer(comp().AddLayer(SimWorld(c.inputWidth, c.inputHeight, PixelDepth::k8), 0, 0));
        const int checksBefore = host().Faults().AbortChecks();
        const simhost::FrameResult r = Frame();
        ASSERT_EQ(r.preRender.err, PF_Err_NONE) << c.what;
        EXPECT_EQ(r.render.err, PF_Err_NONE) << c.what << ": " << r.render.return_msg;
        EXPECT_EQ(r.render.return_msg, "") << c.what;
        ASSERT_TRUE(r.outputCheckedOut) << c.what;
        EXPECT_GT(r.output.width(), 0) << c.what << ": the result still grows by the reach";
        EXPECT_TRUE(AllPixels(r.output, {0, 0, 0, 0})) << c.what;
        // Straight from the clearing to the release: the one abort check before the clearing, none of the passes.
        EXPECT_EQ(host().Faults().AbortChecks() - checksBefore, 1) << c.what;
    }
}

TEST_F(RenderThroughHost, SourceCompositeAtItsOpacityAndOffset) {
    // A glow of exposure 0 is black, which un-multiplying turns into the cleared world, so the composite shows
    // the source itself.
    struct Case {
        const char* what;
        int blend;
        double opacity;
        A_u_char alpha;
    };
    const Case cases[] = {{"Screen at 100 %", 1, 100, 255}, {"Add at 50 %", 2, 50, 128}};
    for (const auto& c : cases) {
        gTransfers.clear();
        Set(kBlendMode, c.blend);
        Set(kSourceOpacity, c.opacity);
        Set(kExposure, 0);
        const simhost::FrameResult r = Frame();
        ASSERT_EQ(r.render.err, PF_Err_NONE) << c.what;
        ASSERT_EQ(gTransfers.size(), 1u) << c.what;
        EXPECT_FALSE(gTransfers[0].masked);
        EXPECT_EQ(gTransfers[0].xfer, c.blend == 2 ? PF_Xfer_ADD : PF_Xfer_SCREEN) << c.what;
        // The input's pixel (0, 0) lies at the output's (97, 97).
        const PF_Pixel inside = r.output.At<PF_Pixel>(97, 97);
        EXPECT_EQ(inside.alpha, c.alpha) << c.what;
        EXPECT_EQ(inside.red, 200) << c.what;
        EXPECT_EQ(r.output.At<PF_Pixel>(96, 96).alpha, 0) << c.what << ": outside the source";
    }
}

TEST_F(RenderThroughHost, InterruptAtAnyAbortCheckEndsQuietly) {
    AddLayer(smartfx_test::Solid(10, 10, {255, 255, 255, 255}), 100, 50, kMaskLayer);  // a mask, so a matte is made
    AddLayer(smartfx_test::Solid(8, 8, {255, 90, 90, 90}), 100, 50, kLensDirtTexture);       // lens dirt
    const int checksBefore = host().Faults().AbortChecks();
    const simhost::FrameResult plain = Frame();
    ASSERT_EQ(plain.render.err, PF_Err_NONE);
    const int checks = host().Faults().AbortChecks() - checksBefore;
    ASSERT_GE(checks, 5) << "one before the clearing and one between each pass";
    for (int n = 0; n < checks; ++n) {
        host().Faults().Clear();
        const std::string logBefore = Log();
        host().Faults().InterruptAfterAbortChecks(n);
        const simhost::FrameResult r = Frame();
        EXPECT_EQ(r.render.err, PF_Interrupt_CANCEL) << "interrupt at check " << n;
        EXPECT_EQ(r.render.return_msg, "") << n;
        EXPECT_EQ(r.render.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE, 0u) << n;
        EXPECT_EQ(Log(), logBefore) << n;
        EXPECT_EQ(r.worldsMade, r.worldsDisposed) << n;
    }
}

TEST_F(RenderThroughHost, FailureAtEveryHostCallReleasesEverything) {
    AddLayer(smartfx_test::Solid(10, 10, {255, 255, 255, 255}), 100, 50, kMaskLayer);
    AddLayer(smartfx_test::Solid(8, 8, {255, 90, 90, 90}), 100, 50, kLensDirtTexture);
    const char* calls[] = {"checkout_layer_pixels", "checkout_output", "fill",          "checkout_param",
                           "checkin_param",         "PF_GetPixelFormat", "PF_NewWorld", "transfer_rect",
                           "checkin_layer_pixels",  "iterate8"};
    for (const char* call : calls) {
        for (int nth = 1; nth <= 3; ++nth) {
            host().Faults().Clear();
            const int callsBefore = host().Faults().Calls(call);
            host().Faults().FailCall(call, nth);
            const simhost::FrameResult r = Frame();
            // The fault may fall in the pre-render, which then ends the frame.
            const PF_Err frameErr = r.rendered ? r.render.err : r.preRender.err;
            const int reached = host().Faults().Calls(call) - callsBefore;
            if (nth == 1) {
                EXPECT_GE(reached, 1) << call << " is not called in this frame";
            }
            if (reached >= nth) {
                EXPECT_NE(frameErr, PF_Err_NONE) << call << " #" << nth << " failed unnoticed";
            }
            EXPECT_EQ(r.worldsMade, r.worldsDisposed) << call << " #" << nth;
        }
    }
}

TEST_F(RenderThroughHost, ThrownHostCodeMidFrameStillDisposesTheMatte) {
    AddLayer(smartfx_test::Solid(10, 10, {255, 255, 255, 255}), 100, 50, kMaskLayer);
    host().SetSuiteMissing(kPFWorldTransformSuite, kPFWorldTransformSuiteVersion1);
    const simhost::FrameResult r = Frame();
    EXPECT_EQ(r.render.err, PF_Err_BAD_CALLBACK_PARAM) << "the suite handler's code for a missing suite";
    EXPECT_EQ(r.worldsMade, 1);
    EXPECT_EQ(r.worldsDisposed, 1);
    EXPECT_EQ(r.effectCheckins, (std::vector<A_long>{36})) << "the mask is checked in on the way out";
}

TEST_F(RenderThroughHost, RefusedDisposalIsLoggedAndReturned) {
    AddLayer(smartfx_test::Solid(10, 10, {255, 255, 255, 255}), 100, 50, kMaskLayer);
    host().Faults().FailCall("PF_DisposeWorld");
    const simhost::FrameResult r = RunFrame();
    EXPECT_NE(r.render.err, PF_Err_NONE);
    EXPECT_THAT(Log(), ::testing::HasSubstr("Error on ReleaseCPU: "));
}

}  // namespace
