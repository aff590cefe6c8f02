// The lens-dirt layer in whole frames: composited onto the glow in "Final Result", and shown as the matte
// and as the matted dirt in the two lens-dirt views, each pixel as the glow of the same frame without dirt
// and the dirt pixel at that place in the layer's coordinates give it; the matte grey up to an Inherit Glow
// Color of 1 % and coloured above it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "chains_fixture.h"

namespace {

using namespace chains_test;
using simhost::SimWorld;

enum { kViewFinal = 1, kViewMatte = 5, kViewMatted = 6 };  // choices of the "View" list without iris

// The dirt, straight colour with a varying alpha, different at every pixel and in no way symmetric.
PF_PixelFloat Dirt(A_long u, A_long v) {
    return PF_PixelFloat{0.25f + 0.75f * float((u + 2 * v) % 4) / 3.0f, 0.1f + 0.03f * float(u), 0.8f - 0.02f * float(v),
                         0.3f + 0.01f * float(u * v % 7)};
}

// The matte of each channel over a glow pixel: luma^(1/2) x 1.5 (Matte Gamma 2, Matte Exposure 0.5), at most 1;
// above an Inherit Glow Color of 1 % it moves that far toward the channel's own value^(1/2) x 1.5, at most 1.
void ChannelMattes(const PF_PixelFloat& o, double inherit, double out[3]) {
    const float luma = 0.2126f * o.red + 0.7152f * o.green + 0.0722f * o.blue;
    const double m = std::min(std::sqrt(double(luma)) * 1.5, 1.0);
    const float c[3] = {o.red, o.green, o.blue};
    for (int k = 0; k < 3; ++k)
        out[k] = inherit > 0.01 ? (1 - inherit) * m + inherit * std::min(std::sqrt(double(c[k])) * 1.5, 1.0) : m;
}

class LensDirtFrame : public ChainFrame {
protected:
    static constexpr A_long kDirtX = 9, kDirtY = 5, kDirtW = 26, kDirtH = 22;  // its place in the composition

    void SetUp() override {
        ChainFrame::SetUp();
        if (HasFatalFailure()) return;
        Linear();
        Set(kBlendMode, kAdd);
        Set(kRadius, 8);
        Set(kLensDirtOpacity, 80);
        Set(kLensDirtInherit, 25);
        Set(kLensDirtMatteExposure, 0.5);
        Set(kLensDirtMatteGamma, 2);
        Set(kLensDirtRepeatEdges, 0);
    }
    // A small bright patch whose glow runs from well above 1 (red) down to a fraction of it over the dirt.
    void SetScene() {
        SetInput(FloatWorld(40, 36, [](A_long x, A_long y) {
            const bool lit = x >= 19 && x <= 21 && y >= 16 && y <= 18;
            return lit ? PF_PixelFloat{1, 30.0f, 6.0f, 1.0f} : PF_PixelFloat{1, 0, 0, 0};
        }));
    }
};

TEST_F(LensDirtFrame, FinalMatteAndMattedFollowTheGlowAndTheDirtAtItsPlace) {
    SetScene();
    Set(kView, kViewFinal);
    const simhost::FrameResult clean = Render();  // the glow alone: no dirt layer chosen
    const SimWorld& glow = clean.output;

    SimWorld dirt = FloatWorld(kDirtW, kDirtH, Dirt);
    comp().SetLayerParam(kLensDirtTexture, comp().AddLayer(std::move(dirt), kDirtX, kDirtY));

    // The dirt at an output pixel: the dirt layer's pixel at the same place in the input layer's coordinates,
    // transparent black outside it (Repeat Edges off).
    auto dirtAt = [&](A_long x, A_long y) {
        const A_long u = x + clean.outputOriginX - kDirtX, v = y + clean.outputOriginY - kDirtY;
        return u >= 0 && u < kDirtW && v >= 0 && v < kDirtH ? Dirt(u, v) : PF_PixelFloat{0, 0, 0, 0};
    };

    bool above = false, below = false;  // the glow over the dirt reaches above 1 and lies below it
    struct Case {
        const char* what;
        int view;
    };
    const Case cases[] = {{"Final Result", kViewFinal}, {"Lens Dirt Matte", kViewMatte}, {"Lens Dirt Matted", kViewMatted}};
    for (const Case& c : cases) {
        Set(kView, c.view);
        const simhost::FrameResult r = Render();
        ASSERT_EQ(r.output.width(), glow.width()) << c.what;
        ASSERT_EQ(r.output.height(), glow.height()) << c.what;
        ASSERT_EQ(r.outputOriginX, clean.outputOriginX) << c.what;
        ASSERT_EQ(r.outputOriginY, clean.outputOriginY) << c.what;
        double worst = 0;
        A_long wx = 0, wy = 0;
        for (A_long y = 0; y < glow.height(); ++y)
            for (A_long x = 0; x < glow.width(); ++x) {
                const PF_PixelFloat o = glow.GetFloat(x, y);
                const PF_PixelFloat d = dirtAt(x, y);
                double m[3];
                ChannelMattes(o, 0.25, m);  // Inherit Glow Color 25 %
                const double g[3] = {o.red, o.green, o.blue};
                const double dc[3] = {double(d.red) * d.alpha, double(d.green) * d.alpha, double(d.blue) * d.alpha};
                double e[4];  // alpha, red, green, blue
                if (c.view == kViewMatte) {
                    e[0] = 1;
                    for (int k = 0; k < 3; ++k) e[k + 1] = m[k];
                } else if (c.view == kViewMatted) {
                    e[0] = d.alpha;
                    for (int k = 0; k < 3; ++k) e[k + 1] = dc[k] * m[k];
                } else {
                    e[0] = 1;
                    // The dirt fades out as the glow channel rises to 1 and adds nothing above it.
                    for (int k = 0; k < 3; ++k) e[k + 1] = g[k] + dc[k] * m[k] * 0.8 * (1 - std::min(g[k], 1.0));
                    if (d.alpha > 0) {
                        above = above || o.red > 1.2f;
                        below = below || (o.red > 0.05f && o.red < 0.8f);
                    }
                }
                const PF_PixelFloat p = r.output.GetFloat(x, y);
                const double got[4] = {p.alpha, p.red, p.green, p.blue};
                for (int k = 0; k < 4; ++k) {
                    const double diff = std::fabs(got[k] - e[k]) / (1 + std::fabs(e[k]));
                    if (diff > worst) worst = diff, wx = x, wy = y;
                }
            }
        EXPECT_LE(worst, 1e-5) << c.what << ", worst at output (" << wx << ", " << wy << ")";
    }
    EXPECT_TRUE(above) << "no glow above 1 over the dirt";
    EXPECT_TRUE(below) << "no glow below 1 over the dirt";
}

// Inherit Glow Color up to 1 % leaves the matte grey, the luma's alone; from just above it the matte takes on
// the glow's colour in proportion.
TEST_F(LensDirtFrame, InheritGlowColorAboveOnePercentColoursTheMatte) {
    SetScene();
    Set(kView, kViewFinal);
    const simhost::FrameResult clean = Render();
    comp().SetLayerParam(kLensDirtTexture, comp().AddLayer(FloatWorld(kDirtW, kDirtH, Dirt), kDirtX, kDirtY));
    Set(kView, kViewMatte);
    for (double inheritPercent : {0.0, 1.0, 5.0}) {
        Set(kLensDirtInherit, inheritPercent);
        const simhost::FrameResult r = Render();
        ASSERT_EQ(r.output.width(), clean.output.width());
        ASSERT_EQ(r.output.height(), clean.output.height());
        double worst = 0;
        bool coloured = false;  // a pixel whose channel mattes differ
        for (A_long y = 0; y < clean.output.height(); ++y)
            for (A_long x = 0; x < clean.output.width(); ++x) {
                double m[3];
                ChannelMattes(clean.output.GetFloat(x, y), inheritPercent * 0.01, m);
                coloured = coloured || std::fabs(m[0] - m[1]) > 0.01;
                const PF_PixelFloat p = r.output.GetFloat(x, y);
                for (const auto& [got, expected] : {std::pair<double, double>{p.red, m[0]}, {p.green, m[1]},
                                                    {p.blue, m[2]}, {p.alpha, 1.0}})
                    worst = std::max(worst, std::fabs(got - expected));
            }
        EXPECT_LE(worst, 1e-5) << "Inherit Glow Color " << inheritPercent << " %";
        EXPECT_EQ(coloured, inheritPercent > 1) << "Inherit Glow Color " << inheritPercent << " %";
    }
}

}  // namespace
