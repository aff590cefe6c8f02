// Frames the effect can be handed on a bad day: worlds of a depth it does not take, layers of one pixel or
// none, a glow far larger than the frame, tiny iris and lens-dirt layers, float input holding NaN and
// infinities, and every parameter at the ends of its valid range. Each must end in a clear error or a sound
// frame (every output value finite, everything the host handed out given back), never in a crash or a hang.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "sdk/AEGP_Suites.h"
#include "simhost/Composition.h"
#include "simhost/ParamStore.h"
#include "simhost/RenderThreads.h"
#include "simhost/SmartRender.h"
#include "simhost/WorldSuites.h"
#include "support/CaseNames.h"
#include "support/EffectFrameTest.h"
#include "support/EffectParamIndex.h"
#include "support/SimHostFixture.h"

namespace {

using simhost::PixelDepth;
using simhost::SimWorld;

using namespace testsupport::param_index;

SimWorld Scene(A_long w, A_long h, PixelDepth depth = PixelDepth::k32f) {
    SimWorld world(w, h, depth);
    for (A_long y = 0; y < h; ++y)
        for (A_long x = 0; x < w; ++x) {
            const float v = (x * 5 + y * 3) % 11 == 0 ? 3.f : 0.1f;
            world.SetFloat(x, y, {1.f, v, v * 0.6f, v * 0.3f});
        }
    return world;
}

// Every value of the output finite (an 8-bit world always is).
bool AllFinite(const SimWorld& w) {
    if (w.depth() == PixelDepth::k8) return true;
    for (A_long y = 0; y < w.height(); ++y)
        for (A_long x = 0; x < w.width(); ++x) {
            const PF_PixelFloat p = w.GetFloat(x, y);
            if (!std::isfinite(p.alpha) || !std::isfinite(p.red) || !std::isfinite(p.green) || !std::isfinite(p.blue))
                return false;
        }
    return true;
}

class BadInput : public testsupport::EffectFrameTest {
protected:
    void SetUp() override {
        EffectFrameTest::SetUp();
        if (HasFatalFailure()) return;
        Set(kRadius, 6);
        Set(kHalfFloat, 0);
    }

public:  // the cases' set-up functions use these
    void SetInput(SimWorld pixels) { comp().SetInputLayer(comp().AddLayer(std::move(pixels), 0, 0, "input")); }

protected:

    simhost::FrameResult Render() {
        simhost::FrameRequest request;
        request.bitdepth = 32;
        return RunFrame(request);
    }

    // A clear error (a code, and no world left behind) or a sound frame (no error, every value finite,
    // nothing left behind).
    void ExpectErrorOrSoundFrame(const simhost::FrameResult& r, const std::string& what) {
        EXPECT_TRUE(r.Clean()) << what << ": " << r.Problems();
        EXPECT_THAT(host().UnbalancedSuites(), ::testing::IsEmpty()) << what;
        const PF_Err err = r.rendered ? r.render.err : r.preRender.err;
        if (err != PF_Err_NONE) return;
        EXPECT_TRUE(r.outputCheckedOut) << what;
        EXPECT_TRUE(AllFinite(r.output)) << what << ": non-finite values in the output";
    }

};

struct ShapeCase {
    const char* what;
    int glowMode;
    A_long width, height;      // the input layer
    A_short bitdepth;          // of every world of the frame
    std::function<void(BadInput&)> more;  // further layers or settings
    A_long downsample = 1;
};

TEST_F(BadInput, OddShapesAndDepthsGiveASoundFrame) {
    const auto tinyIris = [](A_long w, A_long h) {
        return [w, h](BadInput& t) {
            t.comp().SetLayerParam(kIrisLayer, t.comp().AddLayer(Scene(w, h), 0, 0, "iris"));
        };
    };
    const auto tinyDirt = [](A_long w, A_long h) {
        return [w, h](BadInput& t) {
            t.comp().SetLayerParam(kLensDirtTexture, t.comp().AddLayer(Scene(w, h), 3, 3, "dirt"));
        };
    };
    const auto nothing = [](BadInput&) {};
    // Radius 2000 on a 3840 by 2160 frame, at a twentieth of the size with the radius in the same ratio: the
    // full size takes minutes on a software renderer.
    const auto hugeRadius = [](BadInput& t) { t.Set(kRadius, 100); };
    const auto maxExpansion = [](BadInput& t) {
        t.Set(kBufferExpansionMode, 1);
        t.Set(kAuxBufferExpansion, 2000);
    };
    const ShapeCase cases[] = {
        {"1 by 1 input", 1, 1, 1, 32, nothing},
        {"1 by 1 input, Lens Iris", 2, 1, 1, 32, nothing},
        {"1 by 40 input", 1, 1, 40, 32, nothing},
        {"40 by 1 input, Lens Iris", 2, 40, 1, 32, nothing},
        {"40 by 1 input, 8 bits", 1, 40, 1, 8, nothing},
        {"empty input", 1, 0, 0, 32, nothing},
        {"input without width, Lens Iris", 2, 0, 12, 32, nothing},
        {"1 by 1 mask", 1, 24, 24, 32,
         [](BadInput& t) { t.comp().SetLayerParam(kMaskLayer, t.comp().AddLayer(Scene(1, 1), 5, 5, "mask")); }},
        {"empty mask", 1, 24, 24, 32,
         [](BadInput& t) { t.comp().SetLayerParam(kMaskLayer, t.comp().AddLayer(Scene(0, 0), 5, 5, "mask")); }},
        {"iris 1 by 1", 2, 24, 24, 32, tinyIris(1, 1)},
        {"iris 3 by 4", 2, 24, 24, 32, tinyIris(3, 4)},
        {"iris 4 by 1", 2, 24, 24, 32, tinyIris(4, 1)},
        {"empty iris", 2, 24, 24, 32, tinyIris(0, 0)},
        {"lens dirt 1 by 1", 1, 24, 24, 32, tinyDirt(1, 1)},
        {"lens dirt 2 by 4, Lens Iris", 2, 24, 24, 32, tinyDirt(2, 4)},
        {"empty lens dirt", 1, 24, 24, 32, tinyDirt(0, 0)},
        {"radius 100 on 192 by 108", 1, 192, 108, 32, hugeRadius},
        {"radius 100 on 192 by 108, Lens Iris", 2, 192, 108, 32, hugeRadius},
        // At a quarter of full resolution, for the reason the parameter sweep below gives.
        {"Aux Buffer Expansion at its maximum, 1/4 resolution", 1, 24, 24, 32, maxExpansion, 4},
        {"Aux Buffer Expansion at its maximum, Lens Iris, 1/4 resolution", 2, 24, 24, 32, maxExpansion, 4},
    };
    int tried = 0;
    for (const ShapeCase& c : cases) {
        SCOPED_TRACE(c.what);
        Set(kGlowMode, c.glowMode);
        Set(kRadius, 6);
        Set(kAuxBufferExpansion, 0);
        comp().SetLayerParam(kMaskLayer, 0);
        comp().SetLayerParam(kIrisLayer, 0);
        comp().SetLayerParam(kLensDirtTexture, 0);
        const PixelDepth depth = c.bitdepth == 8 ? PixelDepth::k8 : PixelDepth::k32f;
        SetInput(Scene(c.width, c.height, depth));
        c.more(*this);
        simhost::FrameRequest request;
        request.bitdepth = c.bitdepth;
        request.downsampleX = request.downsampleY = c.downsample;
        simhost::FrameResult r;
        threads_->Run(0, [&] { r = simhost::RunSmartFrame(host(), request); });
        ++tried;
        ExpectErrorOrSoundFrame(r, c.what);
        const PF_Err err = r.rendered ? r.render.err : r.preRender.err;
        EXPECT_EQ(err, PF_Err_NONE) << r.render.return_msg;
    }
    std::printf("[ bad input] %d shapes and depths tried\n", tried);
}

// The effect takes 8-bit and float worlds only (it does not declare 16-bit colour). Should a host hand it
// 16-bit worlds all the same, the frame ends in an error that the log explains, with no glow made up from
// pixels read as the wrong type and everything the host handed out given back.
TEST_F(BadInput, SixteenBitWorldsAreRefused) {
    for (int mode : {kExponential, kLensIris}) {
        const std::string what = mode == kExponential ? "Exponential" : "Lens Iris";
        Set(kGlowMode, mode);
        comp().SetLayerParam(kIrisLayer, comp().AddLayer(Scene(9, 9, PixelDepth::k16), 0, 0, "iris"));
        SetInput(Scene(24, 24, PixelDepth::k16));
        simhost::FrameRequest request;
        request.bitdepth = 16;
        const simhost::FrameResult r = RunFrame(request);
        EXPECT_TRUE(r.Clean()) << what << ": " << r.Problems();
        ASSERT_TRUE(r.rendered) << what << ": " << r.preRender.return_msg;
        EXPECT_EQ(r.render.err, PF_Err_INVALID_CALLBACK) << what << ": " << r.render.return_msg;
        EXPECT_THAT(Log(), ::testing::HasSubstr("without valid bpc: 16")) << what;
    }
}

// A NaN or an infinity in the float input must not spread through the blur over the whole glow: each value
// of the glow's input that is not finite counts as 0, so the frame is the one with a 0 there.
TEST_F(BadInput, NonFiniteInputPixelsCountAsZero) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    struct Case {
        const char* what;
        PF_PixelFloat bad;
    };
    const Case cases[] = {{"NaN colour", {1, nan, 0.5f, 0.5f}},
                          {"+inf colour", {1, inf, inf, inf}},
                          {"-inf colour", {1, -inf, 0.2f, 0.2f}},
                          {"NaN alpha", {nan, 1, 1, 1}},
                          {"+inf alpha", {inf, 0.5f, 0.5f, 0.5f}},
                          {"inf colour at alpha 0", {0, inf, 0, 0}}};
    Set(kSourceOpacity, 0);  // only the glow: the source composite would show the bad pixel itself
    // No iris layer: by default the iris is the input itself, bad pixel and all, which is another question.
    comp().SetLayerParam(kIrisLayer, 0);
    Set(kUnmult, 0);
    // Add keeps values above 1, so there an infinity would light the whole glow.
    for (const auto& [mode, blend] : {std::pair<int, int>{1, 1}, {1, 2}, {2, 1}, {2, 2}}) {
        Set(kGlowMode, mode);
        Set(kBlendMode, blend);
        for (const Case& c : cases) {
            const std::string what = std::string(c.what) + (mode == 2 ? ", Lens Iris" : ", Exponential") +
                                     (blend == 2 ? ", Add" : ", Screen");
            // The glow is formed from premultiplied colour; each value of it that is not finite counts as 0.
            const auto finiteOr0 = [](float v) { return std::isfinite(v) ? v : 0.f; };
            const PF_PixelFloat same{1, finiteOr0(c.bad.red * c.bad.alpha), finiteOr0(c.bad.green * c.bad.alpha),
                                     finiteOr0(c.bad.blue * c.bad.alpha)};
            SimWorld withBad = Scene(24, 24), withZero = Scene(24, 24);
            for (const auto& [x, y] : {std::pair<A_long, A_long>{11, 12}, {0, 0}, {23, 5}}) {
                withBad.SetFloat(x, y, c.bad);
                withZero.SetFloat(x, y, same);
            }
            SetInput(std::move(withBad));
            const simhost::FrameResult bad = Render();
            SetInput(std::move(withZero));
            const simhost::FrameResult zero = Render();
            ASSERT_EQ(bad.render.err, PF_Err_NONE) << what;
            ExpectErrorOrSoundFrame(bad, what);
            ASSERT_EQ(bad.output.width(), zero.output.width()) << what;
            ASSERT_EQ(bad.output.height(), zero.output.height()) << what;
            float worst = 0;
            for (A_long y = 0; y < bad.output.height(); ++y)
                for (A_long x = 0; x < bad.output.width(); ++x) {
                    const PF_PixelFloat a = bad.output.GetFloat(x, y), b = zero.output.GetFloat(x, y);
                    for (const float d : {a.red - b.red, a.green - b.green, a.blue - b.blue, a.alpha - b.alpha}) {
                        worst = std::isfinite(d) ? std::max(worst, std::fabs(d)) : std::numeric_limits<float>::max();
                    }
                }
            EXPECT_LE(worst, 1e-6f) << what << ": the bad pixel changed the glow";
        }
    }
}

// Every parameter the user can set (sliders, popups, checkboxes) but the glow mode, which each case sweeps itself.
struct SweptParameter {
    int index;
    const char* name;
};
const SweptParameter kSweptParameters[] = {
    {18, "Blend Mode"}, {19, "Radius"}, {20, "Exposure"}, {24, "Threshold"}, {25, "Threshold Smooth"},
    {26, "Saturation Bias"}, {33, "Mask Mode"}, {34, "Mask Invert"}, {44, "Iris Sampling Quality"},
    {45, "Iris Iterations"}, {46, "Radii Easing"}, {53, "Auto Detect Gamma"}, {54, "Gamma Correction"},
    {59, "Aspect Ratio"}, {60, "Enable Angle"}, {65, "Enable Pixel Aberration"}, {66, "Aberration Channels"},
    {67, "Pixel Offset"}, {68, "Enable Glow Aberration"}, {69, "Multiply Red"}, {70, "Multiply Green"},
    {71, "Multiply Blue"}, {76, "Tint Mode"}, {77, "Tint Blend Mode"}, {81, "Tint Strength"}, {85, "Operation"},
    {86, "Mix"}, {91, "Opacity"}, {92, "Inherit Glow Color"}, {93, "Matte Exposure"}, {94, "Matte Gamma"},
    {95, "Repeat Edges"}, {100, "Quality Preset"}, {101, "Quality Preset Iris"}, {102, "Half Float"},
    {103, "Resolution"}, {104, "Steps Multiplier"}, {105, "Glow Iterations"}, {106, "Buffer Expansion Mode"},
    {107, "Aux Buffer Expansion"}, {110, "View"}, {111, "View"}, {112, "Source Opacity"}, {113, "Unmult"},
    {115, "Pre Proc Solid Fill"}, {116, "Iris Sample Quality"}, {117, "Debug View"},
    {118, "Draw Dimensions Comp UI"}, {119, "Show Buffers"}, {120, "cout PreRender Rects"},
    {121, "cout Buffer Dims"}, {122, "Shaders Per Frame"}, {123, "Edge Behaviour (Deprecated)"},
    {124, "Renderer (Deprecated)"}, {125, "Metal GPU Capture"}, {126, "Simplified Exposure"},
    {127, "Iris Cull Small Values"}, {128, "Left"}, {129, "Top"}, {130, "Right"}, {131, "Bottom"},
    {134, "Gamma Correction"}, {136, "Enable Astigmatism"}, {137, "Force Square Ratio"}, {138, "View Focal Point"},
    {139, "Focal Length"}, {140, "Focal Falloff"}, {142, "Lens View"}, {143, ""}, {144, "Enable"},
    {145, "Blend Mode"}, {146, "Enable"}, {147, "Inner/Outer Bias"}, {148, "Threshold Mode"}, {149, "Deprecated"},
    {150, "Deprecated"}, {151, "Deprecated"}, {152, "Deprecated"}, {153, "Render Quality (Quantization)"},
};
void PrintTo(const SweptParameter& p, std::ostream* os) { *os << p.name << " (" << p.index << ")"; }
std::string SweptName(const testing::TestParamInfo<SweptParameter>& info) {
    return velloran_test::CaseName(std::string(info.param.name) + "_" + std::to_string(info.param.index));
}

class EveryParameter : public BadInput, public testing::WithParamInterface<SweptParameter> {};

// The table above is the effect's list: a parameter added or moved is swept, not skipped in silence.
TEST_F(BadInput, SweptParametersAreEveryOneTheUserCanSet) {
    std::vector<std::string> expected, swept;
    const std::vector<simhost::ParamDefinition> definitions = simhost::Params(host()).Definitions();
    for (size_t index = 1; index < definitions.size(); ++index) {
        const PF_ParamType type = definitions[index].def.param_type;
        if (int(index) == kGlowMode) continue;
        if (type == PF_Param_FLOAT_SLIDER || type == PF_Param_SLIDER || type == PF_Param_POPUP ||
            type == PF_Param_CHECKBOX)
            expected.push_back(std::to_string(index) + " " + definitions[index].def.name);
    }
    for (const SweptParameter& p : kSweptParameters) swept.push_back(std::to_string(p.index) + " " + p.name);
    EXPECT_EQ(swept, expected);
}

// Each parameter at the smallest and the largest value the host lets the user set, in both glow modes, from
// the defaults. The host asks only for the input's own rectangle, so a glow that reaches far does not make
// the frame huge.
TEST_P(EveryParameter, AtItsValidMinimumAndMaximum) {
    const int index = GetParam().index;
    simhost::ParamStore& store = simhost::Params(host());
    SetInput(Scene(24, 24));
    comp().SetLayerParam(kLensDirtTexture, comp().AddLayer(Scene(10, 10), 2, 2, "dirt"));
    simhost::FrameRequest request;
    request.outputRect = PF_LRect{0, 0, 24, 24};
    const PF_ParamDef def = store.Definitions().at(size_t(index)).def;
    ASSERT_STREQ(def.name, GetParam().name) << "the table no longer matches the effect's parameters";
    std::vector<double> ends;
    switch (def.param_type) {
        case PF_Param_FLOAT_SLIDER: ends = {def.u.fs_d.valid_min, def.u.fs_d.valid_max}; break;
        case PF_Param_SLIDER: ends = {double(def.u.sd.valid_min), double(def.u.sd.valid_max)}; break;
        case PF_Param_POPUP: ends = {1, double(def.u.pd.num_choices)}; break;
        case PF_Param_CHECKBOX: ends = {0, 1}; break;
        default: FAIL() << "parameter " << index << " takes no value";
    }
    // The largest Radius and Aux Buffer Expansion grow the GL buffers by thousands of pixels on every side
    // whatever the output: at full resolution that is half a minute on a software renderer, so those two
    // render at 1/8 resolution, where the same values still reach far past the frame.
    request.downsampleX = request.downsampleY = index == kRadius || index == kAuxBufferExpansion ? 8 : 1;
    for (const int mode : {1, 2}) {
        for (const double value : ends) {
            Set(kGlowMode, mode);
            Set(index, value);
            const std::string what = std::string(def.name) + " (" + std::to_string(index) + ") = " +
                                     std::to_string(value) + (mode == 2 ? ", Lens Iris" : ", Exponential");
            simhost::FrameResult r;
            threads_->Run(0, [&] { r = simhost::RunSmartFrame(host(), request); });
            const PF_Err err = r.rendered ? r.render.err : r.preRender.err;
            EXPECT_EQ(err, PF_Err_NONE) << what << ": " << (r.rendered ? r.render : r.preRender).return_msg;
            ExpectErrorOrSoundFrame(r, what);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Parameters, EveryParameter, testing::ValuesIn(kSweptParameters), SweptName);

}  // namespace
