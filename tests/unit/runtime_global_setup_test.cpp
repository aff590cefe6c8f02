// Global setup and set-down called directly on the simulated host's in data: the block in its host handle,
// the caller's current context, a context that cannot be made, handles that cannot be had, the GL texts and
// the release of the global program set (watched from a context that shares the global one's objects).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/CaseNames.h"
#include "CGLStandIn.h"
#include "gl/GLHeaders.h"
#include "host/GlobalSetup.h"
#include "host/ParamsSetup.h"
#include "render/ProgramSet.h"
#include "render/ThreadState.h"
#include "support/HostEglContext.h"
#include "support/SimHostFixture.h"

namespace {

class GlobalSetupTest : public testsupport::SimHostTest {
protected:
    void SetUp() override {
        SimHostTest::SetUp();
        in_ = host().InDataTemplate();
        baselineContexts_ = CGLStandInLiveContextCount();
    }
    void TearDown() override {
        CGLStandInFailContextCreations(0);
        SetCurrentContext(nullptr);
        SimHostTest::TearDown();
    }
    PF_Err RunSetup() { return GlobalSetup(&in_, &out_, nullptr, nullptr); }
    PF_Err RunSetdown() { return GlobalSetdown(&in_, &out_, nullptr, nullptr); }
    GlobalRenderData* Block() { return static_cast<GlobalRenderData*>(*out_.global_data); }

    PF_InData in_{};
    PF_OutData out_{};
    int baselineContexts_ = 0;
};

struct CurrentContextCase {
    const char* what;
    bool callerHasContext;
    bool effectContextFails;
};
void PrintTo(const CurrentContextCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

class GlobalSetupCurrentContext : public GlobalSetupTest, public ::testing::WithParamInterface<CurrentContextCase> {};

TEST_P(GlobalSetupCurrentContext, LeavesTheCallersContextCurrentAndSetdownReleasesEverything) {
    const CurrentContextCase& c = GetParam();
    CGLContextObj callers = nullptr;
    if (c.callerHasContext) {
        callers = CreateContext(nullptr, nullptr);
        ASSERT_NE(callers, nullptr);
        ASSERT_EQ(SetCurrentContext(callers), 0);
    }
    const int contextsBefore = CGLStandInLiveContextCount();
    CGLStandInFailContextCreations(c.effectContextFails ? 1 : 0);

    ASSERT_EQ(RunSetup(), PF_Err_NONE);
    EXPECT_EQ(GetCurrentContext(), callers);
    ASSERT_NE(out_.global_data, nullptr);
    const PF_Handle handle = out_.global_data;
    EXPECT_EQ(host().Handles().LockCount(handle), 1) << "the block stays locked until set-down";
    GlobalRenderData* global = Block();
    if (c.effectContextFails) {
        EXPECT_EQ(global->gl_ctx, nullptr);
        EXPECT_STREQ(global->glVersion, "");
        EXPECT_STREQ(global->glRenderer, "");
        for (const Program& program : global->programs) {
            EXPECT_FALSE(program.valid);
            EXPECT_EQ(program.id, 0u);
        }
        EXPECT_EQ(CGLStandInLiveContextCount(), contextsBefore);
    } else {
        ASSERT_NE(global->gl_ctx, nullptr);
        EXPECT_NE(global->gl_ctx, callers);
        // The texts are the global context's own, read there.
        ASSERT_EQ(SetCurrentContext(global->gl_ctx), 0);
        const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
        const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
        ASSERT_TRUE(version && renderer);
        EXPECT_EQ(std::string(global->glVersion), std::string(version).substr(0, 99));
        EXPECT_EQ(std::string(global->glRenderer), std::string(renderer).substr(0, 99));
        EXPECT_STRNE(global->glRenderer, "");
        ASSERT_EQ(SetCurrentContext(callers), 0);
        for (const Program& program : global->programs) EXPECT_TRUE(program.valid && program.id != 0);
        EXPECT_EQ(CGLStandInLiveContextCount(), contextsBefore + 1);
    }
    EXPECT_EQ(global->blur_ctx, nullptr);
    EXPECT_STREQ(global->glRenderer, ReadGlobalGLTexts(handle).renderer.c_str())
        << "the parameter setup shows the block's renderer";
    EXPECT_EQ(global->glVersion, ReadGlobalGLTexts(handle).version);

    ASSERT_EQ(RunSetdown(), PF_Err_NONE);
    EXPECT_FALSE(host().Handles().IsLive(handle));
    EXPECT_EQ(out_.global_data, nullptr);
    EXPECT_EQ(GetCurrentContext(), nullptr) << "the set-down thread ends with no current context";
    EXPECT_EQ(CGLStandInLiveContextCount(), contextsBefore);
    EXPECT_EQ(host().Handles().BadHandleCalls(), 0);
    DeleteContext(callers);
}

INSTANTIATE_TEST_SUITE_P(Cases, GlobalSetupCurrentContext,
                         ::testing::Values(CurrentContextCase{"CallerWithContext", true, false},
                                           CurrentContextCase{"CallerWithoutContext", false, false},
                                           CurrentContextCase{"CallerWithContextEffectContextFails", true, true},
                                           CurrentContextCase{"CallerWithoutContextEffectContextFails", false, true}),
                         velloran_test::NameFromWhat<CurrentContextCase>);

// A host that draws with its own EGL context (OpenGL ES bound) finds it current, and its API bound, after
// setup and after set-down, though both used the effect's context in between.
TEST_F(GlobalSetupTest, SetupAndSetdownLeaveAHostsOwnEGLContextAsItWas) {
    testsupport::HostEglContext hostContext(EGL_OPENGL_ES_API);
    ASSERT_TRUE(hostContext.made());
    ASSERT_EQ(RunSetup(), PF_Err_NONE);
    ASSERT_NE(Block()->gl_ctx, nullptr);
    EXPECT_STRNE(Block()->glRenderer, "");
    EXPECT_EQ(eglGetCurrentContext(), hostContext.context());
    EXPECT_EQ(eglQueryAPI(), EGLenum(EGL_OPENGL_ES_API));
    ASSERT_EQ(RunSetdown(), PF_Err_NONE);
    EXPECT_EQ(eglGetCurrentContext(), hostContext.context());
    EXPECT_EQ(eglQueryAPI(), EGLenum(EGL_OPENGL_ES_API));
    EXPECT_EQ(GetCurrentContext(), nullptr);
}

// The GL names of the global set, looked up from a context that shares the global context's objects, so they
// can still be asked about after set-down has deleted that context.
TEST_F(GlobalSetupTest, SetdownDeletesEveryGlobalProgramIncludingAFailedLink) {
    ASSERT_EQ(RunSetup(), PF_Err_NONE);
    GlobalRenderData* global = Block();
    ASSERT_NE(global->gl_ctx, nullptr);
    CGLContextObj probe = CreateContext(global->gl_ctx, nullptr);
    ASSERT_NE(probe, nullptr);

    // Rebuild one slot from a pair that compiles but does not link: it keeps a program name.
    ASSERT_EQ(SetCurrentContext(global->gl_ctx), 0);
    Program& broken = global->programs[IDENTITY];
    broken.Release();
    const char* unlinkable = "#version 330\nout vec3 FragColor;\nvec3 f();\nvoid main() { FragColor = f(); }\n";
    PF_OutData scratch{};
    ASSERT_FALSE(broken.InitInternal(kProgramSlotSources[IDENTITY].vertex, unlinkable, &scratch, IDENTITY));
    ASSERT_NE(broken.id, 0u);
    std::vector<GLuint> names;
    for (const Program& program : global->programs) names.push_back(program.id);
    ASSERT_EQ(SetCurrentContext(nullptr), 0);

    ASSERT_EQ(RunSetdown(), PF_Err_NONE);
    ASSERT_EQ(SetCurrentContext(probe), 0);
    for (size_t slot = 0; slot < names.size(); ++slot) {
        EXPECT_FALSE(glIsProgram(names[slot])) << "slot " << slot << " outlived set-down";
    }
    SetCurrentContext(nullptr);
    DeleteContext(probe);
    EXPECT_EQ(CGLStandInLiveContextCount(), baselineContexts_);
}

struct HandleFaultCase {
    const char* fault;
};
void PrintTo(const HandleFaultCase& c, std::ostream* os) { velloran_test::PrintCase(c.fault, os); }

class GlobalSetupHandleFault : public GlobalSetupTest, public ::testing::WithParamInterface<HandleFaultCase> {};

TEST_P(GlobalSetupHandleFault, WritesNothingThroughANullBlockAndSetdownDoesNothing) {
    host().Faults().FailCall(GetParam().fault);
    out_.global_data = reinterpret_cast<PF_Handle>(0x1);  // whatever the host left there is replaced
    ASSERT_EQ(RunSetup(), PF_Err_NONE);
    EXPECT_EQ(out_.my_version, 0x81001u) << "the version and flags do not depend on the block";
    EXPECT_EQ(out_.out_flags, kGlobalOutFlags);
    EXPECT_EQ(out_.global_data, nullptr);
    EXPECT_EQ(host().Handles().Live(), 0) << "a block that cannot be used is given back";
    EXPECT_EQ(CGLStandInLiveContextCount(), baselineContexts_);

    ASSERT_EQ(RunSetdown(), PF_Err_NONE);
    EXPECT_EQ(host().Handles().BadHandleCalls(), 0);
    EXPECT_EQ(GetCurrentContext(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Cases, GlobalSetupHandleFault,
                         ::testing::Values(HandleFaultCase{"host_new_handle"}, HandleFaultCase{"host_lock_handle"}),
                         [](const auto& info) { return velloran_test::CaseName(info.param.fault); });

TEST_F(GlobalSetupTest, SetdownWhoseLockGivesNoBlockReleasesNothing) {
    ASSERT_EQ(RunSetup(), PF_Err_NONE);
    const PF_Handle handle = out_.global_data;
    host().Faults().FailCall("host_lock_handle");
    ASSERT_EQ(RunSetdown(), PF_Err_NONE);
    EXPECT_TRUE(host().Handles().IsLive(handle));
    EXPECT_EQ(CGLStandInLiveContextCount(), baselineContexts_ + 1);
    // The block is still whole: a set-down that can lock it releases it.
    ASSERT_EQ(RunSetdown(), PF_Err_NONE);
    EXPECT_FALSE(host().Handles().IsLive(handle));
    EXPECT_EQ(CGLStandInLiveContextCount(), baselineContexts_);
}

TEST_F(GlobalSetupTest, SetdownLeavesAHandleTooSmallForTheBlockAlone) {
    PF_Handle foreign = host().Handles().New(16);
    std::memset(host().Handles().Lock(foreign), 0x5a, 16);  // no record: its bytes name nothing
    out_.global_data = foreign;
    ASSERT_EQ(RunSetdown(), PF_Err_NONE);
    EXPECT_TRUE(host().Handles().IsLive(foreign));
    EXPECT_EQ(CGLStandInLiveContextCount(), baselineContexts_);
    host().Handles().Dispose(foreign);
}

struct GLTextCase {
    const char* what;
    bool null;
    size_t length;  // of a text of distinct characters
    size_t kept;
};
void PrintTo(const GLTextCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

class CopyGLTextCases : public ::testing::TestWithParam<GLTextCase> {};

TEST_P(CopyGLTextCases, KeepsAtMost99CharactersAndANul) {
    const GLTextCase& c = GetParam();
    std::string text;
    for (size_t i = 0; i < c.length; ++i) text += char('!' + i % 90);
    char field[100];
    std::memset(field, 'x', sizeof field);  // what a previous text left
    CopyGLText(field, c.null ? nullptr : reinterpret_cast<const unsigned char*>(text.c_str()));
    EXPECT_EQ(std::string(field), text.substr(0, c.kept));
}

INSTANTIATE_TEST_SUITE_P(Cases, CopyGLTextCases,
                         ::testing::Values(GLTextCase{"NullLeavesItEmpty", true, 0, 0},
                                           GLTextCase{"Empty", false, 0, 0}, GLTextCase{"Short", false, 31, 31},
                                           GLTextCase{"Exactly99", false, 99, 99},
                                           GLTextCase{"Exactly100", false, 100, 99},
                                           GLTextCase{"LongRenderer", false, 180, 99}),
                         velloran_test::NameFromWhat<GLTextCase>);

}  // namespace
