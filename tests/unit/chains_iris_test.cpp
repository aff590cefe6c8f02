// The "Lens Iris" chain: its buffer plan by table, and the calls the blur library receives in whole frames
// through the simulated host (the effect's own objects render here, with the library's three per-iteration
// calls watched through the chain's seam).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "gl/GLHeaders.h"
#include "render/LensIrisChain.h"
#include "render/PreRender.h"
#include "render/SmartRender.h"
#include "sdk/AEGP_Suites.h"
#include "simhost/Composition.h"
#include "simhost/ParamStore.h"
#include "simhost/RenderThreads.h"
#include "simhost/SmartRender.h"
#include "simhost/WorldSuites.h"
#include "support/CaseNames.h"
#include "support/RenderThreadFixture.h"

namespace {

using ::testing::ElementsAreArray;

struct PlanCase {
    const char* what;
    int W, H, iterations, quality;
    std::vector<int> bufIdx;
    std::vector<std::pair<int, int>> buffers;  // width, height of each buffer made
};

const PlanCase kPlans[] = {
    {"1920x1080 Medium", 1920, 1080, 10, 3, {1, 1, 1, 1, 2, 2, 2, 2, 3, 3},
     {{1920, 1080}, {960, 540}, {480, 270}, {240, 135}}},
    {"1920x1080 Draft", 1920, 1080, 10, 1, {2, 2, 3, 3, 4, 4, 4, 4, 4, 4},
     {{1920, 1080}, {960, 540}, {480, 270}, {240, 135}, {120, 68}}},
    {"1920x1080 Low", 1920, 1080, 10, 2, {1, 1, 1, 2, 2, 2, 3, 3, 3, 4},
     {{1920, 1080}, {960, 540}, {480, 270}, {240, 135}, {120, 68}}},
    // Buffer 1 is made (and downsampled) though no iteration uses it.
    {"Extreme, 20 iterations", 1920, 1080, 20, 6, std::vector<int>(20, 0), {{1920, 1080}, {960, 540}}},
    {"50x1000: one halving is too many", 50, 1000, 10, 3, std::vector<int>(10, 0), {{50, 1000}}},
    {"one iteration: as many buffers as iterations", 1920, 1080, 1, 3, {0}, {{1920, 1080}}},
    {"Draft, two iterations", 1920, 1080, 2, 1, {1, 1}, {{1920, 1080}, {960, 540}}},
    {"odd sizes round up", 201, 101, 3, 4, {0, 0, 0}, {{201, 101}, {101, 51}}},
    {"quality outside the table", 640, 640, 6, 7, {0, 1, 2, 3, 4, 4},
     {{640, 640}, {320, 320}, {160, 160}, {80, 80}, {40, 40}}},
    // Shorter sides under 40 pixels allow no halving, under 20 not even log2 of the quotient: one buffer.
    {"shorter side 39", 39, 500, 10, 1, std::vector<int>(10, 0), {{39, 500}}},
    {"shorter side 19", 500, 19, 4, 1, {0, 0, 0, 0}, {{500, 19}}},
    {"1 by 1", 1, 1, 3, 3, {0, 0, 0}, {{1, 1}}},
    {"no iterations counts as one", 1920, 1080, 0, 3, {0}, {{1920, 1080}}},
};

void PrintTo(const PlanCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

class IrisBufferPlanTable : public ::testing::TestWithParam<PlanCase> {};

TEST_P(IrisBufferPlanTable, IndicesAndBufferSizes) {
    const PlanCase& c = GetParam();
    const IrisBufferPlan plan = PlanIrisBuffers(c.W, c.H, c.iterations, c.quality);
    EXPECT_THAT(plan.bufIdx, ElementsAreArray(c.bufIdx));
    std::vector<std::pair<int, int>> sizes;
    for (const bloomMip& b : plan.buffers) sizes.emplace_back(b.width, b.height);
    EXPECT_THAT(sizes, ElementsAreArray(c.buffers));
    for (size_t k = 0; k < plan.buffers.size(); ++k) EXPECT_EQ(plan.buffers[k].scale, std::ldexp(1.0f, -int(k)));
}

INSTANTIATE_TEST_SUITE_P(Cases, IrisBufferPlanTable, ::testing::ValuesIn(kPlans), velloran_test::NameFromWhat<PlanCase>);

// ---- The calls of whole frames ----

struct GLSize {
    GLint width = 0, height = 0;
};
// The colour texture size of a framebuffer, leaving the bindings as they were.
GLSize FramebufferSize(unsigned int framebuffer) {
    GLint previous = 0, texture = 0, previousTexture = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previous);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previousTexture);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME,
                                          &texture);
    GLSize size;
    glBindTexture(GL_TEXTURE_2D, GLuint(texture));
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &size.width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &size.height);
    glBindTexture(GL_TEXTURE_2D, GLuint(previousTexture));
    glBindFramebuffer(GL_FRAMEBUFFER, GLuint(previous));
    return size;
}

struct CacheCall {
    int bitDepthHint, reservedA, reservedB, capacity;
    bool irisHasPixels;
    A_long irisWidth, irisHeight;
    const void* irisData;
    int width, height;
    GLSize source;
    void* cache;
    PF_PixelFloat irisCorner;  // the iris world's top-left pixel as the library receives it (float frames)
};
struct BlurCall {
    void* cache;
    int samplingLevel;
    int width, height;
    float radius;
    GLSize destination;
};
std::vector<CacheCall> gCaches;
std::vector<BlurCall> gBlurs;
std::vector<void*> gDisposals;
bool gFailCaches = false;
char gFakeCache;  // what the watched calls hand out as a cache: the convolution itself is not run

void* WatchedCreateCache(PF_InData*, void*, int bit_depth_hint, PF_EffectWorld* iris, int reserved_a, int reserved_b,
                         unsigned int source, int width, int height, char* error_buffer, int error_capacity) {
    CacheCall call{bit_depth_hint, reserved_a, reserved_b, error_capacity, iris && iris->data,
                   iris ? iris->width : 0, iris ? iris->height : 0, iris ? iris->data : nullptr,
                   width, height, FramebufferSize(source), nullptr, PF_PixelFloat{}};
    if (iris && iris->data) call.irisCorner = *static_cast<const PF_PixelFloat*>(iris->data);
    if (gFailCaches) {
        std::strcpy(error_buffer, "no cache today");
    } else {
        call.cache = &gFakeCache;
    }
    gCaches.push_back(call);
    return call.cache;
}
void WatchedBlur(void* cache, int sampling_level, unsigned int destination, int width, int height, float radius) {
    gBlurs.push_back({cache, sampling_level, width, height, radius, FramebufferSize(destination)});
}
void WatchedDispose(void* cache) { gDisposals.push_back(cache); }

simhost::SimWorld Grey(A_long w, A_long h, float v) {
    simhost::SimWorld world(w, h, simhost::PixelDepth::k32f);
    for (A_long y = 0; y < h; ++y)
        for (A_long x = 0; x < w; ++x) world.SetFloat(x, y, {1, v, v, v});
    return world;
}

class IrisCallsThroughHost : public testsupport::RenderThreadTest {
protected:
    void SetUp() override {
        gCaches.clear();
        gBlurs.clear();
        gDisposals.clear();
        gFailCaches = false;
        IrisBlurCallsForTesting() = {WatchedCreateCache, WatchedBlur, WatchedDispose};
        RenderThreadTest::SetUp();
        if (HasFatalFailure()) return;
        Set(17, 2);   // "Lens Iris"
        Set(19, 10);  // Radius
        Set(46, 0);   // "Radii Easing" 0: the radii rise evenly to the Radius
        Set(44, 2);   // "Iris Sampling Quality" "Modest": sampling level 4
        simhost::Composition& comp = simhost::Comp(host());
        comp.SetInputLayer(comp.AddLayer(Grey(100, 60, 0.5f), 0, 0));
        iris_ = comp.AddLayer(Grey(9, 7, 1.0f), 0, 0);
        comp.SetLayerParam(39, iris_);
    }
    void TearDown() override {
        RenderThreadTest::TearDown();
        IrisBlurCallsForTesting() = DefaultIrisBlurCalls();
    }

    simhost::FrameResult Frame() {
        simhost::FrameRequest request;
        request.bitdepth = 32;
        simhost::FrameResult r = RunEffectFrame(request);
        EXPECT_TRUE(r.Clean()) << r.Problems();
        EXPECT_EQ(r.render.err, PF_Err_NONE) << r.render.return_msg;
        return r;
    }

    simhost::LayerId iris_ = 0;
};

struct IrisBuffer {
    int width, height;
    float scale;
};
std::vector<IrisBuffer> Repeat(int times, IrisBuffer buffer) { return std::vector<IrisBuffer>(size_t(times), buffer); }
std::vector<IrisBuffer> Join(std::vector<IrisBuffer> a, const std::vector<IrisBuffer>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(IrisCallsThroughHost, EachIterationConvolvesItsBufferAtItsRadius) {
    // The 100 x 60 input grows by the iris reach: Radius 10 and the pad across, 10 / (9 / 7) and the pad down,
    // rounded up. The pyramid may halve floor(log2(shorter side / 20)) times, at most once per iteration.
    struct Case {
        int quality, iterations;
        int outputWidth, outputHeight;
        std::vector<IrisBuffer> perIteration;  // the buffer each iteration convolves
    };
    const Case cases[] = {
        // Draft, pad 250: 620 x 576; 4 halvings allowed, so buffers 2, 2, then 3 from the third on.
        {1, 10, 620, 576, Join(Repeat(2, {155, 144, 0.25f}), Repeat(8, {78, 72, 0.125f}))},
        // Medium, pad 150: 420 x 376; 4 halvings; buffers 1 for four iterations, 2 for four, then 3.
        {3, 10, 420, 376,
         Join(Join(Repeat(4, {210, 188, 0.5f}), Repeat(4, {105, 94, 0.25f})), Repeat(2, {53, 47, 0.125f}))},
        // Extreme, pad 25: 170 x 126; every iteration at full size.
        {6, 20, 170, 126, Repeat(20, {170, 126, 1.0f})},
        // One iteration allows no halving.
        {3, 1, 420, 376, Repeat(1, {420, 376, 1.0f})},
        // Two iterations allow one: Draft's offset of two is held to buffer 1.
        {1, 2, 620, 576, Repeat(2, {310, 288, 0.5f})},
    };
    for (const Case& c : cases) {
        gCaches.clear();
        gBlurs.clear();
        gDisposals.clear();
        Set(101, c.quality);
        Set(45, c.iterations);
        const simhost::FrameResult r = Frame();
        const std::string what = "quality " + std::to_string(c.quality) + ", " + std::to_string(c.iterations) +
                                 " iterations";
        ASSERT_EQ(r.output.width(), c.outputWidth) << what;
        ASSERT_EQ(r.output.height(), c.outputHeight) << what;
        ASSERT_EQ(gCaches.size(), size_t(c.iterations)) << what;
        ASSERT_EQ(gBlurs.size(), size_t(c.iterations)) << what;
        ASSERT_EQ(gDisposals.size(), size_t(c.iterations)) << what;
        ASSERT_EQ(c.perIteration.size(), size_t(c.iterations)) << what;
        for (int i = 0; i < c.iterations; ++i) {
            const IrisBuffer& buffer = c.perIteration[size_t(i)];
            const CacheCall& cache = gCaches[size_t(i)];
            const BlurCall& blur = gBlurs[size_t(i)];
            const std::string at = what + ", iteration " + std::to_string(i);
            EXPECT_EQ(cache.bitDepthHint, 8) << at;
            EXPECT_EQ(cache.reservedA, 50) << at;
            EXPECT_EQ(cache.reservedB, 1) << at;
            EXPECT_EQ(cache.capacity, 1023) << at;
            EXPECT_TRUE(cache.irisHasPixels) << at;
            EXPECT_EQ(cache.irisWidth, 9) << at;
            EXPECT_EQ(cache.width, buffer.width) << at;
            EXPECT_EQ(cache.height, buffer.height) << at;
            EXPECT_EQ(cache.source.width, buffer.width) << at << ": the framebuffer handed over has the buffer's size";
            EXPECT_EQ(cache.source.height, buffer.height) << at;
            EXPECT_EQ(blur.cache, cache.cache) << at;
            EXPECT_EQ(gDisposals[size_t(i)], cache.cache) << at;
            EXPECT_EQ(blur.samplingLevel, 4) << at;
            EXPECT_EQ(blur.width, buffer.width) << at;
            EXPECT_EQ(blur.destination.width, buffer.width) << at << ": the level target has its buffer's size";
            EXPECT_EQ(blur.destination.height, buffer.height) << at;
            // Radius 10 over n iterations rises evenly: 10 (i + 1) / n, then scaled to the buffer.
            EXPECT_FLOAT_EQ(blur.radius, 10.0f * float(i + 1) / float(c.iterations) * buffer.scale) << at;
        }
    }
}

TEST_F(IrisCallsThroughHost, GlowInputViewCallsNothing) {
    Set(110, 2);  // "Glow Input"
    Frame();
    EXPECT_TRUE(gCaches.empty());
    EXPECT_TRUE(gBlurs.empty());
}

TEST_F(IrisCallsThroughHost, GammaWorldReplacesTheIrisLayerOnlyWhenItHasPixels) {
    Set(45, 2);
    Set(53, 0);   // "Auto Detect Gamma" off
    struct Case {
        const char* what;
        double gammaPercent;
        bool failAllocation;
        bool gammaWorld;  // handed to the library, the layer checked in early
    };
    const Case cases[] = {{"gamma on", 100, false, true},
                          {"gamma off", 0, false, false},
                          {"gamma world not allocated", 100, true, false}};
    // A grey iris, so that the power shows in the values the library receives.
    simhost::Composition& comp = simhost::Comp(host());
    comp.SetLayerParam(39, comp.AddLayer(Grey(9, 7, 0.5f), 0, 0));
    for (const Case& c : cases) {
        gCaches.clear();
        Set(54, c.gammaPercent);
        if (c.failAllocation) host().Faults().FailCall("PF_NewWorld", 1);
        const simhost::FrameResult r = Frame();
        host().Faults().Clear();
        ASSERT_EQ(gCaches.size(), 2u) << c.what;
        const bool irisCheckedIn =
            std::find(r.effectCheckins.begin(), r.effectCheckins.end(), A_long(kCheckoutIris)) != r.effectCheckins.end();
        EXPECT_EQ(irisCheckedIn, c.gammaWorld) << c.what;
        for (const CacheCall& call : gCaches) {
            EXPECT_TRUE(call.irisHasPixels) << c.what << ": a world without pixels reached the library";
            EXPECT_EQ(call.irisWidth, 9) << c.what;
            EXPECT_EQ(call.irisHeight, 7) << c.what;
            // Gamma 100 % is 2.2: the iris is raised to it, 0.5^2.2 = 0.217638; alpha stays.
            const float grey = c.gammaWorld ? 0.217638f : 0.5f;
            EXPECT_NEAR(call.irisCorner.red, grey, 1e-5) << c.what;
            EXPECT_NEAR(call.irisCorner.green, grey, 1e-5) << c.what;
            EXPECT_NEAR(call.irisCorner.blue, grey, 1e-5) << c.what;
            EXPECT_EQ(call.irisCorner.alpha, 1.0f) << c.what;
        }
        if (c.failAllocation) {
            EXPECT_THAT(Log(), ::testing::HasSubstr("error on allocating iris_gamma_world of dims 9, 7, err code of "));
        }
    }
}

TEST_F(IrisCallsThroughHost, MissingCacheIsReportedWithoutTheDisplayFlagAndTheFrameGoesOn) {
    Set(45, 3);
    gFailCaches = true;
    const simhost::FrameResult r = Frame();
    EXPECT_EQ(r.render.return_msg, "Error: no cache today\n");
    EXPECT_EQ(r.render.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE, 0u);
    ASSERT_EQ(gBlurs.size(), 3u) << "the blur and the disposal still follow with the null cache";
    EXPECT_EQ(gBlurs[0].cache, nullptr);
    EXPECT_THAT(gDisposals, ElementsAreArray(std::vector<void*>(3, nullptr)));
}

}  // namespace
