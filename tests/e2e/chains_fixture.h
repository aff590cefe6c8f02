// Whole frames of the glow through the simulated host: the bundle set up globally, a composition with the
// input (and an iris) layer, and frames rendered on the host's render threads at 32 bits unless a case says
// otherwise, with 32-bit float GL targets ("Half Float" off).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <string>

#include "sdk/AEGP_Suites.h"
#include "simhost/Composition.h"
#include "simhost/ParamStore.h"
#include "simhost/RenderThreads.h"
#include "simhost/SmartRender.h"
#include "simhost/WorldSuites.h"
#include "support/EffectFrameTest.h"
#include "support/EffectParamIndex.h"
#include "support/SimHostFixture.h"

namespace chains_test {

using namespace testsupport::param_index;

// A float world of premultiplied-free (straight) colour from a function of the pixel.
inline simhost::SimWorld FloatWorld(A_long w, A_long h, const std::function<PF_PixelFloat(A_long, A_long)>& f,
                                    simhost::PixelDepth depth = simhost::PixelDepth::k32f) {
    simhost::SimWorld world(w, h, depth);
    for (A_long y = 0; y < h; ++y)
        for (A_long x = 0; x < w; ++x) world.SetFloat(x, y, f(x, y));
    return world;
}
inline simhost::SimWorld Solid(A_long w, A_long h, PF_PixelFloat c,
                               simhost::PixelDepth depth = simhost::PixelDepth::k32f) {
    return FloatWorld(w, h, [c](A_long, A_long) { return c; }, depth);
}
// Opaque black with one pixel of `value` in every colour channel at (x, y).
inline simhost::SimWorld OnePixel(A_long w, A_long h, A_long x, A_long y, float value) {
    return FloatWorld(w, h, [=](A_long px, A_long py) {
        const float v = px == x && py == y ? value : 0.0f;
        return PF_PixelFloat{1, v, v, v};
    });
}

inline float MaxColour(const PF_PixelFloat& p) { return std::max({p.red, p.green, p.blue}); }

class ChainFrame : public testsupport::EffectFrameTest {
protected:
    void SetUp() override {
        EffectFrameTest::SetUp();
        if (HasFatalFailure()) return;
        Set(kHalfFloat, 0);
        Set(kRadius, 16);
    }

    // The layer the effect is applied to, at the composition's origin (a new one each time).
    void SetInput(simhost::SimWorld pixels) { comp().SetInputLayer(comp().AddLayer(std::move(pixels), 0, 0)); }
    void SetIris(simhost::SimWorld pixels) { comp().SetLayerParam(kIrisLayer, comp().AddLayer(std::move(pixels))); }

    // Only the glow: no source composite, no un-multiplying, so the output is the post-processed glow.
    void GlowOnly() {
        Set(kSourceOpacity, 0);
        Set(kUnmult, 0);
    }
    // Settings under which the glow is linear in the input: no threshold, no gamma, no tint, no tone map.
    void Linear() {
        GlowOnly();
        Set(kThreshold, 0);
        Set(kAutoDetectGamma, 0);
        Set(kGammaCorrection, 0);
        Set(kToneMapOperation, 1);
    }

    simhost::FrameResult Render(A_short bitdepth = 32) {
        simhost::FrameRequest request;
        request.bitdepth = bitdepth;
        simhost::FrameResult r = RunFrame(request);
        EXPECT_TRUE(r.Clean()) << r.Problems();
        EXPECT_TRUE(r.rendered);
        EXPECT_EQ(r.render.err, PF_Err_NONE) << r.render.return_msg;
        EXPECT_TRUE(r.outputCheckedOut);
        return r;
    }

};

}  // namespace chains_test
