// Pixel transfer between host worlds and render targets: the per-pixel conversions, and whole uploads and
// read-backs through the simulated host's handle and iteration suites on a real GL context.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include <glm/gtc/packing.hpp>

#include "support/CaseNames.h"
#include "gl_fixtures.h"
#include "simhost/IterateSuites.h"
#include "simhost/World.h"
#include "support/SimHostFixture.h"

namespace {

using simhost::PixelDepth;
using simhost::SimWorld;

// ---------------------------------------------------------------------------------------------------------
// The callbacks alone
// ---------------------------------------------------------------------------------------------------------
TEST(TransferCallbacks, EightBitGoesUpPremultipliedWithFloor) {
    const struct {
        PF_Pixel in;
        std::array<uint8_t, 3> up;
    } cases[] = {
        {{128, 255, 0, 64}, {128, 0, 32}},
        {{0, 200, 100, 50}, {0, 0, 0}},       // fully transparent: black whatever its colour
        {{255, 10, 20, 30}, {10, 20, 30}},    // opaque: unchanged
        {{254, 255, 1, 128}, {254, 0, 127}},  // 127.5 is floored
        {{1, 255, 255, 255}, {1, 1, 1}},
    };
    PF_LayerDef world{};
    world.width = 3;
    for (const auto& c : cases) {
        std::vector<uint8_t> buffer(3 * 2 * 3, 0xEE);
        rgb_transfer_data data{buffer.data(), &world};
        PF_Pixel in = c.in, out = {9, 9, 9, 9};
        EXPECT_EQ(RGB_In8(&data, 2, 1, &in, &out), PF_Err_NONE);
        // Pixel (2, 1) of a 3-wide world starts at element (1 * 3 + 2) * 3.
        EXPECT_EQ(buffer[15], c.up[0]);
        EXPECT_EQ(buffer[16], c.up[1]);
        EXPECT_EQ(buffer[17], c.up[2]);
        EXPECT_EQ(buffer[14], 0xEE);
        EXPECT_EQ(out.alpha, 9) << "the world is not written on the way up";
    }
}

TEST(TransferCallbacks, FloatGoesUpPremultipliedWithoutClamping) {
    PF_LayerDef world{};
    world.width = 1;
    PF_PixelFloat in = {0.5f, 3.0f, -1.0f, 0.25f}, out{};

    std::array<float, 3> full{};
    rgb_transfer_data data{full.data(), &world};
    RGB_In32(&data, 0, 0, &in, &out);
    EXPECT_EQ(full, (std::array<float, 3>{1.5f, -0.5f, 0.125f}));

    std::array<uint16_t, 3> half{};
    data.buffer = half.data();
    RGB_InHalf32(&data, 0, 0, &in, &out);
    EXPECT_EQ(glm::unpackHalf1x16(half[0]), 1.5f);
    EXPECT_EQ(glm::unpackHalf1x16(half[1]), -0.5f);
    EXPECT_EQ(glm::unpackHalf1x16(half[2]), 0.125f);
}

// A NaN or an infinity in the source, or one made by premultiplying (infinity times alpha 0), goes up as 0 in
// both float formats; a finite value beyond the largest half float saturates there instead of becoming infinite.
TEST(TransferCallbacks, NonFiniteGoesUpAsZeroAndHalfFloatsSaturate) {
    constexpr float kInf = std::numeric_limits<float>::infinity();
    constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
    const struct {
        const char* what;
        PF_PixelFloat in;               // alpha, red, green, blue
        std::array<float, 3> full;      // what the float buffer holds
        std::array<float, 3> half;      // what the half buffer holds
    } cases[] = {
        {"NaN and infinities", {1.f, kNaN, kInf, -kInf}, {0.f, 0.f, 0.f}, {0.f, 0.f, 0.f}},
        {"infinity times alpha 0", {0.f, kInf, 2.f, -kInf}, {0.f, 0.f, 0.f}, {0.f, 0.f, 0.f}},
        {"NaN alpha", {kNaN, 1.f, 1.f, 1.f}, {0.f, 0.f, 0.f}, {0.f, 0.f, 0.f}},
        {"beyond the half range", {1.f, 70000.f, -70000.f, 1e30f}, {70000.f, -70000.f, 1e30f},
         {65504.f, -65504.f, 65504.f}},
        {"premultiplied past it", {2.f, 40000.f, 32752.f, -40000.f}, {80000.f, 65504.f, -80000.f},
         {65504.f, 65504.f, -65504.f}},
    };
    PF_LayerDef world{};
    world.width = 1;
    for (const auto& c : cases) {
        PF_PixelFloat in = c.in, out{};
        std::array<float, 3> full{-1.f, -1.f, -1.f};
        rgb_transfer_data data{full.data(), &world};
        EXPECT_EQ(RGB_In32(&data, 0, 0, &in, &out), PF_Err_NONE);
        EXPECT_EQ(full, c.full) << c.what;

        std::array<uint16_t, 3> half{};
        data.buffer = half.data();
        EXPECT_EQ(RGB_InHalf32(&data, 0, 0, &in, &out), PF_Err_NONE);
        for (size_t i = 0; i < 3; ++i) EXPECT_EQ(glm::unpackHalf1x16(half[i]), c.half[i]) << c.what << " " << i;
    }
}

TEST(TransferCallbacks, ComingDownIsOpaqueWhateverTheBufferHolds) {
    PF_LayerDef world{};
    world.width = 2;
    PF_Pixel in8{}, out8{};
    std::array<uint8_t, 6> bytes = {0, 0, 0, 7, 130, 255};
    rgb_transfer_data data{bytes.data(), &world};
    RGB_Out8(&data, 1, 0, &in8, &out8);
    EXPECT_EQ(out8.alpha, 255);
    EXPECT_EQ(out8.red, 7);
    EXPECT_EQ(out8.green, 130);
    EXPECT_EQ(out8.blue, 255);

    PF_PixelFloat in{}, out{};
    std::array<float, 6> floats = {0, 0, 0, 1.5f, -2.f, 40.f};
    data.buffer = floats.data();
    RGB_Out32(&data, 1, 0, &in, &out);
    EXPECT_EQ(out.alpha, 1.f);
    EXPECT_EQ(out.red, 1.5f);
    EXPECT_EQ(out.green, -2.f);
    EXPECT_EQ(out.blue, 40.f);

    std::array<uint16_t, 6> halves = {0, 0, 0, glm::packHalf1x16(1.5f), glm::packHalf1x16(0.25f),
                                      glm::packHalf1x16(8.f)};
    data.buffer = halves.data();
    RGB_OutHalf32(&data, 1, 0, &in, &out);
    EXPECT_EQ(out.alpha, 1.f);
    EXPECT_EQ(out.red, 1.5f);
    EXPECT_EQ(out.green, 0.25f);
    EXPECT_EQ(out.blue, 8.f);
}

// ---------------------------------------------------------------------------------------------------------
// Through the host
// ---------------------------------------------------------------------------------------------------------
class Transfer : public testsupport::SimHostTest {
protected:
    void SetUp() override {
        SimHostTest::SetUp();
        in_ = host().InDataTemplate();
        context_ = CreateContext(nullptr, nullptr);
        ASSERT_EQ(SetCurrentContext(context_), 0);
    }
    void TearDown() override {
        SetCurrentContext(nullptr);
        DeleteContext(context_);
        EXPECT_EQ(host().Handles().Live(), 0) << "every transfer buffer is disposed";
        SimHostTest::TearDown();
    }

    static void ExpectDefaultTransferState() {
        const struct {
            GLenum name;
            GLint expected;
        } states[] = {{GL_UNPACK_ALIGNMENT, 4}, {GL_UNPACK_ROW_LENGTH, 0}, {GL_PACK_ALIGNMENT, 4},
                      {GL_TEXTURE_BINDING_2D, 0}, {GL_FRAMEBUFFER_BINDING, 0}};
        for (const auto& s : states) {
            GLint value = -1;
            glGetIntegerv(s.name, &value);
            EXPECT_EQ(value, s.expected) << std::hex << s.name;
        }
    }

    static SimWorld Patterned8(A_long width, A_long height) {
        SimWorld world(width, height, PixelDepth::k8, 3);
        for (A_long y = 0; y < height; ++y) {
            for (A_long x = 0; x < width; ++x) {
                world.At<PF_Pixel>(x, y) = {255, uint8_t(x * 5 + y), uint8_t(y * 7), uint8_t(200 - x - y)};
            }
        }
        return world;
    }

    PF_InData in_{};
    CGLContextObj context_ = nullptr;
};

TEST_F(Transfer, EightBitRoundTripKeepsRowsInOrderAndResizesTheTexture) {
    PX_FBO2 target;
    ASSERT_EQ(target.CreateTextureFBO2(&in_, 1, 1, GL_CLAMP_TO_EDGE, GL_RGB32F), PF_Err_NONE);
    SimWorld source = Patterned8(37, 29);  // odd sizes: rows are not multiples of four bytes
    source.At<PF_Pixel>(0, 0) = {128, 255, 0, 64};
    glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    ASSERT_EQ(target.UploadToTexture(source.world(), 8, 0), PF_Err_NONE);
    ExpectDefaultTransferState();

    GLint width = 0, height = 0;
    glBindTexture(GL_TEXTURE_2D, target.m_colorBuffer.ID);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
    glBindTexture(GL_TEXTURE_2D, 0);
    EXPECT_EQ(width, 37);
    EXPECT_EQ(height, 29);

    SimWorld back(37, 29, PixelDepth::k8, 5);
    for (A_long y = 0; y < 29; ++y)
        for (A_long x = 0; x < 37; ++x) back.At<PF_Pixel>(x, y) = {3, 1, 1, 1};
    ASSERT_EQ(target.FBOtoEffectWorld(back.world(), 8, 0), PF_Err_NONE);
    ExpectDefaultTransferState();

    const PF_Pixel first = back.At<PF_Pixel>(0, 0);
    EXPECT_EQ(first.alpha, 255);
    EXPECT_EQ(first.red, 128);
    EXPECT_EQ(first.green, 0);
    EXPECT_EQ(first.blue, 32);
    for (A_long y = 0; y < 29; ++y) {
        for (A_long x = (y == 0 ? 1 : 0); x < 37; ++x) {
            const PF_Pixel want = source.At<PF_Pixel>(x, y);
            const PF_Pixel got = back.At<PF_Pixel>(x, y);
            ASSERT_EQ(got.alpha, 255) << x << "," << y;
            ASSERT_EQ(got.red, want.red) << x << "," << y;
            ASSERT_EQ(got.green, want.green) << x << "," << y;
            ASSERT_EQ(got.blue, want.blue) << x << "," << y;
        }
    }
    EXPECT_TRUE(back.PaddingIntact());
    EXPECT_TRUE(source.PaddingIntact());
    EXPECT_EQ(Log(), "");
}

struct FloatCase {
    GLint format;
    unsigned char halfFloat;
};
std::string Describe(const FloatCase& c) {
    return std::string(c.format == GL_RGB32F ? "RGB32F" : "RGB16F") + (c.halfFloat ? "HalfFlag" : "FloatFlag");
}
void PrintTo(const FloatCase& c, std::ostream* os) { velloran_test::PrintCase(Describe(c), os); }

class FloatTransfer : public Transfer, public testing::WithParamInterface<FloatCase> {};

TEST_P(FloatTransfer, FloatRoundTripIsPremultipliedUnclampedAndOpaque) {
    PX_FBO2 target;
    ASSERT_EQ(target.CreateTextureFBO2(&in_, 3, 2, GL_CLAMP_TO_EDGE, GetParam().format), PF_Err_NONE);
    SimWorld source(3, 2, PixelDepth::k32f);
    // Values a half float holds exactly, so every format and flag gives them back unchanged.
    for (A_long y = 0; y < 2; ++y)
        for (A_long x = 0; x < 3; ++x) source.At<PF_PixelFloat>(x, y) = {1.f, 0.25f * float(x), float(y), -0.5f};
    source.At<PF_PixelFloat>(1, 1) = {0.5f, 3.0f, 0.f, 64.f};
    source.At<PF_PixelFloat>(2, 0) = {0.f, 9.f, 9.f, 9.f};
    ASSERT_EQ(target.UploadToTexture(source.world(), 32, GetParam().halfFloat), PF_Err_NONE);

    SimWorld back(3, 2, PixelDepth::k32f);
    ASSERT_EQ(target.FBOtoEffectWorld(back.world(), 32, GetParam().halfFloat), PF_Err_NONE);
    ExpectDefaultTransferState();
    for (A_long y = 0; y < 2; ++y) {
        for (A_long x = 0; x < 3; ++x) {
            const PF_PixelFloat s = source.At<PF_PixelFloat>(x, y);
            const PF_PixelFloat got = back.At<PF_PixelFloat>(x, y);
            EXPECT_EQ(got.alpha, 1.f);
            EXPECT_EQ(got.red, s.red * s.alpha) << x << "," << y;
            EXPECT_EQ(got.green, s.green * s.alpha) << x << "," << y;
            EXPECT_EQ(got.blue, s.blue * s.alpha) << x << "," << y;
        }
    }
    EXPECT_EQ(back.At<PF_PixelFloat>(1, 1).red, 1.5f);
}

INSTANTIATE_TEST_SUITE_P(FormatsAndFlags, FloatTransfer,
                         testing::Values(FloatCase{GL_RGB32F, 0}, FloatCase{GL_RGB32F, 1}, FloatCase{GL_RGB16F, 1},
                                         FloatCase{GL_RGB16F, 0}),
                         [](const testing::TestParamInfo<FloatCase>& info) {
                             return velloran_test::CaseName(Describe(info.param));
                         });

TEST_F(Transfer, SixteenBitWorldIsRefusedBothWays) {
    PX_FBO2 target;
    ASSERT_EQ(target.CreateTextureFBO2(&in_, 2, 2, GL_CLAMP_TO_EDGE, GL_RGB16F), PF_Err_NONE);
    SimWorld deep(2, 2, PixelDepth::k16);
    EXPECT_EQ(target.UploadToTexture(deep.world(), 16, 0), PF_Err_INVALID_CALLBACK);
    EXPECT_EQ(target.FBOtoEffectWorld(deep.world(), 16, 0), PF_Err_INVALID_CALLBACK);
    const std::string log = Log();
    EXPECT_NE(log.find("UploadToTexture() called without valid bpc: 16"), std::string::npos) << log;
    EXPECT_NE(log.find("FBOtoEffectWorld() called without valid bpc: 16"), std::string::npos) << log;
    EXPECT_EQ(host().Handles().TotalAllocated(), 0);
    ExpectDefaultTransferState();
}

TEST_F(Transfer, UploadNeedsATextureAndAWorld) {
    SimWorld world(2, 2, PixelDepth::k8);
    PX_FBO2 empty;
    empty.in_data = &in_;
    EXPECT_EQ(empty.UploadToTexture(world.world(), 8, 0), PF_Err_INVALID_CALLBACK);
    PX_FBO2 target;
    ASSERT_EQ(target.CreateTextureFBO2(&in_, 2, 2, GL_CLAMP_TO_EDGE, GL_RGB16F), PF_Err_NONE);
    EXPECT_EQ(target.UploadToTexture(nullptr, 8, 0), PF_Err_INVALID_CALLBACK);
    const std::string log = Log();
    EXPECT_NE(log.find("UploadToTexture() called without valid m_colorBuffer.ID\n"), std::string::npos) << log;
    EXPECT_NE(log.find("UploadToTexture() called without valid aeBuffer\n"), std::string::npos) << log;
    EXPECT_EQ(host().Handles().TotalAllocated(), 0);
}

struct HostFailure {
    const char* what;
    const char* fault;
    bool upload;
    PF_Err expected;
    const char* logged;  // null: nothing logged
};
void PrintTo(const HostFailure& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

class TransferHostFailures : public Transfer, public testing::WithParamInterface<HostFailure> {};

TEST_P(TransferHostFailures, AreReportedAndLeaveNothingBehind) {
    const HostFailure& c = GetParam();
    PX_FBO2 target;
    ASSERT_EQ(target.CreateTextureFBO2(&in_, 3, 2, GL_CLAMP_TO_EDGE, GL_RGB16F), PF_Err_NONE);
    SimWorld world = Patterned8(3, 2);
    host().Faults().FailCall(c.fault);
    const PF_Err err = c.upload ? target.UploadToTexture(world.world(), 8, 0)
                                : target.FBOtoEffectWorld(world.world(), 8, 0);
    EXPECT_EQ(err, c.expected);
    EXPECT_EQ(host().Faults().Calls(c.fault), 1) << "the fault was reached";
    const std::string log = Log();
    if (c.logged) {
        EXPECT_EQ(CountOccurrences(log, c.logged), 1) << log;
    } else {
        EXPECT_EQ(log, "");
    }
    EXPECT_EQ(host().Handles().UnbalancedUnlocks(), 0);
    EXPECT_EQ(host().Handles().BadHandleCalls(), 0);
    ExpectDefaultTransferState();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, TransferHostFailures,
    testing::Values(
        HostFailure{"UpNoHandle", "host_new_handle", true, PF_Err_OUT_OF_MEMORY,
                    "UploadToTexture(), failed to generate bufferH with dims of 3, 2\n"},
        HostFailure{"DownNoHandle", "host_new_handle", false, PF_Err_OUT_OF_MEMORY,
                    "FBOtoEffectWorld(), failed to generate bufferH with dims of 3, 2\n"},
        HostFailure{"UpNoLock", "host_lock_handle", true, PF_Err_OUT_OF_MEMORY,
                    "UploadToTexture !bufferP: 0 with dims of 3, 2\n"},
        HostFailure{"DownNoLock", "host_lock_handle", false, PF_Err_OUT_OF_MEMORY,
                    "FBOtoEffectWorld !bufferP: 0 with dims of 3, 2\n"},
        HostFailure{"UpIterationError", simhost::kIterate8Fault, true, PF_Err_INTERNAL_STRUCT_DAMAGED,
                    "UploadToTexture err macro code: 512with dims of 3, 2\n"},
        HostFailure{"DownIterationError", simhost::kIterate8Fault, false, PF_Err_OUT_OF_MEMORY,
                    "FBOtoEffectWorld err macro code: 512 with dims of 3, 2\n"},
        HostFailure{"UpInterrupted", simhost::kIterate8Interrupt, true, PF_Interrupt_CANCEL, nullptr},
        HostFailure{"DownInterrupted", simhost::kIterate8Interrupt, false, PF_Interrupt_CANCEL, nullptr}),
    velloran_test::NameFromWhat<HostFailure>);

TEST_F(Transfer, MissingIterationSuiteIsThrownWithEverythingReleased) {
    PX_FBO2 target;
    ASSERT_EQ(target.CreateTextureFBO2(&in_, 2, 2, GL_CLAMP_TO_EDGE, GL_RGB32F), PF_Err_NONE);
    SimWorld world(2, 2, PixelDepth::k32f);
    host().SetSuiteMissing(kPFIterateFloatSuite, kPFIterateFloatSuiteVersion1);
    for (bool upload : {true, false}) {
        SCOPED_TRACE(upload ? "upload" : "read-back");
        try {
            if (upload) target.UploadToTexture(world.world(), 32, 1);
            else target.FBOtoEffectWorld(world.world(), 32, 1);
            ADD_FAILURE() << "a missing suite is thrown as a host code";
        } catch (int code) {
            EXPECT_EQ(code, PF_Err_BAD_CALLBACK_PARAM);
        }
        EXPECT_EQ(host().Handles().Live(), 0);
        EXPECT_EQ(host().Handles().UnbalancedUnlocks(), 0);
        ExpectDefaultTransferState();
    }
    EXPECT_EQ(host().Counts(kPFHandleSuite, kPFHandleSuiteVersion2).acquires,
              host().Counts(kPFHandleSuite, kPFHandleSuiteVersion2).releases);
}

// With half floats on, a value beyond the half range comes back at the largest half float, never infinite.
TEST_F(Transfer, HalfFloatUploadSaturatesAtTheLargestHalf) {
    PX_FBO2 target;
    ASSERT_EQ(target.CreateTextureFBO2(&in_, 2, 1, GL_CLAMP_TO_EDGE, GL_RGB16F), PF_Err_NONE);
    SimWorld source(2, 1, PixelDepth::k32f);
    source.At<PF_PixelFloat>(0, 0) = {1.f, 70000.f, -70000.f, 65504.f};
    source.At<PF_PixelFloat>(1, 0) = {1.f, 1e20f, 2.f, std::numeric_limits<float>::infinity()};
    ASSERT_EQ(target.UploadToTexture(source.world(), 32, 1), PF_Err_NONE);
    SimWorld back(2, 1, PixelDepth::k32f);
    ASSERT_EQ(target.FBOtoEffectWorld(back.world(), 32, 1), PF_Err_NONE);
    const PF_PixelFloat first = back.At<PF_PixelFloat>(0, 0), second = back.At<PF_PixelFloat>(1, 0);
    EXPECT_EQ(first.red, 65504.f);
    EXPECT_EQ(first.green, -65504.f);
    EXPECT_EQ(first.blue, 65504.f);
    EXPECT_EQ(second.red, 65504.f);
    EXPECT_EQ(second.green, 2.f);
    EXPECT_EQ(second.blue, 0.f) << "an infinite source counts as 0";
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

// A read-back from the window's framebuffer, from a name that is no framebuffer, or from one with nothing
// attached is refused and logged: the world keeps what it held and no GL error is left behind.
TEST_F(Transfer, ReadBackFromAFramebufferThatIsNotThereIsRefused) {
    GLuint incomplete = 0;
    glGenFramebuffers(1, &incomplete);
    glBindFramebuffer(GL_FRAMEBUFFER, incomplete);  // made, with no attachment
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    const struct {
        const char* what;
        GLuint framebuffer;
        const char* log;
    } cases[] = {
        {"the window's", 0, "FBOtoEffectWorld() called without valid framebuffer: 0\n"},
        {"never made", 4321, "FBOtoEffectWorld() called without valid framebuffer: 4321\n"},
        {"nothing attached", incomplete, "FBOtoEffectWorld() called with incomplete framebuffer "},
    };
    for (const auto& c : cases) {
        for (int bitDepth : {8, 32}) {
            SimWorld world(3, 2, bitDepth == 8 ? PixelDepth::k8 : PixelDepth::k32f);
            if (bitDepth == 8) world.At<PF_Pixel>(1, 1) = {7, 7, 7, 7};
            else world.At<PF_PixelFloat>(1, 1) = {7.f, 7.f, 7.f, 7.f};
            while (glGetError() != GL_NO_ERROR) {
            }
            const int before = CountOccurrences(Log(), c.log);
            EXPECT_NE(FBOtoEffectWorld(&in_, c.framebuffer, world.world(), bitDepth, 0), PF_Err_NONE) << c.what;
            EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR)) << c.what;
            EXPECT_EQ(CountOccurrences(Log(), c.log), before + 1) << c.what << "\n" << Log();
            if (bitDepth == 8) EXPECT_EQ(world.At<PF_Pixel>(1, 1).alpha, 7) << c.what << ": the world is not written";
            else EXPECT_EQ(world.At<PF_PixelFloat>(1, 1).alpha, 7.f) << c.what << ": the world is not written";
            ExpectDefaultTransferState();
        }
    }
    glDeleteFramebuffers(1, &incomplete);
}

TEST_F(Transfer, FreeReadBackReadsTheNamedFramebuffer) {
    PX_FBO2 target;
    ASSERT_EQ(target.CreateTextureFBO2(&in_, 2, 1, GL_CLAMP_TO_EDGE, GL_RGB32F), PF_Err_NONE);
    glBindFramebuffer(GL_FRAMEBUFFER, target.m_FBO_ID);
    glClearColor(0.5f, 0.25f, 2.f, 0.f);
    glClear(GL_COLOR_BUFFER_BIT);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    SimWorld back(2, 1, PixelDepth::k32f);
    ASSERT_EQ(FBOtoEffectWorld(&in_, target.m_FBO_ID, back.world(), 32, 0), PF_Err_NONE);
    for (A_long x = 0; x < 2; ++x) {
        const PF_PixelFloat p = back.At<PF_PixelFloat>(x, 0);
        EXPECT_EQ(p.alpha, 1.f);
        EXPECT_EQ(p.red, 0.5f);
        EXPECT_EQ(p.green, 0.25f);
        EXPECT_EQ(p.blue, 2.f);
    }
}

// ---------------------------------------------------------------------------------------------------------
// The host's iteration as the transfer relies on it
// ---------------------------------------------------------------------------------------------------------
using HostIterate = testsupport::SimHostTest;

PF_Err CountVisit(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out) {
    auto* visits = static_cast<std::vector<std::atomic<int>>*>(refcon);
    const A_long width = 9;
    if (in != out) return PF_Err_BAD_CALLBACK_PARAM;  // same world: the same pixel
    ++(*visits)[size_t(y * width + x)];
    out->alpha = uint8_t(x);
    out->red = uint8_t(y);
    return PF_Err_NONE;
}

TEST_F(HostIterate, VisitsEveryPixelOfTheAreaOnceWithItsCoordinates) {
    host().SetWorkerThreads(4);
    const PF_Iterate8Suite1* suite = nullptr;
    ASSERT_EQ(host().AcquireSuite(kPFIterate8Suite, 1, reinterpret_cast<const void**>(&suite)), kSPNoError);
    PF_InData in = host().InDataTemplate();
    SimWorld world(9, 7, PixelDepth::k8, 4);
    std::vector<std::atomic<int>> visits(9 * 7);
    ASSERT_EQ(suite->iterate(&in, 0, 7, world.world(), nullptr, &visits, CountVisit, world.world()), PF_Err_NONE);
    for (A_long y = 0; y < 7; ++y) {
        for (A_long x = 0; x < 9; ++x) {
            EXPECT_EQ(visits[size_t(y * 9 + x)].load(), 1);
            EXPECT_EQ(world.At<PF_Pixel>(x, y).alpha, x);
            EXPECT_EQ(world.At<PF_Pixel>(x, y).red, y);
        }
    }
    EXPECT_TRUE(world.PaddingIntact());

    // An area beyond the world is cut to it.
    for (auto& v : visits) v = 0;
    const PF_Rect area = {7, 5, 20, 20};
    ASSERT_EQ(suite->iterate(&in, 0, 7, world.world(), &area, &visits, CountVisit, world.world()), PF_Err_NONE);
    int visited = 0;
    for (auto& v : visits) visited += v.load();
    EXPECT_EQ(visited, 2 * 2);
    EXPECT_EQ(visits[size_t(6 * 9 + 8)].load(), 1);

    // A float world given to the 8-bit suite would be read with the wrong pixel size.
    SimWorld floats(9, 7, PixelDepth::k32f);
    EXPECT_EQ(suite->iterate(&in, 0, 7, floats.world(), nullptr, &visits, CountVisit, floats.world()),
              PF_Err_BAD_CALLBACK_PARAM);
    host().ReleaseSuite(kPFIterate8Suite, 1);
}

}  // namespace
