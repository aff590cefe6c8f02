// The iris-blur library on real GL contexts: the convolution against a direct sum, a coloured iris's weights, the
// scaled iris the same way up as the image from one bright point, flat fields, kept energy, the small-radius copy,
// the failure reasons, concurrent threads (the convolution at once, the GL side in turns) and the GL state it
// leaves behind.
#include <GL/glcorearb.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <iterator>
#include <limits>
#include <mutex>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Ostrabel.h"
#include "OstrabelConvolve.h"
#include "gl/GLContext.h"
#include "support/CaseNames.h"
#include "support/HostEglContext.h"
#include "sdk/AE_EffectSuites.h"
#include "sdk/SPBasic.h"

namespace {

// An OpenGL 3.3 core context per thread, current while it lives, on the display the CGL stand-in chose.
class TestContext {
public:
    TestContext() : context_(EGL_OPENGL_API, testsupport::HostEglContext::Profile::Core33) {}
    bool ok() const { return context_.made(); }
    void* handle() const { return context_.context(); }

private:
    testsupport::HostEglContext context_;
};

// ---------------------------------------------------------------------------------------------------------
// A host that answers "PF World Suite" 2 from the world's flags, counting acquisitions and releases.
// ---------------------------------------------------------------------------------------------------------
std::atomic<int> g_acquired{0}, g_released{0};

PF_Err GetPixelFormat(const PF_EffectWorld* world, PF_PixelFormat* format) {
    if (world->world_flags & PF_WorldFlag_FLOAT)
        *format = PF_PixelFormat_ARGB128;
    else if (world->world_flags & PF_WorldFlag_DEEP)
        *format = PF_PixelFormat_ARGB64;
    else
        *format = PF_PixelFormat_ARGB32;
    return PF_Err_NONE;
}

const PF_WorldSuite2 kWorldSuite = {nullptr, nullptr, GetPixelFormat};

SPErr AcquireSuite(const char* name, A_long version, const void** suite) {
    if (std::strcmp(name, kPFWorldSuite) != 0 || version != kPFWorldSuiteVersion2) return kSPSuiteNotFoundError;
    ++g_acquired;
    *suite = &kWorldSuite;
    return kSPNoError;
}
SPErr ReleaseSuite(const char*, A_long) {
    ++g_released;
    return kSPNoError;
}
SPErr AcquireNothing(const char*, A_long, const void**) { return kSPSuiteNotFoundError; }

SPBasicSuite kBasicSuite = {AcquireSuite, ReleaseSuite, nullptr, nullptr, nullptr, nullptr, nullptr};
SPBasicSuite kBasicSuiteWithoutWorlds = {AcquireNothing, ReleaseSuite, nullptr, nullptr, nullptr, nullptr, nullptr};

PF_InData MakeInData(SPBasicSuite* basic = &kBasicSuite) {
    PF_InData in_data{};
    in_data.pica_basicP = basic;
    return in_data;
}

// ---------------------------------------------------------------------------------------------------------
// Iris worlds (host layout: top-down rows, ARGB, padded rows) and GL images (GL row 0 first, RGBA; the effect
// keeps the picture's top row in GL row 0, so these rows run top-down too)
// ---------------------------------------------------------------------------------------------------------
enum class Depth { k8, k32 };

class IrisWorld {
public:
    // `weight(x, y)` gives a grey value and an alpha for host pixel (x, y), y counted from the top.
    IrisWorld(Depth depth, int width, int height, const std::function<void(int, int, float&, float&)>& pixel)
        : depth_(depth) {
        const int pixel_bytes = depth == Depth::k8 ? int(sizeof(PF_Pixel8)) : int(sizeof(PF_PixelFloat));
        world_.width = width;
        world_.height = height;
        world_.rowbytes = width * pixel_bytes + 3 * pixel_bytes;  // padded, as host rows often are
        world_.world_flags = depth == Depth::k32 ? PF_WorldFlag_FLOAT : 0;
        bytes_.assign(std::size_t(world_.rowbytes) * std::size_t(height), 0xEE);  // padding holds junk
        world_.data = bytes_.data();
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                float grey = 0.0f, alpha = 0.0f;
                pixel(x, y, grey, alpha);
                Set(x, y, grey, grey, grey, alpha);
            }
    }
    void Set(int x, int y, float red, float green, float blue, float alpha) {
        unsigned char* row = bytes_.data() + std::size_t(y) * std::size_t(world_.rowbytes);
        if (depth_ == Depth::k8) {
            auto q = [](float v) { return A_u_char(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)); };
            reinterpret_cast<PF_Pixel8*>(row)[x] = {q(alpha), q(red), q(green), q(blue)};
        } else {
            reinterpret_cast<PF_PixelFloat*>(row)[x] = {alpha, red, green, blue};
        }
    }
    // The weight the host pixel carries, as the test's reference sees it: grey times alpha after quantising.
    double Weight(int x, int y) const {
        const unsigned char* row = bytes_.data() + std::size_t(y) * std::size_t(world_.rowbytes);
        if (depth_ == Depth::k8) {
            const PF_Pixel8& p = reinterpret_cast<const PF_Pixel8*>(row)[x];
            return (p.green / 255.0) * (p.alpha / 255.0);
        }
        const PF_PixelFloat& p = reinterpret_cast<const PF_PixelFloat*>(row)[x];
        return double(p.green) * double(p.alpha);
    }
    PF_EffectWorld* world() { return &world_; }

private:
    Depth depth_;
    PF_EffectWorld world_{};
    std::vector<unsigned char> bytes_;
};

struct Image {
    int width = 0, height = 0;
    std::vector<float> rgba;  // GL row 0 (the picture's top) first
    float& at(int x, int y, int c) { return rgba[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 4 + c]; }
    float at(int x, int y, int c) const {
        return rgba[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 4 + c];
    }
    double Sum(int c) const {
        double sum = 0.0;
        for (std::size_t i = std::size_t(c); i < rgba.size(); i += 4) sum += rgba[i];
        return sum;
    }
};

Image MakeImage(int width, int height, float value = 0.0f) {
    Image image;
    image.width = width;
    image.height = height;
    image.rgba.assign(std::size_t(width) * std::size_t(height) * 4, value);
    return image;
}

Image RandomImage(int width, int height, unsigned seed) {
    Image image = MakeImage(width, height);
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> value(0.0f, 2.0f);
    for (float& v : image.rgba) v = value(random);
    return image;
}

// An RGBA32F texture attached to a framebuffer, as the effect's render targets are.
class Target {
public:
    explicit Target(const Image& image) : width_(image.width), height_(image.height) {
        glGenTextures(1, &texture_);
        glBindTexture(GL_TEXTURE_2D, texture_);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, width_, height_, 0, GL_RGBA, GL_FLOAT, image.rgba.data());
        glBindTexture(GL_TEXTURE_2D, 0);
        glGenFramebuffers(1, &framebuffer_);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture_, 0);
        complete_ = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
    }
    ~Target() {
        glDeleteFramebuffers(1, &framebuffer_);
        glDeleteTextures(1, &texture_);
    }
    Target(const Target&) = delete;
    Target& operator=(const Target&) = delete;
    bool complete() const { return complete_; }
    GLuint framebuffer() const { return framebuffer_; }
    Image Read() const {
        Image image = MakeImage(width_, height_);
        GLint previous = 0;
        glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &previous);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
        glReadPixels(0, 0, width_, height_, GL_RGBA, GL_FLOAT, image.rgba.data());
        glBindFramebuffer(GL_READ_FRAMEBUFFER, GLuint(previous));
        return image;
    }

private:
    int width_, height_;
    GLuint texture_ = 0, framebuffer_ = 0;
    bool complete_ = false;
};

constexpr int kErrorCapacity = 1023;

// One level as the effect runs it: cache, convolution, disposal. Fails the test when the cache is refused.
Image Convolve(void* pipeline, IrisWorld& iris, const Image& source, int sampling_level, float radius) {
    Target source_target(source);
    Target destination(MakeImage(source.width, source.height));
    PF_InData in_data = MakeInData();
    char reason[kErrorCapacity + 1] = {};
    void* cache = CreateOstrabelImageCacheGL(&in_data, pipeline, 8, iris.world(), 50, 1, source_target.framebuffer(),
                                             source.width, source.height, reason, kErrorCapacity);
    EXPECT_NE(cache, nullptr) << reason;
    OstrabelGL(cache, sampling_level, destination.framebuffer(), source.width, source.height, radius);
    OstrabelDisposeBlurCacheGL(cache);
    return destination.Read();
}

// An iris whose four quadrants weigh differently, so that a flip of either axis shows: the top half weighs
// four times the bottom half and the left half twice the right half.
IrisWorld QuadrantIris(Depth depth, int width, int height) {
    return IrisWorld(depth, width, height, [width, height](int x, int y, float& grey, float& alpha) {
        grey = (y < height / 2 ? 1.0f : 0.25f) * (x < width / 2 ? 1.0f : 0.5f);
        alpha = 1.0f;
    });
}

void ExpectDefaultBindings() {
    GLint value = -1;
    for (GLenum binding : {GL_READ_FRAMEBUFFER_BINDING, GL_DRAW_FRAMEBUFFER_BINDING, GL_TEXTURE_BINDING_2D,
                           GL_PIXEL_PACK_BUFFER_BINDING, GL_PIXEL_UNPACK_BUFFER_BINDING}) {
        glGetIntegerv(binding, &value);
        EXPECT_EQ(value, 0) << "binding 0x" << std::hex << binding;
    }
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    for (GLenum store : {GL_PACK_ALIGNMENT, GL_UNPACK_ALIGNMENT}) {
        glGetIntegerv(store, &value);
        EXPECT_EQ(value, 4);
    }
    for (GLenum store : {GL_PACK_ROW_LENGTH, GL_UNPACK_ROW_LENGTH, GL_PACK_SKIP_ROWS, GL_UNPACK_SKIP_ROWS}) {
        glGetIntegerv(store, &value);
        EXPECT_EQ(value, 0);
    }
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

class OstrabelTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(context_.ok()) << "no OpenGL 3.3 core context on the stand-in's EGL display";
        pipeline_ = CreateIrisPipelineOBJ(context_.handle());
        ASSERT_NE(pipeline_, nullptr);
        acquired_before_ = g_acquired.load();
        released_before_ = g_released.load();
    }
    void TearDown() override {
        DeletePipelineCtx(pipeline_);
        EXPECT_EQ(g_acquired.load() - acquired_before_, g_released.load() - released_before_)
            << "every acquired world suite is released";
    }
    TestContext context_;
    void* pipeline_ = nullptr;
    int acquired_before_ = 0, released_before_ = 0;
};

// ---------------------------------------------------------------------------------------------------------
// The convolution itself
// ---------------------------------------------------------------------------------------------------------

// An odd w by h iris at radius max(w, h) / 2 maps one iris pixel onto one buffer pixel, so the result must be
// the direct sum out(x, y) = sum w(i, j) / W * src(x - (i - w / 2), y - (j - h / 2)): a true convolution, both
// images' row 0 the top. Small kernels are summed directly and larger ones through transforms; the cases
// straddle the change at 121 cells and reach well into both.
struct DirectCase {
    const char* what;
    Depth depth;
    int width, height;
    int sampling_level;
    int iris_width, iris_height;
};
void PrintTo(const DirectCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

class OstrabelDirect : public OstrabelTest, public ::testing::WithParamInterface<DirectCase> {};

TEST_P(OstrabelDirect, MatchesTheDirectConvolutionSum) {
    const DirectCase& c = GetParam();
    std::mt19937 random(7);
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    IrisWorld iris(c.depth, c.iris_width, c.iris_height, [&](int, int, float& grey, float& alpha) {
        grey = value(random);
        alpha = value(random);
    });
    const Image source = RandomImage(c.width, c.height, 11);
    const float radius = float(std::max(c.iris_width, c.iris_height)) / 2.0f;
    const Image result = Convolve(pipeline_, iris, source, c.sampling_level, radius);

    double total = 0.0;
    for (int j = 0; j < c.iris_height; ++j)
        for (int i = 0; i < c.iris_width; ++i) total += iris.Weight(i, j);
    const int half_w = c.iris_width / 2, half_h = c.iris_height / 2;
    double worst = 0.0;
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x)
            for (int ch = 0; ch < 4; ++ch) {
                double expected = 0.0;
                for (int j = 0; j < c.iris_height; ++j)
                    for (int i = 0; i < c.iris_width; ++i) {
                        const int sx = x - (i - half_w), sy = y - (j - half_h);
                        if (sx >= 0 && sy >= 0 && sx < c.width && sy < c.height)
                            expected += iris.Weight(i, j) / total * source.at(sx, sy, ch);
                    }
                worst = std::max(worst, std::fabs(expected - result.at(x, y, ch)));
            }
    // Values up to 2; the float kernel weights and results stay near 1e-6 here.
    EXPECT_LT(worst, 2e-5);
    ExpectDefaultBindings();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OstrabelDirect,
    ::testing::Values(DirectCase{"Float", Depth::k32, 37, 29, 3, 9, 5},
                      DirectCase{"EightBit", Depth::k8, 37, 29, 1, 9, 5},
                      DirectCase{"WiderThanManyThreadsNeed", Depth::k32, 150, 100, 5, 9, 5},
                      DirectCase{"LargestDirectKernel", Depth::k32, 41, 33, 1, 11, 11},
                      DirectCase{"LongThinDirectKernel", Depth::k32, 41, 33, 1, 23, 5},
                      DirectCase{"SmallestTransformedKernel", Depth::k32, 41, 33, 1, 13, 11},
                      DirectCase{"WideTransformedKernel", Depth::k8, 90, 61, 3, 41, 23},
                      DirectCase{"KernelWiderThanTheImage", Depth::k32, 25, 19, 1, 61, 9}),
    velloran_test::NameFromWhat<DirectCase>);

// A coloured iris weighs each pixel by its Rec. 709 luminance times its alpha. A 3 by 1 iris of pure red, pure
// green and pure blue at radius 1.5 lays its three weights side by side around one bright point, so each is
// read off directly; a swap of two coefficients moves light between the point's neighbours.
struct ColourWeightCase {
    const char* what;
    Depth depth;
    float green_alpha;  // of the middle pixel; red and blue are opaque
};
void PrintTo(const ColourWeightCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

class OstrabelColourWeight : public OstrabelTest, public ::testing::WithParamInterface<ColourWeightCase> {};

TEST_P(OstrabelColourWeight, EachPixelWeighsItsLuminanceTimesAlpha) {
    const ColourWeightCase& c = GetParam();
    IrisWorld iris(c.depth, 3, 1, [](int, int, float& grey, float& alpha) { grey = 0.0f, alpha = 1.0f; });
    iris.Set(0, 0, 1.0f, 0.0f, 0.0f, 1.0f);
    iris.Set(1, 0, 0.0f, 1.0f, 0.0f, c.green_alpha);
    iris.Set(2, 0, 0.0f, 0.0f, 1.0f, 1.0f);
    const double red = 0.2126, green = 0.7152 * c.green_alpha, blue = 0.0722;
    const double total = red + green + blue;

    Image source = MakeImage(9, 5);
    const int px = 4, py = 2;
    for (int ch = 0; ch < 4; ++ch) source.at(px, py, ch) = 1.0f;
    const Image result = Convolve(pipeline_, iris, source, 1, 1.5f);

    // Iris column i lands at px + (i - 1): red to the left of the point, blue to its right.
    const double expected[] = {red / total, green / total, blue / total};
    for (int y = 0; y < source.height; ++y)
        for (int x = 0; x < source.width; ++x)
            for (int ch = 0; ch < 4; ++ch) {
                const double want = (y == py && std::abs(x - px) <= 1) ? expected[x - px + 1] : 0.0;
                ASSERT_NEAR(result.at(x, y, ch), want, 1e-5) << "at " << x << ", " << y << " channel " << ch;
            }
}

INSTANTIATE_TEST_SUITE_P(Cases, OstrabelColourWeight,
                         ::testing::Values(ColourWeightCase{"Float opaque", Depth::k32, 1.0f},
                                           ColourWeightCase{"Float green at alpha 0.6", Depth::k32, 0.6f},
                                           ColourWeightCase{"Eight-bit green at alpha 0.6", Depth::k8, 0.6f}),
                         velloran_test::NameFromWhat<ColourWeightCase>);

// One bright point: the 200 by 100 iris comes back the same way up, its longer side over twice the radius.
struct ImpulseCase {
    const char* what;
    Depth depth;
    int sampling_level;
    float radius;
    int width, height;  // buffer
    int tolerance;      // pixels of the footprint's extent; a coarse grid softens the edges
    // Of the ratios between the iris's halves: a coarse grid shares light across the middle, since keeping each
    // pixel's light in place spreads it over the cells around it.
    double balance_tolerance;
};
void PrintTo(const ImpulseCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

class OstrabelImpulse : public OstrabelTest, public ::testing::WithParamInterface<ImpulseCase> {};

TEST_P(OstrabelImpulse, ReproducesTheScaledIrisTheSameWayUp) {
    const ImpulseCase& c = GetParam();
    IrisWorld iris = QuadrantIris(c.depth, 200, 100);
    // A 2 by 2 point at (cx .. cx + 1, cy .. cy + 1): its light is centred on the border between rows cy and
    // cy + 1 (columns likewise).
    Image source = MakeImage(c.width, c.height);
    const int cx = c.width / 2, cy = c.height / 2;
    for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 2; ++i)
            for (int ch = 0; ch < 4; ++ch) source.at(cx + i, cy + j, ch) = 25.0f;
    const Image result = Convolve(pipeline_, iris, source, c.sampling_level, c.radius);

    float peak = 0.0f, lowest = 0.0f;
    for (float v : result.rgba) peak = std::max(peak, v), lowest = std::min(lowest, v);
    EXPECT_GE(lowest, 0.0f) << "no negative output";
    int left = c.width, right = -1, first_row = c.height, last_row = -1;
    double quadrant[2][2] = {};  // [upper: toward row 0][left]
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) {
            const float v = result.at(x, y, 1);
            if (v <= 0.01f * peak) continue;
            left = std::min(left, x), right = std::max(right, x);
            first_row = std::min(first_row, y), last_row = std::max(last_row, y);
            quadrant[y <= cy][x <= cx] += v;
        }
    const double expected_width = 2.0 * c.radius + 1, expected_height = c.radius + 1;
    EXPECT_NEAR(right - left, expected_width, c.tolerance);
    EXPECT_NEAR(last_row - first_row, expected_height, c.tolerance);
    EXPECT_NEAR((left + right) / 2.0, cx + 0.5, 1.0) << "centred on the point";
    EXPECT_NEAR((first_row + last_row) / 2.0, cy + 0.5, 1.0);
    // Row 0 is the top of the picture: the iris's heavy top half must land at the rows before the point's.
    EXPECT_NEAR(quadrant[1][1] / quadrant[0][1], 4.0, 4.0 * c.balance_tolerance) << "upper over lower half";
    EXPECT_NEAR(quadrant[1][1] / quadrant[1][0], 2.0, 2.0 * c.balance_tolerance) << "left over right half";
    for (int ch = 0; ch < 4; ++ch) EXPECT_NEAR(result.Sum(ch), 100.0, 1e-2) << "channel " << ch;
    ExpectDefaultBindings();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OstrabelImpulse,
    ::testing::Values(ImpulseCase{"Radius20", Depth::k8, 3, 20.0f, 96, 64, 1, 0.1},
                      ImpulseCase{"Radius20Float", Depth::k32, 1, 20.0f, 96, 64, 1, 0.1},
                      ImpulseCase{"Radius40OnTheCoarsestGrid", Depth::k8, 5, 40.0f, 128, 96, 6, 0.15}),
    velloran_test::NameFromWhat<ImpulseCase>);

// A flat field stays flat wherever the whole kernel lies inside the image (beyond its edges it is black).
struct FlatCase {
    const char* what;
    int sampling_level;
    float radius;
    int size;
};
void PrintTo(const FlatCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

class OstrabelFlat : public OstrabelTest, public ::testing::WithParamInterface<FlatCase> {};

TEST_P(OstrabelFlat, StaysFlatInside) {
    const FlatCase& c = GetParam();
    std::mt19937 random(3);
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    IrisWorld iris(Depth::k32, 31, 17, [&](int, int, float& grey, float& alpha) {
        grey = value(random);
        alpha = 1.0f;
    });
    const float level[4] = {0.7f, 0.2f, 1.5f, 1.0f};
    Image source = MakeImage(c.size, c.size);
    for (std::size_t i = 0; i < source.rgba.size(); ++i) source.rgba[i] = level[i % 4];
    const Image result = Convolve(pipeline_, iris, source, c.sampling_level, c.radius);

    const int margin_x = int(std::ceil(c.radius)) + 4, margin_y = int(std::ceil(c.radius * 17 / 31)) + 4;
    ASSERT_LT(2 * margin_x, c.size);
    double worst = 0.0;
    for (int y = margin_y; y < c.size - margin_y; ++y)
        for (int x = margin_x; x < c.size - margin_x; ++x)
            for (int ch = 0; ch < 4; ++ch)
                worst = std::max(worst, std::fabs(result.at(x, y, ch) / level[ch] - 1.0));
    EXPECT_LT(worst, 1e-5);
    // At the border half the kernel reaches into the black outside.
    EXPECT_LT(result.at(0, 0, 0), 0.5f * level[0]);
}

INSTANTIATE_TEST_SUITE_P(Cases, OstrabelFlat,
                         ::testing::Values(FlatCase{"Finest", 1, 6.5f, 48}, FlatCase{"Standard", 3, 12.0f, 64},
                                           FlatCase{"CoarsestGrid", 5, 40.0f, 128}),
                         velloran_test::NameFromWhat<FlatCase>);

// The sum of the image is kept when the glow stays inside the buffer.
struct EnergyCase {
    const char* what;
    int sampling_level;
    float radius;
};
void PrintTo(const EnergyCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

class OstrabelEnergy : public OstrabelTest, public ::testing::WithParamInterface<EnergyCase> {};

TEST_P(OstrabelEnergy, KeepsTheSumOfTheImage) {
    const EnergyCase& c = GetParam();
    IrisWorld iris = QuadrantIris(Depth::k8, 200, 100);
    Image source = MakeImage(128, 96);
    std::mt19937 random(5);
    std::uniform_real_distribution<float> value(0.0f, 3.0f);
    for (int y = 43; y < 53; ++y)
        for (int x = 59; x < 69; ++x)
            for (int ch = 0; ch < 4; ++ch) source.at(x, y, ch) = value(random);
    const Image result = Convolve(pipeline_, iris, source, c.sampling_level, c.radius);
    for (int ch = 0; ch < 4; ++ch) EXPECT_NEAR(result.Sum(ch) / source.Sum(ch), 1.0, 1e-4) << "channel " << ch;
}

INSTANTIATE_TEST_SUITE_P(Cases, OstrabelEnergy,
                         ::testing::Values(EnergyCase{"FullResolution", 1, 8.0f}, EnergyCase{"CoarseGrid", 5, 40.0f}),
                         velloran_test::NameFromWhat<EnergyCase>);

// On a coarse grid a single bright pixel's glow must stay centred on that pixel wherever it lies within a
// grid cell, with its light kept: otherwise a moving point's glow jumps from cell to cell. The iris is
// symmetric about its middle, so the glow's centre of mass is the point itself. Each case's radius makes the
// level work on cells of several pixels; the points take different places within a cell on both axes.
struct CentredCase {
    const char* what;
    int sampling_level;
    float radius;
    int pixels_per_cell;  // of the level's grid at this radius
};
void PrintTo(const CentredCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

class OstrabelCentred : public OstrabelTest, public ::testing::WithParamInterface<CentredCase> {};

TEST_P(OstrabelCentred, GlowOfAPointIsCentredOnItAndKeepsItsLight) {
    const CentredCase& c = GetParam();
    // A filled ellipse four times as wide as tall, symmetric about the iris's middle on both axes.
    IrisWorld iris(Depth::k32, 64, 16, [](int x, int y, float& grey, float& alpha) {
        const double u = (x + 0.5 - 32.0) / 32.0, v = (y + 0.5 - 8.0) / 8.0;
        grey = u * u + v * v <= 1.0 ? 1.0f : 0.0f;
        alpha = 1.0f;
    });
    // Room for the glow (2 * radius by radius / 2) and a few cells of the grid's softening around it.
    const int margin = 8 * c.pixels_per_cell + 8;
    const int width = int(2.0f * c.radius) + 2 * margin, height = int(c.radius / 2.0f) + 2 * margin;
    const int offsets[][2] = {{0, 0}, {1, 2}, {2, 1}, {c.pixels_per_cell - 1, c.pixels_per_cell / 2}};
    for (const auto& offset : offsets) {
        const int px = width / 2 + offset[0], py = height / 2 + offset[1];
        Image source = MakeImage(width, height);
        for (int ch = 0; ch < 4; ++ch) source.at(px, py, ch) = 1.0f;
        const Image result = Convolve(pipeline_, iris, source, c.sampling_level, c.radius);

        double sum = 0.0, sum_x = 0.0, sum_y = 0.0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const double v = result.at(x, y, 1);
                sum += v, sum_x += v * x, sum_y += v * y;
            }
        ASSERT_GT(sum, 0.0);
        EXPECT_NEAR(sum_x / sum, px, 0.1) << "column of the glow's centre, point at (" << px << ", " << py << ")";
        EXPECT_NEAR(sum_y / sum, py, 0.1) << "row of the glow's centre, point at (" << px << ", " << py << ")";
        for (int ch = 0; ch < 4; ++ch)
            EXPECT_NEAR(result.Sum(ch), 1.0, 0.01) << "light of channel " << ch << ", point at (" << px << ", " << py
                                                    << ")";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, OstrabelCentred,
                         ::testing::Values(CentredCase{"Lowest at radius 90", 5, 90.0f, 3},
                                           CentredCase{"Lowest at radius 120", 5, 120.0f, 4},
                                           CentredCase{"Lowest at radius 500", 5, 500.0f, 16},
                                           CentredCase{"Modest at radius 120", 4, 120.0f, 2},
                                           CentredCase{"Standard at radius 250", 3, 250.0f, 2},
                                           CentredCase{"Fine at radius 300", 2, 300.0f, 2},
                                           CentredCase{"Extreme at radius 600", 1, 600.0f, 2}),
                         velloran_test::NameFromWhat<CentredCase>);

TEST_F(OstrabelTest, RadiusUnderHalfAPixelCopiesTheSource) {
    IrisWorld iris = QuadrantIris(Depth::k8, 20, 10);
    const Image source = RandomImage(23, 17, 9);
    for (float radius : {0.3f, 0.0f, -4.0f, std::numeric_limits<float>::quiet_NaN()}) {
        const Image result = Convolve(pipeline_, iris, source, 3, radius);
        EXPECT_EQ(result.rgba, source.rgba) << "radius " << radius;
    }
    // Just above the limit the kernel is still a single pixel wide: a copy again, computed the long way.
    const Image at_half = Convolve(pipeline_, iris, source, 3, 0.5f);
    for (std::size_t i = 0; i < source.rgba.size(); ++i) ASSERT_NEAR(at_half.rgba[i], source.rgba[i], 1e-5);
}

// ---------------------------------------------------------------------------------------------------------
// Null handles and failures
// ---------------------------------------------------------------------------------------------------------
TEST_F(OstrabelTest, NullCacheAndPipelineDoNothing) {
    const Image before = RandomImage(16, 12, 4);
    Target destination(before);
    OstrabelGL(nullptr, 3, destination.framebuffer(), 16, 12, 10.0f);
    OstrabelDisposeBlurCacheGL(nullptr);
    DeletePipelineCtx(nullptr);
    EXPECT_EQ(destination.Read().rgba, before.rgba);
    ExpectDefaultBindings();
}

struct FailureCase {
    const char* what;
    // Spoils one thing of a valid call.
    std::function<void(PF_InData*&, void*& pipeline, IrisWorld&, GLuint& framebuffer, int& width)> spoil;
};
void PrintTo(const FailureCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

class OstrabelFailure : public OstrabelTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(OstrabelFailure, GivesAReasonAndNoCache) {
    IrisWorld iris = QuadrantIris(Depth::k32, 20, 10);
    Target source(RandomImage(16, 12, 2));
    PF_InData in_data = MakeInData();
    PF_InData* in_dataP = &in_data;
    void* pipeline = pipeline_;
    GLuint framebuffer = source.framebuffer();
    int width = 16;
    GetParam().spoil(in_dataP, pipeline, iris, framebuffer, width);

    char reason[kErrorCapacity + 1];
    std::memset(reason, 'x', sizeof reason);
    void* cache = CreateOstrabelImageCacheGL(in_dataP, pipeline, 8, iris.world(), 50, 1, framebuffer, width, 12,
                                             reason, kErrorCapacity);
    EXPECT_EQ(cache, nullptr);
    const void* end = std::memchr(reason, '\0', kErrorCapacity);
    ASSERT_NE(end, nullptr) << "the reason ends within the capacity";
    EXPECT_GT(std::strlen(reason), 10u);
    EXPECT_EQ(reason[kErrorCapacity], 'x') << "nothing written past the capacity";
    OstrabelDisposeBlurCacheGL(cache);
    ExpectDefaultBindings();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OstrabelFailure,
    ::testing::Values(
        FailureCase{"IrisWithoutPixels", [](auto&, auto&, IrisWorld& iris, auto&, auto&) { iris.world()->data = nullptr; }},
        FailureCase{"IrisOfZeroWidth", [](auto&, auto&, IrisWorld& iris, auto&, auto&) { iris.world()->width = 0; }},
        FailureCase{"IrisRowsShorterThanItsWidth",
                    [](auto&, auto&, IrisWorld& iris, auto&, auto&) { iris.world()->rowbytes = 8; }},
        FailureCase{"BlackIris",
                    [](auto&, auto&, IrisWorld& iris, auto&, auto&) {
                        for (int y = 0; y < 10; ++y)
                            for (int x = 0; x < 20; ++x) iris.Set(x, y, 0.0f, 0.0f, 0.0f, 1.0f);
                    }},
        FailureCase{"TransparentIris",
                    [](auto&, auto&, IrisWorld& iris, auto&, auto&) {
                        for (int y = 0; y < 10; ++y)
                            for (int x = 0; x < 20; ++x) iris.Set(x, y, 1.0f, 1.0f, 1.0f, 0.0f);
                    }},
        FailureCase{"NegativeIris",
                    [](auto&, auto&, IrisWorld& iris, auto&, auto&) {
                        for (int y = 0; y < 10; ++y)
                            for (int x = 0; x < 20; ++x) iris.Set(x, y, -1.0f, -1.0f, -1.0f, 1.0f);
                    }},
        FailureCase{"SixteenBitIris",
                    [](auto&, auto&, IrisWorld& iris, auto&, auto&) { iris.world()->world_flags = PF_WorldFlag_DEEP; }},
        FailureCase{"NoWorldSuite",
                    [](PF_InData*& in_data, auto&, auto&, auto&, auto&) { in_data->pica_basicP = &kBasicSuiteWithoutWorlds; }},
        FailureCase{"NoInData", [](PF_InData*& in_data, auto&, auto&, auto&, auto&) { in_data = nullptr; }},
        FailureCase{"NoPipeline", [](auto&, void*& pipeline, auto&, auto&, auto&) { pipeline = nullptr; }},
        FailureCase{"NoSuchFramebuffer", [](auto&, auto&, auto&, GLuint& framebuffer, auto&) { framebuffer = 4242; }},
        FailureCase{"DefaultFramebuffer", [](auto&, auto&, auto&, GLuint& framebuffer, auto&) { framebuffer = 0; }},
        FailureCase{"ZeroWidth", [](auto&, auto&, auto&, auto&, int& width) { width = 0; }}),
    velloran_test::NameFromWhat<FailureCase>);

TEST_F(OstrabelTest, ReasonIsCutToTheCapacity) {
    IrisWorld iris = QuadrantIris(Depth::k8, 20, 10);
    iris.world()->data = nullptr;
    PF_InData in_data = MakeInData();
    char reason[16];
    std::memset(reason, 'x', sizeof reason);
    EXPECT_EQ(CreateOstrabelImageCacheGL(&in_data, pipeline_, 8, iris.world(), 50, 1, 0, 16, 12, reason, 8), nullptr);
    EXPECT_EQ(std::strlen(reason), 7u);
    EXPECT_EQ(reason[8], 'x');
}

// ---------------------------------------------------------------------------------------------------------
// Threads and GL state
// ---------------------------------------------------------------------------------------------------------

// The convolution, the library's CPU half, on two threads at once gets exactly what one thread gets. Each thread
// keeps plans of its own, as each pipeline object does, and meets transform sizes new to it, so both plan at the
// same time too. The cases take the direct sum, the transforms and the coarse grid; the sizes are large enough
// that each call also spreads over workers. No GL here: two contexts issuing GL at once would race inside
// llvmpipe, which the effect keeps from happening (see the next test).
TEST(OstrabelConvolution, TwoThreadsAtOnceMatchOneThread) {
    struct Level {
        float radius;
        int sampling_level;
    };
    const Level levels[] = {{24.0f, 1}, {7.5f, 3}, {60.0f, 5}, {33.0f, 2}};
    ostrabel::RgbaImage sources[2];  // one per thread, so that anything one thread leaves behind shows in the other
    for (int who = 0; who < 2; ++who) {
        const Image picture = RandomImage(200, 160, 21 + unsigned(who));
        sources[who].width = picture.width;
        sources[who].height = picture.height;
        sources[who].pixels.assign(picture.rgba.begin(), picture.rgba.end());
    }
    ostrabel::IrisWeights iris;
    iris.width = 200;
    iris.height = 100;
    for (int y = 0; y < iris.height; ++y)
        for (int x = 0; x < iris.width; ++x) {
            iris.weights.push_back((y < iris.height / 2 ? 1.0f : 0.25f) * (x < iris.width / 2 ? 1.0f : 0.5f));
            iris.total += iris.weights.back();
        }
    constexpr unsigned kWorkers = 4;

    std::vector<std::vector<float>> expected[2];
    for (int who = 0; who < 2; ++who) {
        ostrabel::TransformCache plans;
        for (const Level& level : levels) {
            const ostrabel::RgbaImage result =
                ostrabel::ConvolveWithIris(sources[who], iris, level.radius, level.sampling_level, plans, kWorkers);
            expected[who].emplace_back(result.pixels.begin(), result.pixels.end());
        }
    }
    std::atomic<int> mismatches{0}, ready{0};
    auto render = [&](int who) {
        ostrabel::TransformCache plans;
        ++ready;
        while (ready.load() < 2) std::this_thread::yield();  // start together
        for (int round = 0; round < 2; ++round)
            for (std::size_t i = 0; i < std::size(levels); ++i) {
                const ostrabel::RgbaImage result = ostrabel::ConvolveWithIris(
                    sources[who], iris, levels[i].radius, levels[i].sampling_level, plans, kWorkers);
                const std::vector<float>& want = expected[who][i];
                if (!std::equal(result.pixels.begin(), result.pixels.end(), want.begin(), want.end())) ++mismatches;
            }
    };
    std::thread first(render, 0), second(render, 1);
    first.join();
    second.join();
    EXPECT_EQ(mismatches.load(), 0);
}

// Lets two threads take strict turns, so that every step of one runs between two steps of the other.
class Turns {
public:
    // Runs `step` on thread `who` (0 or 1) in its turn, under the effect's GL lock and settled before the turn
    // passes, as the effect does its GL work: the other thread's contexts never meet unfinished work.
    void Take(int who, const std::function<void()>& step) {
        std::unique_lock<std::mutex> hold(mutex_);
        changed_.wait(hold, [&] { return turn_ == who; });
        {
            const GLWorkLock glWork = LockGLWork();
            step();
            SettleGLWork();
        }
        turn_ = 1 - who;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int turn_ = 0;
};

// Two render threads, each with its own context, pipeline object and picture, get exactly what one thread gets
// while their levels interleave step by step: each step of one thread's level (its cache made, used, disposed
// of) comes between two of the other's, so nothing of one pipeline or cache may leak into the other's.
TEST_F(OstrabelTest, TwoThreadsTakingTurnsMatchOneThread) {
    const Image sources[] = {RandomImage(200, 160, 21), RandomImage(200, 160, 22)};  // one per thread
    const float radii[] = {24.0f, 7.5f, 60.0f};
    const int levels[] = {1, 3, 5};
    std::vector<Image> expected[2];
    {
        IrisWorld iris = QuadrantIris(Depth::k8, 200, 100);
        for (int who = 0; who < 2; ++who)
            for (int i = 0; i < 3; ++i)
                expected[who].push_back(Convolve(pipeline_, iris, sources[who], levels[i], radii[i]));
    }
    glFinish();  // nothing of this thread's is still being rasterised when the two begin
    Turns turns;
    std::atomic<int> mismatches{0};
    auto render = [&](int who) {
        const Image& source = sources[who];
        std::optional<TestContext> context;
        void* pipeline = nullptr;
        std::optional<Target> source_target, destination;
        void* cache = nullptr;
        IrisWorld iris = QuadrantIris(Depth::k8, 200, 100);
        PF_InData in_data = MakeInData();
        turns.Take(who, [&] {
            context.emplace();
            if (context->ok()) pipeline = CreateIrisPipelineOBJ(context->handle());
            if (!pipeline) ++mismatches;
        });
        for (int round = 0; round < 2; ++round)
            for (int i = 0; i < 3; ++i) {
                turns.Take(who, [&] {
                    if (!pipeline) return;
                    source_target.emplace(source);
                    destination.emplace(MakeImage(source.width, source.height));
                    char reason[kErrorCapacity + 1] = {};
                    cache = CreateOstrabelImageCacheGL(&in_data, pipeline, 8, iris.world(), 50, 1,
                                                       source_target->framebuffer(), source.width, source.height,
                                                       reason, kErrorCapacity);
                    if (!cache) ++mismatches;
                });
                turns.Take(who, [&] {
                    if (pipeline) OstrabelGL(cache, levels[i], destination->framebuffer(), source.width,
                                             source.height, radii[i]);
                });
                turns.Take(who, [&] {
                    if (!pipeline) return;
                    OstrabelDisposeBlurCacheGL(cache);
                    if (destination->Read().rgba != expected[who][std::size_t(i)].rgba) ++mismatches;
                    destination.reset();
                    source_target.reset();
                });
            }
        turns.Take(who, [&] {
            if (pipeline) DeletePipelineCtx(pipeline);
            context.reset();
        });
    };
    std::thread first(render, 0), second(render, 1);
    first.join();
    second.join();
    EXPECT_EQ(mismatches.load(), 0);
}

// Another user of FFTW in the same process (another plug-in in the host) plans and destroys transforms of its
// own, under no lock of ours, while render threads plan theirs: FFTW's planner is one for the whole process, so
// it must serialise the planning itself. Each of our calls meets a transform size it has not planned yet.
TEST_F(OstrabelTest, PlansWhileAnotherUserOfFftwPlans) {
    using Plan = void*;
    using PlanReal2D = Plan (*)(int, int, double*, void*, unsigned);
    using DestroyPlan = void (*)(Plan);
    using Allocate = void* (*)(std::size_t);
    using Free = void (*)(void*);
    // The library's FFTW, found in the process the way another plug-in's calls would reach it.
    const auto plan = reinterpret_cast<PlanReal2D>(dlsym(RTLD_DEFAULT, "fftw_plan_dft_r2c_2d"));
    const auto destroy = reinterpret_cast<DestroyPlan>(dlsym(RTLD_DEFAULT, "fftw_destroy_plan"));
    const auto allocate = reinterpret_cast<Allocate>(dlsym(RTLD_DEFAULT, "fftw_malloc"));
    const auto release = reinterpret_cast<Free>(dlsym(RTLD_DEFAULT, "fftw_free"));
    ASSERT_TRUE(plan && destroy && allocate && release);
    constexpr unsigned kEstimate = 1u << 6;  // FFTW_ESTIMATE

    std::atomic<bool> stop{false};
    std::atomic<int> other_failures{0};
    std::thread other([&] {
        double* real = static_cast<double*>(allocate(sizeof(double) * 96 * 96));
        void* spectrum = allocate(sizeof(double) * 2 * 96 * 49);
        for (int round = 0; !stop.load(); ++round) {
            const int n = 8 + round % 88;
            Plan p = plan(n, 96, real, spectrum, kEstimate);
            if (!p) ++other_failures;
            if (p) destroy(p);
        }
        release(spectrum);
        release(real);
    });
    IrisWorld iris = QuadrantIris(Depth::k32, 30, 30);
    int wrong = 0;
    for (int size = 40; size < 100; ++size) {
        Image source = MakeImage(size, size);
        for (int ch = 0; ch < 4; ++ch) source.at(size / 2, size / 2, ch) = 1.0f;
        // A 31 by 31 kernel: through transforms, of a size planned for the first time.
        const Image result = Convolve(pipeline_, iris, source, 1, 15.0f);
        if (std::fabs(result.Sum(1) - 1.0) > 1e-3) ++wrong;
    }
    stop = true;
    other.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(other_failures.load(), 0);
}

// A caller's unusual state (another texture unit and binding, a scissor box, pixel-store values, bound
// framebuffers) neither spoils the result nor survives changed.
TEST_F(OstrabelTest, LeavesTheCallersGLStateAsFound) {
    IrisWorld iris = QuadrantIris(Depth::k8, 200, 100);
    const Image source = RandomImage(64, 48, 13);
    const Image expected = Convolve(pipeline_, iris, source, 3, 10.0f);
    ExpectDefaultBindings();

    Target source_target(source), destination(MakeImage(64, 48)), bystander(MakeImage(4, 4));
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glActiveTexture(GL_TEXTURE2);
    glBindTexture(GL_TEXTURE_2D, texture);
    glBindFramebuffer(GL_FRAMEBUFFER, bystander.framebuffer());
    glEnable(GL_SCISSOR_TEST);
    glScissor(1, 1, 2, 2);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 7);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);

    PF_InData in_data = MakeInData();
    char reason[kErrorCapacity + 1] = {};
    void* cache = CreateOstrabelImageCacheGL(&in_data, pipeline_, 8, iris.world(), 50, 1, source_target.framebuffer(),
                                             64, 48, reason, kErrorCapacity);
    ASSERT_NE(cache, nullptr) << reason;
    OstrabelGL(cache, 3, destination.framebuffer(), 64, 48, 10.0f);
    OstrabelDisposeBlurCacheGL(cache);

    GLint value = 0;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &value);
    EXPECT_EQ(value, GL_TEXTURE2);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &value);
    EXPECT_EQ(GLuint(value), texture);
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &value);
    EXPECT_EQ(GLuint(value), bystander.framebuffer());
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &value);
    EXPECT_EQ(GLuint(value), bystander.framebuffer());
    EXPECT_TRUE(glIsEnabled(GL_SCISSOR_TEST));
    glGetIntegerv(GL_UNPACK_ROW_LENGTH, &value);
    EXPECT_EQ(value, 7);
    glGetIntegerv(GL_PACK_ALIGNMENT, &value);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));

    glDisable(GL_SCISSOR_TEST);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
    glActiveTexture(GL_TEXTURE0);
    glDeleteTextures(1, &texture);
    EXPECT_EQ(destination.Read().rgba, expected.rgba);
}

}  // namespace
