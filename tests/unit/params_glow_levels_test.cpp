// The "Exponential" level chain: level count, radii, scales, weights, taps and steps worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "support/CaseNames.h"
#include "host/RenderSettings.h"
#include "render/GlowLevels.h"

namespace {

struct Chain {
    PF_EffectWorld output{};
    myParams p;

    Chain(float radius, int quality, float resolutionScale = 0.9f, float downsample = 1.0f, double aspect = 1.0,
          float steps = 0.5f, int width = 200, int height = 100) {
        output.width = width;
        output.height = height;
        p.output_worldP = &output;
        p.baseRadius = radius;
        p.downsampleX = downsample;
        p.maxGlowLevels = 10;
        p.quality = quality;
        p.resolutionScale = resolutionScale;
        p.stepsMultiplier = steps;
        p.aspectMultipliers[0] = aspect;
        p.aspectMultipliers[1] = std::fabs(2.0 - aspect);
        EXPECT_EQ(CalcBloomDownsampleDims(&p), 0);
    }
    std::vector<float> Radii() const {
        std::vector<float> r;
        for (const bloomMip& m : p.bloomMips) r.push_back(m.radius);
        return r;
    }
    std::vector<float> Weights() const {
        std::vector<float> w;
        for (const bloomMip& m : p.bloomMips) w.push_back(m.weight);
        return w;
    }
};

struct CountCase {
    float radius;
    int levels;
    float baseRadius;  // level 0's radius before scaling
};

std::string Describe(const CountCase& c) {
    char radius[32];
    std::snprintf(radius, sizeof radius, "%g", double(c.radius));
    return std::string("Radius ") + radius;
}
void PrintTo(const CountCase& c, std::ostream* os) { velloran_test::PrintCase(Describe(c), os); }

class GlowLevelCount : public testing::TestWithParam<CountCase> {};

TEST_P(GlowLevelCount, LevelsExistWhileTheHalvedRadiusExceedsOnePixel) {
    const CountCase c = GetParam();
    Chain chain(c.radius, /*"High"*/ 5, 1.0f);
    EXPECT_EQ(chain.p.maxGlowLevels, c.levels);
    ASSERT_EQ(chain.p.bloomMips.size(), size_t(c.levels));
    EXPECT_FLOAT_EQ(chain.p.baseRadius, c.baseRadius);
    // With scale 1 the level radii double from level 0.
    for (int k = 0; k < c.levels; ++k) EXPECT_FLOAT_EQ(chain.p.bloomMips[size_t(k)].radius, c.baseRadius * (1 << k));
}

INSTANTIATE_TEST_SUITE_P(Radii, GlowLevelCount,
                         testing::Values(CountCase{0, 1, 0}, CountCase{1.5f, 1, 0.75f}, CountCase{2, 1, 1},
                                         CountCase{16, 4, 1}, CountCase{17, 5, 17.0f / 32},
                                         CountCase{100000, 10, 100000.0f / 1024}),
                         [](const testing::TestParamInfo<CountCase>& info) {
                             return velloran_test::CaseName(Describe(info.param));
                         });

TEST(GlowLevels, SmallRadiusGivesOneFullWeightLevel) {
    Chain chain(2, 4);
    ASSERT_EQ(chain.p.bloomMips.size(), 1u);
    EXPECT_FLOAT_EQ(chain.p.bloomMips[0].radius, 1.0f);
    EXPECT_FLOAT_EQ(chain.p.bloomMips[0].weight, 1.0f);
}

TEST(GlowLevels, ZeroRadiusGivesOneTapAndNoStep) {
    Chain chain(0, 4);
    ASSERT_EQ(chain.p.bloomMips.size(), 1u);
    const bloomMip& m = chain.p.bloomMips[0];
    EXPECT_EQ(m.radius, 0.0f);
    EXPECT_EQ(m.tapsX, 1);
    EXPECT_EQ(m.tapsY, 1);
    EXPECT_EQ(m.strideX, 0.0f);
    EXPECT_EQ(m.strideY, 0.0f);
    EXPECT_EQ(m.width, 200);
    EXPECT_EQ(m.height, 100);
}

// A host that sends a downsample factor of 0 leaves a radius of 0 and a steps multiplier of 1 / 0 (or 0 / 0 when
// no preset was read): one level of one tap, no step and the output's size, with no NaN reaching an int.
TEST(GlowLevels, ZeroDownsampleFactorGivesOneTapAndNoStep) {
    for (float steps : {std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN()}) {
        Chain chain(0, 4, 0.9f, 0.0f, 1.0, steps);
        ASSERT_EQ(chain.p.bloomMips.size(), 1u) << steps;
        const bloomMip& m = chain.p.bloomMips[0];
        EXPECT_EQ(m.weight, 1.0f) << steps;
        EXPECT_EQ(m.tapsX, 1) << steps;
        EXPECT_EQ(m.tapsY, 1) << steps;
        EXPECT_EQ(m.strideX, 0.0f) << steps;
        EXPECT_EQ(m.strideY, 0.0f) << steps;
        EXPECT_EQ(m.width, 200) << steps;
        EXPECT_EQ(m.height, 100) << steps;
    }
}

TEST(GlowLevels, StandardRadius15WeightsFollowTheRamps) {
    Chain chain(15, 4, 0.9f);
    EXPECT_EQ(chain.p.maxGlowLevels, 4);
    const std::vector<float> w = chain.Weights();
    ASSERT_EQ(w.size(), 4u);
    EXPECT_FLOAT_EQ(w[0], 1.0f);
    EXPECT_FLOAT_EQ(w[1], 0.75f);
    EXPECT_FLOAT_EQ(w[2], 0.375f);
    EXPECT_FLOAT_EQ(w[3], 10.0f / 55.0f);
    // "Standard": 1, s, s^2, s^3; radii 15/16 * 2^k scaled by the level's size: 0.9375, 1.6875, 3.0375,
    // 5.4675. Taps ceil(0.5 * radius): 1, 1, 2, 3; sizes ceil(s^k * 200) by ceil(s^k * 100); one step spans
    // radius / taps level pixels.
    struct Level {
        float scale, radius;
        int taps, width, height;
    };
    const Level levels[4] = {{1, 0.9375f, 1, 200, 100},
                             {0.9f, 1.6875f, 1, 180, 90},
                             {0.81f, 3.0375f, 2, 162, 81},
                             {0.729f, 5.4675f, 3, 146, 73}};
    for (int k = 0; k < 4; ++k) {
        const Level& e = levels[k];
        const bloomMip& m = chain.p.bloomMips[size_t(k)];
        EXPECT_NEAR(m.scale, e.scale, 1e-6f) << "level " << k;
        EXPECT_NEAR(m.radius, e.radius, 1e-5f) << "level " << k;
        EXPECT_NEAR(m.radiusX, e.radius, 1e-5) << "level " << k;
        EXPECT_NEAR(m.radiusY, e.radius, 1e-5) << "level " << k;
        EXPECT_EQ(m.width, e.width) << "level " << k;
        EXPECT_EQ(m.height, e.height) << "level " << k;
        EXPECT_EQ(m.tapsX, e.taps) << "level " << k;
        EXPECT_EQ(m.tapsY, e.taps) << "level " << k;
        EXPECT_NEAR(m.strideX, e.radius / float(e.taps) / float(e.width), 1e-7f) << "level " << k;
        EXPECT_NEAR(m.strideY, e.radius / float(e.taps) / float(e.height), 1e-7f) << "level " << k;
    }
}

TEST(GlowLevels, AspectSplitsTapsAndStepsBetweenTheAxes) {
    // a = 1.5: radius 1 * 1.5 across and 1 * 0.5 down at level 0 of R = 4 (two levels, radii 1 and 2), steps
    // multiplier 1: taps ceil(1.5) = 2 and ceil(0.5) = 1; level 1 (scale 1): ceil(3) = 3 and ceil(1) = 1.
    Chain chain(4, /*"High"*/ 5, 1.0f, 1.0f, 1.5, 1.0f, 120, 60);
    ASSERT_EQ(chain.p.bloomMips.size(), 2u);
    const bloomMip& a = chain.p.bloomMips[0];
    EXPECT_EQ(a.tapsX, 2);
    EXPECT_EQ(a.tapsY, 1);
    EXPECT_FLOAT_EQ(a.strideX, 0.75f / 120);
    EXPECT_FLOAT_EQ(a.strideY, 0.5f / 60);
    const bloomMip& b = chain.p.bloomMips[1];
    EXPECT_EQ(b.tapsX, 3);
    EXPECT_EQ(b.tapsY, 1);
    EXPECT_FLOAT_EQ(b.strideX, 1.0f / 120);
    EXPECT_FLOAT_EQ(b.strideY, 1.0f / 60);
}

TEST(GlowLevels, DeepLevelsFollowTheirOwnRamps) {
    // R = 140 with a factor of 2 between it and the full-resolution radius: r = 70 weighs the levels, while
    // 140 / 2^8 <= 1 gives eight levels. Ramps
    // (e0, span) of levels 3 to 7: (5, 55), (10, 70), (20, 100), (35, 105), (60, 100).
    Chain chain(140, 4, 1.0f, 2.0f);
    const std::vector<float> w = chain.Weights();
    ASSERT_EQ(w.size(), 8u);
    const float expected[8] = {1, 1, 1, 1, 60.0f / 70, 50.0f / 100, 35.0f / 105, 10.0f / 100};
    for (int k = 0; k < 8; ++k) EXPECT_FLOAT_EQ(w[size_t(k)], expected[k]) << "level " << k;

    // r = 120 reaches level 8's ramp (90, 90) and r = 160 level 9's (110, 110); R = 2048 has ten levels.
    Chain deep(2048, 4, 1.0f, 2048.0f / 160);
    ASSERT_EQ(deep.p.bloomMips.size(), 10u);
    EXPECT_FLOAT_EQ(deep.p.bloomMips[7].weight, 1.0f);
    EXPECT_FLOAT_EQ(deep.p.bloomMips[8].weight, 70.0f / 90);
    EXPECT_FLOAT_EQ(deep.p.bloomMips[9].weight, 50.0f / 110);
}

TEST(GlowLevels, HalfResolutionDropsALevelButKeepsFullResolutionWeights) {
    Chain full(15, 4, 0.9f, 1.0f);
    Chain half(7.5f, 4, 0.9f, 0.5f);
    EXPECT_EQ(half.p.maxGlowLevels, full.p.maxGlowLevels - 1);
    const std::vector<float> wf = full.Weights(), wh = half.Weights();
    for (size_t k = 0; k < wh.size(); ++k) EXPECT_FLOAT_EQ(wh[k], wf[k]) << "level " << k;
}

TEST(GlowLevels, ZeroWeightLevelEndsTheChain) {
    // R = 64 would give 6 levels, but r = 64 / 16 = 4 is below level 3's ramp start of 5: level 3 weighs 0
    // and is the last level.
    Chain small(64, 4, 1.0f, 16.0f);
    EXPECT_EQ(small.p.maxGlowLevels, 4);
    ASSERT_EQ(small.p.bloomMips.size(), 4u);
    EXPECT_FLOAT_EQ(small.p.bloomMips[1].weight, 4.0f / 20);
    EXPECT_FLOAT_EQ(small.p.bloomMips[2].weight, 4.0f / 40);
    EXPECT_EQ(small.p.bloomMips[3].weight, 0.0f);
}

TEST(GlowLevels, DraftScalesEveryLevelFromTheFirst) {
    Chain chain(64, 1, 0.8f);
    ASSERT_GE(chain.p.bloomMips.size(), 3u);
    EXPECT_FLOAT_EQ(chain.p.bloomMips[0].scale, 0.8f);
    EXPECT_FLOAT_EQ(chain.p.bloomMips[1].scale, 0.8f * 0.8f);
    EXPECT_FLOAT_EQ(chain.p.bloomMips[2].scale, 0.8f * 0.8f * 0.8f);
}

// "Draft", "Low" and "Medium" (the default) draw even the first level at the preset's resolution scale;
// "Standard" and "High" draw it at full size and scale from the second level on. The first level's blur
// radius, in level pixels, follows.
TEST(GlowLevels, FirstLevelScaleFollowsThePreset) {
    struct Case {
        const char* what;
        int quality;
        float resolutionScale;  // the preset's
        float first, second;    // the scales of levels 0 and 1
    };
    const Case cases[] = {
        {"Draft", 1, 0.8f, 0.8f, 0.8f * 0.8f},   {"Low", 2, 0.85f, 0.85f, 0.85f * 0.85f},
        {"Medium", 3, 0.9f, 0.9f, 0.9f * 0.9f},  {"Standard", 4, 0.9f, 1.0f, 0.9f},
        {"High", 5, 0.97f, 1.0f, 0.97f},
    };
    for (const Case& c : cases) {
        // Radius 64 halves to a level-0 radius of 1 before scaling.
        Chain chain(64, c.quality, c.resolutionScale);
        ASSERT_GE(chain.p.bloomMips.size(), 2u) << c.what;
        const bloomMip& first = chain.p.bloomMips[0];
        EXPECT_FLOAT_EQ(first.scale, c.first) << c.what;
        EXPECT_FLOAT_EQ(first.radius, c.first) << c.what;
        EXPECT_FLOAT_EQ(chain.p.bloomMips[1].scale, c.second) << c.what;
    }
}

TEST(GlowLevels, CustomKeepsOneScaleAndFullWeights) {
    Chain chain(64, kQualityCustom, 0.75f, 1.0f, 1.0, 0.5f);
    EXPECT_EQ(chain.p.maxGlowLevels, 6);
    for (const bloomMip& m : chain.p.bloomMips) {
        EXPECT_FLOAT_EQ(m.scale, 0.75f);
        EXPECT_FLOAT_EQ(m.weight, 1.0f);
        EXPECT_EQ(m.width, 150);
        EXPECT_EQ(m.height, 75);
    }
    EXPECT_EQ(chain.p.quality, kQualityCustom);
}

TEST(GlowLevels, ExtremeEndsAtFullWeightAndIsDrawnAsCustom) {
    // R = 3: R / 2 = 1.5 > 1, R / 4 <= 1: two levels of radius 0.75 and 1.5.
    Chain chain(3, kQualityExtreme, 1.0f);
    ASSERT_EQ(chain.p.bloomMips.size(), 2u);
    EXPECT_FLOAT_EQ(chain.p.bloomMips[0].weight, float(0.2 * 0.75));
    EXPECT_FLOAT_EQ(chain.p.bloomMips[1].weight, 1.0f);
    EXPECT_FLOAT_EQ(chain.p.bloomMips[1].radius, 1.5f);
    EXPECT_EQ(chain.p.quality, kQualityCustom);

    // A one-level chain: the radius R / 2 is raised to 1 before scaling.
    Chain tiny(1, kQualityExtreme, 1.0f);
    ASSERT_EQ(tiny.p.bloomMips.size(), 1u);
    EXPECT_FLOAT_EQ(tiny.p.bloomMips[0].radius, 1.0f);
    EXPECT_FLOAT_EQ(tiny.p.bloomMips[0].weight, 1.0f);
}

TEST(GlowLevels, ExtremeWeightUsesTheWiderAspectAxis) {
    // a = 0.5: |2 - a| = 1.5 is the wider axis. R = 8 stops at 3 levels (8 / 8 = 1): radii 1, 2, 4.
    Chain chain(8, kQualityExtreme, 1.0f, 1.0f, 0.5);
    ASSERT_EQ(chain.p.bloomMips.size(), 3u);
    EXPECT_FLOAT_EQ(chain.p.bloomMips[0].weight, float(0.2 * 1.0 * 1.5));
    EXPECT_FLOAT_EQ(chain.p.bloomMips[1].weight, float(std::min(1.0, 0.2 * 2.0 * 1.5)));
    EXPECT_DOUBLE_EQ(chain.p.bloomMips[0].radiusX, 0.5);
    EXPECT_DOUBLE_EQ(chain.p.bloomMips[0].radiusY, 1.5);
}

TEST(GlowLevels, WeightRampClamps) {
    EXPECT_FLOAT_EQ(GetWeight(5, 60, 15), 10.0f / 55);
    EXPECT_EQ(GetWeight(5, 60, 1), 0.0f);
    EXPECT_EQ(GetWeight(5, 60, 100), 1.0f);
}

TEST(GlowLevels, SafeIterationsDivideFirst) {
    EXPECT_EQ(calculateSafeIterations(1920, 1080, 20), 5);  // 1080 / 20 = 54 -> log2 5.75
    EXPECT_EQ(calculateSafeIterations(256, 256, 20), 3);    // 12 -> 3.58
    EXPECT_EQ(calculateSafeIterations(39, 400, 20), 0);     // 1 -> 0
    EXPECT_EQ(calculateSafeIterations(19, 400, 20), 0);     // smaller than d: no halving, no -infinity
}

}  // namespace
