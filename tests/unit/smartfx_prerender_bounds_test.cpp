// The glow's reach as the pre-render grows the result rectangle with it: corner pushes, quality pads and
// margins, and the "Lens Iris" growth from the iris layer's size.
#include <gtest/gtest.h>

#include <string>

#include "host/ParamIndex.h"
#include "render/PreRender.h"
#include "simhost/Composition.h"
#include "simhost/ParamStore.h"
#include "simhost/SmartRender.h"
#include "support/SimHostFixture.h"

namespace {

std::string Text(const PF_LRect& r) {
    return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " + std::to_string(r.right) + ", " +
           std::to_string(r.bottom) + ")";
}

struct ExponentialCase {
    const char* what;
    float radius, downsample, aspect, angleRadians, resolutionScale;
    bool enableAngle;
    int quality;
    PF_LRect expected;  // for the rectangle (0, 0, 10, 10)
};

TEST(GaussianBounds, ReachPadAndMarginPerSetting) {
    const ExponentialCase cases[] = {
        // 49 diagonally (0.7 * 100 * 0.7), pad 40, margin 8
        {"Standard", 100, 1, 1, 0, 0.9f, false, 4, {-97, -97, 107, 107}},
        {"Standard with angle: 63 diagonally", 100, 1, 1, 0, 0.9f, true, 4, {-111, -111, 121, 121}},
        {"Draft pad 75", 100, 1, 1, 0, 0.8f, false, 1, {-132, -132, 142, 142}},
        {"Low pad 55", 100, 1, 1, 0, 0.85f, false, 2, {-112, -112, 122, 122}},
        {"Medium pad 45", 100, 1, 1, 0, 0.9f, false, 3, {-102, -102, 112, 112}},
        {"High pad 30", 100, 1, 1, 0, 0.97f, false, 5, {-87, -87, 97, 97}},
        {"Extreme pad 10", 100, 1, 1, 0, 1.0f, false, 6, {-67, -67, 77, 77}},
        // Radius 100 at half resolution is 50 pixels: 24.5 diagonally rounds outward on the left and bottom,
        // inward on the top and right; pad trunc(20) and margin 16
        {"half resolution", 100, 0.5f, 1, 0, 0.9f, false, 4, {-61, -60, 70, 71}},
        // Custom 50 %: pad trunc(40 * 0.6) = 24, margin ceil(8 * 0.5) = 4
        {"Custom", 100, 1, 1, 0, 0.5f, false, 8, {-77, -77, 87, 87}},
        {"quality never read: no pad", 100, 1, 1, 0, 0, false, 0, {-57, -57, 67, 67}},
        // aspect 2: the full radius along the horizontal axis, nothing vertically
        {"aspect 2", 100, 1, 2, 0, 0.9f, false, 4, {-148, -48, 158, 58}},
        // aspect 0: the full radius along the vertical axis; cos(pi/2) is not exactly 0, so the left edge
        // rounds one pixel further out
        {"aspect 0", 100, 1, 0, 0, 0.9f, false, 4, {-49, -148, 58, 158}},
    };
    for (const auto& c : cases) {
        myParams p;
        p.baseRadius = c.radius * c.downsample;
        p.downsampleX = c.downsample;
        p.reachFactor = 1;
        p.aspectRatio = c.aspect;
        p.angleRadians = c.angleRadians;
        p.enableAngle = c.enableAngle;
        p.quality = c.quality;
        p.resolutionScale = c.resolutionScale;
        const PF_LRect r = calculate_guassian_bounds(&p, nullptr, PF_LRect{0, 0, 10, 10});
        EXPECT_EQ(Text(r), Text(c.expected)) << c.what;
    }
}

TEST(GaussianBounds, CornersMoveOutwardEachTheirOwnWay) {
    myParams p;
    p.baseRadius = 10;
    p.reachFactor = 2;  // glow aberration reaches further
    p.aspectRatio = 1;
    const A_FloatPoint origin{100, 100};
    struct Case {
        WHICH_CORNER_E which;
        double x, y;
    };
    // f = float(0.7 * 20 * 0.7) = 9.8
    const Case cases[] = {{CORNER_TOP_LEFT, 90.2, 90.2},
                          {CORNER_TOP_RIGHT, 109.8, 90.2},
                          {CORNER_BOTTOM_RIGHT, 109.8, 109.8},
                          {CORNER_BOTTOM_LEFT, 90.2, 109.8}};
    for (const auto& c : cases) {
        const A_FloatPoint r = CalculateGaussianBounds(&p, origin, c.which);
        EXPECT_NEAR(r.x, c.x, 1e-5) << c.which;
        EXPECT_NEAR(r.y, c.y, 1e-5) << c.which;
    }
}

TEST(IrisRadiusExpansion, GrowthFromTheIrisShape) {
    struct Case {
        const char* what;
        PF_LRect irisMax;
        int quality;
        double x, y;
        float aspect;
        bool wide;
    };
    const Case cases[] = {
        {"200 x 100, Standard", {0, 0, 200, 100}, 4, 200, 150, 2.0f, true},
        {"100 x 200, Standard", {10, 10, 110, 210}, 4, 150, 200, 2.0f, false},
        {"square, Draft", {0, 0, 64, 64}, 1, 350, 350, 1.0f, true},
        {"square, Low", {0, 0, 64, 64}, 2, 300, 300, 1.0f, true},
        {"square, Medium", {0, 0, 64, 64}, 3, 250, 250, 1.0f, true},
        {"square, High", {0, 0, 64, 64}, 5, 150, 150, 1.0f, true},
        {"empty iris: the pad alone", {0, 0, 0, 0}, 4, 100, 100, 1.0f, false},
        {"empty iris, Extreme", {5, 5, 5, 9}, 6, 25, 25, 1.0f, false},
        {"quality never read", {0, 0, 0, 0}, 0, 0, 0, 1.0f, false},
    };
    for (const auto& c : cases) {
        myParams p;
        p.baseRadius = 100;
        p.quality = c.quality;
        PF_CheckoutResult iris{};
        iris.max_result_rect = c.irisMax;
        const auto growth = calculate_iris_radius_expansion(&p, nullptr, &iris);
        EXPECT_DOUBLE_EQ(growth.first, c.x) << c.what;
        EXPECT_DOUBLE_EQ(growth.second, c.y) << c.what;
        EXPECT_FLOAT_EQ(p.irisAspect, c.aspect) << c.what;
        EXPECT_EQ(p.irisIsWide, c.wide) << c.what;
    }
}

// The pre-render alone, answered by the effect's own function, against the simulated host's parameters and
// layers; the render is never sent.
class PreRenderInterrupted : public testsupport::SimHostTest {
protected:
    void SetUp() override {
        SimHostTest::SetUp();
        simhost::Params(host());
        ASSERT_EQ(host().Send(PF_Cmd_PARAMS_SETUP).err, PF_Err_NONE);
        simhost::Comp(host()).AddLayer(simhost::SimWorld(40, 30, simhost::PixelDepth::k8), 0, 0, "input");
        simhost::Params(host()).SetNumber(PARAM_RADIUS, 100);
        simhost::Params(host()).SetNumber(PARAM_QUALITY_PRESET, 4);
        simhost::Params(host()).SetFailureCode("checkout_param", PF_Interrupt_CANCEL);
    }
    simhost::FrameResult PreRenderOnly(A_long downsample) {
        simhost::FrameRequest request;
        request.downsampleX = request.downsampleY = downsample;
        request.effect = [](PF_Cmd cmd, PF_InData& in, PF_OutData& out, void* extra) {
            return cmd == PF_Cmd_SMART_PRE_RENDER ? PreRender(&in, &out, static_cast<PF_PreRenderExtra*>(extra))
                                                  : PF_Err_NONE;
        };
        request.render = [](const PF_PreRenderOutput&) { return false; };
        return simhost::RunSmartFrame(host(), request);
    }
};

// Once the user has interrupted a parameter read, the host is asked for nothing more, and the rectangles come
// from what was read: no radius and no quality, so the reach is nothing and the pad 0, and only the margin of
// ceil(8 / downsample factor) remains around the empty input, the factor taken from the in data.
TEST_F(PreRenderInterrupted, StopsCallingTheHostAndKeepsTheMarginOnly) {
    struct Case {
        const char* what;
        int interruptedRead;  // 1 to 3: the glow mode and the two views; later: the effect's own parameters
        A_long downsample;
        PF_LRect expected;
    };
    const Case cases[] = {
        {"glow mode, full resolution", 1, 1, {-8, -8, 8, 8}},
        {"second view, half resolution", 3, 2, {-16, -16, 16, 16}},
        {"first view, quarter resolution", 2, 4, {-32, -32, 32, 32}},
        {"an own parameter, half resolution", 10, 2, {-16, -16, 16, 16}},
    };
    for (const Case& c : cases) {
        host().Faults().Clear();
        host().Faults().FailCall("checkout_param", c.interruptedRead);
        const int readsBefore = host().Faults().Calls("checkout_param");
        const simhost::FrameResult r = PreRenderOnly(c.downsample);
        EXPECT_EQ(r.preRender.err, PF_Interrupt_CANCEL) << c.what;
        EXPECT_EQ(r.preRender.return_msg, "") << c.what;
        EXPECT_EQ(host().Faults().Calls("checkout_param") - readsBefore, c.interruptedRead) << c.what;
        EXPECT_TRUE(r.checkouts.empty()) << c.what;
        EXPECT_EQ(Text(r.preRenderOutput.result_rect), Text(c.expected)) << c.what;
        EXPECT_EQ(Text(r.preRenderOutput.max_result_rect), Text(c.expected)) << c.what;
        EXPECT_EQ(r.preRenderOutput.flags, PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS) << c.what;
    }
}

}  // namespace
