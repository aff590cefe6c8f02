// Pixel values of whole frames through the host in both glow modes: black stays black, a glow of nothing
// leaves exactly the source, Add is linear, "Custom" sums its levels, flat fields sum their levels in Add and
// screen them in Screen, Screen stays at or below 1, an 8-bit frame is the float one in bytes, frames are
// reproducible on any thread, half-float targets agree with float ones, the Glow Input view shows the
// pre-processed source at its place with and without pixel aberration, and pixel aberration moves the glow of
// the two channels it names.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "chains_fixture.h"
#include "support/CaseNames.h"

namespace {

using namespace chains_test;
using simhost::PixelDepth;
using simhost::SimWorld;

// A few bright pixels of different colours on a dim, varied background.
SimWorld Scene(float gain, PixelDepth depth = PixelDepth::k32f) {
    return FloatWorld(40, 36, [gain](A_long x, A_long y) {
        float r = 0.02f * float(x % 5), g = 0.03f * float(y % 4), b = 0.01f * float((x + y) % 7);
        if (x == 12 && y == 10) r = g = b = 1.0f;
        if (x == 27 && y == 22) r = 0.9f, g = 0.3f, b = 0.1f;
        if (x >= 5 && x < 9 && y == 30) r = 0.2f, g = 0.8f, b = 0.6f;
        return PF_PixelFloat{1, gain * r, gain * g, gain * b};
    }, depth);
}

// The pixel as it composites: colour times alpha. An un-multiplied glow shows its faintest tails (alpha of
// 1e-30, say) at full colour, which says nothing about what the frame looks like.
PF_PixelFloat Premultiplied(const PF_PixelFloat& p) {
    return {p.alpha, p.red * p.alpha, p.green * p.alpha, p.blue * p.alpha};
}

// The largest measure(a, b) over every channel of two outputs of one size, premultiplied.
float MaxDifference(const SimWorld& a, const SimWorld& b, const std::function<float(float, float)>& measure) {
    float worst = 0;
    for (A_long y = 0; y < a.height(); ++y)
        for (A_long x = 0; x < a.width(); ++x) {
            const PF_PixelFloat p = Premultiplied(a.GetFloat(x, y)), q = Premultiplied(b.GetFloat(x, y));
            for (auto [u, v] : {std::pair{p.alpha, q.alpha}, {p.red, q.red}, {p.green, q.green}, {p.blue, q.blue}})
                worst = std::max(worst, measure(u, v));
        }
    return worst;
}
float Distance(const PF_PixelFloat& a, const PF_PixelFloat& b) {
    const PF_PixelFloat p = Premultiplied(a), q = Premultiplied(b);
    return std::max({std::fabs(p.alpha - q.alpha), std::fabs(p.red - q.red), std::fabs(p.green - q.green),
                     std::fabs(p.blue - q.blue)});
}
float Peak(const SimWorld& w) {
    float peak = 0;
    for (A_long y = 0; y < w.height(); ++y)
        for (A_long x = 0; x < w.width(); ++x) peak = std::max(peak, MaxColour(w.GetFloat(x, y)));
    return peak;
}
bool SameBytes(const SimWorld& a, const SimWorld& b) {
    if (a.width() != b.width() || a.height() != b.height() || a.depth() != b.depth()) return false;
    const size_t row = size_t(a.width()) * simhost::BytesPerPixel(a.depth());
    for (A_long y = 0; y < a.height(); ++y)
        if (std::memcmp(a.Row<uint8_t>(y), b.Row<uint8_t>(y), row) != 0) return false;
    return true;
}

struct ModeCase {
    const char* what;
    int mode;
};
const ModeCase kBothModes[] = {{"Exponential", kExponential}, {"Lens Iris", kLensIris}};
void PrintTo(const ModeCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

class ChainValues : public ChainFrame, public ::testing::WithParamInterface<ModeCase> {
protected:
    void SetUp() override {
        ChainFrame::SetUp();
        Set(kGlowMode, GetParam().mode);
        // A small round iris: the glow spreads a few pixels.
        SetIris(FloatWorld(9, 9, [](A_long x, A_long y) {
            const float v = (x - 4) * (x - 4) + (y - 4) * (y - 4) <= 16 ? 1.0f : 0.0f;
            return PF_PixelFloat{1, v, v, v};
        }));
    }
    bool Iris() const { return GetParam().mode == kLensIris; }
    void SetQuality(int quality) { Set(Iris() ? kQualityPresetIris : kQualityPreset, quality); }
    void SetView(int view) {
        Set(kView, view);
        Set(kViewWithIris, view);
    }
};

TEST_P(ChainValues, BlackFrameStaysBlackInEveryQualityAndToneMap) {
    struct Case {
        int quality;
        int toneMap;
        A_short depth;
    };
    std::vector<Case> cases;
    for (int q : {1, 2, 3, 4, 5, 6, 8})
        if (!(Iris() && q == 8)) cases.push_back({q, 1, 32});
    // Every tone map but "Hable Filmic", which lifts black.
    for (int t : {3, 4, 6, 7, 9}) cases.push_back({4, t, 32});
    cases.push_back({3, 1, 8});
    GlowOnly();
    for (const Case& c : cases) {
        SetQuality(c.quality);
        Set(kToneMapOperation, c.toneMap);
        SetInput(Solid(40, 36, {1, 0, 0, 0}, c.depth == 8 ? PixelDepth::k8 : PixelDepth::k32f));
        const simhost::FrameResult r = Render(c.depth);
        ASSERT_GT(r.output.width(), 40);
        // The iris blur's transform leaves round-off of about 1e-8 where the input is exactly 0; nothing an
        // 8-bit frame shows.
        const float allowed = Iris() && c.depth == 32 ? 1e-6f : 0.0f;
        EXPECT_LE(Peak(r.output), allowed)
            << "quality " << c.quality << ", tone map " << c.toneMap << ", " << c.depth << " bits";
    }
}

TEST_P(ChainValues, GlowOfNothingLeavesExactlyTheSource) {
    Set(kThreshold, 100);  // every channel of the scene but its white pixel lies below the threshold
    for (PixelDepth depth : {PixelDepth::k8, PixelDepth::k32f}) {
        SetInput(FloatWorld(40, 36, [](A_long x, A_long y) {
            return PF_PixelFloat{1, 0.1f + 0.01f * float(x), 0.2f + 0.01f * float(y), 0.5f};
        }, depth));
        const simhost::FrameResult r = Render(depth == PixelDepth::k8 ? 8 : 32);
        const SimWorld& out = r.output;
        const A_long ox = -r.outputOriginX, oy = -r.outputOriginY;
        float worst = 0;
        for (A_long y = 0; y < out.height(); ++y)
            for (A_long x = 0; x < out.width(); ++x) {
                const bool inside = x >= ox && x < ox + 40 && y >= oy && y < oy + 36;
                const PF_PixelFloat expected =
                    inside ? PF_PixelFloat{1, 0.1f + 0.01f * float(x - ox), 0.2f + 0.01f * float(y - oy), 0.5f}
                           : PF_PixelFloat{0, 0, 0, 0};
                worst = std::max(worst, Distance(out.GetFloat(x, y), expected));
            }
        // 8 bits: the input's own rounding to 1/255 is all that may differ.
        EXPECT_LE(worst, depth == PixelDepth::k8 ? 0.5f / 255 + 1e-6f : 1e-6f) << (depth == PixelDepth::k8 ? "8" : "32");
    }
}

TEST_P(ChainValues, AddIsLinearInTheInput) {
    Linear();
    Set(kBlendMode, kAdd);
    SetInput(Scene(1.0f));
    const simhost::FrameResult once = Render();
    SetInput(Scene(2.0f));
    const simhost::FrameResult twice = Render();
    ASSERT_EQ(once.output.width(), twice.output.width());
    const float peak = Peak(once.output);
    ASSERT_GT(peak, 0.0f);
    const float worst = MaxDifference(twice.output, once.output, [](float a, float b) {
        return b == 1.0f && a == 1.0f ? 0.0f : std::fabs(a - 2.0f * b);  // alpha is opaque in both
    });
    EXPECT_LE(worst, 1e-5f * peak) << "peak " << peak;
}

// The cap that Screen gets after the post-process: a float source far above 1, pushed further by the
// exposure, still ends at 1. How Screen blends the levels below the cap is held by the flat-field tests.
TEST_P(ChainValues, ScreenNeverExceedsOne) {
    GlowOnly();
    Set(kBlendMode, kScreen);
    struct Case {
        const char* what;
        PixelDepth depth;
        float value;
        double exposure;
    };
    const Case cases[] = {{"8-bit white", PixelDepth::k8, 1.0f, 1}, {"float 10 at exposure 20", PixelDepth::k32f, 10.0f, 20}};
    for (const Case& c : cases) {
        Set(kExposure, c.exposure);
        SetInput(FloatWorld(40, 36, [&c](A_long x, A_long y) {
            const float v = x > 10 && x < 30 && y > 10 && y < 26 ? c.value : 0.0f;
            return PF_PixelFloat{1, v, v, v};
        }, c.depth));
        const simhost::FrameResult r = Render(c.depth == PixelDepth::k8 ? 8 : 32);
        const float peak = Peak(r.output);
        EXPECT_LE(peak, 1.0f) << c.what;
        EXPECT_GT(peak, 0.9f) << c.what << ": a bright source saturates the glow";
    }
}

TEST_P(ChainValues, FramesAreBitIdenticalTwiceAndOnEightThreadsAtOnce) {
    Set(kRadius, 12);
    SetInput(Scene(3.0f));
    const simhost::FrameResult first = Render();
    const simhost::FrameResult second = Render();
    EXPECT_TRUE(SameBytes(first.output, second.output)) << "the same frame twice on one thread";

    simhost::RenderThreads threads(host(), 8);
    std::vector<simhost::FrameResult> results(8);
    std::vector<std::function<void()>> jobs;
    for (int t = 0; t < 8; ++t) {
        jobs.push_back([this, &results, t] {
            simhost::FrameRequest request;
            request.bitdepth = 32;
            results[size_t(t)] = simhost::RunSmartFrame(host(), request);
        });
    }
    threads.RunTogether(jobs);
    threads.End();
    for (int t = 0; t < 8; ++t) {
        EXPECT_EQ(results[size_t(t)].render.err, PF_Err_NONE) << "thread " << t;
        EXPECT_TRUE(SameBytes(results[size_t(t)].output, first.output)) << "thread " << t;
    }
}

TEST_P(ChainValues, HalfFloatTargetsAgreeWithFloatOnesToHalfPrecision) {
    Linear();  // the glow as the targets hold it, no gamma to stretch the differences
    Set(kRadius, 12);
    SetInput(Scene(2.0f));
    const simhost::FrameResult full = Render();
    Set(kHalfFloat, 1);
    const simhost::FrameResult half = Render();
    const float peak = Peak(full.output);
    ASSERT_GT(peak, 0.0f);
    // A half keeps 11 significant bits (a relative step of 2^-11); a glow value passes through up to 16
    // half-float targets on its way (upload, pre-process, per level resampling and two blur directions or
    // the iris blur, then one blend per level above), each rounding once. The faint tails, which gather the rounding of brighter pixels
    // around them, are judged against a hundredth of the peak.
    const float worst = MaxDifference(half.output, full.output, [peak](float a, float b) {
        return std::fabs(a - b) / (std::fabs(b) + 1e-2f * peak);
    });
    EXPECT_LE(worst, 16.0f / 2048) << "peak " << peak;
    EXPECT_GT(MaxDifference(half.output, full.output, [](float a, float b) { return std::fabs(a - b); }), 0.0f)
        << "the half-float frame rendered with float targets";
}

TEST_P(ChainValues, GlowInputViewShowsThePreProcessedSourceAtItsPlace) {
    SetView(2);  // "Glow Input"
    Set(kThreshold, 50);
    // Every channel varies along both axes, so a shift in either shows; some values lie below the threshold
    // (they vanish), the others stay as they are.
    auto channel = [](A_long x, A_long y, int k) {
        return 0.05f + 0.9f * float((x * 5 + y * 11 + k * 3) % 13) / 13.0f;
    };
    auto source = [&channel](A_long x, A_long y) {
        return PF_PixelFloat{1, channel(x, y, 0), channel(x, y, 1), channel(x, y, 2)};
    };
    auto processed = [](float v) { return v > 0.5f ? v : 0.0f; };
    struct Case {
        const char* what;
        bool aberration;
        int channels;  // "Aberration Channels": 1 red and green, 2 red and blue, 3 green and blue
        int offset;
        int plus, minus;  // host channel (0 red, 1 green, 2 blue) read offset pixels ahead, and behind
    };
    const Case cases[] = {
        {"pixel aberration off", false, 2, 3, -1, -1},
        {"pixel aberration on, offset 0 (no aberration)", true, 2, 0, -1, -1},
        {"red and green, offset 3", true, 1, 3, 0, 1},
        {"red and blue, offset 3", true, 2, 3, 0, 2},
        {"green and blue, offset 2", true, 3, 2, 1, 2},
    };
    const A_long w = 40, h = 36;
    for (const Case& c : cases) {
        Set(kEnablePixelAberration, c.aberration ? 1 : 0);
        Set(kAberrationChannels, c.channels);
        Set(kPixelOffset, c.offset);
        SetInput(FloatWorld(w, h, source));
        const simhost::FrameResult r = Render();
        const SimWorld& out = r.output;
        const A_long ox = -r.outputOriginX, oy = -r.outputOriginY;
        ASSERT_GT(ox, c.offset) << c.what;
        ASSERT_GT(oy, c.offset) << c.what;
        // A channel shown at output pixel (x, y) comes from the layer pixel (x, y) moved by its shift, in both
        // axes, and is black where that lies outside the layer.
        auto expectedChannel = [&](A_long x, A_long y, int k) {
            const A_long shift = k == c.plus ? c.offset : k == c.minus ? -c.offset : 0;
            const A_long sx = x - ox + shift, sy = y - oy + shift;
            return sx >= 0 && sx < w && sy >= 0 && sy < h ? processed(channel(sx, sy, k)) : 0.0f;
        };
        float worst = 0;
        for (A_long y = 0; y < out.height(); ++y)
            for (A_long x = 0; x < out.width(); ++x) {
                const PF_PixelFloat expected{1, expectedChannel(x, y, 0), expectedChannel(x, y, 1),
                                             expectedChannel(x, y, 2)};
                worst = std::max(worst, Distance(out.GetFloat(x, y), expected));
            }
        // The source is sampled at texel centres through linear filtering, which may blend in a trace of
        // the neighbours; a channel from the wrong place would differ by 0.2 or more.
        EXPECT_LE(worst, 1e-4f) << c.what;
    }
}

// A float source far above 1 in "Add" with half floats: raised to the gamma it passes the largest half float,
// and the level sums pass it again. Whatever the driver stores there, the frame comes out finite and bright.
TEST_P(ChainValues, AnInputOf400InAddWithHalfFloatsGivesAFiniteFrame) {
    Set(kHalfFloat, 1);
    Set(kBlendMode, kAdd);
    for (int toneMap : {1, 5}) {  // "None", "Hable Filmic"
        Set(kToneMapOperation, toneMap);
        SetInput(Solid(24, 20, {1, 400, 400, 400}));
        const simhost::FrameResult r = Render();
        float peak = 0;
        for (A_long y = 0; y < r.output.height(); ++y)
            for (A_long x = 0; x < r.output.width(); ++x) {
                const PF_PixelFloat px = r.output.GetFloat(x, y);
                for (float v : {px.alpha, px.red, px.green, px.blue})
                    ASSERT_TRUE(std::isfinite(v)) << "tone map " << toneMap << " at " << x << "," << y;
                peak = std::max(peak, MaxColour(px));
            }
        EXPECT_GE(peak, 1.0f) << "tone map " << toneMap;
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, ChainValues, ::testing::ValuesIn(kBothModes), velloran_test::NameFromWhat<ModeCase>);

TEST_F(ChainFrame, CustomAtFullResolutionSumsItsLevels) {
    Linear();
    Set(kBlendMode, kAdd);
    Set(kQualityPreset, 8);
    Set(kResolution, 100);
    // Radius R has a level k while R / 2^k > 1 (at least one): 4 -> 2 levels, 8 -> 3, 16 -> 4; every "Custom"
    // level weighs 1, so deep inside a flat source each adds the source once.
    struct Case {
        double radius;
        int levels;
    };
    const Case cases[] = {{4, 2}, {8, 3}, {16, 4}};
    for (const Case& c : cases) {
        Set(kRadius, c.radius);
        SetInput(Solid(80, 80, {1, 0.25f, 0.125f, 0.0625f}));
        const simhost::FrameResult r = Render();
        const PF_PixelFloat centre = r.output.GetFloat(40 - r.outputOriginX, 40 - r.outputOriginY);
        EXPECT_NEAR(centre.red, 0.25f * float(c.levels), 1e-4f) << "radius " << c.radius;
        EXPECT_NEAR(centre.green, 0.125f * float(c.levels), 1e-4f) << "radius " << c.radius;
        EXPECT_NEAR(centre.blue, 0.0625f * float(c.levels), 1e-4f) << "radius " << c.radius;
    }
}

// "Lens Iris" levels of one size are added as they are: at Radius 0 the blur library copies each buffer, and in
// "Extreme" every iteration convolves the full-size buffer, so n iterations give n times the glow source,
// pixel for pixel. Resampling between levels of one size would spread a bright pixel into its neighbours.
TEST_F(ChainFrame, LensIrisAddsLevelsOfOneSizeWithoutResampling) {
    Linear();
    Set(kBlendMode, kAdd);
    Set(kGlowMode, kLensIris);
    Set(kQualityPresetIris, 6);
    Set(kRadius, 0);
    SetIris(Solid(9, 9, {1, 1, 1, 1}));
    auto source = [](A_long x, A_long y) { return x == 20 && y == 20 ? 0.5f : (x == 8 && y == 30 ? 0.25f : 0.0f); };
    for (int iterations : {1, 2, 5}) {
        Set(kIrisIterations, iterations);
        SetInput(FloatWorld(41, 41, [&](A_long x, A_long y) {
            const float v = source(x, y);
            return PF_PixelFloat{1, v, v, v};
        }));
        const simhost::FrameResult r = Render();
        float worst = 0;
        for (A_long y = 0; y < r.output.height(); ++y)
            for (A_long x = 0; x < r.output.width(); ++x) {
                const float expected = float(iterations) * source(x + r.outputOriginX, y + r.outputOriginY);
                worst = std::max(worst, std::fabs(r.output.GetFloat(x, y).green - expected));
            }
        // The shaders' powers of 1 leave a relative round-off of a few 1e-5.
        EXPECT_LE(worst, 1e-4f * float(iterations)) << iterations << " iterations";
    }
}

TEST_F(ChainFrame, FlatFieldSumsTheLevelWeightsInAddAndScreensThemInScreen) {
    // Deep inside a flat field every level holds the field times its weight. Add sums the levels; Screen
    // blends each level over the ones above it as a + b - ab, so the centre is 1 - the product of (1 - vw).
    // "Standard" at full resolution, weights 1, r / 20, r / 40, (r - 5) / 55, (r - 10) / 70 clamped to 1:
    // radius 16: 1, 0.8, 0.4, 0.2; radius 32: 1, 1, 0.8, 27 / 55, 22 / 70.
    Linear();
    Set(kQualityPreset, 4);
    struct Case {
        double radius;
        std::vector<double> weights;
    };
    const Case cases[] = {{16, {1, 0.8, 0.4, 0.2}}, {32, {1, 1, 0.8, 27.0 / 55, 22.0 / 70}}};
    const float v = 0.25f;
    for (const Case& c : cases) {
        double sum = 0, product = 1;
        for (double w : c.weights) {
            sum += v * w;
            product *= 1 - v * w;
        }
        for (int mode : {kAdd, kScreen}) {
            Set(kBlendMode, mode);
            Set(kRadius, c.radius);
            SetInput(Solid(160, 160, {1, v, v, v}));
            const simhost::FrameResult r = Render();
            const PF_PixelFloat centre = r.output.GetFloat(80 - r.outputOriginX, 80 - r.outputOriginY);
            const double expected = mode == kAdd ? sum : 1 - product;
            const char* name = mode == kAdd ? "Add" : "Screen";
            EXPECT_NEAR(centre.red, expected, 2e-3) << name << ", radius " << c.radius;
            EXPECT_NEAR(centre.green, expected, 2e-3) << name << ", radius " << c.radius;
            EXPECT_NEAR(centre.blue, expected, 2e-3) << name << ", radius " << c.radius;
        }
    }
}

TEST_F(ChainFrame, LensIrisFlatFieldSumsItsIterationsInAddAndScreensThemInScreen) {
    // Deep inside a flat field every iteration convolves the field into itself, whatever its radius and buffer
    // size: n iterations of v sum to n v in Add and screen to 1 - (1 - v)^n in Screen, well below the cap at 1
    // that Screen gets afterwards. Evenly spaced radii (Radii Easing 0) keep the largest at Radius 16.
    Linear();
    Set(kGlowMode, kLensIris);
    Set(kQualityPresetIris, 4);
    Set(kRadiiEasing, 0);
    SetIris(Solid(9, 9, {1, 1, 1, 1}));
    const float v = 0.25f;
    struct Case {
        int iterations;
        int blendMode;
        double expected;
    };
    const Case cases[] = {{10, kAdd, 10 * 0.25}, {10, kScreen, 1 - std::pow(0.75, 10)},
                          {3, kAdd, 3 * 0.25}, {3, kScreen, 1 - std::pow(0.75, 3)}};
    for (const Case& c : cases) {
        Set(kIrisIterations, c.iterations);
        Set(kBlendMode, c.blendMode);
        SetInput(Solid(160, 160, {1, v, v, v}));
        const simhost::FrameResult r = Render();
        const PF_PixelFloat centre = r.output.GetFloat(80 - r.outputOriginX, 80 - r.outputOriginY);
        const std::string what = std::string(c.blendMode == kAdd ? "Add" : "Screen") + ", " +
                                 std::to_string(c.iterations) + " iterations";
        EXPECT_NEAR(centre.red, c.expected, 2e-3) << what;
        EXPECT_NEAR(centre.green, c.expected, 2e-3) << what;
        EXPECT_NEAR(centre.blue, c.expected, 2e-3) << what;
    }
}

// An 8-bit frame is the 32-bit frame of the same scene rounded to bytes: the glow is worked out in float
// either way, and only the read-back into the output world differs. The glow reaches far above 1 near the
// bright pixels (255 in bytes) and falls through every value below it.
TEST_F(ChainFrame, EightBitGlowIsTheFloatGlowRoundedToBytes) {
    Linear();
    Set(kBlendMode, kAdd);
    Set(kExposure, 4);
    Set(kRadius, 6);
    // Every value a byte holds exactly, so that both frames start from the same image.
    auto scene = [](A_long x, A_long y) {
        const bool bright =
            (std::abs(x - 12) <= 1 && std::abs(y - 10) <= 1) || (std::abs(x - 27) <= 1 && std::abs(y - 22) <= 1);
        const float r = bright ? 1.0f : float((x * 7 + y * 3) % 6) / 255.0f;
        const float g = bright ? 0.8f : float((x + y * 5) % 4) / 255.0f;
        const float b = bright ? 200.0f / 255.0f : 0.0f;
        return PF_PixelFloat{1, r, g, b};
    };
    for (int mode : {kExponential, kLensIris}) {
        Set(kGlowMode, mode);
        SetIris(FloatWorld(9, 9, [](A_long x, A_long y) {
            const float on = (x - 4) * (x - 4) + (y - 4) * (y - 4) <= 16 ? 1.0f : 0.0f;
            return PF_PixelFloat{1, on, on, on};
        }));
        SetInput(FloatWorld(40, 36, scene, simhost::PixelDepth::k8));
        const simhost::FrameResult bytes = Render(8);
        SetInput(FloatWorld(40, 36, scene));
        const simhost::FrameResult floats = Render(32);
        const char* name = mode == kExponential ? "Exponential" : "Lens Iris";
        ASSERT_EQ(bytes.output.width(), floats.output.width()) << name;
        ASSERT_EQ(bytes.output.height(), floats.output.height()) << name;
        ASSERT_EQ(bytes.output.depth(), simhost::PixelDepth::k8) << name;
        int saturated = 0, between = 0, transparent = 0;
        double worst = 0;
        A_long wx = 0, wy = 0;
        for (A_long y = 0; y < floats.output.height(); ++y)
            for (A_long x = 0; x < floats.output.width(); ++x) {
                const PF_PixelFloat f = floats.output.GetFloat(x, y);
                const PF_Pixel b = bytes.output.At<PF_Pixel>(x, y);
                transparent += b.alpha != 255;
                const std::pair<float, A_u_char> channels[] = {{f.red, b.red}, {f.green, b.green}, {f.blue, b.blue}};
                for (const auto& [value, byte] : channels) {
                    const double expected = std::min(std::max(double(value), 0.0), 1.0) * 255.0;
                    saturated += value > 1.0f;
                    between += value > 2.0f / 255 && value < 253.0f / 255;
                    // Rounded to the nearest byte; a value within a hair of half way may go either way.
                    const double off = std::fabs(double(byte) - expected);
                    if (off > worst) worst = off, wx = x, wy = y;
                }
            }
        EXPECT_LE(worst, 0.5 + 1e-3) << name << ", worst at output (" << wx << ", " << wy << ")";
        EXPECT_EQ(transparent, 0) << name << ": the read-back is opaque";
        EXPECT_GT(saturated, 0) << name << ": no glow above 1";
        EXPECT_GT(between, 100) << name << ": too little glow between 0 and 1";
    }
}

// The centre of mass of one channel of an output, in layer coordinates.
std::pair<double, double> Centroid(const simhost::FrameResult& r, float PF_PixelFloat::*channel) {
    double sum = 0, sx = 0, sy = 0;
    for (A_long y = 0; y < r.output.height(); ++y)
        for (A_long x = 0; x < r.output.width(); ++x) {
            const double v = r.output.GetFloat(x, y).*channel;
            sum += v;
            sx += v * double(x + r.outputOriginX);
            sy += v * double(y + r.outputOriginY);
        }
    EXPECT_GT(sum, 0.0);
    return {sum > 0 ? sx / sum : 0, sum > 0 ? sy / sum : 0};
}

TEST_F(ChainFrame, PixelAberrationMovesTheGlowOfTwoChannelsAndLeavesTheThird) {
    // "Red & Blue" at offset 4: red is read 4 pixels ahead in x and y, so its glow sits 4 pixels before the
    // point in both; blue sits 4 after it; green is placed by the copy at the layer's offset and must glow
    // exactly where it does without aberration.
    Linear();
    Set(kBlendMode, kAdd);
    Set(kAberrationChannels, 2);
    Set(kPixelOffset, 4);
    std::vector<simhost::FrameResult> frames;
    for (int on : {0, 1}) {
        Set(kEnablePixelAberration, on);
        SetInput(OnePixel(40, 36, 20, 17, 4.0f));
        frames.push_back(Render());
    }
    const SimWorld& off = frames[0].output;
    const SimWorld& on = frames[1].output;
    ASSERT_EQ(off.width(), on.width());
    float peak = 0, worst = 0;
    for (A_long y = 0; y < off.height(); ++y)
        for (A_long x = 0; x < off.width(); ++x) {
            peak = std::max(peak, off.GetFloat(x, y).green);
            worst = std::max(worst, std::fabs(off.GetFloat(x, y).green - on.GetFloat(x, y).green));
        }
    ASSERT_GT(peak, 0.0f);
    EXPECT_LE(worst, 1e-5f * peak) << "green moved";

    struct Case {
        const char* what;
        float PF_PixelFloat::*channel;
        double dx, dy;
    };
    const Case cases[] = {{"red", &PF_PixelFloat::red, -4, -4},
                          {"green", &PF_PixelFloat::green, 0, 0},
                          {"blue", &PF_PixelFloat::blue, 4, 4}};
    for (const Case& c : cases) {
        const auto [x0, y0] = Centroid(frames[0], c.channel);
        const auto [x1, y1] = Centroid(frames[1], c.channel);
        // The level pyramid is not exactly shift-invariant: a centre of mass may move by a fraction of a pixel.
        EXPECT_NEAR(x0, 20.0, 0.5) << c.what << " without aberration";
        EXPECT_NEAR(y0, 17.0, 0.5) << c.what << " without aberration";
        EXPECT_NEAR(x1 - x0, c.dx, 0.5) << c.what;
        EXPECT_NEAR(y1 - y0, c.dy, 0.5) << c.what;
    }
}

}  // namespace
