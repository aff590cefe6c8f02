// The exported context interface on real EGL contexts.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <thread>
#include <vector>

#include "CGLStandIn.h"
#include "gl/glrender.h"

namespace {

std::string StopCapturingStdout() {
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

TEST(GLContext, DefaultContextIsCurrentCoreProfileOfAtLeast33) {
    const int before = CGLStandInLiveContextCount();
    CGLContextObj ctx = CreateContext(nullptr, nullptr);
    ASSERT_TRUE(IsContextValid(ctx));
    EXPECT_EQ(CGLStandInLiveContextCount(), before + 1);
    ASSERT_EQ(SetCurrentContext(ctx), 0);
    EXPECT_EQ(GetCurrentContext(), ctx);

    GLint major = 0, minor = 0, profile = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    glGetIntegerv(GL_CONTEXT_PROFILE_MASK, &profile);
    EXPECT_GE(major * 10 + minor, 33);
    EXPECT_TRUE(profile & GL_CONTEXT_CORE_PROFILE_BIT);

    EXPECT_EQ(SetCurrentContext(nullptr), 0);
    EXPECT_EQ(GetCurrentContext(), nullptr);
    DeleteContext(ctx);
    // One release and one destroy balance the creation and the retain.
    EXPECT_EQ(CGLStandInLiveContextCount(), before);
}

TEST(GLContext, DeletingTheCurrentContextDetachesAndFreesIt) {
    const int before = CGLStandInLiveContextCount();
    CGLContextObj ctx = CreateContext(nullptr, nullptr);
    ASSERT_EQ(SetCurrentContext(ctx), 0);
    DeleteContext(ctx);
    EXPECT_EQ(GetCurrentContext(), nullptr);
    EXPECT_EQ(CGLStandInLiveContextCount(), before);
}

TEST(GLContext, NullHandlesDoNothingAndPrintNothing) {
    CGLContextObj ctx = CreateContext(nullptr, nullptr);
    ASSERT_EQ(SetCurrentContext(ctx), 0);

    testing::internal::CaptureStdout();
    EXPECT_FALSE(IsContextValid(nullptr));
    DeleteContext(nullptr);
    EXPECT_EQ(SetCurrentContext(nullptr), 0);
    EXPECT_EQ(GetCurrentContext(), nullptr);
    EXPECT_EQ(StopCapturingStdout(), "");

    DeleteContext(ctx);
}

TEST(GLContext, FailedCreationPrintsEachFailingStepAndReturnsNull) {
    // A profile no driver offers stands for a system without a usable core profile.
    CGLPixelFormatAttribute attributes[] = {kCGLPFAOpenGLProfile, CGLPixelFormatAttribute(0x7700),
                                            CGLPixelFormatAttribute(0)};
    const int before = CGLStandInLiveContextCount();
    testing::internal::CaptureStdout();
    CGLContextObj ctx = CreateContext(nullptr, attributes);
    EXPECT_EQ(StopCapturingStdout(), std::string("0 - ") + CGLErrorString(kCGLBadValue) + "\n0 - " +
                                         CGLErrorString(kCGLBadPixelFormat) + "\n");
    EXPECT_EQ(ctx, nullptr);
    EXPECT_FALSE(IsContextValid(ctx));
    EXPECT_EQ(CGLStandInLiveContextCount(), before);
}

TEST(GLContext, ContextCurrentOnAnotherThreadCannotBeMadeCurrentHere) {
    CGLContextObj ctx = CreateContext(nullptr, nullptr);
    ASSERT_EQ(SetCurrentContext(ctx), 0);
    int result = 0;
    std::string printed;
    std::thread other([&] {
        testing::internal::CaptureStdout();
        result = SetCurrentContext(ctx);
        printed = StopCapturingStdout();
        EXPECT_EQ(GetCurrentContext(), nullptr);
    });
    other.join();
    EXPECT_NE(result, 0);
    EXPECT_EQ(printed.rfind("Cannot Set CTX - ", 0), 0u) << printed;
    EXPECT_EQ(GetCurrentContext(), ctx);
    DeleteContext(ctx);
}

TEST(GLContext, SharedContextSeesTheObjectsOfItsShare) {
    CGLContextObj first = CreateContext(nullptr, nullptr);
    ASSERT_EQ(SetCurrentContext(first), 0);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glBindTexture(GL_TEXTURE_2D, 0);

    CGLContextObj second = CreateContext(first, nullptr);
    ASSERT_TRUE(IsContextValid(second));
    ASSERT_EQ(SetCurrentContext(second), 0);
    EXPECT_TRUE(glIsTexture(texture));

    CGLContextObj unshared = CreateContext(nullptr, nullptr);
    ASSERT_EQ(SetCurrentContext(unshared), 0);
    EXPECT_FALSE(glIsTexture(texture));

    DeleteContext(unshared);
    DeleteContext(second);
    DeleteContext(first);
}

// Every render thread makes, uses and deletes its own context while the others do the same, as render threads
// do: with their GL work kept apart and settled, which the software rasteriser needs to survive it.
TEST(GLContext, ThreadsCreateUseAndDeleteTheirOwnContextsAtOnce) {
    constexpr int kThreads = 6;
    const int before = CGLStandInLiveContextCount();
    std::atomic<int> ready{0};
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            CGLContextObj ctx = nullptr;
            {
                const GLWorkLock glWork = LockGLWork();
                ctx = CreateContext(nullptr, nullptr);
                if (!IsContextValid(ctx) || SetCurrentContext(ctx) != 0 || GetCurrentContext() != ctx) ++failures[t];
            }
            // Every context exists, and is current on its thread, before any of them draws.
            ++ready;
            while (ready.load() < kThreads) std::this_thread::yield();
            if (failures[t]) return;

            const GLWorkLock glWork = LockGLWork();
            PX_FBO2 target;
            if (target.CreateTextureFBO2(nullptr, 2, 2, GL_CLAMP_TO_EDGE, GL_RGB32F) != 0) ++failures[t];
            const float value = float(t + 1) / 8.f;
            glBindFramebuffer(GL_FRAMEBUFFER, target.m_FBO_ID);
            glClearColor(value, 0.f, 0.f, 1.f);
            glClear(GL_COLOR_BUFFER_BIT);
            SettleGLWork();
            float pixel[4] = {};
            glReadPixels(1, 1, 1, 1, GL_RGBA, GL_FLOAT, pixel);
            SettleGLWork();
            glBindFramebuffer(GL_FRAMEBUFFER, 0);
            if (pixel[0] != value) ++failures[t];
            if (GetCurrentContext() != ctx) ++failures[t];
            target.DeleteGenericFBO();
            DeleteContext(ctx);
            if (GetCurrentContext() != nullptr) ++failures[t];
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
    EXPECT_EQ(CGLStandInLiveContextCount(), before);
}

}  // namespace

// Mesa's software rasterisers read every context's scenes unlocked, and race with themselves, so GL work on
// them must not overlap and is settled; a GPU driver's need not wait, and a renderer not yet known is treated
// as one that needs it. Layered drivers name the device under them, anywhere in the name.
TEST(GLContext, OnlySoftwareOrUnknownRenderersKeepGLWorkFromOverlapping) {
    const struct {
        const char* renderer;
        bool locked;
    } cases[] = {
        {"llvmpipe (LLVM 15.0.6, 256 bits)", true},
        {"softpipe", true},
        {"Gallium 0.4 on llvmpipe (LLVM 3.4, 128 bits)", true},
        {"Gallium 0.4 on softpipe", true},
        {"zink Vulkan 1.3(llvmpipe (LLVM 15.0.6, 256 bits) (MESA_LLVMPIPE))", true},
        {"zink (lavapipe)", true},
        {"virgl (llvmpipe (LLVM 15.0.6, 256 bits))", true},
        {"Software Rasterizer", true},
        {"Mesa DRI swrast", true},
        {"LLVMPIPE (LLVM 17.0.6, 256 bits)", true},
        {"", true},
        {nullptr, true},
        {"NVIDIA H100 PCIe/PCIe/SSE2", false},
        {"AMD Radeon Graphics (radeonsi, navi21, LLVM 15.0.6, DRM 3.49)", false},
        {"Mesa Intel(R) UHD Graphics 630 (CFL GT2)", false},
        {"zink Vulkan 1.3(NVIDIA GeForce RTX 3080 (NVIDIA_PROPRIETARY))", false},
        {"virgl (NVIDIA GeForce RTX 3080/PCIe/SSE2)", false},
        {"SVGA3D; build: RELEASE;  LLVM;", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RendererNeedsGLWorkLock(c.renderer), c.locked) << (c.renderer ? c.renderer : "(null)");
    }

    // The lock LockGLWork hands out, and the settling, follow the renderer last noted; the process's own
    // renderer is noted again afterwards, so the tests after this one run as the effect would.
    const bool keptApart = GLWorkKeptApart();
    NoteGLRenderer("zink Vulkan 1.3(llvmpipe (LLVM 15.0.6, 256 bits) (MESA_LLVMPIPE))");
    EXPECT_TRUE(GLWorkKeptApart());
    EXPECT_TRUE(LockGLWork().owns_lock());
    NoteGLRenderer("NVIDIA H100 PCIe/PCIe/SSE2");
    EXPECT_FALSE(GLWorkKeptApart());
    EXPECT_FALSE(LockGLWork().owns_lock());
    NoteGLRenderer(keptApart ? "" : "NVIDIA H100 PCIe/PCIe/SSE2");
    EXPECT_EQ(GLWorkKeptApart(), keptApart);
}

// Around a call into the host a render thread lets go of the lock, so another thread's GL work can go on; a
// thread that holds nothing lets go of nothing. The wait is bounded, so a pause that kept the lock fails here
// instead of hanging the suite.
TEST(GLContext, PausedGLWorkLetsAnotherThreadTakeTheLock) {
    const bool keptApart = GLWorkKeptApart();
    NoteGLRenderer("llvmpipe (LLVM 15.0.6, 256 bits)");
    auto otherThreadTakesTheLock = [] {
        return std::async(std::launch::async, [] { return LockGLWork().owns_lock(); });
    };
    {
        const GLWorkPause unheld;  // nothing to let go of
        std::future<bool> other = otherThreadTakesTheLock();
        ASSERT_EQ(other.wait_for(std::chrono::seconds(60)), std::future_status::ready);
        EXPECT_TRUE(other.get());
    }
    std::future<bool> other;
    {
        const GLWorkLock held = LockGLWork();
        ASSERT_TRUE(held.owns_lock());
        const GLWorkPause pause;
        other = otherThreadTakesTheLock();
        EXPECT_EQ(other.wait_for(std::chrono::seconds(60)), std::future_status::ready)
            << "the pause kept the GL work lock";
    }
    EXPECT_TRUE(other.get());
    NoteGLRenderer(keptApart ? "" : "NVIDIA H100 PCIe/PCIe/SSE2");
}
