// The CGL-shaped stand-in over EGL: pixel-format attributes, the reference count, and the reference that
// being current holds.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "CGL.h"
#include "CGLStandIn.h"
#include "gl/GLHeaders.h"

namespace {

using A = CGLPixelFormatAttribute;

struct FormatCase {
    const char* what;
    std::vector<A> attributes;
    CGLError expected;
};

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
    [](const testing::TestParamInfo<FormatCase>& info) {
        std::string name = info.param.what;
        for (char& ch : name) if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

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

}  // namespace
