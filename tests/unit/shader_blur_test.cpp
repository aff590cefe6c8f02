// The level passes run for real: the one-direction Gaussian blur, the 13-tap downsample,
// the tent upsample and the plain copy.

#include "unit/shader_gl_fixture.h"


#include <cmath>
#include <string>

namespace {

using shader_test::Image;
using shader_test::Vec2;
using shader_test::Vec3;

// The blur's tap weight at normalised position x (variance 0.06).
double Weight(double x) { return std::exp(-0.5 * x * x / 0.06); }

class LevelPass : public shader_test::GLTest {};

// A width pass with the given tap count and a stride of `texels` texels along x.
UniformMap WidthPass(float steps, float strideX)
{
    return {
        {"STEPS", VEC(steps)},        {"fadeMultiplier", VEC(1.f)},    {"bypassB", IVEC(0)},
        {"isBlurWidthB", IVEC(1)},       {"isAngleB", IVEC(0)},              {"strideX", VEC(strideX)},
        {"strideY", VEC(0.f)},        {"is_glow_aberrationB", IVEC(0)},   {"redMultF", VEC(1.f)},
        {"greenMultF", VEC(1.f)},     {"blueMultF", VEC(1.f)},
    };
}

TEST_F(LevelPass, BlurWeightsFollowTheGaussianOfTheTapCount)
{
    // Weights exp(-0.5 x^2 / 0.06) at x = i / n, normalised: for n = 1, exp(-8.333) = 2.4037e-4 at the ends;
    // for n = 2 also exp(-2.0833) = 0.12451 at i = +-1.
    const struct {
        float steps;
        const char* what;
        double weights[5];  // from i = -n to n
    } cases[] = {{1.f, "three taps at -1, 0, +1", {0.00024025, 0.99951949, 0.00024025}},
                 {2.f, "five taps at -2 to +2, weighted at i / 2",
                  {0.00019237, 0.09965067, 0.80031393, 0.09965067, 0.00019237}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const int n = int(c.steps);
        const int width = 4 * n + 3;
        const int centre = width / 2;
        Image in(width, 1);
        in.set(centre, 0, 1.f, 2.f, 4.f);
        Image out = RunPass(BLUR_UNIFIED_P, in, width, 1, WidthPass(c.steps, 1.f / width));
        for (int x = 0; x < width; ++x) {
            const int offset = x - centre;
            const double w = std::abs(offset) <= n ? c.weights[offset + n] : 0.0;
            EXPECT_PIXEL_NEAR(out, x, 0, w, 2 * w, 4 * w, 1e-5);
        }
    }
}

TEST_F(LevelPass, BlurAppliesTheLevelWeightOnceInTheWidthPass)
{
    Image flat(4, 4, 1.f, 1.f, 1.f);
    UniformMap width = WidthPass(2.f, 1.f / 4);
    width["fadeMultiplier"] = VEC(0.5f);
    Image afterWidth = RunPass(BLUR_UNIFIED_P, flat, 4, 4, width);
    EXPECT_PIXEL_NEAR(afterWidth, 1, 2, 0.5f, 0.5f, 0.5f, 1e-6f);

    // The height pass ignores whatever fade it is handed.
    UniformMap height = width;
    height["isBlurWidthB"] = IVEC(0);
    height["strideX"] = VEC(0.f);
    height["strideY"] = VEC(1.f / 4);
    Image afterHeight = RunPass(BLUR_UNIFIED_P, afterWidth, 4, 4, height);
    EXPECT_PIXEL_NEAR(afterHeight, 1, 2, 0.5f, 0.5f, 0.5f, 1e-6f);
}

TEST_F(LevelPass, BlurBypassCopiesWithoutTheLevelWeight)
{
    Image in(5, 1);
    in.set(2, 0, 1.f, 3.f, 0.25f);
    for (int widthPass : {1, 0}) {
        SCOPED_TRACE(widthPass ? "width pass" : "height pass");
        UniformMap u = WidthPass(2.f, 1.f / 5);
        u["bypassB"] = IVEC(1);
        u["isBlurWidthB"] = IVEC(widthPass);
        u["fadeMultiplier"] = VEC(0.5f);
        Image out = RunPass(BLUR_UNIFIED_P, in, 5, 1, u);
        for (int x = 0; x < 5; ++x)
            EXPECT_PIXEL_NEAR(out, x, 0, in.at(x, 0)[0], in.at(x, 0)[1], in.at(x, 0)[2], 0.f);
    }
}

// Glow aberration on a 64-texel row with a stride of 5 texels: every tap, even at a
// fractional step, lands on a texel centre (5 x 4.8 = 24), so the sampled texels are exact.
// r (host green, greenMultF 0): n = 1, taps at 0 and +-5 texels; an impulse at +5 shows the
//   outer weight, a large value at +10 shows that no second tap exists.
// g (host blue, blueMultF 1): n = STEPS = 4, the same as the plain blur.
// b (host red, redMultF 1.2): n = 4.8, taps at -4.8, -3.8, ..., 4.2 steps: ten taps, the
//   first at -24 texels, the last at +21; a large value at +26 (a would-be tap at +5.2)
//   must not show.
TEST_F(LevelPass, GlowAberrationGivesEachChannelItsOwnReach)
{
    const int width = 64, centre = 30;
    Image in(width, 1);
    in.at(centre + 5, 0)[0] = 1.f;
    in.at(centre + 10, 0)[0] = 1000.f;
    for (int x = 0; x < width; ++x)
        in.at(x, 0)[1] = 0.01f * float((x * 7) % 13);
    in.at(centre - 24, 0)[2] = 1.f;
    in.at(centre + 21, 0)[2] = 1.f;
    in.at(centre + 26, 0)[2] = 1000.f;

    UniformMap u = WidthPass(4.f, 5.f / width);
    u["is_glow_aberrationB"] = IVEC(1);
    u["greenMultF"] = VEC(0.f);
    u["blueMultF"] = VEC(1.f);
    u["redMultF"] = VEC(1.2f);
    Image out = RunPass(BLUR_UNIFIED_P, in, width, 1, u);
    Image plain = RunPass(BLUR_UNIFIED_P, in, width, 1, WidthPass(4.f, 5.f / width));

    const double three = Weight(-1) + Weight(0) + Weight(1);
    double ten = 0;
    for (int k = 0; k < 10; ++k)
        ten += Weight((-4.8 + k) / 4.8);
    EXPECT_NEAR(out.at(centre, 0)[0], Weight(1) / three, 1e-6);
    EXPECT_NEAR(out.at(centre, 0)[1], plain.at(centre, 0)[1], 1e-6);
    EXPECT_NEAR(out.at(centre, 0)[2], (Weight(-1) + Weight(4.2 / 4.8)) / ten, 1e-5);
}

// Angled blur on an impulse in the middle of a 5 x 5 level, one step of one texel: where the
// blur spreads the impulse shows the direction of the step.
TEST_F(LevelPass, BlurStepsAlongTheStridesItIsGiven)
{
    Image in(5, 5);
    in.set(2, 2, 1.f, 1.f, 1.f);
    const float t = 1.f / 5;
    const struct {
        const char* what;
        int aberration, angle, widthPass;
        float strideX, strideY;
        int dx, dy;   // where the outer tap of the impulse lands
    } cases[] = {
        {"plain blur along both strides", 0, 1, 1, t, t, 1, 1},
        {"plain blur, horizontal stride only", 0, 0, 1, t, 0.f, 1, 0},
        {"aberration with angle: both strides", 1, 1, 1, t, t, 1, 1},
        {"aberration without angle, width pass: x stride only", 1, 0, 1, t, t, 1, 0},
        {"aberration without angle, height pass: y stride only", 1, 0, 0, t, t, 0, 1},
        {"angled height pass across the angle", 0, 1, 0, -t, t, -1, 1},
    };
    const double sum = Weight(-1) + Weight(0) + Weight(1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        UniformMap u = WidthPass(1.f, c.strideX);
        u["strideY"] = VEC(c.strideY);
        u["is_glow_aberrationB"] = IVEC(c.aberration);
        u["isAngleB"] = IVEC(c.angle);
        u["isBlurWidthB"] = IVEC(c.widthPass);
        Image out = RunPass(BLUR_UNIFIED_P, in, 5, 5, u, GL_CLAMP_TO_BORDER);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 5; ++x) {
                double expected = 0;
                if (x == 2 && y == 2)
                    expected = Weight(0) / sum;
                else if ((x == 2 + c.dx && y == 2 + c.dy) || (x == 2 - c.dx && y == 2 - c.dy))
                    expected = Weight(1) / sum;
                EXPECT_PIXEL_NEAR(out, x, y, expected, expected, expected, 1e-6);
            }
    }
}

TEST_F(LevelPass, DownsampleSpreadsAnImpulseByItsThirteenWeights)
{
    // Equal sizes, so every tap falls on a texel centre: the output around the impulse is
    // the tap pattern itself.
    Image in(7, 7);
    in.set(3, 3, 1.f, 2.f, 8.f);
    Image out = RunPass(DOWNSAMPLE_P, in, 7, 7, {{"srcResolution", Vec2(7.f, 7.f)}});
    const double kernel[5][5] = {
        {0.03125, 0, 0.0625, 0, 0.03125}, {0, 0.125, 0, 0.125, 0}, {0.0625, 0, 0.125, 0, 0.0625},
        {0, 0.125, 0, 0.125, 0},          {0.03125, 0, 0.0625, 0, 0.03125},
    };
    double total = 0;
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 7; ++x) {
            const int dx = x - 3 + 2, dy = y - 3 + 2;
            const double w = (dx >= 0 && dx < 5 && dy >= 0 && dy < 5) ? kernel[dy][dx] : 0.0;
            EXPECT_PIXEL_NEAR(out, x, y, w, 2 * w, 8 * w, 1e-6);
            total += out.at(x, y)[0];
        }
    EXPECT_NEAR(total, 1.0, 1e-6);   // the weights sum to 1
}

TEST_F(LevelPass, UpsampleSpreadsAnImpulseByTheTent)
{
    Image in(5, 5);
    in.set(2, 2, 16.f, 32.f, 1.f);
    Image out = RunPass(UPSAMPLE_P, in, 5, 5, {{"in_res", Vec2(5.f, 5.f)}, {"out_res", Vec2(5.f, 5.f)}});
    const double tent[3][3] = {{1, 2, 1}, {2, 4, 2}, {1, 2, 1}};
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x) {
            const int dx = x - 1, dy = y - 1;
            const double w = (dx >= 0 && dx < 3 && dy >= 0 && dy < 3) ? tent[dy][dx] / 16.0 : 0.0;
            EXPECT_PIXEL_NEAR(out, x, y, 16 * w, 32 * w, w, 1e-5);
        }
}

TEST_F(LevelPass, IdentityCopiesEveryValueAndIgnoresTheCullSwitch)
{
    EXPECT_EQ(glGetUniformLocation(programs_[IDENTITY].id, "cull_small_valuesB"), -1);
    Image in(3, 2);
    in.set(0, 0, 1e-7f, 2e-6f, 0.f);
    in.set(1, 0, 3.5f, -2.f, 1000.f);
    in.set(2, 1, 0.25f, 0.5f, 0.75f);
    Image out = RunPass(IDENTITY, in, 3, 2, {{"cull_small_valuesB", IVEC(1)}});
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_PIXEL_NEAR(out, x, y, in.at(x, y)[0], in.at(x, y)[1], in.at(x, y)[2], 0.f);
}

}  // namespace
