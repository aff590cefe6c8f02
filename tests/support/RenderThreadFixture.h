// Frames of the effect's own functions (linked into the test, not the loaded bundle) on a render thread of the
// simulated host: parameters registered, the world services and a colour settings suite without a profile,
// the bundle's global setup done (its global block and context let this binary's per-thread state start), and
// one render thread, which ends before the global set-down as in a real host.
#pragma once

#include <memory>

#include "render/PreRender.h"
#include "render/SmartRender.h"
#include "sdk/AEGP_Suites.h"
#include "simhost/ParamStore.h"
#include "simhost/RenderThreads.h"
#include "simhost/SmartRender.h"
#include "simhost/WorldSuites.h"
#include "support/NoColorProfile.h"
#include "support/SimHostFixture.h"

namespace testsupport {

class RenderThreadTest : public SimHostTest {
protected:
    void SetUp() override {
        SimHostTest::SetUp();
        simhost::Params(host());
        simhost::Worlds(host());
        host().AddSuite(kPFColorSettingsSuite, kPFColorSettingsSuiteVersion3, &kNoProfileSuite);
        ASSERT_EQ(host().Send(PF_Cmd_GLOBAL_SETUP).err, PF_Err_NONE);
        threads_ = std::make_unique<simhost::RenderThreads>(host(), 1);
        ASSERT_EQ(host().Send(PF_Cmd_PARAMS_SETUP).err, PF_Err_NONE);
    }
    void TearDown() override {
        threads_.reset();
        if (host_) {
            EXPECT_EQ(host().Send(PF_Cmd_GLOBAL_SETDOWN).err, PF_Err_NONE);
        }
        SimHostTest::TearDown();
    }
    void Set(int index, double value) { simhost::Params(host()).SetNumber(index, value); }

    // One frame on the render thread, answered by the effect's own pre-render and render; not judged.
    simhost::FrameResult RunEffectFrame(simhost::FrameRequest request = {}) {
        request.effect = [](PF_Cmd cmd, PF_InData& in, PF_OutData& out, void* extra) -> PF_Err {
            if (cmd == PF_Cmd_SMART_PRE_RENDER) return PreRender(&in, &out, static_cast<PF_PreRenderExtra*>(extra));
            return SmartRender(&in, &out, static_cast<PF_SmartRenderExtra*>(extra));
        };
        simhost::FrameResult r;
        threads_->Run(0, [&] { r = simhost::RunSmartFrame(host(), request); });
        return r;
    }

    std::unique_ptr<simhost::RenderThreads> threads_;
};

}  // namespace testsupport
