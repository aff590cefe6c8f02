// The post-process pass run for real: swizzle back to host order, exposure, tint, tone map,
// inverse gamma and the Screen cap.

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
constexpr int kMultiply = 1, kOverlay = 2, kSoftLight = 3;
constexpr int kNone = 1, kSeparator1 = 2, kAces = 3, kFilmic = 4, kHable = 5, kReinhard = 6, kReinhard2 = 7,
              kSeparator2 = 8, kClampChroma = 9;

struct Rgb {
    double r, g, b;
};

UniformMap NeutralSettings()
{
    return {
        {"simple_exposureB", IVEC(1)},  {"gammaCorrect", IVEC(0)},   {"custom_gammaF", VEC(1.f)},
        {"blendMode", IVEC(kAdd)},      {"exposure", VEC(1.f)},   {"tintMix", VEC(0.f)},
        {"clampMixF", VEC(0.f)},     {"tonemapE", IVEC(kNone)},   {"tintColor", Vec3(1.f, 1.f, 1.f)},
        {"tintMode", IVEC(kMultiply)},  {"tintMultiB", IVEC(0)},     {"tintColorOuter", Vec3(0.f, 0.f, 0.f)},
    };
}

// Reference formulas, per channel, in double precision.
double Overlay(double bg, double fg) { return bg < 0.5 ? 2 * bg * fg : 1 - 2 * (1 - bg) * (1 - fg); }
double OverlayTint(double c, double colour, double exponent)
{
    return std::pow(Overlay(std::pow(c, 0.45), std::pow(colour, 0.45)), exponent);
}

struct Case {
    const char* what;
    UniformMap settings;
    std::vector<Rgb> hostIn;    // the glow in host order; stored in working order for the pass
    std::vector<Rgb> hostOut;
    double tolerance;
};

class PostProcess : public shader_test::GLTest {
protected:

    void Check(const Case& c)
    {
        SCOPED_TRACE(c.what);
        UniformMap u = NeutralSettings();
        for (const auto& [name, value] : c.settings)
            u[name] = value;
        Image in(int(c.hostIn.size()), 1);
        for (int x = 0; x < in.width; ++x)
            in.set(x, 0, float(c.hostIn[x].g), float(c.hostIn[x].b), float(c.hostIn[x].r));
        Image out = RunPass(POST_PROC_P, in, in.width, 1, u);
        for (int x = 0; x < in.width; ++x)
            EXPECT_PIXEL_NEAR(out, x, 0, c.hostOut[x].r, c.hostOut[x].g, c.hostOut[x].b, c.tolerance);
    }
};

TEST_F(PostProcess, SwizzleExposureGammaAndScreenCap)
{
    const double inv = 1 / 2.2;
    const Case cases[] = {
        {"working order g, b, r back to host order", {}, {{0.1, 0.2, 3}}, {{0.1, 0.2, 3}}, 1e-6},
        {"exposure multiplies", {{"exposure", VEC(2.f)}}, {{0.25, 0.5, 1.5}}, {{0.5, 1, 3}}, 1e-6},
        {"inverse gamma exponent",
         {{"gammaCorrect", IVEC(1)}, {"custom_gammaF", VEC(2.2f)}},
         {{0.25, 4, 1}},
         {{std::pow(0.25, inv), std::pow(4.0, inv), 1}},
         1e-5},
        {"gamma correction off: no exponent", {{"custom_gammaF", VEC(2.2f)}}, {{0.25, 4, 1}}, {{0.25, 4, 1}}, 1e-6},
        {"Screen caps each channel at 1 after the gamma",
         {{"blendMode", IVEC(kScreen)}, {"gammaCorrect", IVEC(1)}, {"custom_gammaF", VEC(2.2f)}},
         {{4, 0.25, 1}},
         {{1, std::pow(0.25, inv), 1}},
         1e-5},
        {"Add is not capped", {{"blendMode", IVEC(kAdd)}}, {{4, 0.25, 1}}, {{4, 0.25, 1}}, 1e-6},
    };
    for (const auto& c : cases)
        Check(c);
}

TEST_F(PostProcess, Tint)
{
    const double c1 = 0.25, c2 = 0.8;   // channels for the overlay cases
    const Case cases[] = {
        {"Tint Mode off sends tintMix 0: nothing happens whatever the colour",
         {{"tintMix", VEC(0.f)}, {"tintColor", Vec3(0, 0, 0)}},
         {{0.5, 2, 0.25}},
         {{0.5, 2, 0.25}},
         1e-6},
        {"Multiply at full strength",
         {{"tintMix", VEC(1.f)}, {"tintMode", IVEC(kMultiply)}, {"tintColor", Vec3(0.5f, 0.25f, 1.f)}},
         {{1, 2, 0.5}},
         {{0.5, 0.5, 0.5}},
         1e-6},
        {"Multiply at half strength",
         {{"tintMix", VEC(0.5f)}, {"tintMode", IVEC(kMultiply)}, {"tintColor", Vec3(0.5f, 0.25f, 1.f)}},
         {{1, 2, 0.5}},
         {{0.75, 1.25, 0.5}},
         1e-6},
        {"strength 200 % pushes past the tint; negatives become 0",
         {{"tintMix", VEC(2.f)}, {"tintMode", IVEC(kMultiply)}, {"tintColor", Vec3(0.5f, 0.f, 1.f)}},
         {{1, 1, 1}},
         {{0, 0, 1}},
         1e-6},
        {"Overlay comes back with the exponent 2.22",
         {{"tintMix", VEC(1.f)}, {"tintMode", IVEC(kOverlay)}, {"tintColor", Vec3(0.5f, 0.2f, 0.9f)}},
         {{c1, c2, 0}},
         {{OverlayTint(c1, 0.5, 2.22), OverlayTint(c2, 0.2, 2.22), 0}},
         1e-5},
        {"Soft Light clamps first: the untinted half of 3 is 1",
         {{"tintMix", VEC(0.5f)}, {"tintMode", IVEC(kSoftLight)}, {"tintColor", Vec3(0.25f, 0.25f, 0.25f)}},
         {{3, 0.5, 0}},
         // soft light of 0.5 with 0.25: 0.5 x 0.25 + 0.5 x 0.5 = 0.375; halfway from 0.5: 0.4375
         {{1, 0.4375, 0}},
         1e-6},
    };
    for (const auto& c : cases)
        Check(c);
}

TEST_F(PostProcess, DuocolorMixesInnerAndOuterTintByBrightness)
{
    const double A[3] = {0.5, 0.2, 0.9}, B[3] = {0.1, 0.7, 0.3};
    {
        // Multiply: a channel at 0.25 takes 3/4 of the inner tint and 1/4 of the outer one; a
        // channel at 1 or above takes the outer tint only.
        const Case c = {"Duocolor multiply",
                        {{"tintMix", VEC(1.f)}, {"tintMode", IVEC(kMultiply)}, {"tintMultiB", IVEC(1)},
                         {"tintColor", Vec3(0.5f, 0.2f, 0.9f)}, {"tintColorOuter", Vec3(0.1f, 0.7f, 0.3f)}},
                        {{0.25, 1, 2}},
                        {{0.25 * (0.75 * A[0] + 0.25 * B[0]), B[1], 2 * B[2]}},
                        1e-6};
        Check(c);
    }
    {
        // Overlay: inner with 2.22, outer with 2.2, mixed by the channel itself.
        auto duo = [&](double c, int ch) {
            const double inner = OverlayTint(c, A[ch], 2.22), outer = OverlayTint(c, B[ch], 2.2);
            return inner + (outer - inner) * c;
        };
        const Case c = {"Duocolor overlay",
                        {{"tintMix", VEC(1.f)}, {"tintMode", IVEC(kOverlay)}, {"tintMultiB", IVEC(1)},
                         {"tintColor", Vec3(0.5f, 0.2f, 0.9f)}, {"tintColorOuter", Vec3(0.1f, 0.7f, 0.3f)}},
                        {{0.5, 0.3, 0.75}},
                        {{duo(0.5, 0), duo(0.3, 1), duo(0.75, 2)}},
                        1e-5};
        Check(c);
    }
}

TEST_F(PostProcess, ToneMapOperators)
{
    auto tone = [](int op, float mix) {
        return UniformMap{{"tonemapE", IVEC(op)}, {"clampMixF", VEC(mix)}};
    };
    // P(1e-5) / P(11.2) with P(y) = (y (0.15 y + 0.05) + 0.004) / (y (0.15 y + 0.5) + 0.06) - 0.02 / 0.3.
    const double hableBlack = 3.8307e-6;
    const double l = 0.2126 * 2;   // luminance of (2, 0, 0)
    const Case cases[] = {
        {"Reinhard at Mix 100 %: 1 -> 0.5, 3 -> 0.75", tone(kReinhard, 1.f), {{1, 3, 0}}, {{0.5, 0.75, 0}}, 1e-6},
        {"Reinhard at Mix 50 %", tone(kReinhard, 0.5f), {{1, 3, 0}}, {{0.75, 1.875, 0}}, 1e-6},
        {"Mix 1 % runs no tone map", tone(kReinhard, 0.01f), {{1, 3, 0}}, {{1, 3, 0}}, 1e-6},
        // Just above the cutoff the tone map runs, by its mix: 1 + (0.5 - 1) x 0.05, 3 + (0.75 - 3) x 0.05.
        {"Mix 5 % runs the tone map by 5 %", tone(kReinhard, 0.05f), {{1, 3, 0}}, {{0.975, 2.8875, 0}}, 1e-6},
        {"None runs no tone map", tone(kNone, 1.f), {{1, 3, 0}}, {{1, 3, 0}}, 1e-6},
        {"separators leave the colour unchanged", tone(kSeparator1, 1.f), {{0.3, 2, 5}}, {{0.3, 2, 5}}, 1e-6},
        {"second separator too", tone(kSeparator2, 1.f), {{0.3, 2, 5}}, {{0.3, 2, 5}}, 1e-6},
        // (1 x 2.54) / (1 x 3.02 + 0.14) = 2.54 / 3.16; large values are clamped to 1.
        {"ACES Filmic at 1 and far above", tone(kAces, 1.f), {{1, 100, 0}}, {{2.54 / 3.16, 1, 0}}, 1e-5},
        // 0.1 x 0.281 / (0.1 x 0.833 + 0.14) = 0.0281 / 0.2233; 0.5 x 1.285 / (0.5 x 1.805 + 0.14) = 0.6425 / 1.0425.
        {"ACES Filmic below 1", tone(kAces, 1.f), {{0.1, 0.5, 0}}, {{0.0281 / 0.2233, 0.6425 / 1.0425, 0}}, 1e-5},
        // X = x - 0.004: X = 0.5 gives (1.8 / 2.46)^2.2 = 0.502970, X = 1 gives (6.7 / 7.96)^2.2 = 0.684472.
        {"Filmic: black up to 0.004", tone(kFilmic, 1.f), {{0.004, 0.504, 1.004}}, {{0, 0.502970, 0.684472}}, 1e-5},
        // P(2x) / P(11.2), the input doubled by the exposure bias first: 0.25 -> P(0.5) / P(11.2) = 0.171970,
        // 1 -> P(2) / P(11.2) = 0.492919, 3 -> P(6) / P(11.2) = 0.837871.
        {"Hable Filmic", tone(kHable, 1.f), {{0.25, 1, 3}}, {{0.171970, 0.492919, 0.837871}}, 1e-4},
        // Halfway between the input and the tone-mapped colour.
        {"Hable Filmic at Mix 50 %", tone(kHable, 0.5f), {{0.25, 1, 3}},
         {{(0.25 + 0.171970) / 2, (1 + 0.492919) / 2, (3 + 0.837871) / 2}}, 1e-4},
        // 3 (1 + 3 / 16) / 4
        {"Reinhard 2", tone(kReinhard2, 1.f), {{3, 1, 0}}, {{0.890625, 1.0625 / 2, 0}}, 1e-6},
        {"Clamp Chroma on (2, 0, 0) moves 42.52 % toward grey",
         tone(kClampChroma, 1.f),
         {{2, 0, 0}},
         {{2 + (l - 2) * l, l * l, l * l}},
         1e-5},
        // l = 0.2126 x 0.5 + 0.7152 x 0.2 + 0.0722 x 0.1 = 0.25656, each channel moved that far toward l.
        {"Clamp Chroma below luminance 1 moves by the luminance",
         tone(kClampChroma, 1.f),
         {{0.5, 0.2, 0.1}},
         {{0.5 - 0.24344 * 0.25656, 0.2 + 0.05656 * 0.25656, 0.1 + 0.15656 * 0.25656}},
         1e-5},
        // l = 0.0722 x 4 = 0.2888: the blue weight alone.
        {"Clamp Chroma of a blue colour",
         tone(kClampChroma, 1.f),
         {{0, 0, 4}},
         {{0.2888 * 0.2888, 0.2888 * 0.2888, 4 - 3.7112 * 0.2888}},
         1e-5},
        // l = 0.2126 + 1.4304 + 0.0361 = 1.6791 is above 1: the colour becomes the grey of its luminance.
        {"Clamp Chroma above luminance 1 turns grey",
         tone(kClampChroma, 1.f),
         {{1, 2, 0.5}},
         {{1.6791, 1.6791, 1.6791}},
         1e-5},
    };
    for (const auto& c : cases)
        Check(c);

    // Hable on black is P(1e-5) / P(11.2): tiny but above 0. The float difference of two
    // nearly equal terms inside P keeps only a few digits, hence the loose tolerance.
    Image in(1, 1);
    UniformMap u = NeutralSettings();
    u["tonemapE"] = IVEC(kHable);
    u["clampMixF"] = VEC(1.f);
    Image out = RunPass(POST_PROC_P, in, 1, 1, u);
    for (int ch = 0; ch < 3; ++ch) {
        EXPECT_GT(out.at(0, 0)[ch], 0.f);
        EXPECT_NEAR(out.at(0, 0)[ch], hableBlack, 0.05 * hableBlack);
    }
}

TEST_F(PostProcess, ToneMapRunsAfterTintAndBeforeGamma)
{
    // Multiply by 0.5 then Reinhard then gamma 2.2: 2 -> 1 -> 0.5 -> 0.5^(1/2.2).
    const Case c = {"order of the steps",
                    {{"tintMix", VEC(1.f)}, {"tintMode", IVEC(kMultiply)}, {"tintColor", Vec3(0.5f, 0.5f, 0.5f)},
                     {"tonemapE", IVEC(kReinhard)}, {"clampMixF", VEC(1.f)}, {"gammaCorrect", IVEC(1)},
                     {"custom_gammaF", VEC(2.2f)}},
                    {{2, 2, 2}},
                    {{std::pow(0.5, 1 / 2.2), std::pow(0.5, 1 / 2.2), std::pow(0.5, 1 / 2.2)}},
                    1e-5};
    Check(c);
}

TEST_F(PostProcess, ExposureComesBeforeTheToneMap)
{
    // Exposure 4 then Reinhard: 0.5 -> 2 -> 2 / 3, and 0.25 -> 1 -> 0.5 (Reinhard first would give 4 / 3 and 0.8).
    const Case c = {"exposure then Reinhard",
                    {{"exposure", VEC(4.f)}, {"tonemapE", IVEC(kReinhard)}, {"clampMixF", VEC(1.f)}},
                    {{0.5, 0.25, 0}},
                    {{2.0 / 3.0, 0.5, 0}},
                    1e-6};
    Check(c);
}

}  // namespace
