// The host's side of the smart render protocol, driven by a stand-in effect: the rectangles checkout_layer
// answers, the pixels and output the render gets, and the bookkeeping of what was left checked out or undisposed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "sdk/AE_EffectSuites.h"
#include "simhost/Composition.h"
#include "simhost/LayerSuites.h"
#include "simhost/SmartRender.h"
#include "simhost/WorldSuites.h"
#include "simhost/CallFailures.h"
#include "support/SimHostFixture.h"

// Rectangles are plain C records in the global namespace, where the comparisons must live to be found.
static bool operator==(const PF_LRect& a, const PF_LRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
static std::ostream& operator<<(std::ostream& os, const PF_LRect& r) {
    return os << "(" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ")";
}

namespace {

using simhost::FrameRequest;
using simhost::FrameResult;
using simhost::LayerId;
using simhost::PixelDepth;
using simhost::SimWorld;
using ::testing::ElementsAre;
using ::testing::IsEmpty;


// A layer whose pixel (x, y) is {255, x, y, 7}, so a checked-out pixel tells where in the layer it came from.
SimWorld Ramp(A_long w, A_long h) {
    SimWorld world(w, h, PixelDepth::k8);
    for (A_long y = 0; y < h; ++y)
        for (A_long x = 0; x < w; ++x) world.At<PF_Pixel>(x, y) = {255, A_u_char(x), A_u_char(y), 7};
    return world;
}

class SmartHostProtocol : public testsupport::SimHostTest {
protected:
    void SetUp() override {
        SimHostTest::SetUp();
        auto& comp = simhost::Comp(host());
        input_ = comp.AddLayer(Ramp(40, 30), 100, 50, "input");
        mask_ = comp.AddLayer(Ramp(20, 10), 130, 45, "mask");  // at (30, -5) in the input's coordinates
        comp.SetLayerParam(32, mask_);
    }
    LayerId input_ = 0, mask_ = 0;
};

TEST_F(SmartHostProtocol, CheckoutLayerAnswersTheLayersPixelsInsideTheRequest) {
    struct Case {
        const char* what;
        A_long downsample;
        PF_ParamIndex index;
        PF_LRect request, result, max;
    };
    const Case cases[] = {
        {"input, inside", 1, 0, {5, 5, 15, 10}, {5, 5, 15, 10}, {0, 0, 40, 30}},
        {"input, overlapping", 1, 0, {-10, 20, 10, 40}, {0, 20, 10, 30}, {0, 0, 40, 30}},
        {"input, outside", 1, 0, {50, 50, 60, 60}, {0, 0, 0, 0}, {0, 0, 40, 30}},
        {"input, empty request", 1, 0, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 40, 30}},
        {"mask, over the input", 1, 32, {0, 0, 40, 30}, {30, 0, 40, 5}, {30, -5, 50, 5}},
        {"no layer chosen", 1, 90, {0, 0, 40, 30}, {0, 0, 0, 0}, {0, 0, 0, 0}},
        {"input at half size", 2, 0, {0, 0, 100, 100}, {0, 0, 20, 15}, {0, 0, 20, 15}},
        // (30, -5) to (50, 5) in halves: the cells that any of its pixels touch
        {"mask at half size", 2, 32, {0, 0, 20, 15}, {15, 0, 20, 3}, {15, -3, 25, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FrameRequest request;
        request.downsampleX = request.downsampleY = c.downsample;
        request.time = 5;
        PF_CheckoutResult answer{};
        PF_Err err = -1;
        request.effect = [&](PF_Cmd cmd, PF_InData& in, PF_OutData&, void* extra) -> PF_Err {
            if (cmd != PF_Cmd_SMART_PRE_RENDER) return PF_Err_NONE;
            auto* pre = static_cast<PF_PreRenderExtra*>(extra);
            PF_RenderRequest req = pre->input->output_request;
            req.rect = c.request;
            err = pre->cb->checkout_layer(in.effect_ref, c.index, 7, &req, in.current_time, in.time_step,
                                          in.time_scale, &answer);
            return PF_Err_NONE;
        };
        const FrameResult frame = simhost::RunSmartFrame(host(), request);
        EXPECT_EQ(err, PF_Err_NONE);
        EXPECT_EQ(answer.result_rect, c.result);
        EXPECT_EQ(answer.max_result_rect, c.max);
        ASSERT_NE(frame.Checkout(7), nullptr);
        EXPECT_EQ(frame.Checkout(7)->index, c.index);
        EXPECT_EQ(frame.Checkout(7)->request.rect, c.request);
        EXPECT_EQ(frame.Checkout(7)->whatTime, 5);
        EXPECT_EQ(frame.Checkout(7)->result.result_rect, c.result);
    }
}

// A stand-in effect that checks out the input (id 0) and the mask (id 36) over the host's request, makes a
// world, and then does in the render what the test asks of it.
struct Script {
    bool disposeWorld = true;
    bool checkInMask = true;
    bool disposeOutputToo = false;
    bool writePastNewWorld = false;
    PF_EffectWorld* input = nullptr;
    PF_EffectWorld* mask = nullptr;
    PF_EffectWorld inputSeen{};  // the records as checked out: the host frees both worlds once the frame ends
    PF_EffectWorld maskSeen{};
    PF_EffectWorld* output = nullptr;
    PF_EffectWorld made{};
    PF_Err newWorldErr = -1, disposeErr = -1;
};

FrameRequest Scripted(Script& s) {
    FrameRequest request;
    request.effect = [&s](PF_Cmd cmd, PF_InData& in, PF_OutData&, void* extra) -> PF_Err {
        if (cmd == PF_Cmd_SMART_PRE_RENDER) {
            auto* pre = static_cast<PF_PreRenderExtra*>(extra);
            PF_CheckoutResult r{};
            PF_Err err = pre->cb->checkout_layer(in.effect_ref, 0, 0, &pre->input->output_request, 0, 1, 24, &r);
            if (!err) err = pre->cb->checkout_layer(in.effect_ref, 32, 36, &pre->input->output_request, 0, 1, 24, &r);
            pre->output->result_rect = PF_LRect{-4, -2, 44, 32};
            pre->output->max_result_rect = pre->output->result_rect;
            return err;
        }
        auto* sr = static_cast<PF_SmartRenderExtra*>(extra);
        PF_Err err = sr->cb->checkout_layer_pixels(in.effect_ref, 0, &s.input);
        if (!err) err = sr->cb->checkout_layer_pixels(in.effect_ref, 36, &s.mask);
        if (!err) err = sr->cb->checkout_output(in.effect_ref, &s.output);
        if (err) return err;
        s.inputSeen = *s.input;
        s.maskSeen = *s.mask;
        if (s.checkInMask) err = sr->cb->checkin_layer_pixels(in.effect_ref, 36);
        const void* suite = nullptr;
        in.pica_basicP->AcquireSuite(kPFWorldSuite, kPFWorldSuiteVersion2, &suite);
        const auto* worlds = static_cast<const PF_WorldSuite2*>(suite);
        s.newWorldErr = worlds->PF_NewWorld(in.effect_ref, 6, 3, true, PF_PixelFormat_ARGB32, &s.made);
        if (s.writePastNewWorld && !s.newWorldErr)
            std::memset(static_cast<char*>(s.made.data) + 6 * sizeof(PF_Pixel), 0, 1);
        if (s.disposeWorld && !s.newWorldErr) s.disposeErr = worlds->PF_DisposeWorld(in.effect_ref, &s.made);
        if (s.disposeOutputToo) worlds->PF_DisposeWorld(in.effect_ref, s.output);
        in.pica_basicP->ReleaseSuite(kPFWorldSuite, kPFWorldSuiteVersion2);
        return err;
    };
    return request;
}

TEST_F(SmartHostProtocol, RenderGetsTheCheckedOutPixelsAndAnOutputOfTheResultRectangle) {
    Script s;
    const FrameResult frame = simhost::RunSmartFrame(host(), Scripted(s));
    ASSERT_EQ(frame.preRender.err, PF_Err_NONE);
    ASSERT_TRUE(frame.rendered);
    ASSERT_EQ(frame.render.err, PF_Err_NONE);
    EXPECT_TRUE(frame.Clean()) << frame.Problems();

    // The input: all of it, at its own origin, rows padded beyond the pixels.
    ASSERT_NE(s.input, nullptr);
    EXPECT_EQ(s.inputSeen.width, 40);
    EXPECT_EQ(s.inputSeen.height, 30);
    EXPECT_EQ(s.inputSeen.origin_x, 0);
    EXPECT_GT(s.inputSeen.rowbytes, 40 * A_long(sizeof(PF_Pixel)));
    // The mask: only its part inside the request (30, 0) to (40, 5), which is layer rows 5 to 9, columns 0 to 9.
    ASSERT_NE(s.mask, nullptr);
    EXPECT_EQ(s.maskSeen.width, 10);
    EXPECT_EQ(s.maskSeen.height, 5);
    EXPECT_EQ(s.maskSeen.origin_x, 30);
    EXPECT_EQ(s.maskSeen.origin_y, 0);
    // The output: the effect's result rectangle, with its origin, handed back to the test.
    ASSERT_TRUE(frame.outputCheckedOut);
    EXPECT_EQ(frame.output.width(), 48);
    EXPECT_EQ(frame.output.height(), 34);
    EXPECT_EQ(frame.outputOriginX, -4);
    EXPECT_EQ(frame.outputOriginY, -2);
    // Its pixels start as whatever the host's memory held, so an effect that does not clear it is seen.
    EXPECT_EQ(frame.output.At<PF_Pixel>(0, 0).red, simhost::kUnclearedByte);

    EXPECT_THAT(frame.pixelCheckouts, ElementsAre(0, 36));
    EXPECT_THAT(frame.effectCheckins, ElementsAre(36));
    EXPECT_THAT(frame.hostCheckins, ElementsAre(0));
    EXPECT_EQ(frame.worldsMade, 1);
    EXPECT_EQ(frame.worldsDisposed, 1);
}

TEST_F(SmartHostProtocol, CheckedOutPixelsComeFromTheRightPlaceOfTheLayer) {
    PF_Pixel maskCorner{}, inputPixel{};
    FrameRequest request = [&] {
        Script s;
        return Scripted(s);
    }();
    request.effect = [&](PF_Cmd cmd, PF_InData& in, PF_OutData&, void* extra) -> PF_Err {
        if (cmd == PF_Cmd_SMART_PRE_RENDER) {
            auto* pre = static_cast<PF_PreRenderExtra*>(extra);
            PF_CheckoutResult r{};
            PF_RenderRequest req = pre->input->output_request;
            pre->cb->checkout_layer(in.effect_ref, 0, 0, &req, 0, 1, 24, &r);
            return pre->cb->checkout_layer(in.effect_ref, 32, 36, &req, 0, 1, 24, &r);
        }
        auto* sr = static_cast<PF_SmartRenderExtra*>(extra);
        PF_EffectWorld *input = nullptr, *mask = nullptr;
        sr->cb->checkout_layer_pixels(in.effect_ref, 0, &input);
        sr->cb->checkout_layer_pixels(in.effect_ref, 36, &mask);
        inputPixel = reinterpret_cast<PF_Pixel*>(static_cast<char*>(input->data) + 3 * input->rowbytes)[12];
        maskCorner = *static_cast<PF_Pixel*>(mask->data);
        return PF_Err_NONE;
    };
    const FrameResult frame = simhost::RunSmartFrame(host(), request);
    ASSERT_EQ(frame.render.err, PF_Err_NONE);
    EXPECT_EQ(inputPixel.red, 12);
    EXPECT_EQ(inputPixel.green, 3);
    EXPECT_EQ(maskCorner.red, 0);  // mask layer column 0, row 5: the first mask row inside the input
    EXPECT_EQ(maskCorner.green, 5);
}

TEST_F(SmartHostProtocol, LeaksMisusesAndOverrunsAreReported) {
    struct Case {
        const char* what;
        Script script;
        int undisposed, badDisposals, overruns;
    };
    Case cases[] = {
        {"a world not disposed", [] { Script s; s.disposeWorld = false; return s; }(), 1, 0, 0},
        {"the output disposed as if the effect had made it", [] { Script s; s.disposeOutputToo = true; return s; }(),
         0, 1, 0},
        {"a byte written past a new world's last pixel", [] { Script s; s.writePastNewWorld = true; return s; }(), 0,
         0, 1},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        const FrameResult frame = simhost::RunSmartFrame(host(), Scripted(c.script));
        ASSERT_EQ(frame.render.err, PF_Err_NONE);
        EXPECT_EQ(frame.undisposedWorlds.size(), size_t(c.undisposed));
        EXPECT_EQ(frame.badDisposals, c.badDisposals);
        EXPECT_EQ(frame.overruns.size(), size_t(c.overruns));
        EXPECT_FALSE(frame.Clean());
        EXPECT_EQ(simhost::Worlds(host()).Alive(), 0) << "the host frees what the frame leaked";
    }
}

TEST_F(SmartHostProtocol, EachHostCallOfTheFrameFailsOnDemand) {
    struct Case {
        const char* call;
        PF_Err expected;
    };
    const Case cases[] = {
        {"checkout_layer", PF_Err_INTERNAL_STRUCT_DAMAGED},
        {"checkout_layer_pixels", PF_Err_OUT_OF_MEMORY},
        {"checkout_output", PF_Err_OUT_OF_MEMORY},
        {"checkin_layer_pixels", PF_Err_INTERNAL_STRUCT_DAMAGED},
        {"PF_NewWorld", PF_Err_OUT_OF_MEMORY},
        {"PF_DisposeWorld", PF_Err_INTERNAL_STRUCT_DAMAGED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        host().Faults().FailCall(c.call);
        Script s;
        const FrameResult frame = simhost::RunSmartFrame(host(), Scripted(s));
        const PF_Err got = frame.preRender.err ? frame.preRender.err
                           : frame.render.err  ? frame.render.err
                           : s.newWorldErr     ? s.newWorldErr
                                               : s.disposeErr;
        EXPECT_EQ(got, c.expected);
        EXPECT_EQ(simhost::Worlds(host()).Alive(), 0);
        host().Faults().Clear();
    }
    simhost::SetFailureCode(host(), "PF_NewWorld", PF_Interrupt_CANCEL);
    host().Faults().FailCall("PF_NewWorld");
    Script s;
    simhost::RunSmartFrame(host(), Scripted(s));
    EXPECT_EQ(s.newWorldErr, PF_Interrupt_CANCEL);
}

}  // namespace

namespace {

// One pre-render of a stand-in effect that only runs `body`.
simhost::FrameResult PreRenderOnly(simhost::SimHost& host, std::function<void(PF_InData&)> body,
                                   simhost::FrameRequest request = {}) {
    request.effect = [body](PF_Cmd cmd, PF_InData& in, PF_OutData&, void*) -> PF_Err {
        if (cmd == PF_Cmd_SMART_PRE_RENDER) body(in);
        return PF_Err_NONE;
    };
    return simhost::RunSmartFrame(host, request);
}

TEST_F(SmartHostProtocol, LayerCallsDescribeTheEffectLayer) {
    auto& comp = simhost::Comp(host());
    simhost::EffectLayerOf(host()).SetLayerFlags(AEGP_LayerFlag_COLLAPSE | AEGP_LayerFlag_ADJUSTMENT_LAYER);
    comp.SetLayerStart(input_, A_Time{2, 1});  // the layer starts 2 s into the composition
    AEGP_LayerFlags flags = 0;
    AEGP_CompH parent = nullptr;
    A_FloatRect bounds{};
    A_Time compTime{};
    A_Matrix4 xform{};
    A_Err errs[5] = {-1, -1, -1, -1, -1};
    PreRenderOnly(host(), [&](PF_InData& in) {
        const void *pf = nullptr, *layers = nullptr;
        in.pica_basicP->AcquireSuite(kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1, &pf);
        in.pica_basicP->AcquireSuite(kAEGPLayerSuite, kAEGPLayerSuiteVersion13, &layers);
        const auto* l = static_cast<const AEGP_LayerSuite13*>(layers);
        AEGP_LayerH layer = nullptr;
        errs[0] = static_cast<const AEGP_PFInterfaceSuite1*>(pf)->AEGP_GetEffectLayer(in.effect_ref, &layer);
        errs[1] = l->AEGP_GetLayerFlags(layer, &flags);
        errs[2] = l->AEGP_GetLayerParentComp(layer, &parent);
        const A_Time layerTime{5, 24};
        errs[3] = l->AEGP_GetLayerMaskedBounds(layer, AEGP_LTimeMode_LayerTime, &layerTime, &bounds);
        errs[4] = l->AEGP_ConvertLayerToCompTime(layer, &layerTime, &compTime);
        if (!errs[4]) errs[4] = l->AEGP_GetLayerToWorldXform(layer, &compTime, &xform);
        in.pica_basicP->ReleaseSuite(kAEGPLayerSuite, kAEGPLayerSuiteVersion13);
        in.pica_basicP->ReleaseSuite(kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1);
    });
    for (A_Err e : errs) EXPECT_EQ(e, PF_Err_NONE);
    EXPECT_EQ(flags, AEGP_LayerFlag_COLLAPSE | AEGP_LayerFlag_ADJUSTMENT_LAYER);
    EXPECT_NE(parent, nullptr);
    EXPECT_EQ(bounds.right, 40);
    EXPECT_EQ(bounds.bottom, 30);
    EXPECT_EQ(compTime.value, 5 + 48);
    EXPECT_EQ(compTime.scale, 24u);
    EXPECT_EQ(xform.mat[3][0], 100);  // the layer's position in the composition, as the translation row
    EXPECT_EQ(xform.mat[3][1], 50);
    EXPECT_EQ(xform.mat[0][0], 1);
    EXPECT_EQ(xform.mat[3][3], 1);
    const auto queries = comp.Queries();
    ASSERT_EQ(queries.size(), 3u);
    EXPECT_EQ(queries[2].call, "AEGP_GetLayerToWorldXform");
    EXPECT_EQ(queries[2].time.value, 53);

    // Each layer call fails on demand.
    for (const char* call : {"AEGP_GetEffectLayer", "AEGP_GetLayerFlags", "AEGP_GetLayerMaskedBounds",
                             "AEGP_ConvertLayerToCompTime", "AEGP_GetLayerToWorldXform"}) {
        SCOPED_TRACE(call);
        host().Faults().FailCall(call);
        A_Err first = PF_Err_NONE;
        PreRenderOnly(host(), [&](PF_InData& in) {
            const void *pf = nullptr, *layers = nullptr;
            in.pica_basicP->AcquireSuite(kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1, &pf);
            in.pica_basicP->AcquireSuite(kAEGPLayerSuite, kAEGPLayerSuiteVersion13, &layers);
            const auto* l = static_cast<const AEGP_LayerSuite13*>(layers);
            AEGP_LayerH layer = nullptr;
            AEGP_LayerFlags f;
            A_FloatRect b;
            A_Time t{5, 24}, c;
            A_Matrix4 m;
            first = static_cast<const AEGP_PFInterfaceSuite1*>(pf)->AEGP_GetEffectLayer(in.effect_ref, &layer);
            if (!first) first = l->AEGP_GetLayerFlags(layer, &f);
            if (!first) first = l->AEGP_GetLayerMaskedBounds(layer, AEGP_LTimeMode_LayerTime, &t, &b);
            if (!first) first = l->AEGP_ConvertLayerToCompTime(layer, &t, &c);
            if (!first) first = l->AEGP_GetLayerToWorldXform(layer, &t, &m);
            in.pica_basicP->ReleaseSuite(kAEGPLayerSuite, kAEGPLayerSuiteVersion13);
            in.pica_basicP->ReleaseSuite(kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1);
        });
        EXPECT_EQ(first, PF_Err_INTERNAL_STRUCT_DAMAGED);
    }
}

TEST_F(SmartHostProtocol, AbortReportsTheInterruptAfterTheChecksAskedFor) {
    host().Faults().InterruptAfterAbortChecks(2);
    std::vector<PF_Err> answers;
    PreRenderOnly(host(), [&](PF_InData& in) {
        for (int i = 0; i < 4; ++i) answers.push_back(in.inter.abort(in.effect_ref));
    });
    EXPECT_THAT(answers, ElementsAre(PF_Err_NONE, PF_Err_NONE, PF_Interrupt_CANCEL, PF_Interrupt_CANCEL));
}

// A stand-in effect that checks out the input over the whole request in the pre-render and hands the input's
// checked-out pixels to `look` in the render.
FrameRequest InputCheckout(std::function<void(const PF_EffectWorld&)> look) {
    FrameRequest request;
    request.effect = [look](PF_Cmd cmd, PF_InData& in, PF_OutData&, void* extra) -> PF_Err {
        if (cmd == PF_Cmd_SMART_PRE_RENDER) {
            auto* pre = static_cast<PF_PreRenderExtra*>(extra);
            PF_CheckoutResult r{};
            return pre->cb->checkout_layer(in.effect_ref, 0, 0, &pre->input->output_request, 0, 1, 24, &r);
        }
        PF_EffectWorld* w = nullptr;
        PF_Err err = static_cast<PF_SmartRenderExtra*>(extra)->cb->checkout_layer_pixels(in.effect_ref, 0, &w);
        if (err || !w) return err ? err : PF_Err_INTERNAL_STRUCT_DAMAGED;
        look(*w);
        return PF_Err_NONE;
    };
    return request;
}

TEST_F(SmartHostProtocol, DownsampledPixelsAverageEachCellPremultipliedAtTheFramesDepth) {
    // A 3 by 2 input at half size: cell 0 holds two opaque pixels of red 200 and 100 and two transparent ones of
    // red 50; cell 1 covers only the layer's last column (one opaque pixel of red 60, one transparent).
    SimWorld pixels(3, 2, PixelDepth::k8);
    pixels.At<PF_Pixel>(0, 0) = {255, 200, 0, 0};
    pixels.At<PF_Pixel>(1, 0) = {255, 100, 0, 0};
    pixels.At<PF_Pixel>(0, 1) = {0, 50, 0, 0};
    pixels.At<PF_Pixel>(1, 1) = {0, 50, 0, 0};
    pixels.At<PF_Pixel>(2, 0) = {255, 60, 0, 0};
    pixels.At<PF_Pixel>(2, 1) = {0, 50, 0, 0};
    auto& comp = simhost::Comp(host());
    const LayerId small = comp.AddLayer(std::move(pixels), 0, 0, "small");
    comp.SetInputLayer(small);
    PF_PixelFloat cells[2]{};
    A_long width = 0, height = 0, worldFlags = 0;
    FrameRequest request = InputCheckout([&](const PF_EffectWorld& w) {
        width = w.width;
        height = w.height;
        worldFlags = w.world_flags;
        cells[0] = static_cast<const PF_PixelFloat*>(w.data)[0];
        cells[1] = static_cast<const PF_PixelFloat*>(w.data)[1];
    });
    request.downsampleX = request.downsampleY = 2;
    request.bitdepth = 32;
    const FrameResult frame = simhost::RunSmartFrame(host(), request);
    ASSERT_EQ(frame.render.err, PF_Err_NONE);
    EXPECT_EQ(width, 2);
    EXPECT_EQ(height, 1);
    EXPECT_TRUE(worldFlags & PF_WorldFlag_FLOAT);
    EXPECT_FLOAT_EQ(cells[0].alpha, 0.5f);
    EXPECT_FLOAT_EQ(cells[0].red, 150 / 255.f);  // the transparent pixels' colour does not count
    EXPECT_FLOAT_EQ(cells[1].alpha, 0.25f);
    EXPECT_FLOAT_EQ(cells[1].red, 60 / 255.f);
}

// The checkout's rows are made on the host's worker threads: every row, on one thread or on many, holds the cells
// of its own place in the layer (the 40 by 30 ramp at half size: cell (i, j) averages red 2i, 2i + 1 and green
// 2j, 2j + 1).
TEST_F(SmartHostProtocol, EveryRowOfADownsampledCheckoutComesFromItsOwnCellsOnAnyNumberOfThreads) {
    for (const int threads : {1, 8}) {
        SCOPED_TRACE(std::to_string(threads) + " worker threads");
        host().SetWorkerThreads(threads);
        std::vector<PF_PixelFloat> pixels;
        A_long width = 0, height = 0;
        FrameRequest request = InputCheckout([&](const PF_EffectWorld& w) {
            width = w.width;
            height = w.height;
            for (A_long y = 0; y < height; ++y) {
                const auto* row =
                    reinterpret_cast<const PF_PixelFloat*>(static_cast<const char*>(w.data) + y * w.rowbytes);
                pixels.insert(pixels.end(), row, row + width);
            }
        });
        request.downsampleX = request.downsampleY = 2;
        request.bitdepth = 32;
        const FrameResult frame = simhost::RunSmartFrame(host(), request);
        ASSERT_EQ(frame.render.err, PF_Err_NONE);
        ASSERT_EQ(width, 20);
        ASSERT_EQ(height, 15);
        for (A_long j = 0; j < height; ++j)
            for (A_long i = 0; i < width; ++i) {
                const PF_PixelFloat& p = pixels[size_t(j * width + i)];
                EXPECT_FLOAT_EQ(p.alpha, 1.f) << i << "," << j;
                EXPECT_FLOAT_EQ(p.red, (2 * i + 0.5f) / 255.f) << i << "," << j;
                EXPECT_FLOAT_EQ(p.green, (2 * j + 0.5f) / 255.f) << i << "," << j;
            }
    }
}

}  // namespace
