// The shape of the glow of one bright pixel through the host: symmetric under mirrors and quarter turns (with
// a round iris), inside the grown output and fading out before its edge, a streak along the angle with aspect
// ratio 2, and the iris's own shape, the same way up as "View Iris" shows it, in "Lens Iris" mode.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "chains_fixture.h"
#include "support/CaseNames.h"

namespace {

using namespace chains_test;
using simhost::SimWorld;

// A white disc on black, its centre on the middle pixel of an odd square: unchanged by mirrors and quarter turns.
SimWorld Disc(A_long size) {
    const float c = float(size - 1) / 2, r = float(size) / 2 - 1;
    return FloatWorld(size, size, [=](A_long x, A_long y) {
        const float v = std::hypot(float(x) - c, float(y) - c) <= r ? 1.0f : 0.0f;
        return PF_PixelFloat{1, v, v, v};
    });
}
// A white w by h bar centred in a square of side `size`.
SimWorld Bar(A_long size, A_long w, A_long h) {
    return FloatWorld(size, size, [=](A_long x, A_long y) {
        const bool in = std::abs(2 * x - (size - 1)) < w && std::abs(2 * y - (size - 1)) < h;
        const float v = in ? 1.0f : 0.0f;
        return PF_PixelFloat{1, v, v, v};
    });
}

float Green(const SimWorld& w, A_long x, A_long y) { return w.At<PF_PixelFloat>(x, y).green; }

// Where the bright pixel goes so that it lies at the centre of an odd square output. The "Exponential" reach
// of Radius 16 moves the corners by a fraction of a pixel, which the result rectangle rounds outward on the
// left and bottom and inward on the top and right: an even input grows into an odd output whose centre is
// the input's pixel (w / 2 - 1, h / 2). The "Lens Iris" reach is whole pixels on every side.
struct ModeCase {
    const char* what;
    int mode;
    int quality;
    A_long inputSize, x, y;
};
const ModeCase kModes[] = {
    {"Exponential Standard", kExponential, 4, 32, 15, 16},
    {"Exponential Draft", kExponential, 1, 32, 15, 16},
    {"Exponential Custom", kExponential, 8, 32, 15, 16},
    {"Lens Iris Medium", kLensIris, 3, 33, 16, 16},
    {"Lens Iris Draft", kLensIris, 1, 33, 16, 16},
};
void PrintTo(const ModeCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

class GlowShape : public ChainFrame, public ::testing::WithParamInterface<ModeCase> {
protected:
    void SetUp() override {
        ChainFrame::SetUp();
        Linear();
        Set(kBlendMode, kAdd);
        Set(kGlowMode, GetParam().mode);
        Set(GetParam().mode == kLensIris ? kQualityPresetIris : kQualityPreset, GetParam().quality);
        SetIris(Disc(31));
    }
};

TEST_P(GlowShape, OnePixelGlowsSymmetricallyInsideTheGrownOutput) {
    const ModeCase& c = GetParam();
    SetInput(OnePixel(c.inputSize, c.inputSize, c.x, c.y, 50.0f));
    const simhost::FrameResult r = Render();
    const SimWorld& out = r.output;
    const A_long n = out.width();
    ASSERT_EQ(out.height(), n);
    ASSERT_EQ(n % 2, 1) << "origin " << r.outputOriginX << ", " << r.outputOriginY;
    ASSERT_GT(n, c.inputSize) << "the output grows by the glow's reach";
    ASSERT_EQ(c.x - r.outputOriginX, n / 2) << "the bright pixel lies at the output's centre";
    ASSERT_EQ(c.y - r.outputOriginY, n / 2);

    float peak = 0, worst = 0, edge = 0;
    for (A_long y = 0; y < n; ++y)
        for (A_long x = 0; x < n; ++x) {
            const float v = Green(out, x, y);
            peak = std::max(peak, v);
            const float images[] = {Green(out, n - 1 - x, y), Green(out, x, n - 1 - y), Green(out, y, n - 1 - x),
                                    Green(out, n - 1 - y, x)};
            for (float m : images) worst = std::max(worst, std::fabs(v - m));
            if (x == 0 || y == 0 || x == n - 1 || y == n - 1) edge = std::max(edge, v);
        }
    ASSERT_GT(peak, 0.0f);
    EXPECT_GT(Green(out, n / 2 + 4, n / 2), 0.001f * peak) << "the glow reaches beyond the pixel";
    EXPECT_LE(worst, 1e-3f * peak) << "mirror or quarter-turn images differ; peak " << peak;
    EXPECT_LE(edge, 1e-3f * peak) << "the glow has not faded at the output's edge; peak " << peak;
}

INSTANTIATE_TEST_SUITE_P(Modes, GlowShape, ::testing::ValuesIn(kModes), velloran_test::NameFromWhat<ModeCase>);

TEST_F(ChainFrame, AspectRatioTwoWithAngleStreaksAlongTheAngle) {
    Linear();
    Set(kBlendMode, kAdd);
    Set(kAspectRatio, 2);
    Set(kEnableAngle, 1);
    struct Case {
        double degrees;
        A_long alongX, alongY;  // a step along the streak, in output pixels (rows grow downwards)
    };
    const Case cases[] = {{0, 1, 0}, {90, 0, 1}, {45, 1, 1}};
    for (const Case& c : cases) {
        Set(kAspectAngle, c.degrees);
        SetInput(OnePixel(33, 33, 16, 16, 50.0f));
        const simhost::FrameResult r = Render();
        const A_long cx = 16 - r.outputOriginX, cy = 16 - r.outputOriginY;
        const SimWorld& out = r.output;
        // Near the pixel the resampling between levels spreads it alike in every direction; further out only
        // the blur along the angle reaches.
        for (A_long d : {12, 16}) {
            const float along = Green(out, cx + d * c.alongX, cy + d * c.alongY);
            const float back = Green(out, cx - d * c.alongX, cy - d * c.alongY);
            const float across = Green(out, cx - d * c.alongY, cy + d * c.alongX);
            EXPECT_GT(along, 0.0f) << c.degrees << " degrees, " << d << " pixels";
            EXPECT_NEAR(back, along, 0.05f * along) << c.degrees << " degrees: the streak runs both ways";
            EXPECT_LT(across, 0.05f * along) << c.degrees << " degrees: the streak is spread across the angle";
        }
    }
}

TEST_F(ChainFrame, LensIrisGlowOfOnePixelTakesTheIrisShape) {
    Linear();
    Set(kBlendMode, kAdd);
    Set(kGlowMode, kLensIris);
    Set(kIrisIterations, 1);
    struct Case {
        const char* what;
        A_long barWidth, barHeight;
    };
    const Case cases[] = {{"wide bar", 31, 7}, {"tall bar", 7, 31}};
    for (const Case& c : cases) {
        SetIris(Bar(31, c.barWidth, c.barHeight));
        SetInput(OnePixel(33, 33, 16, 16, 50.0f));
        const simhost::FrameResult r = Render();
        const A_long cx = 16 - r.outputOriginX, cy = 16 - r.outputOriginY;
        // The iris's 31 pixels span twice the radius (16): the bar reaches about 15 pixels along its length and
        // 3 across it.
        const float centre = Green(r.output, cx, cy);
        const float alongX = Green(r.output, cx + 10, cy), alongY = Green(r.output, cx, cy + 10);
        ASSERT_GT(centre, 0.0f) << c.what;
        const bool wide = c.barWidth > c.barHeight;
        EXPECT_NEAR(wide ? alongX : alongY, centre, 0.05f * centre) << c.what << ": flat inside the bar";
        EXPECT_LT(wide ? alongY : alongX, 0.01f * centre) << c.what << ": dark outside the bar";
    }
}

// The glow of one bright pixel is the iris centred on it, the same way up as the picture: an iris lit only in
// its top rows lights the rows above the pixel (world row 0 is the top), one lit in its left columns lights
// the columns to its left, and each lit part lies on the side of the centre where "View Iris" shows it.
TEST_F(ChainFrame, LensIrisGlowIsTheIrisTheSameWayUpAsViewIrisShowsIt) {
    Linear();
    Set(kBlendMode, kAdd);
    Set(kGlowMode, kLensIris);
    Set(kIrisIterations, 1);
    struct Case {
        const char* what;
        std::function<bool(A_long, A_long)> lit;  // iris pixel (x, y), y from the top
        A_long stepX, stepY;                      // the way from the centre to the lit part, in world pixels
    };
    const Case cases[] = {{"top-lit", [](A_long, A_long y) { return y < 10; }, 0, -1},
                          {"left-lit", [](A_long x, A_long) { return x < 10; }, -1, 0}};
    constexpr A_long kIris = 31;  // spans twice the Radius 16 (32 pixels)
    // Where the lit pixels of a frame lie, in world pixels: the light-weighted centroid and the extent.
    struct Light {
        double sum = 0, x = 0, y = 0;
        A_long left = 1 << 20, right = -(1 << 20), top = 1 << 20, bottom = -(1 << 20);
    };
    auto measure = [](const simhost::FrameResult& r, float floor) {
        Light light;
        for (A_long y = 0; y < r.output.height(); ++y)
            for (A_long x = 0; x < r.output.width(); ++x) {
                const float v = Green(r.output, x, y);
                if (v <= floor) continue;
                const A_long wx = x + r.outputOriginX, wy = y + r.outputOriginY;
                light.sum += v;
                light.x += v * double(wx);
                light.y += v * double(wy);
                light.left = std::min(light.left, wx), light.right = std::max(light.right, wx);
                light.top = std::min(light.top, wy), light.bottom = std::max(light.bottom, wy);
            }
        if (light.sum > 0) light.x /= light.sum, light.y /= light.sum;
        return light;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetIris(FloatWorld(kIris, kIris, [&](A_long x, A_long y) {
            const float v = c.lit(x, y) ? 1.0f : 0.0f;
            return PF_PixelFloat{1, v, v, v};
        }));
        SetInput(OnePixel(33, 33, 16, 16, 50.0f));

        // "View Iris": the iris at its place, the layer's pixel (x, y) at world (x, y).
        Set(kViewWithIris, 4);
        const Light view = measure(Render(), 0.5f);
        ASSERT_GT(view.sum, 0.0) << "View Iris shows nothing";
        const double viewX = view.x - (kIris - 1) / 2.0, viewY = view.y - (kIris - 1) / 2.0;

        Set(kViewWithIris, 1);  // "Final Result"
        const simhost::FrameResult r = Render();
        const Light all = measure(r, 0.0f);
        ASSERT_GT(all.sum, 0.0) << "no glow";
        const double glowX = all.x - 16, glowY = all.y - 16;
        // The lit third of the iris has its centre 10.5 iris pixels from the iris's centre, 10.8 world pixels
        // once the iris spans 32; "View Iris" shows the same offset at the iris's own scale.
        EXPECT_NEAR(glowX, 10.84 * double(c.stepX), 0.75) << "glow centroid x; View Iris shows " << viewX;
        EXPECT_NEAR(glowY, 10.84 * double(c.stepY), 0.75) << "glow centroid y; View Iris shows " << viewY;
        EXPECT_NEAR(viewX, 10.5 * double(c.stepX), 0.01) << "View Iris shows the iris upright at its place";
        EXPECT_NEAR(viewY, 10.5 * double(c.stepY), 0.01);
        // The other side of the pixel stays dark: the lit part lies wholly on the side View Iris shows.
        const Light visible = measure(r, 1e-3f * Green(r.output, 16 - r.outputOriginX + 10 * c.stepX,
                                                          16 - r.outputOriginY + 10 * c.stepY));
        if (c.stepY < 0) {
            EXPECT_LE(visible.bottom, 16) << "glow below the pixel";
        }
        if (c.stepX < 0) {
            EXPECT_LE(visible.right, 16) << "glow right of the pixel";
        }
    }
}

}  // namespace
