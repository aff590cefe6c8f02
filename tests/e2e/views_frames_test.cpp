// Whole frames of the diagnostic views through the loaded bundle: a view that fills the output is all the frame
// shows (no glow, no source composite, no unmult), the iris shown at its place over opaque black, the lens-dirt
// input transparent outside its layer, no warning where none is due, and every world the frame made disposed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "sdk/AE_EffectSuites.h"
#include "simhost/Composition.h"
#include "simhost/ParamStore.h"
#include "simhost/SmartRender.h"
#include "simhost/WorldSuites.h"
#include "support/SimHostFixture.h"
#include "support/views_TextBands.h"

namespace {

using simhost::FrameResult;
using simhost::LayerId;
using simhost::PixelDepth;
using simhost::SimWorld;

// Parameter indices of the effect's table.
constexpr int kGlowMode = 17;
constexpr int kRadius = 19;
constexpr int kIrisLayer = 39;
constexpr int kLensDirtLayer = 90;
constexpr int kRepeatEdges = 95;
constexpr int kViewWithIris = 110;  // 1 Final Result, 2 Glow Input, 4 View Iris, 6, 7, 8 the lens-dirt views
constexpr int kView = 111;          // 1 Final Result, 2 Glow Input, 4, 5, 6 the lens-dirt views

SimWorld Solid(A_long w, A_long h, PF_Pixel p) {
    SimWorld world(w, h, PixelDepth::k8);
    for (A_long y = 0; y < h; ++y)
        for (A_long x = 0; x < w; ++x) world.At<PF_Pixel>(x, y) = p;
    return world;
}

// Each pixel tells where in its layer it is: {alpha, x, y, 99}.
SimWorld Ramp(A_long w, A_long h, A_u_char alpha) {
    SimWorld world(w, h, PixelDepth::k8);
    for (A_long y = 0; y < h; ++y)
        for (A_long x = 0; x < w; ++x) world.At<PF_Pixel>(x, y) = {alpha, A_u_char(3 * x), A_u_char(3 * y), 99};
    return world;
}

class ViewFrames : public testsupport::SimHostTest {
protected:
    void SetUp() override {
        SimHostTest::SetUp();
        simhost::Params(host());
        simhost::Comp(host());  // the layers, and the layer and colour suites
        simhost::Worlds(host());
        ASSERT_EQ(host().Send(PF_Cmd_GLOBAL_SETUP).err, PF_Err_NONE);
        ASSERT_EQ(host().Send(PF_Cmd_PARAMS_SETUP).err, PF_Err_NONE);
        simhost::Params(host()).SetNumber(kRadius, 4);
    }
    void TearDown() override {
        if (host_) {
            EXPECT_EQ(host().Send(PF_Cmd_GLOBAL_SETDOWN).err, PF_Err_NONE);
        }
        SimHostTest::TearDown();
    }

    void LensIris(int viewWithIris) {
        simhost::Params(host()).SetNumber(kGlowMode, 2);
        simhost::Params(host()).SetNumber(kViewWithIris, viewWithIris);
    }
    void Exponential(int view) {
        simhost::Params(host()).SetNumber(kGlowMode, 1);
        simhost::Params(host()).SetNumber(kView, view);
    }

    FrameResult Frame() {
        FrameResult frame = simhost::RunSmartFrame(host());
        EXPECT_EQ(frame.preRender.err, PF_Err_NONE) << frame.preRender.return_msg;
        EXPECT_TRUE(frame.rendered);
        EXPECT_EQ(frame.render.err, PF_Err_NONE) << frame.render.return_msg;
        EXPECT_TRUE(frame.Clean()) << frame.Problems();
        EXPECT_EQ(frame.worldsMade, frame.worldsDisposed);
        EXPECT_TRUE(frame.outputCheckedOut);
        return frame;
    }

    // The output pixel over the frame's point (x, y), in the input layer's coordinates.
    static PF_PixelFloat At(const FrameResult& f, A_long x, A_long y) {
        return f.output.GetFloat(x - f.outputOriginX, y - f.outputOriginY);
    }
};

TEST_F(ViewFrames, FinalResultWithoutIrisShowsOnlyTheWarning) {
    // A blue source would show through wherever the source composite, unmult or a glow touched the output.
    simhost::Comp(host()).AddLayer(Solid(256, 176, {255, 0, 0, 255}), 0, 0, "input");
    simhost::Comp(host()).SetLayerParam(kIrisLayer, 0);  // "none" chosen: the default is the effect's own layer
    LensIris(1);
    host().ResetCounts();
    const FrameResult frame = Frame();
    EXPECT_EQ(host().Counts(kPFIterate8Suite, kPFIterate8SuiteVersion1).acquires, 0) << "a CPU pass ran";
    EXPECT_EQ(frame.worldsMade, 3) << "one temporary world per warning line";

    const SimWorld& out = frame.output;
    const auto bands = testsupport::TextBands(out);
    ASSERT_EQ(bands.size(), 3u);
    for (size_t n = 0; n < bands.size(); ++n) {
        const int baseline = 80 + 40 * int(n);
        EXPECT_GE(bands[n].left, 50) << "line " << n + 1;
        EXPECT_LE(bands[n].left, 54) << "line " << n + 1;
        EXPECT_LT(bands[n].top, baseline - 20) << "line " << n + 1;
        EXPECT_GT(bands[n].bottom, baseline - 2) << "line " << n + 1;
        EXPECT_LE(bands[n].bottom, baseline + 10) << "line " << n + 1;
    }
    for (A_long y = 0; y < out.height(); ++y)
        for (A_long x = 0; x < out.width(); ++x) {
            if (testsupport::IsTextPixel(out, x, y)) continue;
            const PF_Pixel p = out.At<PF_Pixel>(x, y);
            ASSERT_EQ(p.alpha, 191) << x << "," << y;
            ASSERT_EQ(p.red + p.green + p.blue, 0) << x << "," << y;
        }
}

TEST_F(ViewFrames, ViewIrisShowsTheIrisAtItsPlaceOverOpaqueBlack) {
    auto& comp = simhost::Comp(host());
    comp.AddLayer(Solid(64, 48, {255, 0, 0, 255}), 0, 0, "input");
    const LayerId iris = comp.AddLayer(Ramp(20, 12, 255), 30, 14, "iris");
    comp.SetLayerParam(kIrisLayer, iris);
    LensIris(4);
    const FrameResult frame = Frame();
    int irisPixels = 0;
    for (A_long y = 0; y < frame.output.height(); ++y)
        for (A_long x = 0; x < frame.output.width(); ++x) {
            const A_long fx = x + frame.outputOriginX, fy = y + frame.outputOriginY;
            const bool onIris = fx >= 30 && fx < 50 && fy >= 14 && fy < 26;
            const PF_Pixel p = frame.output.At<PF_Pixel>(x, y);
            ASSERT_EQ(p.alpha, 255) << fx << "," << fy;
            if (onIris) {
                ++irisPixels;
                ASSERT_EQ(p.red, 3 * (fx - 30)) << fx << "," << fy;
                ASSERT_EQ(p.green, 3 * (fy - 14)) << fx << "," << fy;
                ASSERT_EQ(p.blue, 99) << fx << "," << fy;
            } else {
                ASSERT_EQ(p.red + p.green + p.blue, 0) << fx << "," << fy;
            }
        }
    EXPECT_EQ(irisPixels, 20 * 12) << "the output covers the whole iris";
}

TEST_F(ViewFrames, LensDirtInputWithoutRepeatEdgesIsTransparentOutsideTheLayer) {
    auto& comp = simhost::Comp(host());
    comp.AddLayer(Solid(64, 48, {255, 0, 0, 255}), 0, 0, "input");
    const LayerId dirt = comp.AddLayer(Ramp(24, 16, 200), 10, 20, "dirt");
    comp.SetLayerParam(kLensDirtLayer, dirt);
    simhost::Params(host()).SetNumber(kRepeatEdges, 0);
    Exponential(4);
    const FrameResult frame = Frame();
    int dirtPixels = 0;
    for (A_long y = 0; y < frame.output.height(); ++y)
        for (A_long x = 0; x < frame.output.width(); ++x) {
            const A_long fx = x + frame.outputOriginX, fy = y + frame.outputOriginY;
            const PF_Pixel p = frame.output.At<PF_Pixel>(x, y);
            if (fx >= 10 && fx < 34 && fy >= 20 && fy < 36) {
                ++dirtPixels;
                ASSERT_EQ(p.alpha, 200) << fx << "," << fy;
                ASSERT_EQ(p.red, 3 * (fx - 10)) << fx << "," << fy;
                ASSERT_EQ(p.green, 3 * (fy - 20)) << fx << "," << fy;
            } else {
                ASSERT_EQ(p.alpha + p.red + p.green + p.blue, 0) << fx << "," << fy;
            }
        }
    EXPECT_GT(dirtPixels, 0);
}

TEST_F(ViewFrames, NoWarningWhereNoneIsDue) {
    // A black frame glows black, so any yellow would be a warning line.
    simhost::Comp(host()).AddLayer(Solid(200, 120, {255, 0, 0, 0}), 0, 0, "input");
    struct Case {
        const char* what;
        int view;
    };
    const Case cases[] = {
        {"Lens Dirt Matte without a lens-dirt layer in Exponential", 5},
        {"Final Result in Exponential has no iris to miss", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Exponential(c.view);
        const FrameResult frame = Frame();
        EXPECT_TRUE(testsupport::TextBands(frame.output).empty());
    }
}

}  // namespace
