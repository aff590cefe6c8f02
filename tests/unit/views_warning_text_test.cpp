// Warning text: the copy of cairo's premultiplied surface words into host worlds, and whole lines drawn through
// the simulated host's world, transfer, handle and generic iteration services: where the text lands at full
// and half resolution and with aux expansion, the darkened backing, the failures and what they leave behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cairo.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "render/WarningText.h"
#include "simhost/CallFailures.h"
#include "simhost/WorldSuites.h"
#include "support/SimHostFixture.h"
#include "support/views_TextBands.h"

namespace {

using simhost::PixelDepth;
using simhost::SimWorld;
using testsupport::TextBox;

// ---- the copy callbacks on surface words chosen by hand ---------------------------------------------------

struct CopyCase {
    const char* what;
    uint32_t word;           // cairo ARGB32: alpha 24..31, red 16..23, green 8..15, blue 0..7, premultiplied
    PF_Pixel before8, after8;
    PF_PixelFloat before32, after32;
};

TEST(WarningTextCopy, SurfaceWordsBecomeStraightPixelsAtBothDepths) {
    const CopyCase cases[] = {
        {"alpha 0 keeps the colour; 8 bits take alpha 0, float is untouched", 0x00000000u, {200, 10, 20, 30},
         {0, 10, 20, 30}, {0.5f, 0.1f, 0.2f, 0.3f}, {0.5f, 0.1f, 0.2f, 0.3f}},
        {"opaque yellow", 0xFFFFFF00u, {0, 1, 2, 3}, {255, 255, 255, 0}, {0, 0.1f, 0.2f, 0.3f}, {1, 1, 1, 0}},
        {"75 % yellow un-premultiplies to full yellow", 0xBFBFBF00u, {0, 1, 2, 3}, {191, 255, 255, 0},
         {0, 0, 0, 0}, {191 / 255.0f, 1, 1, 0}},
        {"8 bits round down: 64 * 255 / 128 = 127.5", 0x80402000u, {0, 1, 2, 3}, {128, 127, 63, 0}, {0, 0, 0, 0},
         {128 / 255.0f, 0.5f, 0.25f, 0}},
        {"colour above alpha is held at 255 in 8 bits", 0x10FF0000u, {0, 1, 2, 3}, {16, 255, 0, 0}, {0, 0, 0, 0},
         {16 / 255.0f, 255 / 16.0f, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // A 3 x 2 surface with padded rows; the case's word sits at (2, 1), every other word is opaque white.
        constexpr int kStride = 16;
        std::vector<unsigned char> surface(kStride * 2, 0xEE);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) {
                const uint32_t word = (x == 2 && y == 1) ? c.word : 0xFFFFFFFFu;
                std::memcpy(&surface[size_t(y * kStride + x * 4)], &word, 4);
            }

        SimWorld w8(3, 2, PixelDepth::k8, 8);
        SimWorld w32(3, 2, PixelDepth::k32f, 16);
        w8.At<PF_Pixel>(2, 1) = c.before8;
        w32.At<PF_PixelFloat>(2, 1) = c.before32;
        cairo_copy_data d8{w8.world(), surface.data(), kStride};
        cairo_copy_data d32{w32.world(), surface.data(), kStride};
        for (A_long y = 0; y < 2; ++y) {
            EXPECT_EQ(cairoCopy8(&d8, 0, y, 2), PF_Err_NONE);
            EXPECT_EQ(cairoCopy32(&d32, 0, y, 2), PF_Err_NONE);
        }

        const PF_Pixel p8 = w8.At<PF_Pixel>(2, 1);
        EXPECT_EQ(p8.alpha, c.after8.alpha);
        EXPECT_EQ(p8.red, c.after8.red);
        EXPECT_EQ(p8.green, c.after8.green);
        EXPECT_EQ(p8.blue, c.after8.blue);
        const PF_PixelFloat p32 = w32.At<PF_PixelFloat>(2, 1);
        EXPECT_NEAR(p32.alpha, c.after32.alpha, 1e-6);
        EXPECT_NEAR(p32.red, c.after32.red, 1e-5);
        EXPECT_NEAR(p32.green, c.after32.green, 1e-5);
        EXPECT_NEAR(p32.blue, c.after32.blue, 1e-6);
        // The other pixels come from their own words: the stride, not the width, steps between rows.
        const PF_Pixel white = w8.At<PF_Pixel>(0, 1);
        EXPECT_EQ(white.alpha, 255);
        EXPECT_EQ(white.blue, 255);
        EXPECT_EQ(w32.At<PF_PixelFloat>(1, 0).green, 1.0f);
        EXPECT_TRUE(w8.PaddingIntact());
        EXPECT_TRUE(w32.PaddingIntact());
    }
}

// ---- whole lines through the host ---------------------------------------------------------------------------

// Ink box of `text` in the effect's font at `fontSize` with its origin (pen position) at (x, baseline).
TextBox InkBox(const char* text, double fontSize, double x, double baseline) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    cairo_t* cr = cairo_create(s);
    cairo_select_font_face(cr, "Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, fontSize);
    cairo_text_extents_t e;
    cairo_text_extents(cr, text, &e);
    cairo_destroy(cr);
    cairo_surface_destroy(s);
    return TextBox{int(std::floor(x + e.x_bearing)), int(std::floor(baseline + e.y_bearing)),
                   int(std::ceil(x + e.x_bearing + e.width)), int(std::ceil(baseline + e.y_bearing + e.height))};
}

// Antialiasing may reach one pixel beyond the ink box, hinting may stop one short.
void ExpectNear(const TextBox& got, const TextBox& expected, const std::string& what) {
    EXPECT_NEAR(got.left, expected.left, 1) << what << ": " << Describe(got) << " vs " << Describe(expected);
    EXPECT_NEAR(got.right, expected.right, 1) << what << ": " << Describe(got) << " vs " << Describe(expected);
    EXPECT_NEAR(got.top, expected.top, 1) << what << ": " << Describe(got) << " vs " << Describe(expected);
    EXPECT_NEAR(got.bottom, expected.bottom, 1) << what << ": " << Describe(got) << " vs " << Describe(expected);
}

class WarningTextDraw : public testsupport::SimHostTest {
protected:
    void SetUp() override {
        SimHostTest::SetUp();
        simhost::Worlds(host());  // the world suite, fill and the transform suite
        in_ = host().InDataTemplate();
        handlesBefore_ = host().Handles().Live();
    }
    void TearDown() override {
        EXPECT_EQ(simhost::Worlds(host()).Alive(), 0) << "a line's temporary world was not disposed";
        EXPECT_EQ(host().Handles().Live(), handlesBefore_) << "a context's handle was not disposed";
        EXPECT_EQ(host().Handles().BadHandleCalls(), 0);
        SimHostTest::TearDown();
    }

    void Settings(PixelDepth depth, float downsample, int aux) {
        p_.pixelFormat = simhost::PixelFormatOf(depth);
        p_.downsampleX = downsample;
        p_.auxExpansion = aux;
    }
    PF_Err Draw(const std::string& text, SimWorld& dst, double yOffset) {
        return DrawString(&p_, &in_, &out_, text, dst.world(), yOffset, 1.0);
    }

    PF_InData in_{};
    PF_OutData out_{};
    myParams p_;
    int handlesBefore_ = 0;
};

// "HHH" has no descender, so its ink ends on the baseline; four lines at the offsets of the views.
TEST_F(WarningTextDraw, LinesLandAtTheirPenPositionAndOffsetsOverADarkenedBacking) {
    struct Case {
        PixelDepth depth;
        float downsample;
        int aux;
        double fontSize, x, baseline, lineStep;
    };
    const Case cases[] = {
        {PixelDepth::k8, 1.0f, 0, 35.0, 50, 80, 40},
        {PixelDepth::k32f, 1.0f, 0, 35.0, 50, 80, 40},
        {PixelDepth::k8, 0.5f, 0, 17.5, 25, 40, 20},
        // Aux expansion moves the pen right and, through the baseline's derivation from x, down.
        {PixelDepth::k8, 1.0f, 12, 35.0, 62, 92, 40},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("downsample " + std::to_string(c.downsample) + ", aux " + std::to_string(c.aux) +
                     (c.depth == PixelDepth::k8 ? ", 8 bits" : ", float"));
        Settings(c.depth, c.downsample, c.aux);
        SimWorld dst(240, 240, c.depth, 4);
        for (int line = 0; line < 4; ++line) ASSERT_EQ(Draw("HHH", dst, 40.0 * line), PF_Err_NONE) << line;

        const auto bands = testsupport::TextBands(dst);
        ASSERT_EQ(bands.size(), 4u);
        for (int line = 0; line < 4; ++line)
            ExpectNear(bands[size_t(line)], InkBox("HHH", c.fontSize, c.x, c.baseline + c.lineStep * line),
                       "line " + std::to_string(line + 1));

        // Text is yellow: red and green alike, no blue.
        const TextBox& first = bands[0];
        const PF_PixelFloat mid = dst.GetFloat((first.left + first.right) / 2, (first.top + first.bottom) / 2);
        EXPECT_NEAR(mid.red, mid.green, 1e-6);
        EXPECT_EQ(mid.blue, 0.0f);

        // Only the first line darkens, once, everywhere: black at 75 % wherever there is no text.
        for (int y = 0; y < dst.height(); ++y)
            for (int x = 0; x < dst.width(); ++x) {
                if (testsupport::IsTextPixel(dst, x, y)) continue;
                const PF_PixelFloat px = dst.GetFloat(x, y);
                ASSERT_NEAR(px.alpha, 191 / 255.0f, 1e-6) << x << "," << y;
                ASSERT_EQ(px.red + px.green + px.blue, 0.0f) << x << "," << y;
            }
        EXPECT_TRUE(dst.PaddingIntact());
    }
}

// The text is yellow at 75 %: where a glyph covers a pixel wholly, a later line over nothing is 191 / 255
// opaque, and the first line, over its 75 % black backing, 0.75 + 0.75 x 0.25 = 0.9375 (239 / 255) with red
// and green at 0.75 / 0.9375 = 0.8.
TEST_F(WarningTextDraw, TextIsDrawnAtThreeQuartersOpacity) {
    struct Case {
        const char* what;
        double yOffset;
        int alpha, red;
    };
    const Case cases[] = {{"a later line over nothing", 40, 191, 255}, {"the first line over its backing", 0, 239, 204}};
    for (const Case& c : cases) {
        Settings(PixelDepth::k8, 1.0f, 0);
        SimWorld dst(200, 160, PixelDepth::k8);
        ASSERT_EQ(Draw("HH", dst, c.yOffset), PF_Err_NONE) << c.what;
        int highest = 0;
        PF_Pixel densest{};
        for (int y = 0; y < dst.height(); ++y)
            for (int x = 0; x < dst.width(); ++x) {
                const PF_Pixel px = dst.At<PF_Pixel>(x, y);
                if (testsupport::IsTextPixel(dst, x, y) && px.alpha > highest) highest = px.alpha, densest = px;
            }
        EXPECT_NEAR(highest, c.alpha, 1) << c.what;
        EXPECT_NEAR(densest.red, c.red, 1) << c.what;
        EXPECT_NEAR(densest.green, c.red, 1) << c.what;
        EXPECT_EQ(densest.blue, 0) << c.what;
    }
}

TEST_F(WarningTextDraw, LaterLinesLeaveTheOutputAloneAwayFromTheirText) {
    Settings(PixelDepth::k8, 1.0f, 0);
    SimWorld dst(200, 160, PixelDepth::k8);
    dst.At<PF_Pixel>(3, 150) = {255, 0, 90, 200};
    ASSERT_EQ(Draw("HH", dst, 40), PF_Err_NONE);
    const PF_Pixel kept = dst.At<PF_Pixel>(3, 150);
    EXPECT_EQ(kept.alpha, 255);
    EXPECT_EQ(kept.green, 90);
    EXPECT_EQ(kept.blue, 200);
    EXPECT_EQ(dst.At<PF_Pixel>(190, 5).alpha, 0) << "no backing behind a line at a non-zero offset";
    ASSERT_EQ(testsupport::TextBands(dst).size(), 1u);
    ExpectNear(testsupport::TextBands(dst)[0], InkBox("HH", 35.0, 50, 120), "the line");
}

TEST_F(WarningTextDraw, ASurfaceCairoCannotMakeReturnsOutOfMemoryAndDrawsNothing) {
    // cairo's image surfaces stop at 32767 pixels a side; an output grown by a large aux expansion gets there.
    Settings(PixelDepth::k8, 1.0f, 0);
    SimWorld dst(32768, 2, PixelDepth::k8);
    EXPECT_EQ(Draw("Velloran 2 warning:", dst, 0), PF_Err_OUT_OF_MEMORY);
    for (int x = 0; x < dst.width(); x += 97) ASSERT_EQ(dst.At<PF_Pixel>(x, 1).alpha, 0) << x;
}

// An output without a pixel is nothing to draw, not a failure.
TEST_F(WarningTextDraw, AnOutputWithoutPixelsDrawsNothingAndSucceeds) {
    const struct {
        A_long width, height;
    } sizes[] = {{0, 20}, {20, 0}, {0, 0}};
    for (PixelDepth depth : {PixelDepth::k8, PixelDepth::k32f}) {
        Settings(depth, 1.0f, 0);
        for (const auto& size : sizes) {
            SimWorld dst(size.width, size.height, depth);
            EXPECT_EQ(Draw("Velloran 2 warning:", dst, 0), PF_Err_NONE) << size.width << " x " << size.height;
            EXPECT_TRUE(dst.PaddingIntact());
        }
    }
}

TEST_F(WarningTextDraw, HostFailuresAreReturnedLoggedAndReleaseEverything) {
    struct Case {
        const char* call;
        PF_Err code;
        PF_Err expected;
        const char* logged;  // null: nothing logged
    };
    const Case cases[] = {
        {"PF_NewWorld", PF_Err_OUT_OF_MEMORY, PF_Err_OUT_OF_MEMORY, "err DrawString: PF_NewWorld: 4"},
        {"host_new_handle", 0, PF_Err_OUT_OF_MEMORY, nullptr},
        {"host_lock_handle", 0, PF_Err_OUT_OF_MEMORY, nullptr},
        {"transfer_rect", PF_Err_INTERNAL_STRUCT_DAMAGED, PF_Err_INTERNAL_STRUCT_DAMAGED,
         "err DrawString: transfer_rect: 512"},
        {"PF_DisposeWorld", PF_Err_INTERNAL_STRUCT_DAMAGED, PF_Err_INTERNAL_STRUCT_DAMAGED, nullptr},
    };
    Settings(PixelDepth::k8, 1.0f, 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call);
        if (c.code) simhost::SetFailureCode(host(), c.call, c.code);
        host().Faults().FailCall(c.call);
        SimWorld dst(120, 100, PixelDepth::k8);
        const std::string logBefore = Log();
        EXPECT_EQ(Draw("HH", dst, 0), c.expected);
        const std::string logged = Log().substr(logBefore.size());
        if (c.logged) {
            EXPECT_THAT(logged, ::testing::HasSubstr(c.logged));
        } else {
            EXPECT_EQ(logged, "");
        }
        host().Faults().Clear();
        if (std::string(c.call) == "PF_DisposeWorld") {
            // The host refused the disposal; give the world back so the fixture's count stays meaningful.
            EXPECT_EQ(simhost::Worlds(host()).Alive(), 1);
            simhost::Worlds(host()).ReleaseFrame(0);
        }
        EXPECT_EQ(simhost::Worlds(host()).Alive(), 0);
        EXPECT_EQ(host().Handles().Live(), handlesBefore_);
    }
}

}  // namespace
