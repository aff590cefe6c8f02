// The downsample into a smaller level steps by the texels of the level it writes. Along x its 13 taps weigh
// 1, 2, 2, 2, 1 (/ 8) at steps -2 to 2, which cancels every frequency f with cos(2 pi f step) = 0 or -1:
// stripes whose harmonics all lie there come out as a flat field at their mean. A filter stepping by the
// texels it reads (the larger texture) cancels other frequencies and leaves the stripes standing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "chains_fixture.h"

namespace {

using namespace chains_test;

TEST_F(ChainFrame, DownsampleStepsByTheLevelItWrites) {
    struct Case {
        const char* what;
        int quality;
        int period, on;  // stripes along x: `on` pixels of 1 in every `period`
        float ripple;    // the largest spread allowed inside the layer
    };
    const Case cases[] = {
        // "Custom" at 50 %: one level of half the output's (even) width, a step of exactly 2 pixels. Stripes
        // 4 on, 4 off: harmonics k / 8 with k odd or 2 (mod 4) fall on the zeros, those with k = 4 (mod 8)
        // are absent from a half-on square wave, and k = 8 is removed by the linear filtering.
        {"Custom 50 %", 8, 8, 4, 2e-3f},
        // "Draft": level 0 at 0.8 of the output, ceil(0.8 x 230) = 185 texels, a step of 1.243 pixels, just
        // off the 1.25 at which stripes of period 5 vanish (harmonics 1 / 5 and 2 / 5 at cos = 0 and -1);
        // what stays is about 3 %. Stepping by the output's pixels instead leaves 20 %.
        {"Draft", 1, 5, 2, 0.06f},
    };
    Linear();
    Set(kBlendMode, kAdd);
    Set(kResolution, 50);
    Set(kRadius, 0);  // one level, no blur; the upsample keeps a flat level flat
    const A_long w = 64, h = 40;
    for (const Case& c : cases) {
        Set(kQualityPreset, c.quality);
        SetInput(FloatWorld(w, h, [&c](A_long x, A_long) {
            const float v = x % c.period < c.on ? 1.0f : 0.0f;
            return PF_PixelFloat{1, v, v, v};
        }));
        const simhost::FrameResult r = Render();
        if (c.quality == 8) {
            ASSERT_EQ(r.output.width() % 2, 0) << "the level would not be exactly half the output";
        }
        const A_long ox = -r.outputOriginX, oy = -r.outputOriginY;
        float lo = 1e9f, hi = -1e9f;
        // Away from the layer's edges, where the field's own border shows.
        for (A_long y = oy + 12; y < oy + h - 12; ++y)
            for (A_long x = ox + 12; x < ox + w - 12; ++x) {
                const float v = r.output.GetFloat(x, y).green;
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        const float mean = float(c.on) / float(c.period);
        EXPECT_LE(hi - lo, c.ripple) << c.what << ": from " << lo << " to " << hi;
        EXPECT_NEAR((lo + hi) / 2, mean, c.ripple / 2 + 1e-3f) << c.what;
    }
}

}  // namespace
