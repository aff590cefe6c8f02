// The warning lines a diagnostic view draws, as a user of velloran-render gets them: in the written picture,
// pixel for pixel as the effect draws them through the simulated host without the tool, where the effect puts
// them, and named on stderr in the order drawn.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "simhost/ImageIO.h"
#include "support/CaseNames.h"
#include "support/EffectFrameTest.h"
#include "support/TempHome.h"
#include "support/views_TextBands.h"
#include "tool_run.h"

namespace {

const char* const kShowsPrefix = "velloran-render: warning: the frame shows: ";

struct WarningCase {
    const char* what;
    std::string arguments;            // of the tool, beside -o
    std::vector<std::string> sets;    // the same settings for the frame without the tool
    simhost::PixelDepth sceneDepth;
    A_long downsample;
    int auxExpansion;                 // pixels at the frame's resolution
    std::vector<std::string> lines;   // drawn, in order
};
void PrintTo(const WarningCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

const std::string kWarning = "Velloran 2 warning:";
const std::string kNoDirt = "but no lens dirt layer supplied.";

const WarningCase kCases[] = {
    {"lens dirt matted without dirt, full resolution, float",
     "--set '111=Lens Dirt Matted'",
     {"111=Lens Dirt Matted"},
     simhost::PixelDepth::k32f,
     1,
     0,
     {kWarning, "User requested to view lens dirt matted,", kNoDirt}},
    {"lens dirt input without dirt, half resolution, 8 bit",
     "--scene-depth 8 --downsample 2 --set '111=Lens Dirt Input'",
     {"111=Lens Dirt Input"},
     simhost::PixelDepth::k8,
     2,
     0,
     {kWarning, "User requested to view lens dirt,", kNoDirt}},
    {"aux buffer expansion moves the text right",
     "--set 'Aux Buffer Expansion=30' --set '111=Lens Dirt Matted'",
     {"Aux Buffer Expansion=30", "111=Lens Dirt Matted"},
     simhost::PixelDepth::k32f,
     1,
     30,
     {kWarning, "User requested to view lens dirt matted,", kNoDirt}},
};

class ToolWarningText : public testsupport::EffectFrameTest, public testing::WithParamInterface<WarningCase> {
protected:
    // The same frame through the simulated host, without the tool.
    simhost::SimWorld LibraryFrame(const WarningCase& c) {
        comp().SetInputLayer(comp().AddLayer(simhost::MakeTestScene(192, 128, c.sceneDepth), 0, 0, "input"));
        for (const std::string& s : c.sets) {
            std::string error;
            EXPECT_TRUE(simhost::Params(host()).SetFromText(s, &error)) << s << ": " << error;
        }
        simhost::FrameRequest request;
        request.bitdepth = c.sceneDepth == simhost::PixelDepth::k8 ? 8 : 32;
        request.downsampleX = request.downsampleY = c.downsample;
        const simhost::FrameResult frame = RunFrame(request);
        EXPECT_EQ(frame.render.err, PF_Err_NONE) << frame.render.return_msg;
        EXPECT_TRUE(frame.Clean()) << frame.Problems();
        return frame.output.Clone();
    }
};

TEST_P(ToolWarningText, PictureShowsTheLinesAsTheEffectDrawsThemAndStderrNamesThem) {
    const WarningCase& c = GetParam();
    testsupport::TempDir scratch;
    tooltest::ToolRun run;
    {
        testsupport::ScopedHome home;
        run = tooltest::RunTool(scratch.path(), c.arguments + " -o w.png");
    }
    ASSERT_EQ(run.exitCode, 0) << run.stderrText;
    std::vector<std::string> named;
    for (const std::string& line : tooltest::Lines(run.stderrText))
        if (line.rfind(kShowsPrefix, 0) == 0) named.push_back(line.substr(std::string(kShowsPrefix).size()));
    EXPECT_EQ(named, c.lines) << run.stderrText;

    const simhost::SimWorld picture = simhost::ReadImage(scratch.path() + "/w.png");
    const simhost::SimWorld expected = LibraryFrame(c);
    ASSERT_GT(expected.width(), 0);
    ASSERT_EQ(picture.width(), expected.width());
    ASSERT_EQ(picture.height(), expected.height());

    // Where the effect puts each line: the text starts at x and stands on its baseline, lines 40 full-resolution
    // pixels apart. Rows half a font high above a baseline hold only that line's letters.
    const double dx = 1.0 / double(c.downsample);
    const int x = c.auxExpansion + int(std::ceil(50 * dx));
    const double fontSize = 35 * dx;
    for (size_t n = 0; n < c.lines.size(); ++n) {
        const int baseline = int(x + 30 * dx) + int(std::ceil(40 * dx * double(n)));
        const testsupport::TextBox box =
            testsupport::TextBoxInRows(picture, baseline - int(fontSize / 2), baseline);
        ASSERT_FALSE(box.empty()) << "no text on line " << n + 1 << " above row " << baseline;
        EXPECT_GE(box.left, x) << "line " << n + 1;
        EXPECT_LE(box.left, x + int(std::ceil(4 * dx))) << "line " << n + 1;
    }

    // 16 bits a channel in the file for a float frame, 8 for an 8-bit one.
    const float tolerance = c.sceneDepth == simhost::PixelDepth::k8 ? 0.5f / 255 : 1.0f / 65535;
    int differing = 0;
    for (A_long y = 0; y < picture.height(); ++y)
        for (A_long px = 0; px < picture.width(); ++px) {
            const PF_PixelFloat a = picture.GetFloat(px, y), b = expected.GetFloat(px, y);
            const bool same = std::fabs(a.alpha - b.alpha) <= tolerance && std::fabs(a.red - b.red) <= tolerance &&
                              std::fabs(a.green - b.green) <= tolerance && std::fabs(a.blue - b.blue) <= tolerance;
            if (!same && differing++ < 5)
                ADD_FAILURE() << "pixel " << px << "," << y << ": written (" << a.alpha << ", " << a.red << ", "
                              << a.green << ", " << a.blue << "), drawn by the effect (" << b.alpha << ", " << b.red
                              << ", " << b.green << ", " << b.blue << ")";
        }
    EXPECT_EQ(differing, 0) << "pixels of w.png unlike the effect's frame";
}

INSTANTIATE_TEST_SUITE_P(Cases, ToolWarningText, testing::ValuesIn(kCases), velloran_test::NameFromWhat<WarningCase>);

}  // namespace
