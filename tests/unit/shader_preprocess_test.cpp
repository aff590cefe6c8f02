// The pre-process pass run for real: threshold, saturation bias, negatives, Screen cap,
// gamma, pixel aberration, the Glow Input view and the working channel order.

#include "unit/shader_gl_fixture.h"


#include <cmath>
#include <string>
#include <vector>

namespace {

using shader_test::Image;
using shader_test::Vec2;
using shader_test::Vec3;

constexpr int kScreen = 1;
constexpr int kAdd = 2;
constexpr int kFinalResult = 1;
constexpr int kGlowInput = 2;

struct Rgb {
    float r, g, b;
};

// Settings that leave a colour alone apart from the swizzle into working order.
UniformMap NeutralSettings()
{
    return {
        {"satBiasF", VEC(0.f)},       {"threshold", VEC(0.f)},     {"thresholdSmooth", VEC(0.001f)},
        {"exposure", VEC(1.f)},       {"gammaCorrect", IVEC(0)},      {"custom_gammaF", VEC(1.f)},
        {"blendModeE", IVEC(kAdd)},      {"viewE", IVEC(kFinalResult)}, {"aberration_modeE", IVEC(0)},
        {"aberration_amountF", Vec2(0.f, 0.f)}, {"simple_exposureB", IVEC(1)},
    };
}

class PreProcess : public shader_test::GLTest {
protected:

    Image Run(const Image& input, const UniformMap& changes)
    {
        UniformMap u = NeutralSettings();
        for (const auto& [name, value] : changes)
            u[name] = value;
        return RunPass(PRE_PROC_IDENTITY_P, input, input.width, input.height, u);
    }
};

struct ColourCase {
    const char* what;
    UniformMap settings;
    std::vector<Rgb> hostIn;   // host red, green, blue
    std::vector<Rgb> out;      // as the pass writes it
    float tolerance;
};

// Raised to the exponent 2.2 as the shader does it, in single precision.
float Gamma22(float v) { return std::pow(v, 2.2f); }

TEST_F(PreProcess, ColourCases)
{
    const ColourCase cases[] = {
        {"threshold 0 passes everything, whatever the saturation bias; output in working order g, b, r",
         {{"threshold", VEC(0.f)}, {"satBiasF", VEC(0.7f)}},
         {{0.1f, 0.2f, 0.3f}, {0.001f, 0.5f, 2.f}},
         {{0.2f, 0.3f, 0.1f}, {0.5f, 2.f, 0.001f}},
         1e-6f},
        {"threshold 0.5 with the smallest smoothing: 0.501 passes, 0.499 becomes 0, 0.5 is halved",
         {{"threshold", VEC(0.5f)}, {"thresholdSmooth", VEC(0.001f)}},
         {{0.501f, 0.499f, 0.5f}, {0.8f, 0.2f, 0.f}},
         {{0.f, 0.25f, 0.501f}, {0.f, 0.f, 0.8f}},
         1e-4f},
        {"negative float values are cleared before anything else",
         {{"blendModeE", IVEC(kAdd)}},
         {{-1.f, 0.5f, -0.25f}},
         {{0.5f, 0.f, 0.f}},
         1e-6f},
        {"Screen caps 3 at 1, then the gamma exponent",
         {{"blendModeE", IVEC(kScreen)}, {"gammaCorrect", IVEC(1)}, {"custom_gammaF", VEC(2.2f)}},
         {{3.f, 0.5f, 1.f}},
         {{Gamma22(0.5f), 1.f, 1.f}},
         1e-5f},
        {"Add keeps 3 and raises it to the gamma exponent",
         {{"blendModeE", IVEC(kAdd)}, {"gammaCorrect", IVEC(1)}, {"custom_gammaF", VEC(2.2f)}},
         {{3.f, 0.5f, 1.f}},
         {{Gamma22(0.5f), 1.f, Gamma22(3.f)}},
         1e-4f},
        {"gamma exponent sent but gamma correction off: no exponent",
         {{"gammaCorrect", IVEC(0)}, {"custom_gammaF", VEC(2.2f)}},
         {{0.5f, 0.25f, 3.f}},
         {{0.25f, 3.f, 0.5f}},
         1e-6f},
        // Saturation bias 1 replaces the thresholded colour by the colour scaled by the
        // smooth step of its saturation: (2, 2, 2) has saturation 0.5, right at the
        // threshold, so it is halved; (1, 1, 1) has saturation 0 and vanishes.
        {"saturation of (2, 2, 2) is 0.5 and of (1, 1, 1) is 0",
         {{"threshold", VEC(0.5f)}, {"thresholdSmooth", VEC(0.001f)}, {"satBiasF", VEC(1.f)}},
         {{2.f, 2.f, 2.f}, {1.f, 1.f, 1.f}},
         {{1.f, 1.f, 1.f}, {0.f, 0.f, 0.f}},
         1e-4f},
        {"negative bias favours grey: 1 - saturation",
         {{"threshold", VEC(0.5f)}, {"thresholdSmooth", VEC(0.001f)}, {"satBiasF", VEC(-1.f)}},
         {{2.f, 2.f, 2.f}, {1.f, 1.f, 1.f}, {1.f, 0.f, 0.f}},
         {{1.f, 1.f, 1.f}, {1.f, 1.f, 1.f}, {0.f, 0.f, 0.f}},
         1e-4f},
        // The saturation is judged on the colour as it was before the threshold, and the colour it scales
        // keeps the channels the threshold removed: (1, 0.3, 0.3) has saturation 0.7, so at bias 1 it glows
        // whole, not as the thresholded (1, 0, 0); at bias 0.5 the two mix.
        {"saturation bias works on the colour before the threshold",
         {{"threshold", VEC(0.5f)}, {"thresholdSmooth", VEC(0.001f)}, {"satBiasF", VEC(1.f)}},
         {{1.f, 0.3f, 0.3f}},
         {{0.3f, 0.3f, 1.f}},
         1e-4f},
        {"half a saturation bias on a colour the threshold cut",
         {{"threshold", VEC(0.5f)}, {"thresholdSmooth", VEC(0.001f)}, {"satBiasF", VEC(0.5f)}},
         {{1.f, 0.3f, 0.3f}},
         {{0.15f, 0.15f, 1.f}},
         1e-4f},
        {"a bias of 0.5 mixes the thresholded colour halfway to the saturation-scaled one",
         {{"threshold", VEC(0.5f)}, {"thresholdSmooth", VEC(0.001f)}, {"satBiasF", VEC(0.5f)}},
         {{2.f, 2.f, 2.f}},
         {{1.5f, 1.5f, 1.5f}},
         1e-4f},
        {"Glow Input view: host order, no Screen cap, no gamma",
         {{"viewE", IVEC(kGlowInput)}, {"blendModeE", IVEC(kScreen)}, {"gammaCorrect", IVEC(1)},
          {"custom_gammaF", VEC(2.2f)}},
         {{3.f, 0.5f, 0.25f}, {-2.f, 1.5f, 0.f}},
         {{3.f, 0.5f, 0.25f}, {0.f, 1.5f, 0.f}},
         1e-6f},
        {"Glow Input view shows the thresholded source",
         {{"viewE", IVEC(kGlowInput)}, {"threshold", VEC(0.5f)}, {"thresholdSmooth", VEC(0.001f)}},
         {{0.499f, 0.501f, 4.f}},
         {{0.f, 0.501f, 4.f}},
         1e-4f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Image in(int(c.hostIn.size()), 1);
        for (int x = 0; x < in.width; ++x)
            in.set(x, 0, c.hostIn[x].r, c.hostIn[x].g, c.hostIn[x].b);
        Image out = Run(in, c.settings);
        for (int x = 0; x < in.width; ++x)
            EXPECT_PIXEL_NEAR(out, x, 0, c.out[x].r, c.out[x].g, c.out[x].b, c.tolerance);
    }
}

// A 3 x 3 source whose every channel of every texel differs, read with a shift of one texel
// on each axis, so each host channel must come from (1, 1) + shift, (1, 1) - shift or (1, 1).
TEST_F(PreProcess, AberrationReadsEachHostChannelFromItsShiftedPosition)
{
    Image in(3, 3);
    auto value = [](int x, int y, int channel) { return 0.01f * float(1 + x + 3 * y) + float(channel); };
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
            in.set(x, y, value(x, y, 0), value(x, y, 1), value(x, y, 2));
    const float R = 0, G = 1, B = 2;   // host channel numbers
    auto plus = [&](float ch) { return value(2, 2, int(ch)); };
    auto minus = [&](float ch) { return value(0, 0, int(ch)); };
    auto centre = [&](float ch) { return value(1, 1, int(ch)); };

    const struct {
        int mode;
        const char* what;
        Rgb working;   // host green, blue, red
    } modes[] = {
        {1, "red and green: red from +shift, green from -shift", {minus(G), centre(B), plus(R)}},
        {2, "red and blue: red from +shift, blue from -shift", {centre(G), minus(B), plus(R)}},
        {3, "green and blue: green from +shift, blue from -shift", {plus(G), minus(B), centre(R)}},
        {0, "off: only the centre texel", {centre(G), centre(B), centre(R)}},
    };
    for (const auto& m : modes) {
        SCOPED_TRACE(m.what);
        Image out = Run(in, {{"aberration_modeE", IVEC(m.mode)}, {"aberration_amountF", Vec2(1.f / 3, 1.f / 3)}});
        EXPECT_PIXEL_NEAR(out, 1, 1, m.working.r, m.working.g, m.working.b, 1e-5f);
    }
}

TEST_F(PreProcess, AberrationComesBeforeTheThreshold)
{
    // The centre's red is below the threshold, the red one texel to the right above it:
    // with the red shift the pixel's red survives thresholding.
    Image in(3, 1);
    in.set(0, 0, 0.f, 0.9f, 0.f);
    in.set(1, 0, 0.2f, 0.2f, 0.9f);
    in.set(2, 0, 0.9f, 0.f, 0.f);
    Image out = Run(in, {{"aberration_modeE", IVEC(1)},
                         {"aberration_amountF", Vec2(1.f / 3, 0.f)},
                         {"threshold", VEC(0.5f)},
                         {"thresholdSmooth", VEC(0.001f)}});
    EXPECT_PIXEL_NEAR(out, 1, 0, 0.9f, 0.9f, 0.9f, 1e-5f);
}

TEST_F(PreProcess, VertPlacesTheSourceQuadByXform)
{
    // Half size, moved right by half the target: the 2 x 2 source lands on pixels x 2..3,
    // y 1..2 of a 4 x 4 target. Row-major placement matrix, translation in float 3.
    UniformMap u = NeutralSettings();
    u["xform"] = MAT44(Matrix44f{{0.5f, 0, 0, 0.5f, 0, 0.5f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}});
    Image in(2, 2);
    in.set(0, 0, 1, 0, 0);
    in.set(1, 0, 0, 1, 0);
    in.set(0, 1, 0, 0, 1);
    in.set(1, 1, 1, 1, 1);
    Image out = RunPass(PRE_PROC_XFORM_P, in, 4, 4, u);
    EXPECT_PIXEL_NEAR(out, 2, 1, 0, 0, 1, 1e-6f);   // host red -> working b
    EXPECT_PIXEL_NEAR(out, 3, 1, 1, 0, 0, 1e-6f);
    EXPECT_PIXEL_NEAR(out, 2, 2, 0, 1, 0, 1e-6f);
    EXPECT_PIXEL_NEAR(out, 3, 2, 1, 1, 1, 1e-6f);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            if (x < 2 || y < 1 || y > 2)
                EXPECT_PIXEL_NEAR(out, x, y, 0, 0, 0, 0.f);
}

}  // namespace
