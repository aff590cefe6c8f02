// With half floats on, every pass that writes a half-float target saturates at the largest half float, 65504,
// and reads a level that a driver's blend left infinite as 65504, so no pass hands an infinity or a NaN on;
// with them off the same passes keep values beyond it. The targets here are 32-bit, so what a pass writes is
// seen before any storage rounds or saturates it.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "shader_gl_fixture.h"

namespace {

using shader_test::Image;
using shader_test::Vec2;
using shader_test::Vec3;

constexpr float kHalfMax = 65504.f;
constexpr float kInf = std::numeric_limits<float>::infinity();
// Full floats never hold an infinity (the upload turns one into 0); filtering one between texels gives NaN.
constexpr float kNotChecked = std::numeric_limits<float>::quiet_NaN();

UniformMap PreProcessSettings()
{
    // "Add", gamma 2.2, no threshold: a channel of 400 becomes 400^2.2, about 537,000.
    return {{"satBiasF", VEC(0.f)},     {"threshold", VEC(0.f)},       {"thresholdSmooth", VEC(0.001f)},
            {"exposure", VEC(1.f)},     {"gammaCorrect", IVEC(1)},     {"custom_gammaF", VEC(2.2f)},
            {"blendModeE", IVEC(2)},    {"viewE", IVEC(1)},            {"aberration_modeE", IVEC(0)},
            {"aberration_amountF", Vec2(0.f, 0.f)}, {"simple_exposureB", IVEC(1)}};
}

UniformMap PostProcessSettings(float exposure)
{
    return {{"simple_exposureB", IVEC(1)}, {"gammaCorrect", IVEC(0)}, {"custom_gammaF", VEC(1.f)},
            {"blendMode", IVEC(2)},        {"exposure", VEC(exposure)}, {"tintMix", VEC(0.f)},
            {"clampMixF", VEC(0.f)},       {"tonemapE", IVEC(1)},      {"tintColor", Vec3(1.f, 1.f, 1.f)},
            {"tintMode", IVEC(1)},         {"tintMultiB", IVEC(0)},    {"tintColorOuter", Vec3(0.f, 0.f, 0.f)}};
}

struct PassCase {
    const char* what;
    ProgramSlot slot;
    UniformMap settings;
    float in;         // every channel of a flat 4 x 4 input
    int outSize;      // of the square target
    float halfOut;    // every channel written with half floats on
    float floatOut;   // with them off
};

class HalfFloatPasses : public shader_test::GLTest {};

TEST_F(HalfFloatPasses, SaturateAtTheLargestHalfOnlyWhenHalfFloatsAreOn)
{
    const float gamma400 = std::pow(400.f, 2.2f);
    const PassCase cases[] = {
        {"pre-process: 400 raised to the gamma", PRE_PROC_IDENTITY_P, PreProcessSettings(), 400.f, 4, kHalfMax,
         gamma400},
        {"pre-process: below the largest half", PRE_PROC_IDENTITY_P, PreProcessSettings(), 100.f, 4,
         std::pow(100.f, 2.2f), std::pow(100.f, 2.2f)},
        {"upsample of a level past the largest half", UPSAMPLE_P,
         {{"in_res", Vec2(4.f, 4.f)}, {"out_res", Vec2(8.f, 8.f)}}, 1e6f, 8, kHalfMax, 1e6f},
        {"upsample of an infinite level", UPSAMPLE_P, {{"in_res", Vec2(4.f, 4.f)}, {"out_res", Vec2(8.f, 8.f)}},
         kInf, 8, kHalfMax, kNotChecked},
        {"same-size level combined", IDENTITY, {}, kInf, 4, kHalfMax, kNotChecked},
        {"post-process of an infinite glow", POST_PROC_P, PostProcessSettings(1.f), kInf, 4, kHalfMax, kNotChecked},
        {"post-process exposure past the largest half", POST_PROC_P, PostProcessSettings(2.f), 40000.f, 4,
         kHalfMax, 80000.f},
        {"post-process below it", POST_PROC_P, PostProcessSettings(2.f), 1000.f, 4, 2000.f, 2000.f},
    };
    for (const auto& c : cases) {
        for (int half : {1, 0}) {
            const std::string what = std::string(c.what) + (half ? ", half floats" : ", full floats");
            UniformMap u = c.settings;
            u["halfFloatB"] = IVEC(half);
            const Image out = RunPass(c.slot, Image(4, 4, c.in, c.in, c.in), c.outSize, c.outSize, u);
            const float expected = half ? c.halfOut : c.floatOut;
            if (std::isnan(expected)) continue;
            for (int y = 0; y < c.outSize; ++y)
                for (int x = 0; x < c.outSize; ++x)
                    for (int ch = 0; ch < 3; ++ch) {
                        const float v = out.at(x, y)[ch];
                        if (std::isinf(expected)) {
                            ASSERT_EQ(v, expected) << what << " at " << x << "," << y;
                        } else {
                            ASSERT_NEAR(v, expected, 2e-6 * expected) << what << " at " << x << "," << y;
                        }
                    }
        }
    }
}

}  // namespace
