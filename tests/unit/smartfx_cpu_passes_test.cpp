// Per-pixel arithmetic of the CPU composite passes: the dirt sampler's fold, the lens-dirt mattes and
// composite, un-multiplying and the iris gamma, on single pixels with values worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "render/CpuPasses.h"
#include "simhost/World.h"

namespace {

using simhost::PixelDepth;
using simhost::SimWorld;

// A dirt layer whose pixel (x, y) has red = x and green = y, so a sample tells where it was read.
SimWorld PositionWorld(int width, int height) {
    SimWorld w(width, height, PixelDepth::k32f, 16);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) w.At<PF_PixelFloat>(x, y) = PF_PixelFloat{1.0f, float(x), float(y), 0.0f};
    return w;
}

TEST(LensDirtSampler, RepeatEdgesFoldsColumnsTwoToNinetySeven) {
    SimWorld dirt = PositionWorld(100, 10);
    struct Case {
        int position;
        int column;
    };
    const Case cases[] = {{-1, 2}, {0, 2}, {1, 3}, {50, 52}, {94, 96}, {95, 97}, {96, 97}, {97, 96},
                          {190, 3}, {191, 2}, {192, 2}, {193, 3}, {-192, 2}, {-193, 2}, {-2, 3}};
    for (const auto& c : cases) {
        const PF_PixelFloat p = SampleLegalPix32(c.position, 4, dirt.world(), true);
        EXPECT_EQ(p.red, float(c.column)) << "position " << c.position;
        EXPECT_EQ(p.green, 6.0f) << "row 4 folds to row 6";
    }
    // Every position of a few periods lands inside the border-free band and the pattern repeats every 192.
    for (int u = -400; u < 400; ++u) {
        const float column = SampleLegalPix32(u, 2, dirt.world(), true).red;
        ASSERT_GE(column, 2.0f) << u;
        ASSERT_LE(column, 97.0f) << u;
        ASSERT_EQ(column, SampleLegalPix32(u + 192, 2, dirt.world(), true).red) << u;
    }
}

TEST(LensDirtSampler, WithoutRepeatEdgesOutsideIsTransparentBlack) {
    SimWorld dirt = PositionWorld(8, 6);
    const int outside[][2] = {{-1, 0}, {8, 0}, {0, -1}, {0, 6}, {100, 100}};
    for (const auto& xy : outside) {
        const PF_PixelFloat p = SampleLegalPix32(xy[0], xy[1], dirt.world(), false);
        EXPECT_EQ(p.alpha, 0.0f);
        EXPECT_EQ(p.red, 0.0f);
        EXPECT_EQ(p.green, 0.0f);
    }
    const PF_PixelFloat inside = SampleLegalPix32(7, 5, dirt.world(), false);
    EXPECT_EQ(inside.red, 7.0f);
    EXPECT_EQ(inside.green, 5.0f);
}

TEST(LensDirtSampler, LayerTooSmallToFoldIsSampledWithoutRepeat) {
    // Under 5 pixels the fold's period would be zero or negative.
    const int sizes[][2] = {{4, 10}, {10, 4}, {1, 1}, {3, 3}};
    for (const auto& size : sizes) {
        SimWorld dirt = PositionWorld(size[0], size[1]);
        const PF_PixelFloat out = SampleLegalPix32(-3, 200, dirt.world(), true);
        EXPECT_EQ(out.alpha, 0.0f) << size[0] << "x" << size[1];
        const PF_PixelFloat in = SampleLegalPix32(size[0] - 1, 0, dirt.world(), true);
        EXPECT_EQ(in.red, float(size[0] - 1));
    }
    SimWorld dirt8(4, 4, PixelDepth::k8);
    dirt8.At<PF_Pixel>(3, 3) = PF_Pixel{255, 9, 8, 7};
    EXPECT_EQ(SampleLegalPix8(3, 3, dirt8.world(), true).red, 9);
    EXPECT_EQ(SampleLegalPix8(-1, 3, dirt8.world(), true).alpha, 0);
    // Five pixels is the smallest layer that folds: everything maps to the one middle column.
    SimWorld five = PositionWorld(5, 5);
    for (int u = -7; u < 12; ++u) EXPECT_EQ(SampleLegalPix32(u, u, five.world(), true).red, 2.0f) << u;
}

lens_mirror_data Data(int mode, float gammaExp = 1.0f, float gain = 1.0f, float inherit = 0.0f, float opacity = 1.0f) {
    lens_mirror_data d;
    d.mode = mode;
    d.matteGammaExp = gammaExp;
    d.matteGain = gain;
    d.inherit = inherit;
    d.opacity = opacity;
    return d;
}

void ExpectPixel(const PF_PixelFloat& p, float a, float r, float g, float b, const char* what) {
    EXPECT_NEAR(p.alpha, a, 1e-6) << what;
    EXPECT_NEAR(p.red, r, 1e-6) << what;
    EXPECT_NEAR(p.green, g, 1e-6) << what;
    EXPECT_NEAR(p.blue, b, 1e-6) << what;
}

TEST(LensDirtComposite, MatteViewIsOpaqueLumaMatte) {
    struct Case {
        const char* what;
        lens_mirror_data data;
        PF_PixelFloat glow;
        float matte;
    };
    const Case cases[] = {
        {"grey glow, gain 1", Data(1), {1, 0.5f, 0.5f, 0.5f}, 0.5f},
        {"gamma exponent 2, gain 2", Data(1, 2.0f, 2.0f), {1, 0.5f, 0.5f, 0.5f}, 0.5f},
        {"gain above 1 clamps at 1", Data(1, 1.0f, 3.0f), {1, 0.5f, 0.5f, 0.5f}, 1.0f},
        {"green weight", Data(1), {1, 0.0f, 1.0f, 0.0f}, 0.7152f},
        {"negative glow is a NaN under a fractional power and clamps to 0", Data(1, 0.5f), {1, -1, -1, -1}, 0.0f},
    };
    for (const auto& c : cases) {
        PF_PixelFloat dirt{1, 1, 1, 1};
        PF_PixelFloat glow = c.glow;
        LensDirtCompCommon(&c.data, dirt, &glow);
        ExpectPixel(glow, 1.0f, c.matte, c.matte, c.matte, c.what);
    }
}

TEST(LensDirtComposite, InheritGlowColorAboveOnePercentTintsTheMatte) {
    const PF_PixelFloat red{1, 1, 0, 0};  // luma 0.2126
    struct Case {
        float inherit;
        float r, g, b;
    };
    const Case cases[] = {
        {0.0f, 0.2126f, 0.2126f, 0.2126f},
        {0.01f, 0.2126f, 0.2126f, 0.2126f},   // at 1 % still grey
        // 5 % of the way from the grey matte to the glow's own channels: 0.2126 + 0.05 x 0.7874, 0.2126 x 0.95
        {0.05f, 0.251970f, 0.201970f, 0.201970f},
        {0.5f, 0.6063f, 0.1063f, 0.1063f},
        {1.0f, 1.0f, 0.0f, 0.0f},
    };
    for (const auto& c : cases) {
        const lens_mirror_data d = Data(1, 1.0f, 1.0f, c.inherit);
        PF_PixelFloat dirt{1, 1, 1, 1};
        PF_PixelFloat glow = red;
        LensDirtCompCommon(&d, dirt, &glow);
        ExpectPixel(glow, 1.0f, c.r, c.g, c.b, ("inherit " + std::to_string(c.inherit)).c_str());
    }
}

TEST(LensDirtComposite, MattedAndFinalModes) {
    // Glow luma 0.6063 times gain 2 clamps the matte to 1, so the dirt passes unchanged but premultiplied.
    const PF_PixelFloat glowIn{1, 1.0f, 0.5f, 0.5f};
    const PF_PixelFloat dirtIn{0.5f, 0.8f, 0.8f, 0.4f};

    lens_mirror_data matted = Data(2, 1.0f, 2.0f);
    PF_PixelFloat dirt = dirtIn, glow = glowIn;
    LensDirtCompCommon(&matted, dirt, &glow);
    ExpectPixel(glow, 0.5f, 0.4f, 0.4f, 0.2f, "matted: the dirt's alpha, premultiplied colour");

    lens_mirror_data final = Data(3, 1.0f, 2.0f, 0.0f, 0.5f);
    dirt = dirtIn;
    glow = glowIn;
    LensDirtCompCommon(&final, dirt, &glow);
    // red at 1 takes no dirt; green 0.5 + 0.4 * 0.5 * (1 - 0.5); blue 0.5 + 0.2 * 0.5 * 0.5
    ExpectPixel(glow, 1.0f, 1.0f, 0.6f, 0.55f, "final");

    // Half the matte halves the dirt: grey glow 0.25 with gain 2 gives matte 0.5.
    dirt = PF_PixelFloat{1, 1, 1, 1};
    glow = PF_PixelFloat{0.75f, 0.25f, 0.25f, 0.25f};
    LensDirtCompCommon(&final, dirt, &glow);
    ExpectPixel(glow, 0.75f, 0.4375f, 0.4375f, 0.4375f, "final, half matte, alpha kept");
}

TEST(LensDirtComposite, EightBitCallbackTruncatesAndKeepsAlpha) {
    SimWorld dirt(6, 6, PixelDepth::k8);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) dirt.At<PF_Pixel>(x, y) = PF_Pixel{255, 200, 200, 200};
    lens_mirror_data d = Data(2, 1.0f, 1.0f);
    d.dirt = dirt.world();
    d.offsetX = 10;  // the dirt layer starts at output column 10
    PF_Pixel out{255, 200, 200, 200};  // matte = luma 0.78431
    ASSERT_EQ(MirrorRepeatComp8(&d, 12, 3, nullptr, &out), PF_Err_NONE);
    EXPECT_EQ(out.alpha, 255) << "8-bit alpha is never written";
    EXPECT_EQ(out.red, 156) << "dirt 0.78431 times matte 0.78431 is 156.86 bytes, truncated";
    EXPECT_EQ(out.blue, 156);

    PF_Pixel outside{255, 40, 40, 40};
    ASSERT_EQ(MirrorRepeatComp8(&d, 2, 3, nullptr, &outside), PF_Err_NONE);
    EXPECT_EQ(outside.red, 0) << "matted transparent dirt left of the layer";
    EXPECT_EQ(outside.alpha, 255);

    PF_Pixel untouched{1, 2, 3, 4};
    EXPECT_EQ(MirrorRepeatComp8(nullptr, 0, 0, nullptr, &untouched), PF_Err_NONE);
    EXPECT_EQ(untouched.red, 2);
}

TEST(Unmult, EightBitAlphaFromBrightestChannel) {
    struct Case {
        PF_Pixel in, out;
    };
    const Case cases[] = {
        {{0, 255, 128, 0}, {255, 255, 128, 0}},
        {{255, 100, 50, 0}, {100, 255, 127, 0}},
        {{77, 0, 0, 0}, {0, 0, 0, 0}},
        {{0, 10, 10, 10}, {10, 255, 255, 255}},
    };
    for (const auto& c : cases) {
        PF_Pixel in = c.in, out{};
        int refcon = 0;
        ASSERT_EQ(GenAlphaFromLuma8(&refcon, 0, 0, &in, &out), PF_Err_NONE);
        EXPECT_EQ(out.alpha, c.out.alpha);
        EXPECT_EQ(out.red, c.out.red);
        EXPECT_EQ(out.green, c.out.green);
        EXPECT_EQ(out.blue, c.out.blue);
    }
}

TEST(Unmult, FloatAlphaCapsAtOneAndDividesWithoutClamping) {
    struct Case {
        PF_PixelFloat in, out;
    };
    const Case cases[] = {
        {{0.3f, 2.0f, 0.5f, 0.0f}, {1.0f, 2.0f, 0.5f, 0.0f}},
        {{1.0f, 0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f, 0.0f}},
        {{1.0f, 0.25f, 0.5f, 0.125f}, {0.5f, 0.5f, 1.0f, 0.25f}},
        {{1.0f, 0.1f, 0.2f, 0.8f}, {0.8f, 0.125f, 0.25f, 1.0f}},  // blue the brightest
    };
    for (const auto& c : cases) {
        PF_PixelFloat px = c.in;
        int refcon = 0;
        ASSERT_EQ(GenAlphaFromLuma32(&refcon, 0, 0, &px, &px), PF_Err_NONE);
        ExpectPixel(px, c.out.alpha, c.out.red, c.out.green, c.out.blue, "unmult 32");
    }
}

TEST(IrisGamma, EightBitAndFloatPowers) {
    float exponent = 2.2f;
    PF_Pixel in{77, 255, 128, 0}, out{};
    ASSERT_EQ(GammaIris8(&exponent, 0, 0, &in, &out), PF_Err_NONE);
    EXPECT_EQ(out.alpha, 77);
    EXPECT_EQ(out.red, 255);
    EXPECT_EQ(out.green, 55);
    EXPECT_EQ(out.blue, 0);

    exponent = 2.0f;
    PF_PixelFloat fin{0.5f, 0.5f, 3.0f, -0.5f}, fout{};
    ASSERT_EQ(GammaIris32(&exponent, 0, 0, &fin, &fout), PF_Err_NONE);
    ExpectPixel(fout, 0.5f, 0.25f, 9.0f, 0.0f, "a negative channel counts as black");

    exponent = 2.2f;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    fin = PF_PixelFloat{1.0f, -0.25f, nan, 1.0f};
    ASSERT_EQ(GammaIris32(&exponent, 0, 0, &fin, &fout), PF_Err_NONE);
    EXPECT_EQ(fout.red, 0.0f);
    EXPECT_FALSE(std::isnan(fout.green));
    EXPECT_EQ(fout.blue, 1.0f);

    PF_PixelFloat keep{9, 9, 9, 9};
    EXPECT_EQ(GammaIris32(nullptr, 0, 0, &fin, &keep), PF_Err_NONE);
    EXPECT_EQ(GammaIris32(&exponent, 0, 0, nullptr, &keep), PF_Err_NONE);
    EXPECT_EQ(keep.red, 9.0f) << "nothing written without a refcon or an in pixel";
}

}  // namespace
