// The "Exponential" level chain: level count, radii, scales, weights, taps and steps worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

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
                                         CountCase{100000, 10, 100000.0f / 1024}));

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
    // "Standard": 1, s, s^2, s^3; radii 15/16 * 2^k scaled by the level's size.
    const float s[4] = {1, 0.9f, 0.9f * 0.9f, 0.9f * 0.9f * 0.9f};
    for (int k = 0; k < 4; ++k) {
        const bloomMip& m = chain.p.bloomMips[size_t(k)];
        EXPECT_FLOAT_EQ(m.scale, s[k]);
        EXPECT_FLOAT_EQ(m.radius, 0.9375f * float(1 << k) * s[k]);
        EXPECT_EQ(m.width, int(std::ceil(double(s[k]) * 200)));
        EXPECT_EQ(m.height, int(std::ceil(double(s[k]) * 100)));
        EXPECT_EQ(m.tapsX, std::max(int(std::ceil(0.5 * m.radiusX)), 1));
        EXPECT_FLOAT_EQ(m.strideX, float(m.radiusX / m.tapsX / m.width));
        EXPECT_FLOAT_EQ(m.strideY, float(m.radiusY / m.tapsY / m.height));
    }
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
