// The CGL-shaped stand-in over EGL: pixel-format attributes, the reference count, and the reference that
// being current holds.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "CGL.h"
#include "CGLStandIn.h"
#include "DisplayChoice.h"
#include "gl/GLHeaders.h"
#include "support/CaseNames.h"
#include "support/HostEglContext.h"

namespace {

using A = CGLPixelFormatAttribute;

struct FormatCase {
    const char* what;
    std::vector<A> attributes;
    CGLError expected;
};
void PrintTo(const FormatCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

class CGLChoosePixelFormatCases : public testing::TestWithParam<FormatCase> {};

TEST_P(CGLChoosePixelFormatCases, ChoosesOrRefuses) {
    const FormatCase& c = GetParam();
    CGLPixelFormatObj pix = reinterpret_cast<CGLPixelFormatObj>(1);
    GLint screens = -1;
    EXPECT_EQ(CGLChoosePixelFormat(c.attributes.data(), &pix, &screens), c.expected);
    EXPECT_EQ(screens, c.expected == kCGLNoError ? 1 : 0);
    EXPECT_EQ(pix != nullptr, c.expected == kCGLNoError);
    if (pix) {
        EXPECT_EQ(CGLDestroyPixelFormat(pix), kCGLNoError);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Attributes, CGLChoosePixelFormatCases,
    testing::Values(
        FormatCase{"core 3.2", {kCGLPFAOpenGLProfile, A(kCGLOGLPVersion_3_2_Core), A(0)}, kCGLNoError},
        FormatCase{"legacy", {kCGLPFAOpenGLProfile, A(kCGLOGLPVersion_Legacy), A(0)}, kCGLNoError},
        FormatCase{"empty list", {A(0)}, kCGLNoError},
        // A value of 0 belongs to its attribute; the profile after it must still be read.
        FormatCase{"zero value", {kCGLPFADepthSize, A(0), kCGLPFAOpenGLProfile, A(0x7700), A(0)}, kCGLBadValue},
        FormatCase{"booleans", {kCGLPFAAccelerated, kCGLPFADoubleBuffer, kCGLPFANoRecovery, A(0)}, kCGLNoError},
        FormatCase{"unknown attribute", {A(4242), A(0)}, kCGLBadAttribute},
        FormatCase{"unknown profile", {kCGLPFAOpenGLProfile, A(0x7700), A(0)}, kCGLBadValue}),
    velloran_test::NameFromWhat<FormatCase>);

CGLContextObj NewContext(CGLOpenGLProfile profile = kCGLOGLPVersion_3_2_Core) {
    const A attributes[] = {kCGLPFAOpenGLProfile, A(profile), A(0)};
    CGLPixelFormatObj pix = nullptr;
    GLint screens = 0;
    EXPECT_EQ(CGLChoosePixelFormat(attributes, &pix, &screens), kCGLNoError);
    CGLContextObj ctx = nullptr;
    EXPECT_EQ(CGLCreateContext(pix, nullptr, &ctx), kCGLNoError);
    CGLDestroyPixelFormat(pix);
    return ctx;
}

TEST(CGLStandIn, NullArgumentsAreRefused) {
    CGLContextObj ctx = reinterpret_cast<CGLContextObj>(1);
    EXPECT_EQ(CGLCreateContext(nullptr, nullptr, &ctx), kCGLBadPixelFormat);
    EXPECT_EQ(ctx, nullptr);
    GLint screens = 0;
    EXPECT_EQ(CGLChoosePixelFormat(nullptr, nullptr, &screens), kCGLBadAddress);
    EXPECT_EQ(CGLRetainContext(nullptr), nullptr);
    CGLReleaseContext(nullptr);
    EXPECT_EQ(CGLDestroyContext(nullptr), kCGLBadContext);
}

TEST(CGLStandIn, LastReleaseDestroys) {
    const int before = CGLStandInLiveContextCount();
    CGLContextObj ctx = NewContext();
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(CGLRetainContext(ctx), ctx);
    CGLReleaseContext(ctx);
    EXPECT_EQ(CGLStandInLiveContextCount(), before + 1);
    EXPECT_EQ(CGLDestroyContext(ctx), kCGLNoError);
    EXPECT_EQ(CGLStandInLiveContextCount(), before);
}

TEST(CGLStandIn, BeingCurrentKeepsAContextAlive) {
    const int before = CGLStandInLiveContextCount();
    CGLContextObj ctx = NewContext();
    ASSERT_EQ(CGLSetCurrentContext(ctx), kCGLNoError);
    CGLReleaseContext(ctx);
    // Still usable: the current binding holds its own reference.
    EXPECT_EQ(CGLStandInLiveContextCount(), before + 1);
    EXPECT_EQ(CGLGetCurrentContext(), ctx);
    glClearColor(0.f, 0.f, 0.f, 0.f);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    // Making it current again must not drop the last reference on the way.
    ASSERT_EQ(CGLSetCurrentContext(ctx), kCGLNoError);
    EXPECT_EQ(CGLStandInLiveContextCount(), before + 1);
    ASSERT_EQ(CGLSetCurrentContext(nullptr), kCGLNoError);
    EXPECT_EQ(CGLStandInLiveContextCount(), before);
}

TEST(CGLStandIn, ThreadEndingWithAContextCurrentGivesItUp) {
    const int before = CGLStandInLiveContextCount();
    std::thread worker([] {
        CGLContextObj ctx = NewContext();
        ASSERT_EQ(CGLSetCurrentContext(ctx), kCGLNoError);
        CGLReleaseContext(ctx);
    });
    worker.join();
    EXPECT_EQ(CGLStandInLiveContextCount(), before);
}

TEST(CGLStandIn, LegacyProfileIsACompatibilityContext) {
    CGLContextObj ctx = NewContext(kCGLOGLPVersion_Legacy);
    ASSERT_EQ(CGLSetCurrentContext(ctx), kCGLNoError);
    GLint profile = 0;
    glGetIntegerv(GL_CONTEXT_PROFILE_MASK, &profile);
    EXPECT_FALSE(profile & GL_CONTEXT_CORE_PROFILE_BIT);
    CGLSetCurrentContext(nullptr);
    CGLDestroyContext(ctx);
}

// Which display the stand-in settles on, given the devices EGL lists (true: Mesa's software device) and the
// step at which candidates fail: a candidate opens only when its display initialises, an OpenGL config is
// chosen and a 3.2 core context is made on it.
using DC = cgl_stand_in::DisplayCandidate;
enum class Step { Initialise, ChooseConfig, MakeContext };

struct StepFailure {
    DC candidate;
    Step step;
};

struct DisplayCase {
    const char* what;
    std::vector<bool> softwareDevices;
    std::vector<StepFailure> failing;
    bool opens;
    DC expected;
};
void PrintTo(const DisplayCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

class DisplayChoiceCases : public testing::TestWithParam<DisplayCase> {};

TEST_P(DisplayChoiceCases, TakesTheFirstCandidateThatGivesAContext) {
    const DisplayCase& c = GetParam();
    std::vector<cgl_stand_in::DeviceDescription> devices;
    for (bool software : c.softwareDevices) devices.push_back({software});
    std::vector<StepFailure> tried;  // every step run, in order
    auto step = [&](Step which) {
        return [&c, &tried, which](const DC& candidate) {
            tried.push_back({candidate, which});
            for (const StepFailure& f : c.failing)
                if (f.candidate == candidate && f.step == which) return false;
            return true;
        };
    };
    const cgl_stand_in::OpeningSteps steps{step(Step::Initialise), step(Step::ChooseConfig), step(Step::MakeContext)};
    DC chosen{DC::Device, -7};
    const bool opened = cgl_stand_in::FirstThatOpens(cgl_stand_in::DisplayOrder(devices), steps, &chosen);
    ASSERT_EQ(opened, c.opens);
    ASSERT_FALSE(tried.empty());
    if (c.opens) {
        EXPECT_TRUE(chosen == c.expected) << "kind " << chosen.kind << " device " << chosen.device;
        // Nothing after the one that opened is tried: each try initialises a display for good.
        EXPECT_TRUE(tried.back().candidate == chosen && tried.back().step == Step::MakeContext);
    }
    // A candidate's steps run in order, each only after the one before it succeeded.
    for (std::size_t i = 0; i < tried.size(); ++i) {
        const bool firstOfCandidate = i == 0 || !(tried[i - 1].candidate == tried[i].candidate);
        EXPECT_EQ(firstOfCandidate, tried[i].step == Step::Initialise) << "step " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Devices, DisplayChoiceCases,
    testing::Values(
        DisplayCase{"software listed first then GPU", {true, false}, {}, true, {DC::Device, 1}},
        DisplayCase{"GPU then software", {false, true}, {}, true, {DC::Device, 0}},
        DisplayCase{"software only", {true}, {}, true, {DC::Surfaceless, -1}},
        DisplayCase{"software only without surfaceless",
                    {true}, {{{DC::Surfaceless, -1}, Step::Initialise}}, true, {DC::Device, 0}},
        DisplayCase{"no devices", {}, {}, true, {DC::Surfaceless, -1}},
        DisplayCase{"first GPU does not initialise",
                    {false, true, false}, {{{DC::Device, 0}, Step::Initialise}}, true, {DC::Device, 2}},
        DisplayCase{"first GPU has no OpenGL config",
                    {false, true, false}, {{{DC::Device, 0}, Step::ChooseConfig}}, true, {DC::Device, 2}},
        DisplayCase{"first GPU makes no core context",
                    {false, true, false}, {{{DC::Device, 0}, Step::MakeContext}}, true, {DC::Device, 2}},
        DisplayCase{"every GPU fails at its own step",
                    {false, false, true},
                    {{{DC::Device, 0}, Step::Initialise}, {{DC::Device, 1}, Step::MakeContext}},
                    true, {DC::Surfaceless, -1}},
        DisplayCase{"GPU and surfaceless fail after initialising",
                    {false, true},
                    {{{DC::Device, 0}, Step::MakeContext}, {{DC::Surfaceless, -1}, Step::ChooseConfig}},
                    true, {DC::Device, 1}},
        DisplayCase{"nothing opens",
                    {false, true},
                    {{{DC::Device, 0}, Step::ChooseConfig},
                     {{DC::Surfaceless, -1}, Step::Initialise},
                     {{DC::Device, 1}, Step::MakeContext}},
                    false, {}}),
    velloran_test::NameFromWhat<DisplayCase>);

// Contexts made beside the stand-in, by a host or by the tests, go on the display its own contexts use.
TEST(CGLStandIn, DisplayIsTheOneItsContextsAreMadeOn) {
    ASSERT_NE(CGLStandInDisplay(), static_cast<void*>(EGL_NO_DISPLAY));
    CGLContextObj ctx = NewContext();
    ASSERT_EQ(CGLSetCurrentContext(ctx), kCGLNoError);
    EXPECT_EQ(eglGetCurrentDisplay(), static_cast<EGLDisplay>(CGLStandInDisplay()));
    CGLSetCurrentContext(nullptr);
    CGLDestroyContext(ctx);
}

TEST(CGLStandIn, RendererAndLargestTextureAreTheOnesItsContextsGet) {
    const std::string reported = CGLStandInRenderer();
    ASSERT_FALSE(reported.empty());
    CGLContextObj ctx = NewContext();
    ASSERT_EQ(CGLSetCurrentContext(ctx), kCGLNoError);
    EXPECT_EQ(reported, reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    EXPECT_EQ(std::string(CGLStandInVersion()), reinterpret_cast<const char*>(glGetString(GL_VERSION)));
    EXPECT_STREQ(CGLStandInContextFailure(), "");
    GLint largest = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
    EXPECT_EQ(CGLStandInMaxTextureSize(), largest);
    EXPECT_GT(largest, 0);
    EXPECT_EQ(CGLGetCurrentContext(), ctx);
    // Asking again from a thread with a context of ours current leaves that one current.
    EXPECT_EQ(std::string(CGLStandInRenderer()), reported);
    EXPECT_EQ(CGLGetCurrentContext(), ctx);
    CGLSetCurrentContext(nullptr);
    CGLDestroyContext(ctx);
}

// A host's own EGL context, made outside the stand-in, and the client API its thread has bound: creating a
// context of ours, using it and letting go of it leaves both as the host had them.
struct HostApiCase {
    const char* what;
    EGLenum api;
};
void PrintTo(const HostApiCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

class HostContextKept : public testing::TestWithParam<HostApiCase> {};

TEST_P(HostContextKept, AfterOurContextIsLetGo) {
    testsupport::HostEglContext host(GetParam().api);
    ASSERT_TRUE(host.made());
    CGLContextObj ctx = NewContext();
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(eglQueryAPI(), GetParam().api) << "creating a context switched the thread's API";
    EXPECT_EQ(eglGetCurrentContext(), host.context());

    ASSERT_EQ(CGLSetCurrentContext(ctx), kCGLNoError);
    EXPECT_EQ(eglQueryAPI(), EGLenum(EGL_OPENGL_API));
    GLint profile = 0;
    glGetIntegerv(GL_CONTEXT_PROFILE_MASK, &profile);
    EXPECT_TRUE(profile & GL_CONTEXT_CORE_PROFILE_BIT) << "ours is current while in use";
    ASSERT_EQ(CGLSetCurrentContext(ctx), kCGLNoError);  // again, as each render does

    ASSERT_EQ(CGLSetCurrentContext(nullptr), kCGLNoError);
    EXPECT_EQ(eglGetCurrentContext(), host.context());
    EXPECT_EQ(eglQueryAPI(), GetParam().api);
    EXPECT_EQ(CGLGetCurrentContext(), nullptr);
    // With nothing of ours current, letting go again leaves the host's context alone.
    ASSERT_EQ(CGLSetCurrentContext(nullptr), kCGLNoError);
    EXPECT_EQ(eglGetCurrentContext(), host.context());
    CGLDestroyContext(ctx);
}

TEST(CGLStandIn, BoundAPIOfAThreadWithoutAContextIsKept) {
    ASSERT_TRUE(eglBindAPI(EGL_OPENGL_ES_API));
    CGLContextObj ctx = NewContext();
    ASSERT_EQ(CGLSetCurrentContext(ctx), kCGLNoError);
    ASSERT_EQ(CGLSetCurrentContext(nullptr), kCGLNoError);
    EXPECT_EQ(eglQueryAPI(), EGLenum(EGL_OPENGL_ES_API));
    EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);
    CGLDestroyContext(ctx);
    eglBindAPI(EGL_OPENGL_API);
}

INSTANTIATE_TEST_SUITE_P(Api, HostContextKept,
                         testing::Values(HostApiCase{"OpenGLES", EGLenum(EGL_OPENGL_ES_API)},
                                         HostApiCase{"OpenGL", EGLenum(EGL_OPENGL_API)}),
                         velloran_test::NameFromWhat<HostApiCase>);

}  // namespace
