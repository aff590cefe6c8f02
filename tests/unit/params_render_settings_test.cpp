// The settings record filled from the parameters as the simulated host holds them (defaults as registered by
// the effect, then the values a case sets), with the layer and colour settings the host reports.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "host/ParamIndex.h"
#include "host/RenderSettings.h"
#include "simhost/LayerSuites.h"
#include "simhost/ParamStore.h"
#include "simhost/World.h"
#include "support/CaseNames.h"
#include "support/SimHostFixture.h"

namespace {

using Settings = std::vector<std::pair<int, double>>;

class RenderSettingsTest : public testsupport::SimHostTest {
protected:
    void SetUp() override {
        SimHostTest::SetUp();
        simhost::Params(host());
        simhost::EffectLayerOf(host());
        ASSERT_EQ(host().Send(PF_Cmd_PARAMS_SETUP).err, PF_Err_NONE);
        ASSERT_EQ(store().Count(), PARAM_NUM_PARAMS);
    }
    simhost::ParamStore& store() { return simhost::Params(host()); }
    simhost::EffectLayer& layer() { return simhost::EffectLayerOf(host()); }

    void Set(const Settings& settings) {
        for (const auto& [index, value] : settings) store().SetNumber(index, value);
    }
    // Pre-render's order: PreInitParams, then InitParams without output world or extra.
    PF_Err Fill(myParams* p, PF_EffectWorld* output = nullptr, PF_SmartRenderExtra* extra = nullptr) {
        in_ = host().InDataTemplate();
        out_ = PF_OutData{};
        PF_Err err = PreInitParams(p, &in_, &out_);
        if (err) return err;
        p->output_worldP = output;
        return InitParams(p, &in_, &out_, extra);
    }

    PF_InData in_{};
    PF_OutData out_{};
};

struct SettingsCase {
    const char* what;
    Settings settings;
    std::function<void(simhost::SimHost&)> hostSetup;
    std::function<void(const myParams&)> check;
};

void PrintTo(const SettingsCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

class RenderSettingsCases : public RenderSettingsTest, public testing::WithParamInterface<SettingsCase> {};

TEST_P(RenderSettingsCases, Derives) {
    const SettingsCase& c = GetParam();
    Set(c.settings);
    if (c.hostSetup) c.hostSetup(host());
    myParams p;
    ASSERT_EQ(Fill(&p), PF_Err_NONE);
    c.check(p);
}

void HalfResolution(simhost::SimHost& h) { h.InDataTemplate().downsample_x = {1, 2}; }

const std::vector<float> kLinear4 = {25, 50, 75, 100};
std::function<void(const myParams&)> IrisRadii(std::vector<float> expected, float tolerance) {
    return [expected, tolerance](const myParams& p) {
        ASSERT_EQ(p.irisRadii.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_FALSE(std::isnan(p.irisRadii[i]));
            EXPECT_NEAR(p.irisRadii[i], expected[i], tolerance) << "radius " << i;
        }
    };
}
const Settings kIris4 = {{PARAM_GLOW_MODE, 2}, {PARAM_IRIS_ITERATIONS, 4}, {PARAM_RADIUS, 100}};
Settings With(Settings base, Settings more) {
    base.insert(base.end(), more.begin(), more.end());
    return base;
}

const SettingsCase kCases[] = {
    {"Defaults", {}, nullptr,
     [](const myParams& p) {
         EXPECT_EQ(p.glowMode, 1);
         EXPECT_EQ(p.view, kViewFinalResult);
         EXPECT_FLOAT_EQ(p.downsampleX, 1.0f);
         EXPECT_FLOAT_EQ(p.baseRadius, 1000.0f);
         EXPECT_EQ(p.quality, 3);
         EXPECT_FLOAT_EQ(p.stepsMultiplier, 0.33f);
         EXPECT_FLOAT_EQ(p.resolutionScale, 0.9f);
         EXPECT_EQ(p.maxGlowLevels, 10);
         EXPECT_TRUE(p.bloomMips.empty()) << "pre-render builds no chain";
         EXPECT_FLOAT_EQ(p.gamma, 2.2f) << "the working space's gamma with auto-detect on";
         EXPECT_TRUE(p.gammaCorrect);
         EXPECT_TRUE(p.halfFloat);
         EXPECT_EQ(p.edgeBehaviour, kGL_MIRRORED_REPEAT);
         EXPECT_EQ(p.debugView, 3);
         EXPECT_TRUE(p.simpleExposure);
         EXPECT_TRUE(p.cullSmallValues);
         EXPECT_EQ(p.tintMode, 1);
         EXPECT_EQ(p.tintStrength, 0.0f);
         EXPECT_EQ(p.sourceOpacityByte, 255);
         EXPECT_FLOAT_EQ(p.thresholdSmooth, 0.0f) << "at most the threshold, 0";
         EXPECT_EQ(p.bufferExpansionMode, 1);
         EXPECT_FALSE(p.layerCollapsed);
         EXPECT_FALSE(p.layerIsAdjustment);
     }},
    {"HalfResolution", {{PARAM_QUALITY_PRESET, 3}}, HalfResolution,
     [](const myParams& p) {
         EXPECT_FLOAT_EQ(p.downsampleX, 0.5f);
         EXPECT_FLOAT_EQ(p.baseRadius, 500.0f);
         EXPECT_FLOAT_EQ(p.stepsMultiplier, 0.66f);
     }},
    {"AuxExpansionRoundsUpInFloat", {{PARAM_AUX_BUFFER_EXPANSION, 3}}, HalfResolution,
     [](const myParams& p) { EXPECT_EQ(p.auxExpansion, 2); }},
    {"PixelAberrationWithZeroOffsetIsOff",
     {{PARAM_ENABLE_PIXEL_ABERRATION, 1}, {PARAM_PIXEL_OFFSET, 0}, {PARAM_ABERRATION_CHANNELS, 3}}, nullptr,
     [](const myParams& p) {
         EXPECT_EQ(p.aberrationMode, 0);
         EXPECT_EQ(p.pixelOffset, 0.0f);
     }},
    {"PixelAberrationScalesWithDownsampling", {{PARAM_ENABLE_PIXEL_ABERRATION, 1}, {PARAM_PIXEL_OFFSET, 3}},
     HalfResolution,
     [](const myParams& p) {
         EXPECT_EQ(p.aberrationMode, 2);
         EXPECT_FLOAT_EQ(p.pixelOffset, 1.5f);
     }},
    {"PixelAberrationNeedsItsCheckbox", {{PARAM_PIXEL_OFFSET, 3}}, nullptr,
     [](const myParams& p) { EXPECT_EQ(p.aberrationMode, 0); }},
    {"GlowAberrationAllAt100PercentIsOff",
     {{PARAM_ENABLE_GLOW_ABERRATION, 1}, {PARAM_MULTIPLY_RED, 100}, {PARAM_MULTIPLY_BLUE, 100}}, nullptr,
     [](const myParams& p) {
         EXPECT_FALSE(p.glowAberration);
         EXPECT_FLOAT_EQ(p.reachFactor, 1.0f);
         EXPECT_FLOAT_EQ(p.channelMultipliers[0], 1.0f);
     }},
    {"GlowAberrationReachIsTheLargestMultiplier", {{PARAM_ENABLE_GLOW_ABERRATION, 1}}, nullptr,
     [](const myParams& p) {
         EXPECT_TRUE(p.glowAberration);
         EXPECT_FLOAT_EQ(p.reachFactor, 1.2f);
         EXPECT_FLOAT_EQ(p.channelMultipliers[0], 0.8f);
         EXPECT_FLOAT_EQ(p.channelMultipliers[1], 1.0f);
         EXPECT_FLOAT_EQ(p.channelMultipliers[2], 1.2f);
     }},
    {"GlowAberrationOffLeavesMultipliersZero", {}, nullptr,
     [](const myParams& p) {
         EXPECT_FALSE(p.glowAberration);
         EXPECT_EQ(p.channelMultipliers[2], 0.0f);
         EXPECT_FLOAT_EQ(p.reachFactor, 1.0f);
     }},
    {"AspectAndNegativeAngle",
     {{PARAM_ASPECT_RATIO, 0.5}, {PARAM_ENABLE_ANGLE, 1}, {PARAM_ASPECT_ANGLE, -30}, {PARAM_RADIUS, 10}}, nullptr,
     [](const myParams& p) {
         EXPECT_DOUBLE_EQ(p.aspectMultipliers[0], 0.5);
         EXPECT_DOUBLE_EQ(p.aspectMultipliers[1], 1.5);
         EXPECT_FLOAT_EQ(p.angleDegrees, 330.0f);
         EXPECT_FLOAT_EQ(p.angleRadians, float(330.0 * 0.017453292519943295));
         EXPECT_DOUBLE_EQ(p.radiusXY[0], 5.0);
         EXPECT_DOUBLE_EQ(p.radiusXY[1], 15.0);
         EXPECT_EQ(p.edgeBehaviour, kGL_CLAMP_TO_BORDER);
     }},
    {"AngleOverAFullTurn", {{PARAM_ENABLE_ANGLE, 1}, {PARAM_ASPECT_ANGLE, 725}}, nullptr,
     [](const myParams& p) { EXPECT_FLOAT_EQ(p.angleDegrees, 5.0f); }},
    {"AngleIgnoredWhenOff", {{PARAM_ASPECT_ANGLE, 45}}, nullptr,
     [](const myParams& p) {
         EXPECT_EQ(p.angleDegrees, 0.0f);
         EXPECT_EQ(p.angleRadians, 0.0f);
     }},
    {"IrisEasing0IsLinear", With(kIris4, {{PARAM_RADII_EASING, 0}}), nullptr, IrisRadii(kLinear4, 1e-4f)},
    {"IrisEasing100IsEaseIn", With(kIris4, {{PARAM_RADII_EASING, 100}}), nullptr,
     IrisRadii({0, 0.984f, 9.921f, 100}, 1e-3f)},
    {"IrisEasingMinus100IsEaseOut", With(kIris4, {{PARAM_RADII_EASING, -100}}), nullptr,
     IrisRadii({0, 90.079f, 99.016f, 100}, 1e-3f)},
    {"IrisEasing90Blends", kIris4, nullptr, IrisRadii({2.5f, 5.886f, 16.429f, 100}, 1e-3f)},
    {"IrisOneIterationIsTheRadius", With(kIris4, {{PARAM_IRIS_ITERATIONS, 1}}), nullptr,
     [](const myParams& p) {
         EXPECT_EQ(p.maxGlowLevels, 1);
         ASSERT_EQ(p.irisRadii.size(), 1u);
         ASSERT_EQ(p.irisRadiiEased.size(), 1u);
         EXPECT_FLOAT_EQ(p.irisRadii[0], 100.0f);
         EXPECT_FLOAT_EQ(p.irisRadiiEased[0], 100.0f);
     }},
    {"IrisModeSettings", With(kIris4, {{PARAM_QUALITY_PRESET_IRIS, 5}, {PARAM_IRIS_SAMPLING_QUALITY, 1}}), nullptr,
     [](const myParams& p) {
         EXPECT_EQ(p.quality, 5);
         EXPECT_EQ(p.irisSamplingLevel, 5);
         EXPECT_EQ(p.maxGlowLevels, 4);
         EXPECT_FLOAT_EQ(p.radiiEasing, 0.9f);
         EXPECT_EQ(p.stepsMultiplier, 0.0f) << "Exponential-only fields stay zero";
     }},
    {"TintBelowATenthOfAPercentIsOff", {{PARAM_TINT_MODE, 3}, {PARAM_TINT_STRENGTH, 0.05}}, nullptr,
     [](const myParams& p) {
         EXPECT_EQ(p.tintMode, 1);
         EXPECT_EQ(p.tintStrength, 0.0f);
         EXPECT_EQ(p.tintBlendMode, 0);
         EXPECT_EQ(p.tintColor.red, 0.0f);
     }},
    {"TintOnReadsBothColoursAsFloats", {{PARAM_TINT_MODE, 4}, {PARAM_TINT_BLEND_MODE, 2}, {PARAM_TINT_STRENGTH, 50}},
     nullptr,
     [](const myParams& p) {
         EXPECT_EQ(p.tintMode, 4);
         EXPECT_EQ(p.tintBlendMode, 2);
         EXPECT_FLOAT_EQ(p.tintStrength, 0.5f);
         EXPECT_FLOAT_EQ(p.tintColor.alpha, 1.0f);
         EXPECT_FLOAT_EQ(p.tintColor.red, 1.0f);
         EXPECT_FLOAT_EQ(p.tintColor.green, 0.0f);
         EXPECT_FLOAT_EQ(p.tintColorOuter.green, 128 / 255.0f);
     }},
    {"ToneMapMixAtATenthOfAPercentIsNone", {{PARAM_TONE_MAP_OPERATION, 3}, {PARAM_TONE_MAP_MIX, 0.1}}, nullptr,
     [](const myParams& p) { EXPECT_EQ(p.toneMapOperation, 1); }},
    {"ToneMapKeptAboveTheSwitchOff", {{PARAM_TONE_MAP_OPERATION, 3}, {PARAM_TONE_MAP_MIX, 0.2}}, nullptr,
     [](const myParams& p) {
         EXPECT_EQ(p.toneMapOperation, 3);
         EXPECT_FLOAT_EQ(p.toneMapMix, 0.002f);
     }},
    {"ThresholdZeroMakesSmoothZero", {{PARAM_THRESHOLD, 0}, {PARAM_THRESHOLD_SMOOTH, 80}}, nullptr,
     [](const myParams& p) { EXPECT_EQ(p.thresholdSmooth, 0.0f); }},
    {"ThresholdSmoothAtLeastATenthOfAPercent", {{PARAM_THRESHOLD, 50}, {PARAM_THRESHOLD_SMOOTH, 0}}, nullptr,
     [](const myParams& p) {
         EXPECT_FLOAT_EQ(p.threshold, 0.5f);
         EXPECT_FLOAT_EQ(p.thresholdSmooth, 0.001f);
     }},
    {"SourceOpacityByteRoundsUp", {{PARAM_SOURCE_OPACITY, 50}}, nullptr,
     [](const myParams& p) {
         EXPECT_EQ(p.sourceOpacityByte, 128);
         EXPECT_FLOAT_EQ(p.sourceOpacity, 0.5f);
     }},
    {"ManualGammaZeroPercentIsLinear", {{PARAM_AUTO_DETECT_GAMMA, 0}, {PARAM_GAMMA_CORRECTION, 0}}, nullptr,
     [](const myParams& p) {
         EXPECT_FLOAT_EQ(p.gamma, 1.0f);
         EXPECT_FALSE(p.gammaCorrect);
     }},
    // 1 + 0.05 x 1.2 = 1.06: just enough of an exponent to be applied.
    {"ManualGamma5PercentIsApplied", {{PARAM_AUTO_DETECT_GAMMA, 0}, {PARAM_GAMMA_CORRECTION, 5}}, nullptr,
     [](const myParams& p) {
         EXPECT_FLOAT_EQ(p.gamma, 1.06f);
         EXPECT_TRUE(p.gammaCorrect);
     }},
    // 1 + 0.005 x 1.2 = 1.006: too close to linear to be worth a power per pixel.
    {"ManualGammaHalfPercentIsNotApplied", {{PARAM_AUTO_DETECT_GAMMA, 0}, {PARAM_GAMMA_CORRECTION, 0.5}}, nullptr,
     [](const myParams& p) {
         EXPECT_FLOAT_EQ(p.gamma, 1.006f);
         EXPECT_FALSE(p.gammaCorrect);
     }},
    {"ManualGamma100PercentIs2_2", {{PARAM_AUTO_DETECT_GAMMA, 0}}, [](simhost::SimHost& h) {
         simhost::EffectLayerOf(h).SetWorkingSpaceGamma(1.0f);
     },
     [](const myParams& p) {
         EXPECT_FLOAT_EQ(p.gamma, 2.2f);
         EXPECT_TRUE(p.gammaCorrect);
         EXPECT_TRUE(p.unmultLowGamma) << "judged on the scene's gamma 1.0, not the manual 2.2";
     }},
    {"SceneGammaFromTheWorkingSpace", {}, [](simhost::SimHost& h) { simhost::EffectLayerOf(h).SetWorkingSpaceGamma(1.8f); },
     [](const myParams& p) {
         EXPECT_FLOAT_EQ(p.gamma, 1.8f);
         EXPECT_FALSE(p.unmultLowGamma);
     }},
    {"LinearSceneWithUnmultOff", {{PARAM_UNMULT, 0}}, [](simhost::SimHost& h) {
         simhost::EffectLayerOf(h).SetWorkingSpaceGamma(1.0f);
     },
     [](const myParams& p) {
         EXPECT_FALSE(p.unmultLowGamma);
         EXPECT_FALSE(p.gammaCorrect);
     }},
    {"NoProfileLeavesGammaZero", {}, [](simhost::SimHost& h) { simhost::EffectLayerOf(h).SetHasWorkingSpaceProfile(false); },
     [](const myParams& p) {
         EXPECT_EQ(p.gamma, 0.0f);
         EXPECT_TRUE(p.unmultLowGamma);
     }},
    {"CompSizeOnAnUncollapsedLayerIsAuto", {{PARAM_BUFFER_EXPANSION_MODE, 2}}, nullptr,
     [](const myParams& p) { EXPECT_EQ(p.bufferExpansionMode, 1); }},
    {"CompSizeHoldsOnACollapsedLayer", {{PARAM_BUFFER_EXPANSION_MODE, 2}}, [](simhost::SimHost& h) {
         simhost::EffectLayerOf(h).SetLayerFlags(AEGP_LayerFlag_COLLAPSE | AEGP_LayerFlag_ADJUSTMENT_LAYER);
     },
     [](const myParams& p) {
         EXPECT_EQ(p.bufferExpansionMode, 2);
         EXPECT_TRUE(p.layerCollapsed);
         EXPECT_TRUE(p.layerIsAdjustment);
     }},
    {"IrisViewOnAnUncollapsedLayerIsAuto", {{PARAM_GLOW_MODE, 2}, {PARAM_VIEW_WITH_IRIS, 4}}, nullptr,
     [](const myParams& p) {
         EXPECT_EQ(p.view, kViewIris);
         EXPECT_EQ(p.bufferExpansionMode, 1);
     }},
    {"LensDirtInputViewOnACollapsedLayerIsCompSize", {{PARAM_VIEW, 4}},
     [](simhost::SimHost& h) { simhost::EffectLayerOf(h).SetLayerFlags(AEGP_LayerFlag_COLLAPSE); },
     [](const myParams& p) {
         EXPECT_EQ(p.view, kViewLensDirtInput);
         EXPECT_EQ(p.bufferExpansionMode, 2);
     }},
    {"ExponentialViewsMapFromTheListWithoutIris", {{PARAM_VIEW, 6}, {PARAM_VIEW_WITH_IRIS, 2}}, nullptr,
     [](const myParams& p) {
         EXPECT_EQ(p.view, kViewLensDirtMatted);
         EXPECT_EQ(p.lensDirtMode, 0) << "no dirt world";
     }},
    {"ExponentialSeparatorKeepsTheIrisListsView", {{PARAM_VIEW, 3}, {PARAM_VIEW_WITH_IRIS, 2}}, nullptr,
     [](const myParams& p) { EXPECT_EQ(p.view, kViewGlowInput); }},
    {"LensIrisReadsTheListWithIris", {{PARAM_GLOW_MODE, 2}, {PARAM_VIEW, 6}, {PARAM_VIEW_WITH_IRIS, 7}}, nullptr,
     [](const myParams& p) {
         EXPECT_EQ(p.view, kViewLensDirtMatte);
         EXPECT_EQ(p.lensDirtMode, 1) << "the matte view without a dirt world";
     }},
    {"NoLayerEndsTheQueriesQuietly", {}, [](simhost::SimHost& h) { simhost::EffectLayerOf(h).SetHasLayer(false); },
     [](const myParams& p) {
         EXPECT_EQ(p.gamma, 0.0f);
         EXPECT_FALSE(p.layerCollapsed);
     }},
};

INSTANTIATE_TEST_SUITE_P(Cases, RenderSettingsCases, testing::ValuesIn(kCases), velloran_test::NameFromWhat<SettingsCase>);

TEST_F(RenderSettingsTest, CheckoutsAreBalancedAtTheHostsTimeAndSkipTheLayerParams) {
    host().InDataTemplate().current_time = 48;
    host().InDataTemplate().time_step = 2;
    host().InDataTemplate().time_scale = 24;
    const int before = store().Checkouts();
    myParams p;
    ASSERT_EQ(Fill(&p), PF_Err_NONE);
    // 3 for the mode and views, 152 copies (not 39 "Iris Layer" and 90 "Texture").
    EXPECT_EQ(store().Checkouts() - before, 3 + 152);
    EXPECT_EQ(store().OutstandingCheckouts(), 0);
    EXPECT_EQ(store().LastCheckoutTime().what_time, 48);
    EXPECT_EQ(store().LastCheckoutTime().time_step, 2);
    EXPECT_EQ(store().LastCheckoutTime().time_scale, 24u);
    EXPECT_EQ(p.params[PARAM_IRIS_LAYER].param_type, 0);
    EXPECT_EQ(p.params[PARAM_LENS_DIRT_TEXTURE].param_type, 0);
    EXPECT_EQ(p.params[PARAM_MASK_LAYER].param_type, PF_Param_LAYER);
    EXPECT_EQ(p.params[PARAM_RADIUS].u.fs_d.value, 1000.0);
    EXPECT_EQ(layer().ProfilesAlive(), 0) << "the working-space profile is disposed";
    EXPECT_EQ(layer().ProfilesMade(), 1);
}

TEST_F(RenderSettingsTest, InterruptDuringCheckoutsReturns517WithTheFieldsCopiedSoFar) {
    Set({{PARAM_BLEND_MODE, 2}, {PARAM_RADIUS, 40}, {PARAM_EXPOSURE, 3}, {PARAM_THRESHOLD, 50},
         {PARAM_SOURCE_OPACITY, 50}});
    myParams p;
    in_ = host().InDataTemplate();
    ASSERT_EQ(PreInitParams(&p, &in_, &out_), PF_Err_NONE);
    store().SetFailureCode("checkout_param", PF_Interrupt_CANCEL);
    // Checkouts 1 to 22 copy indices 1 to 22; the 23rd (index 23) is interrupted, so "Threshold" (24) on
    // stays zero.
    host().Faults().FailCall("checkout_param", 23);
    EXPECT_EQ(InitParams(&p, &in_, &out_, nullptr), PF_Interrupt_CANCEL);
    EXPECT_FLOAT_EQ(p.baseRadius, 40.0f);
    EXPECT_FLOAT_EQ(p.exposure, 3.0f);
    EXPECT_EQ(p.threshold, 0.0f);
    EXPECT_EQ(p.sourceOpacityByte, 0);
    EXPECT_EQ(p.blendMode, 2) << "copied before the interrupt";
    EXPECT_EQ(p.quality, 0) << "the Quality Preset (default \"Medium\") was never copied";
    EXPECT_FLOAT_EQ(p.thresholdSmooth, 0.0f);
    EXPECT_EQ(layer().ProfilesMade(), 0) << "no host query runs after the interrupt";
    EXPECT_FLOAT_EQ(p.gamma, 1.0f) << "auto-detect was not copied: the manual formula at 0 %";
    EXPECT_EQ(std::string(out_.return_msg), "") << "an interrupt is not shown";
    EXPECT_EQ(store().OutstandingCheckouts(), 0);
    EXPECT_EQ(Log(), "");
}

TEST_F(RenderSettingsTest, QualityPresetsGiveStepsAndResolutionScale) {
    struct Case {
        const char* what;
        int quality;
        float steps, resolutionScale;  // at full resolution; the steps double at half resolution
    };
    const Case cases[] = {
        {"Draft", 1, 0.25f, 0.8f},   {"Low", 2, 0.25f, 0.85f}, {"Medium", 3, 0.33f, 0.9f},
        {"Standard", 4, 0.5f, 0.9f}, {"High", 5, 0.5f, 0.97f}, {"Extreme", 6, 1.0f, 1.0f},
        // "Custom" takes both from its own sliders: Steps Multiplier 0.7 and Resolution 60 %.
        {"Custom", 8, 0.7f, 0.6f},
    };
    Set({{PARAM_STEPS_MULTIPLIER, 0.7}, {PARAM_RESOLUTION, 60}});
    for (const Case& c : cases) {
        for (A_u_long den : {1u, 2u}) {
            Set({{PARAM_QUALITY_PRESET, c.quality}});
            host().InDataTemplate().downsample_x = {1, den};
            myParams p;
            ASSERT_EQ(Fill(&p), PF_Err_NONE) << c.what;
            EXPECT_EQ(p.quality, c.quality) << c.what;
            EXPECT_FLOAT_EQ(p.stepsMultiplier, c.steps * float(den)) << c.what << ", 1/" << den;
            EXPECT_FLOAT_EQ(p.resolutionScale, c.resolutionScale) << c.what << ", 1/" << den;
        }
    }
}

struct CheckoutFailureCase {
    const char* what;
    const char* call;
    int nth;
    PF_Err err;
    const char* message;
    const char* logLine;
    int leftCheckedOut;  // a failed check-in leaves its parameter with the host
};

void PrintTo(const CheckoutFailureCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

class CheckoutFailures : public RenderSettingsTest, public testing::WithParamInterface<CheckoutFailureCase> {};

TEST_P(CheckoutFailures, AreLoggedShownAndReturned) {
    const CheckoutFailureCase& c = GetParam();
    myParams p;
    in_ = host().InDataTemplate();
    ASSERT_EQ(PreInitParams(&p, &in_, &out_), PF_Err_NONE);
    store().SetFailureCode(c.call, c.err);
    host().Faults().FailCall(c.call, c.nth);
    EXPECT_EQ(InitParams(&p, &in_, &out_, nullptr), c.err);
    EXPECT_THAT(out_.return_msg, testing::StartsWith(std::string("Velloran 2 1.0.2: ") + c.message));
    EXPECT_TRUE(out_.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE);
    EXPECT_THAT(Log(), testing::HasSubstr(c.logLine));
    EXPECT_EQ(p.exposure, 0.0f) << "nothing is derived";
    EXPECT_EQ(store().OutstandingCheckouts(), c.leftCheckedOut);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CheckoutFailures,
    testing::Values(CheckoutFailureCase{"Checkout", "checkout_param", 5, PF_Err_INVALID_INDEX,
                                        "err on param checkout err 513 err2 0", "err on param checkout: 513", 0},
                    CheckoutFailureCase{"Checkin", "checkin_param", 5, PF_Err_INTERNAL_STRUCT_DAMAGED,
                                        "err on param checkout err 512 err2 512", "err on param checkout: 512", 1}),
    velloran_test::NameFromWhat<CheckoutFailureCase>);

TEST_F(RenderSettingsTest, RenderReadsPixelFormatBitDepthAndBuildsTheChain) {
    Set({{PARAM_RADIUS, 15}, {PARAM_QUALITY_PRESET, 4}});
    simhost::SimWorld output(64, 32, simhost::PixelDepth::k32f);
    PF_SmartRenderInput input{};
    input.bitdepth = 32;
    PF_SmartRenderExtra extra{};
    extra.input = &input;
    myParams p;
    ASSERT_EQ(Fill(&p, output.world(), &extra), PF_Err_NONE);
    EXPECT_EQ(p.pixelFormat, PF_PixelFormat_ARGB128);
    EXPECT_EQ(p.bitDepth, 32);
    ASSERT_EQ(p.bloomMips.size(), 4u);
    EXPECT_EQ(p.maxGlowLevels, 4);
    EXPECT_FLOAT_EQ(p.bloomMips[3].weight, 10.0f / 55);
    EXPECT_EQ(p.bloomMips[0].width, 64);
}

// A dirt layer and an output at opposite ends of the int range lie further apart than an int holds. With
// mirrored repeat only the offset modulo the mirror period (2 x (size - 4) = 12 for a 10-pixel layer) counts;
// without it the layer is out of reach, which the offset, saturated, still says.
TEST_F(RenderSettingsTest, LensDirtOffsetOfOriginsFurtherApartThanAnIntHolds) {
    struct Case {
        A_long dirtOrigin, outputOrigin;
        bool mirror;
        int32_t offset;
    };
    const Case cases[] = {
        {INT32_MIN, 10, false, INT32_MIN},
        {INT32_MAX, -10, false, INT32_MAX},
        // -2147483648 - 10 = -2147483658 = 6 - 178956972 x 12.
        {INT32_MIN, 10, true, 6},
        // 2147483647 + 10 = 2147483657 = 5 + 178956971 x 12.
        {INT32_MAX, -10, true, 5},
        {-7, 10, true, -17},  // within range: as it is
    };
    for (const Case& c : cases) {
        Set({{PARAM_LENS_DIRT_REPEAT_EDGES, c.mirror ? 1.0 : 0.0}});
        simhost::SimWorld output(8, 8, simhost::PixelDepth::k8);
        simhost::SimWorld dirt(10, 10, simhost::PixelDepth::k8);
        output.world()->origin_x = c.outputOrigin;
        output.world()->origin_y = c.outputOrigin;
        dirt.world()->origin_x = c.dirtOrigin;
        dirt.world()->origin_y = c.dirtOrigin;
        myParams p;
        in_ = host().InDataTemplate();
        ASSERT_EQ(PreInitParams(&p, &in_, &out_), PF_Err_NONE);
        p.output_worldP = output.world();
        p.lens_dirt_worldP = dirt.world();
        ASSERT_EQ(InitParams(&p, &in_, &out_, nullptr), PF_Err_NONE);
        EXPECT_EQ(p.lensMirror.offsetX, c.offset) << c.dirtOrigin << " - " << c.outputOrigin << " mirror " << c.mirror;
        EXPECT_EQ(p.lensMirror.offsetY, c.offset) << c.dirtOrigin << " - " << c.outputOrigin << " mirror " << c.mirror;
    }
}

TEST_F(RenderSettingsTest, PixelFormatFailureIsReportedAndReleasesTheWorldSuite) {
    simhost::SimWorld output(8, 8, simhost::PixelDepth::k8);
    host().Faults().FailCall("PF_GetPixelFormat", 1);
    myParams p;
    EXPECT_EQ(Fill(&p, output.world()), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_THAT(out_.return_msg, testing::StartsWith("Velloran 2 1.0.2: err on PF_GetPixelFormat err 512 err2 0"));
    EXPECT_THAT(Log(), testing::HasSubstr("err on PF_GetPixelFormat: 512"));
    // The fixture checks at its end that "PF World Suite" was released.
}

TEST_F(RenderSettingsTest, LensDirtDataFollowsTheDirtWorldAndView) {
    Set({{PARAM_LENS_DIRT_OPACITY, 40}, {PARAM_LENS_DIRT_MATTE_GAMMA, 2}, {PARAM_LENS_DIRT_MATTE_EXPOSURE, 0.5},
         {PARAM_LENS_DIRT_INHERIT_COLOR, 25}, {PARAM_LENS_DIRT_REPEAT_EDGES, 0}, {PARAM_VIEW, 5}});
    simhost::SimWorld output(8, 8, simhost::PixelDepth::k8);
    simhost::SimWorld dirt(4, 4, simhost::PixelDepth::k8);
    output.world()->origin_x = 10;
    output.world()->origin_y = 20;
    dirt.world()->origin_x = 13;
    dirt.world()->origin_y = 15;
    myParams p;
    in_ = host().InDataTemplate();
    ASSERT_EQ(PreInitParams(&p, &in_, &out_), PF_Err_NONE);
    p.output_worldP = output.world();
    p.lens_dirt_worldP = dirt.world();
    ASSERT_EQ(InitParams(&p, &in_, &out_, nullptr), PF_Err_NONE);
    EXPECT_EQ(p.lensDirtMode, 1);
    EXPECT_EQ(p.lensMirror.mode, 1);
    EXPECT_EQ(p.lensMirror.offsetX, 3);
    EXPECT_EQ(p.lensMirror.offsetY, -5);
    EXPECT_EQ(p.lensMirror.dirt, dirt.world());
    EXPECT_FALSE(p.lensMirror.mirror);
    EXPECT_FLOAT_EQ(p.lensMirror.opacity, 0.4f);
    EXPECT_FLOAT_EQ(p.lensMirror.matteGammaExp, 0.5f);
    EXPECT_FLOAT_EQ(p.lensMirror.matteGain, 1.5f);
    EXPECT_FLOAT_EQ(p.lensMirror.inherit, 0.25f);

    store().SetNumber(PARAM_VIEW, 1);
    store().SetNumber(PARAM_LENS_DIRT_MATTE_GAMMA, 0);
    myParams q;
    in_ = host().InDataTemplate();
    ASSERT_EQ(PreInitParams(&q, &in_, &out_), PF_Err_NONE);
    q.output_worldP = output.world();
    q.lens_dirt_worldP = dirt.world();
    ASSERT_EQ(InitParams(&q, &in_, &out_, nullptr), PF_Err_NONE);
    EXPECT_EQ(q.lensDirtMode, 3) << "composited onto the final result";
    EXPECT_FLOAT_EQ(q.lensMirror.matteGammaExp, 100000.0f);
}

TEST_F(RenderSettingsTest, ColourQueryFailureIsReturnedWithoutAMessage) {
    Set({{PARAM_TINT_MODE, 3}});
    host().Faults().FailCall("PF_GetFloatingPointColorFromColorDef", 2);
    myParams p;
    EXPECT_EQ(Fill(&p), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_FLOAT_EQ(p.tintColor.red, 1.0f) << "the first colour was read";
    EXPECT_EQ(p.tintColorOuter.red, 0.0f);
    EXPECT_EQ(std::string(out_.return_msg), "");
    EXPECT_EQ(layer().ProfilesMade(), 0) << "the layer queries need no earlier error";
}

TEST_F(RenderSettingsTest, ProfileIsDisposedWhenItsGammaCannotBeRead) {
    host().Faults().FailCall("AEGP_GetColorProfileApproximateGamma", 1);
    myParams p;
    EXPECT_EQ(Fill(&p), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(layer().ProfilesMade(), 1);
    EXPECT_EQ(layer().ProfilesAlive(), 0);
}

TEST_F(RenderSettingsTest, DisposalFailureIsTheResultOnlyWithoutAnEarlierError) {
    host().Faults().FailCall("AEGP_DisposeColorProfile", 1);
    myParams p;
    EXPECT_EQ(Fill(&p), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_FLOAT_EQ(p.gamma, 2.2f);
}

}  // namespace
