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
#include "support/NoColorProfile.h"

namespace smartfx_test {

inline std::string Text(const PF_LRect& r) {
    return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " + std::to_string(r.right) + ", " +
           std::to_string(r.bottom) + ")";
}

// A working-space query that finds no profile: the settings record then keeps its manual gamma.
using testsupport::kNoProfileSuite;

// A solid 8-bit layer.
inline simhost::SimWorld Solid(A_long w, A_long h, PF_Pixel color, simhost::PixelDepth depth = simhost::PixelDepth::k8) {
    simhost::SimWorld world(w, h, depth);
    const PF_PixelFloat f{color.alpha / 255.0f, color.red / 255.0f, color.green / 255.0f, color.blue / 255.0f};
    for (A_long y = 0; y < h; ++y)
        for (A_long x = 0; x < w; ++x) world.SetFloat(x, y, f);
    return world;
}

class SmartFxFrame : public testsupport::SimHostTest {
protected:
    void SetUp() override {
        SimHostTest::SetUp();
        simhost::Params(host());
        simhost::Worlds(host());
        comp().AddLayer(Solid(40, 30, {255, 200, 100, 50}), 100, 50, "input");
        host().AddSuite(kPFColorSettingsSuite, kPFColorSettingsSuiteVersion3, &kNoProfileSuite);
        // The global GL context lets the render threads build their GL state; the frames render on a thread
        // of the host's, whose end tears that state down before the global set-down.
        ASSERT_EQ(host().Send(PF_Cmd_GLOBAL_SETUP).err, PF_Err_NONE);
        threads_ = std::make_unique<simhost::RenderThreads>(host(), 1);
        ASSERT_EQ(host().Send(PF_Cmd_PARAMS_SETUP).err, PF_Err_NONE);
        Set(19, 100);   // Radius
        Set(100, 4);    // Quality Preset "Standard"
    }

    void TearDown() override {
        threads_.reset();
        if (host_) {
            EXPECT_EQ(host().Send(PF_Cmd_GLOBAL_SETDOWN).err, PF_Err_NONE);
        }
        SimHostTest::TearDown();
    }

    simhost::Composition& comp() { return simhost::Comp(host()); }
    void Set(int index, double value) { simhost::Params(host()).SetNumber(index, value); }
    simhost::LayerId AddLayer(simhost::SimWorld pixels, A_long x, A_long y, int param) {
        const simhost::LayerId id = comp().AddLayer(std::move(pixels), x, y);
        comp().SetLayerParam(param, id);
        return id;
    }
    // One frame on the render thread, without judging it.
    simhost::FrameResult RunFrame(const simhost::FrameRequest& request = {}) {
        simhost::FrameResult r;
        threads_->Run(0, [&] { r = simhost::RunSmartFrame(host(), request); });
        return r;
    }
    simhost::FrameResult Frame(simhost::FrameRequest request = {}) {
        simhost::FrameResult r = RunFrame(request);
        EXPECT_TRUE(r.Clean()) << r.Problems();
        return r;
    }

    std::unique_ptr<simhost::RenderThreads> threads_;
};

}  // namespace smartfx_test
