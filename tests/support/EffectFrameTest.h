// A host with the effect set up for frames: parameters registered, the global GL context made, and one render
// thread of the host's on which frames run. The thread ends before the global set-down, so the effect's
// per-thread GL state is torn down first, as in a real host.
#pragma once

#include <memory>
#include <utility>

#include "simhost/Composition.h"
#include "simhost/ParamStore.h"
#include "simhost/RenderThreads.h"
#include "simhost/SmartRender.h"
#include "simhost/WorldSuites.h"
#include "support/NoColorProfile.h"
#include "support/SimHostFixture.h"

namespace testsupport {

class EffectFrameTest : public SimHostTest {
protected:
    void SetUp() override {
        SimHostTest::SetUp();
        simhost::Params(host());
        simhost::Worlds(host());
        simhost::Comp(host());
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

public:
    simhost::Composition& comp() { return simhost::Comp(host()); }
    void Set(int index, double value) { simhost::Params(host()).SetNumber(index, value); }

protected:
    // One frame on the render thread, without judging it.
    simhost::FrameResult RunFrame(const simhost::FrameRequest& request = {}) {
        simhost::FrameResult r;
        threads_->Run(0, [&] { r = simhost::RunSmartFrame(host(), request); });
        return r;
    }

    std::unique_ptr<simhost::RenderThreads> threads_;
};

}  // namespace testsupport
