// The diagnostic views on a settings record filled by hand, through the simulated host's services: which warning
// lines each situation draws (compared pixel for pixel with the same lines drawn one by one), where nothing is
// drawn, the iris shown at its place over opaque black, the lens-dirt input copied with and without Repeat
// Edges, and how drawing and copy failures end the view.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "render/CpuPasses.h"
#include "render/DiagnosticViews.h"
#include "render/WarningText.h"
#include "simhost/CallFailures.h"
#include "simhost/IterateSuites.h"
#include "simhost/WorldSuites.h"
#include "support/SimHostFixture.h"

namespace {

using simhost::PixelDepth;
using simhost::SimWorld;

bool SamePixels(const SimWorld& a, const SimWorld& b, std::string* where) {
    const size_t bytes = size_t(a.width()) * simhost::BytesPerPixel(a.depth());
    for (A_long y = 0; y < a.height(); ++y) {
        if (std::memcmp(a.Row<uint8_t>(y), b.Row<uint8_t>(y), bytes) != 0) {
            *where = "row " + std::to_string(y);
            return false;
        }
    }
    return true;
}

bool AllZero(const SimWorld& w) {
    const size_t bytes = size_t(w.width()) * simhost::BytesPerPixel(w.depth());
    for (A_long y = 0; y < w.height(); ++y)
        for (size_t i = 0; i < bytes; ++i)
            if (w.Row<uint8_t>(y)[i] != 0) return false;
    return true;
}

class DiagnosticViews : public testsupport::SimHostTest {
protected:
    void SetUp() override {
        SimHostTest::SetUp();
        simhost::Worlds(host());
        in_ = host().InDataTemplate();
    }
    void TearDown() override {
        EXPECT_EQ(simhost::Worlds(host()).Alive(), 0) << "a temporary world was not disposed";
        SimHostTest::TearDown();
    }

    // Half resolution keeps the longest warning line inside a small output.
    void Settings(myParams& p, PixelDepth depth, SimWorld& output) {
        p.pixelFormat = simhost::PixelFormatOf(depth);
        p.bitDepth = depth == PixelDepth::k8 ? 8 : 32;
        p.downsampleX = 0.5f;
        p.output_worldP = output.world();
    }

    // What the lines look like drawn one by one at the views' offsets (empty texts are skipped lines).
    SimWorld Reference(PixelDepth depth, const std::vector<std::string>& lines) {
        SimWorld ref(kWidth, kHeight, depth);
        myParams p;
        Settings(p, depth, ref);
        for (size_t n = 0; n < lines.size(); ++n) {
            if (lines[n].empty()) continue;
            EXPECT_EQ(DrawString(&p, &in_, &out_, lines[n], ref.world(), 40.0 * double(n), 1.0), PF_Err_NONE);
        }
        return ref;
    }

    static constexpr A_long kWidth = 520, kHeight = 112;
    PF_InData in_{};
    PF_OutData out_{};
};

enum class Routine { kLensDirt, kIris };

TEST_F(DiagnosticViews, EachSituationDrawsItsWarningLinesAndOthersDrawNothing) {
    const std::string title = "Velloran 2 warning:";
    const std::string noIris = "but no iris layer supplied.";
    const std::string noDirt = "but no lens dirt layer supplied.";
    const std::string matteNeedsIris = "Iris required to produce matte for lens dirt";
    struct Case {
        const char* situation;
        Routine routine;
        int view, glowMode;
        bool iris, dirt;
        std::vector<std::string> lines;  // empty: nothing drawn and the frame renders on
    };
    const Case cases[] = {
        {"View Iris, no iris layer", Routine::kIris, kViewIris, kGlowModeLensIris, false, false,
         {title, "User requested to view iris input,", noIris}},
        {"Final Result in Lens Iris mode, no iris layer", Routine::kIris, kViewFinalResult, kGlowModeLensIris, false,
         false, {title, "User requested to view final result,", noIris}},
        {"Lens Dirt Input, no lens-dirt layer", Routine::kLensDirt, kViewLensDirtInput, kGlowModeExponential, false,
         false, {title, "User requested to view lens dirt,", noDirt}},
        {"Lens Dirt Matted, no lens-dirt layer", Routine::kLensDirt, kViewLensDirtMatted, kGlowModeExponential,
         false, false, {title, "User requested to view lens dirt matted,", noDirt}},
        {"Lens Dirt Matted, no lens-dirt layer nor iris in Lens Iris mode: the dirt is named first",
         Routine::kLensDirt, kViewLensDirtMatted, kGlowModeLensIris, false, false,
         {title, "User requested to view lens dirt matted,", noDirt}},
        {"Lens Dirt Matte in Lens Iris mode, no iris layer", Routine::kLensDirt, kViewLensDirtMatte,
         kGlowModeLensIris, false, false, {title, "User requested to view lens dirt matte,", noIris, matteNeedsIris}},
        {"Lens Dirt Matte with a lens-dirt layer in Lens Iris mode, no iris layer", Routine::kLensDirt,
         kViewLensDirtMatte, kGlowModeLensIris, false, true,
         {title, "User requested to view lens dirt matte,", noIris, matteNeedsIris}},
        {"Lens Dirt Matted with a lens-dirt layer in Lens Iris mode, no iris layer", Routine::kLensDirt,
         kViewLensDirtMatted, kGlowModeLensIris, false, true,
         {title, "User requested to view lens dirt matted,", noIris, matteNeedsIris}},
        {"Lens Dirt Matte without a lens-dirt layer in Exponential", Routine::kLensDirt, kViewLensDirtMatte,
         kGlowModeExponential, false, false, {}},
        {"Lens Dirt Matte in Lens Iris mode with an iris layer", Routine::kLensDirt, kViewLensDirtMatte,
         kGlowModeLensIris, true, true, {}},
        {"Lens Dirt Matted with a lens-dirt layer in Exponential", Routine::kLensDirt, kViewLensDirtMatted,
         kGlowModeExponential, false, true, {}},
        {"Final Result with an iris layer", Routine::kIris, kViewFinalResult, kGlowModeLensIris, true, false, {}},
        {"Glow Input in Lens Iris mode, no iris layer", Routine::kIris, kViewGlowInput, kGlowModeLensIris, false,
         false, {}},
    };
    SimWorld iris(6, 6, PixelDepth::k8);
    SimWorld dirt(6, 6, PixelDepth::k8);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
        SimWorld output(kWidth, kHeight, PixelDepth::k8);
        myParams p;
        Settings(p, PixelDepth::k8, output);
        p.view = c.view;
        p.glowMode = c.glowMode;
        p.iris_worldP = c.iris ? iris.world() : nullptr;
        p.lens_dirt_worldP = c.dirt ? dirt.world() : nullptr;
        const PF_Err err = c.routine == Routine::kIris ? RenderIrisView(&p, &in_, &out_)
                                                       : RenderLensDirtView(&p, &in_, &out_);
        EXPECT_EQ(err, PF_Err_NONE);
        EXPECT_EQ(p.viewDone, !c.lines.empty());
        if (c.lines.empty()) {
            EXPECT_TRUE(AllZero(output)) << "something was drawn";
            continue;
        }
        std::string where;
        EXPECT_TRUE(SamePixels(output, Reference(PixelDepth::k8, c.lines), &where)) << "differs at " << where;
    }
}

TEST_F(DiagnosticViews, AFailedLineStopsTheIrisWarningButNotTheLensDirtWarning) {
    // The second line's world cannot be made.
    simhost::SetFailureCode(host(), "PF_NewWorld", PF_Err_OUT_OF_MEMORY);
    std::string where;
    {
        SimWorld output(kWidth, kHeight, PixelDepth::k8);
        myParams p;
        Settings(p, PixelDepth::k8, output);
        p.view = kViewIris;
        p.glowMode = kGlowModeLensIris;
        host().Faults().FailCall("PF_NewWorld", 2);
        EXPECT_EQ(RenderIrisView(&p, &in_, &out_), PF_Err_OUT_OF_MEMORY);
        EXPECT_TRUE(p.viewDone);
        EXPECT_TRUE(SamePixels(output, Reference(PixelDepth::k8, {"Velloran 2 warning:"}), &where)) << where;
    }
    {
        SimWorld output(kWidth, kHeight, PixelDepth::k8);
        myParams p;
        Settings(p, PixelDepth::k8, output);
        p.view = kViewLensDirtInput;
        host().Faults().FailCall("PF_NewWorld", 2);
        EXPECT_EQ(RenderLensDirtView(&p, &in_, &out_), PF_Err_NONE);
        EXPECT_TRUE(p.viewDone);
        EXPECT_TRUE(SamePixels(output,
                               Reference(PixelDepth::k8, {"Velloran 2 warning:", "", "but no lens dirt layer supplied."}),
                               &where))
            << where;
    }
    EXPECT_THAT(Log(), ::testing::HasSubstr("err DrawString: PF_NewWorld: 4"));
}

TEST_F(DiagnosticViews, ViewIrisShowsTheIrisAtItsPlaceOverOpaqueBlack) {
    for (PixelDepth depth : {PixelDepth::k8, PixelDepth::k32f}) {
        SCOPED_TRACE(depth == PixelDepth::k8 ? "8 bits" : "float");
        // Output from (-5, -5); the iris, 4 x 3, from (3, 2): it lands at (8, 7).
        SimWorld output(24, 18, depth, 8);
        output.world()->origin_x = -5;
        output.world()->origin_y = -5;
        SimWorld iris(4, 3, depth, 8);
        iris.world()->origin_x = 3;
        iris.world()->origin_y = 2;
        for (A_long y = 0; y < 3; ++y)
            for (A_long x = 0; x < 4; ++x) iris.SetFloat(x, y, {1.0f, 0.2f * float(x + 1), 0.2f * float(y + 1), 1.0f});
        // A half-transparent iris pixel shows half its colour over the black.
        iris.SetFloat(0, 0, {0.4f, 1.0f, 0.0f, 0.6f});

        myParams p;
        Settings(p, depth, output);
        p.view = kViewIris;
        p.glowMode = kGlowModeLensIris;
        p.iris_worldP = iris.world();
        ASSERT_EQ(RenderIrisView(&p, &in_, &out_), PF_Err_NONE);
        EXPECT_TRUE(p.viewDone);

        const float tolerance = depth == PixelDepth::k8 ? 0.5f / 255 : 1e-6f;
        for (A_long y = 0; y < output.height(); ++y)
            for (A_long x = 0; x < output.width(); ++x) {
                const bool onIris = x >= 8 && x < 12 && y >= 7 && y < 10;
                PF_PixelFloat expected = {1, 0, 0, 0};
                if (onIris) expected = iris.GetFloat(x - 8, y - 7);
                if (x == 8 && y == 7) expected = {1.0f, 0.4f, 0.0f, 0.24f};
                const PF_PixelFloat got = output.GetFloat(x, y);
                ASSERT_NEAR(got.alpha, expected.alpha, tolerance) << x << "," << y;
                ASSERT_NEAR(got.red, expected.red, tolerance) << x << "," << y;
                ASSERT_NEAR(got.green, expected.green, tolerance) << x << "," << y;
                ASSERT_NEAR(got.blue, expected.blue, tolerance) << x << "," << y;
            }
        EXPECT_TRUE(output.PaddingIntact());

        // A failed transfer ends the frame, with the view marked done all the same.
        myParams q;
        Settings(q, depth, output);
        q.view = kViewIris;
        q.glowMode = kGlowModeLensIris;
        q.iris_worldP = iris.world();
        host().Faults().FailCall("transfer_rect");
        EXPECT_EQ(RenderIrisView(&q, &in_, &out_), PF_Err_INTERNAL_STRUCT_DAMAGED);
        EXPECT_TRUE(q.viewDone);
    }
}

TEST_F(DiagnosticViews, LensDirtInputReplacesEveryOutputPixelByTheDirtSample) {
    for (PixelDepth depth : {PixelDepth::k8, PixelDepth::k32f}) {
        for (bool mirror : {false, true}) {
            SCOPED_TRACE(std::string(depth == PixelDepth::k8 ? "8 bits" : "float") +
                         (mirror ? ", Repeat Edges" : ", no Repeat Edges"));
            SimWorld output(30, 20, depth, 8);
            // Whatever the output held before (not transparent) must not show through.
            for (A_long y = 0; y < 20; ++y)
                for (A_long x = 0; x < 30; ++x) output.SetFloat(x, y, {1, 0.5f, 0.5f, 0.5f});
            SimWorld dirt(8, 6, depth, 8);
            for (A_long y = 0; y < 6; ++y)
                for (A_long x = 0; x < 8; ++x)
                    dirt.SetFloat(x, y, {0.2f + 0.1f * float(y), float(x) / 8.0f, float(y) / 8.0f, 0.25f});

            myParams p;
            Settings(p, depth, output);
            p.view = kViewLensDirtInput;
            p.lens_dirt_worldP = dirt.world();
            p.lensMirror.dirt = dirt.world();
            p.lensMirror.offsetX = 10;
            p.lensMirror.offsetY = 5;
            p.lensMirror.mirror = mirror;
            ASSERT_EQ(RenderLensDirtView(&p, &in_, &out_), PF_Err_NONE);
            EXPECT_TRUE(p.viewDone);

            // Repeat Edges folds the dirt without its two-pixel border: columns 2 to 5 back and forth, every
            // 8 columns (2 x (8 - 4)), and rows 2 and 3 every 4 rows, each edge appearing twice at a fold.
            const int foldedColumn[8] = {2, 3, 4, 5, 5, 4, 3, 2};
            const int foldedRow[4] = {2, 3, 3, 2};
            for (A_long y = 0; y < 20; ++y)
                for (A_long x = 0; x < 30; ++x) {
                    const int u = x - 10, v = y - 5;
                    PF_PixelFloat expected = {0, 0, 0, 0};
                    if (mirror) {
                        expected = dirt.GetFloat(foldedColumn[(u % 8 + 8) % 8], foldedRow[(v % 4 + 4) % 4]);
                    } else if (u >= 0 && u < 8 && v >= 0 && v < 6) {
                        expected = dirt.GetFloat(u, v);
                    }
                    const PF_PixelFloat got = output.GetFloat(x, y);
                    ASSERT_EQ(got.alpha, expected.alpha) << x << "," << y;
                    ASSERT_EQ(got.red, expected.red) << x << "," << y;
                    ASSERT_EQ(got.green, expected.green) << x << "," << y;
                    ASSERT_EQ(got.blue, expected.blue) << x << "," << y;
                }
        }
    }
    // A failed iteration is the view's result; the view is still done.
    SimWorld output(4, 4, PixelDepth::k8);
    SimWorld dirt(4, 4, PixelDepth::k8);
    myParams p;
    Settings(p, PixelDepth::k8, output);
    p.view = kViewLensDirtInput;
    p.lens_dirt_worldP = p.lensMirror.dirt = dirt.world();
    host().Faults().FailCall(simhost::kIterate8Fault);
    EXPECT_EQ(RenderLensDirtView(&p, &in_, &out_), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_TRUE(p.viewDone);
}

}  // namespace
