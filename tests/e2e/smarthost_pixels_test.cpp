// The host's pixel services with hand-computed values: transfer_rect in each composite mode the effect uses, at
// an opacity, through alpha and luminance masks, inverted, at offsets, clipped, at 8 bits and 32-bit float;
// fill and copy clipped to their worlds.
#include <gtest/gtest.h>

#include <optional>

#include "sdk/AE_EffectSuites.h"
#include "simhost/CallFailures.h"
#include "simhost/TransferRect.h"
#include "simhost/World.h"
#include "simhost/WorldSuites.h"
#include "support/SimHostFixture.h"

namespace {

using simhost::PixelDepth;
using simhost::SimWorld;

// A pixel in the world's own units: 0..255 at 8 bits, floats at 32 bits.
struct Px {
    double a, r, g, b;
};

void Put(SimWorld& w, A_long x, A_long y, const Px& p) {
    if (w.depth() == PixelDepth::k8)
        w.At<PF_Pixel>(x, y) = {A_u_char(p.a), A_u_char(p.r), A_u_char(p.g), A_u_char(p.b)};
    else
        w.At<PF_PixelFloat>(x, y) = {float(p.a), float(p.r), float(p.g), float(p.b)};
}

Px Get(const SimWorld& w, A_long x, A_long y) {
    if (w.depth() == PixelDepth::k8) {
        const PF_Pixel& p = w.At<PF_Pixel>(x, y);
        return {double(p.alpha), double(p.red), double(p.green), double(p.blue)};
    }
    const PF_PixelFloat& p = w.At<PF_PixelFloat>(x, y);
    return {p.alpha, p.red, p.green, p.blue};
}

void ExpectPixel(const SimWorld& w, A_long x, A_long y, const Px& e) {
    const Px got = Get(w, x, y);
    const double tolerance = w.depth() == PixelDepth::k8 ? 0 : 1e-6;
    EXPECT_NEAR(got.a, e.a, tolerance) << "alpha at " << x << "," << y;
    EXPECT_NEAR(got.r, e.r, tolerance) << "red at " << x << "," << y;
    EXPECT_NEAR(got.g, e.g, tolerance) << "green at " << x << "," << y;
    EXPECT_NEAR(got.b, e.b, tolerance) << "blue at " << x << "," << y;
}

SimWorld OnePixel(PixelDepth depth, const Px& p) {
    SimWorld w(1, 1, depth, 8);
    Put(w, 0, 0, p);
    return w;
}

PF_CompositeMode Mode(PF_TransferMode xfer, A_u_char opacity) {
    PF_CompositeMode m{};
    m.xfer = xfer;
    m.opacity = opacity;
    return m;
}

// 8-bit values are multiples of 51 (0.2) where they can be, so the expected results are short sums; the
// comment of each case is its arithmetic, in fractions of 255 for 8 bits.
TEST(SmartHostTransferRect, CompositesEachModeAtOpacityThroughMasks) {
    constexpr PixelDepth k8 = PixelDepth::k8, k32 = PixelDepth::k32f;
    struct Mask {
        Px pixel;
        A_long flags;
    };
    struct Case {
        const char* what;
        PixelDepth depth;
        PF_TransferMode xfer;
        A_u_char opacity;
        Px src, dst;
        std::optional<Mask> mask;
        Px expected;
    };
    const Case cases[] = {
        {"copy replaces", k8, PF_Xfer_COPY, 255, {153, 255, 102, 51}, {255, 0, 0, 0}, {}, {153, 255, 102, 51}},
        {"copy at 0.2: alpha 0.6 x 0.2 = 0.12", k8, PF_Xfer_COPY, 51, {153, 255, 102, 51}, {255, 9, 9, 9}, {},
         {31, 255, 102, 51}},
        {"in front on opaque: 0.4 S + 0.6 D", k8, PF_Xfer_IN_FRONT, 255, {102, 255, 0, 51}, {255, 0, 255, 255}, {},
         {255, 102, 153, 173}},
        {"in front on transparent keeps the straight colour", k8, PF_Xfer_IN_FRONT, 255, {102, 255, 0, 51},
         {0, 9, 9, 9}, {}, {102, 255, 0, 51}},
        {"in front, both partly transparent: alpha 0.4 + 0.6 x 0.6 = 0.76, red 0.4/0.76, blue 0.36/0.76", k8,
         PF_Xfer_IN_FRONT, 255, {102, 255, 0, 0}, {153, 0, 0, 255}, {}, {194, 134, 0, 121}},
        {"in front at opacity 0 leaves the destination", k8, PF_Xfer_IN_FRONT, 0, {255, 255, 255, 255},
         {255, 10, 20, 30}, {}, {255, 10, 20, 30}},
        {"add clamps at 8 bits: 0.8 + 0.4, 0.2 + 0.2, 0 + 1", k8, PF_Xfer_ADD, 255, {255, 102, 51, 0},
         {255, 204, 51, 255}, {}, {255, 255, 102, 255}},
        {"add at 0.2: D + 0.2 S", k8, PF_Xfer_ADD, 51, {255, 255, 255, 255}, {255, 0, 102, 255}, {},
         {255, 51, 153, 255}},
        {"screen: 0.6 + 0.4 - 0.24, 0.4 + 1 - 0.4, 0.2 + 0", k8, PF_Xfer_SCREEN, 255, {255, 102, 255, 0},
         {255, 153, 102, 51}, {}, {255, 194, 255, 51}},
        {"screen at 0.4: 0.2 + 0.4 x 1 x 0.8 = 0.52", k8, PF_Xfer_SCREEN, 102, {255, 255, 0, 255},
         {255, 51, 51, 51}, {}, {255, 133, 51, 133}},
        {"alpha mask 0.4", k8, PF_Xfer_COPY, 255, {255, 255, 255, 255}, {0, 0, 0, 0},
         Mask{{102, 0, 0, 0}, PF_MaskFlag_NONE}, {102, 255, 255, 255}},
        {"alpha mask 0.4 inverted", k8, PF_Xfer_COPY, 255, {255, 255, 255, 255}, {0, 0, 0, 0},
         Mask{{102, 0, 0, 0}, PF_MaskFlag_INVERTED}, {153, 255, 255, 255}},
        {"luminance mask of pure red: 0.2126", k8, PF_Xfer_COPY, 255, {255, 255, 255, 255}, {0, 0, 0, 0},
         Mask{{255, 255, 0, 0}, PF_MaskFlag_LUMINANCE}, {54, 255, 255, 255}},
        {"luminance mask of pure red inverted: 0.7874", k8, PF_Xfer_COPY, 255, {255, 255, 255, 255}, {0, 0, 0, 0},
         Mask{{255, 255, 0, 0}, PF_MaskFlag_LUMINANCE | PF_MaskFlag_INVERTED}, {201, 255, 255, 255}},
        {"luminance mask of white at alpha 0.4: over black, 0.4", k8, PF_Xfer_COPY, 255, {255, 255, 255, 255},
         {0, 0, 0, 0}, Mask{{102, 255, 255, 255}, PF_MaskFlag_LUMINANCE}, {102, 255, 255, 255}},
        {"mask and opacity multiply: 0.6 x 0.2 x alpha 1 x screen on black", k8, PF_Xfer_SCREEN, 51,
         {255, 255, 255, 255}, {255, 0, 0, 0}, Mask{{153, 0, 0, 0}, PF_MaskFlag_NONE}, {255, 31, 31, 31}},
        {"float add keeps over-range values", k32, PF_Xfer_ADD, 255, {1, 2.0, 0.5, 0}, {1, 1.5, 0, 0.25}, {},
         {1, 3.5, 0.5, 0.25}},
        {"float screen", k32, PF_Xfer_SCREEN, 255, {1, 0.5, 0.5, 0.5}, {1, 0.5, 0, 1}, {}, {1, 0.75, 0.5, 1}},
        {"float in front at alpha 0.25 on opaque", k32, PF_Xfer_IN_FRONT, 255, {0.25, 0, 1, 0}, {1, 1, 0, 0}, {},
         {1, 0.75, 0.25, 0}},
        {"float luminance mask 0.5 inverted", k32, PF_Xfer_COPY, 255, {1, 0.25, 0.5, 2}, {0, 0, 0, 0},
         Mask{{1, 0.5, 0.5, 0.5}, PF_MaskFlag_LUMINANCE | PF_MaskFlag_INVERTED}, {0.5, 0.25, 0.5, 2}},
        {"float mask alpha above 1 counts as 1", k32, PF_Xfer_COPY, 255, {0.5, 1, 1, 1}, {0, 0, 0, 0},
         Mask{{2, 0, 0, 0}, PF_MaskFlag_NONE}, {0.5, 1, 1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimWorld src = OnePixel(c.depth, c.src), dst = OnePixel(c.depth, c.dst);
        std::optional<SimWorld> maskWorld;
        PF_MaskWorld mask{};
        if (c.mask) {
            maskWorld = OnePixel(c.depth, c.mask->pixel);
            mask.mask = *maskWorld->world();
            mask.what_is_mask = c.mask->flags;
        }
        const PF_CompositeMode mode = Mode(c.xfer, c.opacity);
        ASSERT_EQ(simhost::TransferRect(2, nullptr, src.world(), &mode, c.mask ? &mask : nullptr, 0, 0, dst.world()),
                  PF_Err_NONE);
        ExpectPixel(dst, 0, 0, c.expected);
        EXPECT_TRUE(dst.PaddingIntact());
    }
}

// A 3 by 3 source whose pixel (x, y) has red 10 x + y, over a 4 by 4 destination of grey 200.
TEST(SmartHostTransferRect, PlacesTheSourceRectangleAtTheOffsetAndClips) {
    struct Case {
        const char* what;
        std::optional<PF_Rect> srcRect;
        A_long destX, destY;
        // Each destination pixel: the source pixel it shows, or (-1, -1) for untouched.
        int expect[4][4][2];
    };
    const int U = -1;
    const Case cases[] = {
        {"whole source at (1, 2): its last row falls off",
         {},
         1,
         2,
         {{{U, U}, {U, U}, {U, U}, {U, U}},
          {{U, U}, {U, U}, {U, U}, {U, U}},
          {{U, U}, {0, 0}, {1, 0}, {2, 0}},
          {{U, U}, {0, 1}, {1, 1}, {2, 1}}}},
        {"part of the source at the origin",
         PF_Rect{1, 1, 3, 3},
         0,
         0,
         {{{1, 1}, {2, 1}, {U, U}, {U, U}},
          {{1, 2}, {2, 2}, {U, U}, {U, U}},
          {{U, U}, {U, U}, {U, U}, {U, U}},
          {{U, U}, {U, U}, {U, U}, {U, U}}}},
        {"negative offset",
         {},
         -2,
         -1,
         {{{2, 1}, {U, U}, {U, U}, {U, U}},
          {{2, 2}, {U, U}, {U, U}, {U, U}},
          {{U, U}, {U, U}, {U, U}, {U, U}},
          {{U, U}, {U, U}, {U, U}, {U, U}}}},
        {"a source rectangle reaching outside the source: its corner still lands on the offset",
         PF_Rect{-1, -1, 2, 2},
         0,
         0,
         {{{U, U}, {U, U}, {U, U}, {U, U}},
          {{U, U}, {0, 0}, {1, 0}, {U, U}},
          {{U, U}, {0, 1}, {1, 1}, {U, U}},
          {{U, U}, {U, U}, {U, U}, {U, U}}}},
        {"entirely outside the destination",
         {},
         4,
         0,
         {{{U, U}, {U, U}, {U, U}, {U, U}},
          {{U, U}, {U, U}, {U, U}, {U, U}},
          {{U, U}, {U, U}, {U, U}, {U, U}},
          {{U, U}, {U, U}, {U, U}, {U, U}}}},
    };
    for (const PixelDepth depth : {PixelDepth::k8, PixelDepth::k32f}) {
        const double unit = depth == PixelDepth::k8 ? 1 : 1 / 255.0;
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            SimWorld src(3, 3, depth, 4), dst(4, 4, depth, 4);
            for (A_long y = 0; y < 3; ++y)
                for (A_long x = 0; x < 3; ++x) Put(src, x, y, {255 * unit, (10 * x + y) * unit, 0, 0});
            for (A_long y = 0; y < 4; ++y)
                for (A_long x = 0; x < 4; ++x) Put(dst, x, y, {255 * unit, 200 * unit, 200 * unit, 200 * unit});
            const PF_CompositeMode mode = Mode(PF_Xfer_COPY, 255);
            ASSERT_EQ(simhost::TransferRect(3, c.srcRect ? &*c.srcRect : nullptr, src.world(), &mode, nullptr,
                                            c.destX, c.destY, dst.world()),
                      PF_Err_NONE);
            for (A_long y = 0; y < 4; ++y) {
                for (A_long x = 0; x < 4; ++x) {
                    const int sx = c.expect[y][x][0], sy = c.expect[y][x][1];
                    if (sx == U)
                        ExpectPixel(dst, x, y, {255 * unit, 200 * unit, 200 * unit, 200 * unit});
                    else
                        ExpectPixel(dst, x, y, {255 * unit, (10 * sx + sy) * unit, 0, 0});
                }
            }
            EXPECT_TRUE(dst.PaddingIntact());
        }
    }
}

TEST(SmartHostTransferRect, MaskOffsetPlacesTheMaskOverTheSource) {
    // A 3 by 1 source through a 1 by 1 opaque mask at (1, 0): only the middle pixel passes; inverted, the others.
    for (const A_long flags : {PF_MaskFlag_NONE, PF_MaskFlag_INVERTED}) {
        SCOPED_TRACE(flags);
        SimWorld src(3, 1, PixelDepth::k8), dst(3, 1, PixelDepth::k8);
        for (A_long x = 0; x < 3; ++x) Put(src, x, 0, {255, 255, 255, 255});
        SimWorld maskPixels = OnePixel(PixelDepth::k8, {255, 0, 0, 0});
        PF_MaskWorld mask{};
        mask.mask = *maskPixels.world();
        mask.offset = {1, 0};
        mask.what_is_mask = flags;
        const PF_CompositeMode mode = Mode(PF_Xfer_COPY, 255);
        ASSERT_EQ(simhost::TransferRect(1, nullptr, src.world(), &mode, &mask, 0, 0, dst.world()), PF_Err_NONE);
        const double inside = flags ? 0 : 255, outside = flags ? 255 : 0;
        EXPECT_EQ(Get(dst, 0, 0).a, outside);
        EXPECT_EQ(Get(dst, 1, 0).a, inside);
        EXPECT_EQ(Get(dst, 2, 0).a, outside);
    }
}

TEST(SmartHostTransferRect, RefusesWhatItCannotDo) {
    SimWorld src(2, 2, PixelDepth::k8), dst(2, 2, PixelDepth::k8);
    const PF_CompositeMode multiply = Mode(PF_Xfer_MULTIPLY, 255), copy = Mode(PF_Xfer_COPY, 255);
    EXPECT_EQ(simhost::TransferRect(1, nullptr, src.world(), &multiply, nullptr, 0, 0, dst.world()),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(simhost::TransferRect(1, nullptr, src.world(), nullptr, nullptr, 0, 0, dst.world()),
              PF_Err_BAD_CALLBACK_PARAM);
    PF_EffectWorld none{};
    EXPECT_EQ(simhost::TransferRect(1, nullptr, src.world(), &copy, nullptr, 0, 0, &none), PF_Err_BAD_CALLBACK_PARAM);
}

class SmartHostFillCopy : public testsupport::SimHostTest {
protected:
    void SetUp() override {
        SimHostTest::SetUp();
        simhost::Worlds(host());  // installs fill, copy and the world suites
    }
};

TEST_F(SmartHostFillCopy, FillIsClippedToTheWorld) {
    struct Case {
        const char* what;
        PixelDepth depth;
        bool withColor;
        std::optional<PF_Rect> rect;
        int filledFromX, filledFromY, filledToX, filledToY;  // half open
        Px filled;
    };
    const Case cases[] = {
        {"a rectangle over the top-left corner", PixelDepth::k8, true, PF_Rect{-2, -2, 2, 2}, 0, 0, 2, 2,
         {255, 51, 0, 255}},
        {"no colour, no rectangle: all transparent black", PixelDepth::k8, false, {}, 0, 0, 4, 3, {0, 0, 0, 0}},
        {"32 bits takes the 8-bit colour over 255", PixelDepth::k32f, true, PF_Rect{3, 1, 9, 9}, 3, 1, 4, 3,
         {1, 0.2, 0, 1}},
        {"outside the world: nothing", PixelDepth::k8, true, PF_Rect{4, 0, 6, 3}, 0, 0, 0, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimWorld w(4, 3, c.depth, 8);
        const double unit = c.depth == PixelDepth::k8 ? 1 : 1 / 255.0;
        const Px before{100 * unit, 100 * unit, 100 * unit, 100 * unit};
        for (A_long y = 0; y < 3; ++y)
            for (A_long x = 0; x < 4; ++x) Put(w, x, y, before);
        const PF_Pixel color{255, 51, 0, 255};
        ASSERT_EQ(host().Utils().fill(&host(), c.withColor ? &color : nullptr, c.rect ? &*c.rect : nullptr, w.world()),
                  PF_Err_NONE);
        for (A_long y = 0; y < 3; ++y)
            for (A_long x = 0; x < 4; ++x) {
                const bool in = x >= c.filledFromX && x < c.filledToX && y >= c.filledFromY && y < c.filledToY;
                ExpectPixel(w, x, y, in ? c.filled : before);
            }
        EXPECT_TRUE(w.PaddingIntact());
    }
}

TEST_F(SmartHostFillCopy, CopyIsClippedAndScalesBetweenRectangles) {
    SimWorld src(2, 2, PixelDepth::k8);
    for (A_long y = 0; y < 2; ++y)
        for (A_long x = 0; x < 2; ++x) Put(src, x, y, {255, double(10 * x + y), 0, 0});
    struct Case {
        const char* what;
        std::optional<PF_Rect> srcRect, dstRect;
        int expect[3][3];  // red of each destination pixel; -1 untouched
    };
    const Case cases[] = {
        {"the whole source at (1, 1) of the destination, its right column and bottom row clipped",
         PF_Rect{0, 0, 2, 2},
         PF_Rect{1, 1, 3, 3},
         {{-1, -1, -1}, {-1, 0, 10}, {-1, 1, 11}}},
        {"one pixel of the source into a 1 by 1 rectangle", PF_Rect{1, 0, 2, 1}, PF_Rect{0, 2, 1, 3},
         {{-1, -1, -1}, {-1, -1, -1}, {10, -1, -1}}},
        {"no rectangles: the source scaled over the whole destination, nearest pixel", {}, {},
         {{0, 10, 10}, {1, 11, 11}, {1, 11, 11}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimWorld dst(3, 3, PixelDepth::k8, 4);
        for (A_long y = 0; y < 3; ++y)
            for (A_long x = 0; x < 3; ++x) Put(dst, x, y, {1, 99, 99, 99});
        ASSERT_EQ(host().Utils().copy(&host(), src.world(), dst.world(), c.srcRect ? &*c.srcRect : nullptr,
                                      c.dstRect ? &*c.dstRect : nullptr),
                  PF_Err_NONE);
        for (A_long y = 0; y < 3; ++y)
            for (A_long x = 0; x < 3; ++x) {
                const int red = c.expect[y][x];
                ExpectPixel(dst, x, y, red < 0 ? Px{1, 99, 99, 99} : Px{255, double(red), 0, 0});
            }
        EXPECT_TRUE(dst.PaddingIntact());
    }
}

TEST_F(SmartHostFillCopy, CallbacksAndTransferFailOnDemand) {
    SimWorld a(2, 2, PixelDepth::k8), b(2, 2, PixelDepth::k8);
    const void* suite = nullptr;
    ASSERT_EQ(host().AcquireSuite(kPFWorldTransformSuite, kPFWorldTransformSuiteVersion1, &suite), kSPNoError);
    const auto* transform = static_cast<const PF_WorldTransformSuite1*>(suite);
    const PF_CompositeMode mode = Mode(PF_Xfer_COPY, 255);
    simhost::SetFailureCode(host(), "transfer_rect", PF_Interrupt_CANCEL);
    host().Faults().FailCall("fill");
    host().Faults().FailCall("copy");
    host().Faults().FailCall("transfer_rect");
    EXPECT_EQ(host().Utils().fill(&host(), nullptr, nullptr, a.world()), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(host().Utils().copy(&host(), a.world(), b.world(), nullptr, nullptr), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(transform->transfer_rect(&host(), PF_Quality_HI, 0, PF_Field_FRAME, nullptr, a.world(), &mode, nullptr,
                                       0, 0, b.world()),
              PF_Interrupt_CANCEL);
    // Each failed once; the next calls go through.
    EXPECT_EQ(host().Utils().fill(&host(), nullptr, nullptr, a.world()), PF_Err_NONE);
    EXPECT_EQ(transform->transfer_rect(&host(), PF_Quality_HI, 0, PF_Field_FRAME, nullptr, a.world(), &mode, nullptr,
                                       0, 0, b.world()),
              PF_Err_NONE);
    host().ReleaseSuite(kPFWorldTransformSuite, kPFWorldTransformSuiteVersion1);
}

}  // namespace
