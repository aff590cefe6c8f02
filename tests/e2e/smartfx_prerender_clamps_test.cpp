// The pre-render on a layer whose input reaches past the layer itself: a collapsed layer's content, or what an
// adjustment layer sees beneath it. The glow must stay near the layer there, and "Comp Size" may grow only
// where the content does.
#include <gtest/gtest.h>

#include <string>

#include "simhost/LayerSuites.h"
#include "smartfx_fixture.h"

namespace {

using smartfx_test::Text;

using namespace testsupport::param_index;
constexpr int kAuto = 1, kCompSize = 2;  // choices of Buffer Expansion Mode

class PreRenderClamps : public smartfx_test::SmartFxFrame {
protected:
    void SetLayerFlags(AEGP_LayerFlags flags) { host().Service<simhost::EffectLayer>().SetLayerFlags(flags); }
    // A new input layer of w x h pixels whose own rectangle is `bounds` within them.
    void UseInput(A_long w, A_long h, PF_LRect bounds) {
        const simhost::LayerId id = comp().AddLayer(smartfx_test::Solid(w, h, {255, 200, 100, 50}), 100, 50);
        comp().SetLayerBounds(id, bounds);
        comp().SetInputLayer(id);
    }
};

// The fixture's 40 x 30 input with the layer 20 x 20 inside it at (10, 5): the layer rectangle is
// (0, 0, 20, 20) and the content (-10, -5, 30, 25). Radius 100, "Standard": the reach g is ceil(50) = 50.
TEST_F(PreRenderClamps, ACollapsedOrAdjustmentLayerKeepsItsRequestAndItsGlowWithinTheReachOfTheLayer) {
    comp().SetLayerBounds(comp().InputLayer(), PF_LRect{10, 5, 30, 25});
    Set(kQualityPresetIris, 4);  // "Standard": the iris pad is 100
    comp().SetLayerParam(kIrisLayer, 0);  // no iris layer, so "Lens Iris" reaches by the pad alone
    struct Case {
        const char* what;
        AEGP_LayerFlags flags;
        int mode;
        int aux;
        PF_LRect request;  // of the input's real checkout
        PF_LRect result;
    };
    const PF_LRect nearLayer{-50, -50, 70, 70};  // the layer grown by g
    const Case cases[] = {
        // The content grown by g; the "Exponential" reach of 97 around it; the iris pad of 100 around it.
        {"ordinary layer, Exponential", AEGP_LayerFlag_NONE, kExponential, 0, {-60, -55, 80, 75},
         {-107, -102, 127, 122}},
        {"ordinary layer, Lens Iris", AEGP_LayerFlag_NONE, kLensIris, 0, {-60, -55, 80, 75}, {-110, -105, 130, 125}},
        {"collapsed, Exponential", AEGP_LayerFlag_COLLAPSE, kExponential, 0, nearLayer, nearLayer},
        {"collapsed, Lens Iris", AEGP_LayerFlag_COLLAPSE, kLensIris, 0, nearLayer, nearLayer},
        {"adjustment layer, Exponential", AEGP_LayerFlag_ADJUSTMENT_LAYER, kExponential, 0, nearLayer, nearLayer},
        {"adjustment layer, Lens Iris", AEGP_LayerFlag_ADJUSTMENT_LAYER, kLensIris, 0, nearLayer, nearLayer},
        // Aux grows the request with g, and the result after its clamp.
        {"collapsed adjustment layer, aux 3", AEGP_LayerFlag_COLLAPSE | AEGP_LayerFlag_ADJUSTMENT_LAYER,
         kExponential, 3, {-53, -53, 73, 73}, {-53, -53, 73, 73}},
        {"ordinary layer, aux 3", AEGP_LayerFlag_NONE, kExponential, 3, {-63, -58, 83, 78}, {-110, -105, 130, 125}},
    };
    for (const Case& c : cases) {
        SetLayerFlags(c.flags);
        Set(kGlowMode, c.mode);
        Set(kAuxBufferExpansion, c.aux);
        const simhost::FrameResult r = Frame();
        ASSERT_EQ(r.preRender.err, PF_Err_NONE) << c.what;
        EXPECT_EQ(Text(r.request.rect), Text(PF_LRect{0, 0, 20, 20})) << "the host asks for the layer";
        const simhost::LayerCheckout* probe = r.Checkout(555);
        ASSERT_NE(probe, nullptr) << c.what;
        EXPECT_EQ(Text(probe->result.max_result_rect), Text(PF_LRect{-10, -5, 30, 25})) << "the content, " << c.what;
        const simhost::LayerCheckout* input = r.Checkout(0);
        ASSERT_NE(input, nullptr) << c.what;
        EXPECT_EQ(Text(input->request.rect), Text(c.request)) << c.what;
        EXPECT_EQ(Text(r.preRenderOutput.result_rect), Text(c.result)) << c.what;
        EXPECT_EQ(Text(r.preRenderOutput.max_result_rect), Text(c.result)) << c.what;
        EXPECT_EQ(r.render.err, PF_Err_NONE) << c.what;
    }
}

// "Comp Size" on a collapsed layer: the layer rectangle, moved out on each side where the content lies past it,
// by no more than the content and no more than g.
TEST_F(PreRenderClamps, CompSizeGrowsPastTheLayerOnlyWhereTheContentDoesAndAtMostByTheReach) {
    Set(kBufferExpansionMode, kCompSize);
    struct Case {
        const char* what;
        A_long w, h;
        PF_LRect bounds;
        AEGP_LayerFlags flags;
        int mode;
        int aux;
        A_long downsample;
        PF_LRect result;
    };
    const AEGP_LayerFlags collapsed = AEGP_LayerFlag_COLLAPSE;
    const Case cases[] = {
        // Content (-10, -5, 30, 25) around the layer (0, 0, 20, 20): all of it, each side within g.
        {"content within the reach", 40, 30, {10, 5, 30, 25}, collapsed, kExponential, 0, 1, {-10, -5, 30, 25}},
        {"the same, an adjustment layer too, aux 2", 40, 30, {10, 5, 30, 25},
         collapsed | AEGP_LayerFlag_ADJUSTMENT_LAYER, kExponential, 2, 1, {-12, -7, 32, 27}},
        // Content (-70, -60, 90, 70) around the layer (0, 0, 30, 30): g stops the left, top and right sides.
        {"content past the reach", 160, 130, {70, 60, 100, 90}, collapsed, kExponential, 0, 1, {-50, -50, 80, 70}},
        {"the same in Lens Iris", 160, 130, {70, 60, 100, 90}, collapsed, kLensIris, 0, 1, {-50, -50, 80, 70}},
        // At half resolution g = ceil(50 x 0.5) = 25, the layer is (0, 0, 15, 15), the content (-35, -30, 45, 35).
        {"content past the reach, half resolution", 160, 130, {70, 60, 100, 90}, collapsed, kExponential, 0, 2,
         {-25, -25, 40, 35}},
        // Content (0, 0, 60, 30) past the layer (0, 0, 30, 30) on the right only.
        {"content past one side", 60, 30, {0, 0, 30, 30}, collapsed, kExponential, 0, 1, {0, 0, 60, 30}},
    };
    for (const Case& c : cases) {
        UseInput(c.w, c.h, c.bounds);
        SetLayerFlags(c.flags);
        Set(kGlowMode, c.mode);
        Set(kAuxBufferExpansion, c.aux);
        simhost::FrameRequest request;
        request.downsampleX = request.downsampleY = c.downsample;
        const simhost::FrameResult r = Frame(request);
        ASSERT_EQ(r.preRender.err, PF_Err_NONE) << c.what;
        EXPECT_EQ(Text(r.preRenderOutput.result_rect), Text(c.result)) << c.what;
        EXPECT_EQ(Text(r.preRenderOutput.max_result_rect), Text(c.result)) << c.what;
        EXPECT_EQ(r.render.err, PF_Err_NONE) << c.what;
    }
}

}  // namespace
