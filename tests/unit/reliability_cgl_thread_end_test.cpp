// A thread that ends while another thread-local object still uses the CGL stand-in from its destructor, as the
// effect's per-thread render record does: whichever of the two a thread used first, the context that
// destructor makes current must work, and every context must be destroyed once the thread is gone.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/CaseNames.h"
#include "CGL.h"
#include "CGLStandIn.h"
#include "gl/GLHeaders.h"

namespace {

CGLContextObj NewCoreContext() {
    const CGLPixelFormatAttribute attributes[] = {kCGLPFAOpenGLProfile,
                                                  CGLPixelFormatAttribute(kCGLOGLPVersion_3_2_Core),
                                                  CGLPixelFormatAttribute(0)};
    CGLPixelFormatObj pix = nullptr;
    GLint screens = 0;
    if (CGLChoosePixelFormat(attributes, &pix, &screens) != kCGLNoError) return nullptr;
    CGLContextObj ctx = nullptr;
    CGLCreateContext(pix, nullptr, &ctx);
    CGLDestroyPixelFormat(pix);
    return ctx;
}

// What the late destructor saw, read by the test once the thread has been joined.
std::atomic<bool> gMadeCurrent{false};
std::atomic<bool> gUsed{false};

// A per-thread record in the effect's manner: at the thread's end it makes its context current, uses it, and
// then either lets go of it or leaves it current (a thread's end must still free it).
struct LateUser {
    CGLContextObj ctx = nullptr;
    bool leaveCurrent = false;
    ~LateUser() {
        if (!ctx) return;
        gMadeCurrent = CGLSetCurrentContext(ctx) == kCGLNoError && CGLGetCurrentContext() == ctx;
        // No default framebuffer without a surface: state calls and queries are what a teardown makes.
        glClearColor(0.f, 0.f, 0.f, 0.f);
        gUsed = glGetString(GL_VERSION) != nullptr && glGetError() == GL_NO_ERROR;
        if (!leaveCurrent) CGLSetCurrentContext(nullptr);
        CGLDestroyContext(ctx);  // its own reference; being current may still hold one
    }
};
thread_local LateUser lateUser;

struct OrderCase {
    const char* what;
    bool standInFirst;  // the stand-in's per-thread state was touched before the late user was
    bool leaveCurrent;
};

void PrintTo(const OrderCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

class ThreadEndOrder : public testing::TestWithParam<OrderCase> {};

TEST_P(ThreadEndOrder, LateDestructorStillWorksAndNothingLeaks) {
    const OrderCase& c = GetParam();
    gMadeCurrent = false;
    gUsed = false;
    const int before = CGLStandInLiveContextCount();
    std::thread worker([&c] {
        CGLContextObj warmUp = NewCoreContext();
        if (c.standInFirst) {
            CGLSetCurrentContext(warmUp);
            CGLSetCurrentContext(nullptr);
        }
        lateUser.ctx = NewCoreContext();
        lateUser.leaveCurrent = c.leaveCurrent;
        if (!c.standInFirst) {
            CGLSetCurrentContext(warmUp);
            CGLSetCurrentContext(nullptr);
        }
        CGLDestroyContext(warmUp);
    });
    worker.join();
    EXPECT_TRUE(gMadeCurrent) << c.what;
    EXPECT_TRUE(gUsed) << c.what;
    EXPECT_EQ(CGLStandInLiveContextCount(), before) << c.what << ": a context outlived its thread";
}

INSTANTIATE_TEST_SUITE_P(
    Orders, ThreadEndOrder,
    testing::Values(OrderCase{"stand-in first, released", true, false},
                    OrderCase{"stand-in first, left current", true, true},
                    OrderCase{"late user first, released", false, false},
                    OrderCase{"late user first, left current", false, true}),
    velloran_test::NameFromWhat<OrderCase>);

}  // namespace
