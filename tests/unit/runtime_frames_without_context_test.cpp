// Whole frames on a render thread that has no GL context (its creation failed) or no pipeline object for the
// iris blur: the chain that needs what is missing ends the frame with 512 and says why, on every frame.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "CGLStandIn.h"
#include "host/ParamIndex.h"
#include "render/ThreadState.h"
#include "simhost/Composition.h"
#include "simhost/World.h"
#include "support/CaseNames.h"
#include "support/RenderThreadFixture.h"

namespace {

void* NoPipeline(void*) { return nullptr; }

struct MissingContextCase {
    const char* what;
    int glowMode;       // 1 "Exponential", 2 "Lens Iris"
    bool failContext;   // the thread's context cannot be made
    bool noPipeline;    // the blur library makes no pipeline object
    PF_Err err;
    const char* message;  // shown to the user and logged; empty: none
};
void PrintTo(const MissingContextCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

const char* const kNoRecord = "error on local_render_data.get()";
const char* const kNoContexts = "!local_render_data->gl_ctx || !local_render_data->blur_ctx";

const MissingContextCase kMissingContextCases[] = {
    {"Exponential without a context", 1, true, false, PF_Err_INTERNAL_STRUCT_DAMAGED, kNoRecord},
    {"Lens Iris without a context", 2, true, false, PF_Err_INTERNAL_STRUCT_DAMAGED, kNoContexts},
    {"Lens Iris without a pipeline object", 2, false, true, PF_Err_INTERNAL_STRUCT_DAMAGED, kNoContexts},
    {"Exponential needs no pipeline object", 1, false, true, PF_Err_NONE, ""},
};

class FramesWithoutContext : public testsupport::RenderThreadTest,
                             public ::testing::WithParamInterface<MissingContextCase> {
protected:
    void SetUp() override {
        if (GetParam().noPipeline) {
            ThreadStateCalls calls = DefaultThreadStateCalls();
            calls.createPipeline = NoPipeline;
            ThreadStateCallsForTesting() = calls;
        }
        RenderThreadTest::SetUp();
        if (HasFatalFailure()) return;
        simhost::Composition& comp = simhost::Comp(host());
        simhost::SimWorld input(24, 16, simhost::PixelDepth::k8);
        for (A_long y = 0; y < 16; ++y)
            for (A_long x = 0; x < 24; ++x) input.SetFloat(x, y, {1, 1, 1, 1});
        comp.SetInputLayer(comp.AddLayer(std::move(input), 0, 0));
        Set(PARAM_GLOW_MODE, GetParam().glowMode);
        Set(PARAM_RADIUS, 4);
    }
    void TearDown() override {
        RenderThreadTest::TearDown();
        ThreadStateCallsForTesting() = DefaultThreadStateCalls();
        CGLStandInFailContextCreations(0);
    }
};

TEST_P(FramesWithoutContext, EndWith512AndTheReason) {
    const MissingContextCase& c = GetParam();
    if (c.failContext) CGLStandInFailContextCreations(1);
    for (int frame = 0; frame < 2; ++frame) {
        const std::string what = "frame " + std::to_string(frame);
        const simhost::FrameResult r = RunEffectFrame();
        EXPECT_TRUE(r.Clean()) << what << ": " << r.Problems();
        ASSERT_TRUE(r.rendered) << what;
        EXPECT_EQ(r.render.err, c.err) << what << ": " << r.render.return_msg;
        if (*c.message) {
            EXPECT_THAT(r.render.return_msg, ::testing::HasSubstr(c.message)) << what;
            EXPECT_TRUE(r.render.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE) << what;
        } else {
            EXPECT_EQ(r.render.return_msg, "") << what;
        }
    }
    if (*c.message) {
        EXPECT_THAT(Log(), ::testing::HasSubstr(c.message));
    }
    if (c.failContext) {
        const std::string log = Log();
        const std::string line = "error: couldn't create context";
        const size_t first = log.find(line);
        EXPECT_NE(first, std::string::npos) << log;
        EXPECT_EQ(log.find(line, first + 1), std::string::npos) << "logged once, never retried: " << log;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, FramesWithoutContext, ::testing::ValuesIn(kMissingContextCases),
                         velloran_test::NameFromWhat<MissingContextCase>);

}  // namespace
