// Frames of the loaded effect through the simulated host's smart render protocol: a composition with the
// effect's input layer, the parameter store set up by PF_Cmd_PARAMS_SETUP, and the host's world services.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "sdk/AEGP_Suites.h"
#include "simhost/Composition.h"
#include "simhost/LayerSuites.h"
#include "simhost/ParamStore.h"
#include "simhost/RenderThreads.h"
#include "simhost/SmartRender.h"
#include "simhost/WorldSuites.h"
#include "support/SimHostFixture.h"
#include "support/EffectFrameTest.h"
#include "support/EffectParamIndex.h"

namespace smartfx_test {

using namespace testsupport::param_index;

inline std::string Text(const PF_LRect& r) {
    return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " + std::to_string(r.right) + ", " +
           std::to_string(r.bottom) + ")";
}

// A solid 8-bit layer.
inline simhost::SimWorld Solid(A_long w, A_long h, PF_Pixel color, simhost::PixelDepth depth = simhost::PixelDepth::k8) {
    simhost::SimWorld world(w, h, depth);
    const PF_PixelFloat f{color.alpha / 255.0f, color.red / 255.0f, color.green / 255.0f, color.blue / 255.0f};
    for (A_long y = 0; y < h; ++y)
        for (A_long x = 0; x < w; ++x) world.SetFloat(x, y, f);
    return world;
}

class SmartFxFrame : public testsupport::EffectFrameTest {
protected:
    void SetUp() override {
        EffectFrameTest::SetUp();
        if (HasFatalFailure()) return;
        comp().AddLayer(Solid(40, 30, {255, 200, 100, 50}), 100, 50, "input");
        Set(kRadius, 100);
        Set(kQualityPreset, 4);  // "Standard"
    }

    simhost::LayerId AddLayer(simhost::SimWorld pixels, A_long x, A_long y, int param) {
        const simhost::LayerId id = comp().AddLayer(std::move(pixels), x, y);
        comp().SetLayerParam(param, id);
        return id;
    }
    simhost::FrameResult Frame(simhost::FrameRequest request = {}) {
        simhost::FrameResult r = RunFrame(request);
        EXPECT_TRUE(r.Clean()) << r.Problems();
        return r;
    }

};

}  // namespace smartfx_test
