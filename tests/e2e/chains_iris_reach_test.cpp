// "Lens Iris" frames through the host end where the iris does: beyond the iris's reach an HDR point's glow is
// nil, with "Half Float" on and off. The frame takes the source to the power of the gamma before the glow and the
// root afterwards, which lifts any rounding floor left by the convolution into plain sight.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "chains_fixture.h"

namespace {

using namespace chains_test;
using simhost::SimWorld;

// A white disc on black filling a square of `size`.
SimWorld Disc(A_long size) {
    const float c = float(size) / 2;
    return FloatWorld(size, size, [=](A_long x, A_long y) {
        const float v = std::hypot(float(x) + 0.5f - c, float(y) + 0.5f - c) <= c ? 1.0f : 0.0f;
        return PF_PixelFloat{1, v, v, v};
    });
}

TEST_F(ChainFrame, LensIrisGlowOfAnHdrPointIsNilBeyondTheIrisReach) {
    constexpr A_long kSize = 160, kX = 80, kY = 80;
    constexpr float kSource = 5000.0f, kRadius = 60.0f;
    Set(kGlowMode, kLensIris);
    Set(kRadius, kRadius);
    Set(kIrisIterations, 1);
    Set(kBlendMode, kAdd);
    Set(kUnmult, 0);
    // A gamma of 2.2, as a host's working space commonly gives: the source is raised to it before the glow.
    Set(kAutoDetectGamma, 0);
    Set(kGammaCorrection, 100);
    SetIris(Disc(64));
    SetInput(OnePixel(kSize, kSize, kX, kY, kSource));
    for (bool halfFloat : {false, true}) {
        SCOPED_TRACE(halfFloat ? "Half Float on" : "Half Float off");
        Set(kHalfFloat, halfFloat ? 1 : 0);
        const simhost::FrameResult r = Render();
        ASSERT_GT(r.output.width(), kSize);
        // The iris spans twice the radius; a few pixels more cover the level's resampling.
        const double reach = kRadius + 4;
        float beyond = 0.0f, within = 0.0f;
        A_long beyondX = 0, beyondY = 0, counted = 0;
        for (A_long y = 0; y < r.output.height(); ++y)
            for (A_long x = 0; x < r.output.width(); ++x) {
                const double dx = double(x + r.outputOriginX - kX), dy = double(y + r.outputOriginY - kY);
                const double distance = std::hypot(dx, dy);
                const float v = MaxColour(r.output.At<PF_PixelFloat>(x, y));
                if (distance > reach) {
                    ++counted;
                    if (v > beyond) {
                        beyond = v;
                        beyondX = x + r.outputOriginX;
                        beyondY = y + r.outputOriginY;
                    }
                } else if (distance > 10 && distance < kRadius - 10) {
                    within = std::max(within, v);
                }
            }
        ASSERT_GT(counted, 10000) << "the grown output reaches far beyond the iris";
        EXPECT_GT(within, 1.0f) << "the point glows inside the iris";
        EXPECT_LT(beyond, 1e-8f * kSource) << "at (" << beyondX << ", " << beyondY << ")";
    }
}

}  // namespace
