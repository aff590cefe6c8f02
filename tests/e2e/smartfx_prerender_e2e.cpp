// The pre-render through the host: the rectangles the effect asks for and reports, its layer checkouts and
// the frame-cache key.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "simhost/CallFailures.h"
#include "simhost/LayerSuites.h"
#include "smartfx_fixture.h"

namespace {

using namespace testsupport::param_index;

using smartfx_test::Text;

class PreRenderThroughHost : public smartfx_test::SmartFxFrame {};

// The input is 40 x 30 at (100, 50) in the composition; rectangles are in its own pixels.
TEST_F(PreRenderThroughHost, ExponentialReachGrowsTheInputOnEverySide) {
    struct Case {
        const char* what;
        bool enableAngle;
        int aux;
        int growth;
    };
    const Case cases[] = {{"Standard, radius 100", false, 0, 97},
                          {"with Enable Angle", true, 0, 111},
                          {"with Aux Buffer Expansion 5", false, 5, 102}};
    for (const auto& c : cases) {
        Set(kEnableAngle, c.enableAngle);
        Set(kAuxBufferExpansion, c.aux);
        const simhost::FrameResult r = Frame();
        ASSERT_EQ(r.preRender.err, PF_Err_NONE) << c.what;
        const PF_LRect expected{-c.growth, -c.growth, 40 + c.growth, 30 + c.growth};
        EXPECT_EQ(Text(r.preRenderOutput.result_rect), Text(expected)) << c.what;
        EXPECT_EQ(Text(r.preRenderOutput.max_result_rect), Text(expected)) << c.what;
        EXPECT_EQ(r.preRenderOutput.flags, PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS) << c.what;
        ASSERT_TRUE(r.outputCheckedOut) << c.what;
        EXPECT_EQ(r.output.width(), 40 + 2 * c.growth) << "the render's output is the grown rectangle";
    }
}

TEST_F(PreRenderThroughHost, LensIrisGrowthFollowsTheIrisShape) {
    Set(kGlowMode, kLensIris);
    Set(kQualityPresetIris, 4);  // "Standard": pad 100
    Set(kEnablePixelAberration, 1);
    Set(kPixelOffset, 2.5);  // grows by 3 more
    struct Case {
        const char* what;
        bool iris;
        int x, y;
    };
    // 200 x 100 iris, radius 100: x = 100 + 100, y = 100 / 2 + 100; no iris: the pad alone.
    const Case cases[] = {{"200 x 100 iris", true, 203, 153}, {"no iris layer", false, 103, 103}};
    const simhost::LayerId iris = comp().AddLayer(smartfx_test::Solid(200, 100, {255, 255, 255, 255}), 0, 0);
    for (const auto& c : cases) {
        comp().SetLayerParam(kIrisLayer, c.iris ? iris : 0);
        const simhost::FrameResult r = Frame();
        ASSERT_EQ(r.preRender.err, PF_Err_NONE) << c.what;
        const PF_LRect expected{-c.x, -c.y, 40 + c.x, 30 + c.y};
        EXPECT_EQ(Text(r.preRenderOutput.result_rect), Text(expected)) << c.what;
        EXPECT_EQ(Text(r.preRenderOutput.max_result_rect), Text(expected)) << c.what;
    }
}

TEST_F(PreRenderThroughHost, MaskAwayFromTheInputEmptiesTheResultUnlessInverted) {
    struct Case {
        const char* what;
        A_long maskX, maskY;  // in the composition; the input starts at (100, 50)
        bool invert;
        bool empty;
    };
    const Case cases[] = {
        {"mask above and left of the input", 0, 0, false, true},
        {"the same mask inverted", 0, 0, true, false},
        {"mask overlapping the input", 120, 60, false, false},
        // Only the mask's right and bottom edges are compared with the input's left and top.
        {"mask below and right of the input", 300, 300, false, false},
    };
    const simhost::LayerId mask = AddLayer(smartfx_test::Solid(10, 10, {255, 255, 255, 255}), 0, 0, kMaskLayer);
    for (const auto& c : cases) {
        comp().MoveLayer(mask, c.maskX, c.maskY);
        Set(kMaskInvert, c.invert);
        const simhost::FrameResult r = Frame();
        ASSERT_EQ(r.preRender.err, PF_Err_NONE) << c.what;
        const PF_LRect grown{-97, -97, 137, 127};
        const PF_LRect expected = c.empty ? PF_LRect{0, 0, 0, 0} : grown;
        EXPECT_EQ(Text(r.preRenderOutput.result_rect), Text(expected)) << c.what;
        EXPECT_EQ(Text(r.preRenderOutput.max_result_rect), Text(expected)) << c.what;
        EXPECT_EQ(r.preRenderOutput.flags, PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS) << c.what;
        // The render of an empty result has nothing to draw and is no failure.
        EXPECT_EQ(r.render.err, PF_Err_NONE) << c.what;
    }
}

TEST_F(PreRenderThroughHost, CompSizeHoldsOnlyOnACollapsedLayer) {
    Set(kBufferExpansionMode, 2);  // "Comp Size"
    Set(kAuxBufferExpansion, 4);
    struct Case {
        const char* what;
        AEGP_LayerFlags flags;
        PF_LRect expected;
    };
    const Case cases[] = {
        {"collapsed: the layer grown by aux", AEGP_LayerFlag_COLLAPSE, {-4, -4, 44, 34}},
        {"not collapsed: the glow's reach", AEGP_LayerFlag_NONE, {-101, -101, 141, 131}},
    };
    for (const auto& c : cases) {
        simhost::EffectLayerOf(host()).SetLayerFlags(c.flags);
        const simhost::FrameResult r = Frame();
        ASSERT_EQ(r.preRender.err, PF_Err_NONE) << c.what;
        EXPECT_EQ(Text(r.preRenderOutput.result_rect), Text(c.expected)) << c.what;
    }
}

TEST_F(PreRenderThroughHost, CheckoutIdsRectanglesAndProbes) {
    Set(kGlowMode, kLensIris);  // so the iris is checked out too
    const simhost::LayerId iris = AddLayer(smartfx_test::Solid(16, 8, {255, 255, 255, 255}), 90, 40, kIrisLayer);
    AddLayer(smartfx_test::Solid(12, 12, {255, 9, 9, 9}), 130, 60, kLensDirtTexture);    // lens dirt at (30, 10)
    AddLayer(smartfx_test::Solid(10, 10, {255, 9, 9, 9}), 110, 60, kMaskLayer);    // mask at (10, 10)
    (void)iris;
    const simhost::FrameResult r = Frame();
    ASSERT_EQ(r.preRender.err, PF_Err_NONE);
    struct Expected {
        A_long id;
        PF_ParamIndex index;
        PF_LRect request;
    };
    // The input's real request is its maximum grown by ceil(50) on every side; the probes of the iris and the
    // dirt ask for nothing and the real checkouts then take what the probe said the layer holds.
    const Expected expected[] = {
        {555, 0, {0, 0, 40, 30}},        {0, 0, {-50, -50, 90, 80}},  {556, 39, {0, 0, 0, 0}},
        {43, 39, {-10, -10, 6, -2}},     {557, 90, {0, 0, 0, 0}},    {94, 90, {30, 10, 42, 22}},
        {36, 32, {0, 0, 40, 30}},
    };
    ASSERT_EQ(r.checkouts.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        const simhost::LayerCheckout& c = r.checkouts[i];
        EXPECT_EQ(c.checkoutId, expected[i].id) << i;
        EXPECT_EQ(c.index, expected[i].index) << i;
        EXPECT_EQ(Text(c.request.rect), Text(expected[i].request)) << "checkout " << c.checkoutId;
        EXPECT_EQ(c.request.field, PF_Field_FRAME);
        EXPECT_EQ(c.whatTime, 0);
        EXPECT_EQ(c.timeScale, 24u);
    }
    // The render fetches the pixels under the same ids.
    EXPECT_EQ(r.render.err, PF_Err_NONE);
    EXPECT_EQ(r.pixelCheckouts, (std::vector<A_long>{0, 94, 36, 43}));
    EXPECT_EQ(r.effectCheckins, (std::vector<A_long>{36})) << "only the mask is checked in early";
}

TEST_F(PreRenderThroughHost, FrameCacheKeyOnlyAboveEffectApi13_8) {
    struct Case {
        A_u_long major, minor;
        size_t blocks;
    };
    const Case cases[] = {{13, 8, 0}, {12, 28, 0}, {13, 9, 1}, {14, 0, 1}};
    for (const auto& c : cases) {
        host().InDataTemplate().version_major = c.major;
        host().InDataTemplate().version_minor = c.minor;
        simhost::FrameRequest request;
        request.downsampleX = 2;
        request.outputRect = PF_LRect{1, 2, 15, 12};
        const simhost::FrameResult r = Frame(request);
        ASSERT_EQ(r.preRender.err, PF_Err_NONE) << c.major << "." << c.minor;
        ASSERT_EQ(r.guidMixIns.size(), c.blocks) << c.major << "." << c.minor;
        if (!c.blocks) continue;
        const std::vector<uint8_t>& block = r.guidMixIns[0];
        ASSERT_EQ(block.size(), 160u);
        double matrix[16];
        std::memcpy(matrix, block.data(), sizeof matrix);
        EXPECT_EQ(matrix[0], 1.0);
        EXPECT_EQ(matrix[12], 100.0) << "the layer's position, in the transform's last row";
        EXPECT_EQ(matrix[13], 50.0);
        int32_t tail[8];
        std::memcpy(tail, block.data() + 128, sizeof tail);
        EXPECT_EQ(std::vector<int32_t>(tail, tail + 8), (std::vector<int32_t>{1, 2, 1, 1, 1, 2, 15, 12}));
    }
}

TEST_F(PreRenderThroughHost, FailedFrameCacheCallIsReportedAndEndsBeforeAnyCheckout) {
    host().InDataTemplate().version_major = 14;
    host().Faults().FailCall("GuidMixInPtr");
    const simhost::FrameResult r = Frame();
    EXPECT_EQ(r.preRender.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_TRUE(r.checkouts.empty());
    EXPECT_NE(r.preRender.return_msg.find("Error on GuidMixInPtr!"), std::string::npos) << r.preRender.return_msg;

    simhost::SetFailureCode(host(), "GuidMixInPtr", PF_Interrupt_CANCEL);
    host().Faults().FailCall("GuidMixInPtr");
    const simhost::FrameResult interrupted = Frame();
    EXPECT_EQ(interrupted.preRender.err, PF_Interrupt_CANCEL);
    EXPECT_TRUE(interrupted.checkouts.empty());
    EXPECT_EQ(interrupted.preRender.return_msg, "");
    EXPECT_EQ(interrupted.preRenderOutput.flags, PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS);
}

// An interrupt at any of the pre-render's parameter or layer checkouts ends it with 517 and no message, and the
// rectangles it reports still lie within the layer grown by the glow's farthest reach, whatever was read before
// the interrupt (radius 100 along one axis, when the aspect is not read, plus the Standard pad 40 and margin 8).
TEST_F(PreRenderThroughHost, InterruptAtAnyCheckoutKeepsTheRectanglesWithinTheReach) {
    const PF_LRect reach{-148, -148, 40 + 148, 30 + 148};
    auto within = [&](const PF_LRect& r) {
        return r.left >= reach.left && r.top >= reach.top && r.right <= reach.right && r.bottom <= reach.bottom;
    };
    auto setCode = [&](const std::string& call, PF_Err code) {
        if (call == "checkout_layer") {
            simhost::SetFailureCode(host(), call, code);
        } else {
            simhost::Params(host()).SetFailureCode(call, code);
        }
    };
    for (const char* call : {"checkout_param", "checkin_param", "checkout_layer"}) {
        setCode(call, PF_Interrupt_CANCEL);
        int interrupted = 0;
        for (int n = 1; n < 400; ++n) {
            host().Faults().Clear();
            host().Faults().FailCall(call, n);
            const simhost::FrameResult r = Frame();
            if (r.preRender.err == PF_Err_NONE) break;  // the n-th call now lies past the pre-render
            ++interrupted;
            const std::string what = std::string(call) + " #" + std::to_string(n);
            EXPECT_EQ(r.preRender.err, PF_Interrupt_CANCEL) << what;
            EXPECT_EQ(r.preRender.return_msg, "") << what;
            EXPECT_TRUE(within(r.preRenderOutput.result_rect)) << what << ": " << Text(r.preRenderOutput.result_rect);
            EXPECT_TRUE(within(r.preRenderOutput.max_result_rect))
                << what << ": " << Text(r.preRenderOutput.max_result_rect);
            EXPECT_EQ(r.preRenderOutput.flags, PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS) << what;
        }
        // The glow mode and the two views come first, then the effect's own parameters; the input, the dirt and
        // the mask are checked out.
        EXPECT_GE(interrupted, std::string(call) == "checkout_layer" ? 4 : 20) << call;
        host().Faults().Clear();
        setCode(call, PF_Err_INTERNAL_STRUCT_DAMAGED);
    }
}

// A parameter read that fails for any other reason, in the first reads or in the rest, is reported and ends the
// pre-render before any layer checkout.
TEST_F(PreRenderThroughHost, FailedParameterReadIsReportedBeforeAnyCheckout) {
    for (int n : {1, 2, 3, 4, 10}) {
        host().Faults().FailCall("checkout_param", n);
        const simhost::FrameResult r = Frame();
        EXPECT_EQ(r.preRender.err, PF_Err_INTERNAL_STRUCT_DAMAGED) << n;
        EXPECT_TRUE(r.checkouts.empty()) << n;
        EXPECT_NE(r.preRender.return_msg.find("Error on PreRender InitParams!"), std::string::npos)
            << n << ": " << r.preRender.return_msg;
        EXPECT_FALSE(r.rendered) << n;
    }
}

}  // namespace
