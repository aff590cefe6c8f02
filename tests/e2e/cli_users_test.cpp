// velloran-render as its users meet it: commands that only print render and write nothing, -h and --version,
// parameter names matched forgivingly where that is safe and refused precisely where it is not, warnings on
// stderr for what the picture alone would show, stage times and progress; and frames whose options really
// reach the picture (depth, colour, layer position, downsample).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "simhost/ImageIO.h"
#include "support/CaseNames.h"
#include "support/TempHome.h"
#include "tool_run.h"

namespace {

namespace fs = std::filesystem;
using tooltest::Lines;
using tooltest::RunTool;
using tooltest::ToolRun;

const std::string kSmall = "--scene-size 16x16 --set Radius=4 ";
const std::string kOldOutput = "an older image, to be kept";

void WriteLayer(const std::string& path, A_long w, A_long h, float alpha) {
    simhost::SimWorld world(w, h, simhost::PixelDepth::k8);
    for (A_long y = 0; y < h; ++y)
        for (A_long x = 0; x < w; ++x) world.SetFloat(x, y, {alpha, 0.9f, float(x) / float(w), 0.3f});
    simhost::WriteImage(path, world);
}

// The files every case may use: an opaque and a half-transparent layer, a layer whose name holds an '@',
// and an older out.png that only a rendered frame may replace.
void PrepareFolder(const std::string& folder) {
    WriteLayer(folder + "/opaque.png", 12, 12, 1.f);
    WriteLayer(folder + "/translucent.png", 12, 12, 0.5f);
    WriteLayer(folder + "/at@2x.png", 12, 12, 1.f);
    std::ofstream(folder + "/out.png", std::ios::binary) << kOldOutput;
}

struct UserCase {
    const char* what;
    std::string arguments;
    int status;            // the exit status
    std::string said;      // on stderr (the one error line of a case that fails); empty: nothing asked
    std::string printed;   // on stdout; empty: nothing asked
    std::string notSaid;   // never on stderr; empty: nothing asked
    bool writesFrame;      // out.png replaced by a frame
};
void PrintTo(const UserCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

const UserCase kUserCases[] = {
    // Commands that only print: no frame, and the older out.png stays.
    {"list params prints and renders nothing", "--list-params", 0, "", "19\tdisk 17\tfloat\t\"Radius\"", "wrote",
     false},
    {"controls print after set, render nothing", "--controls --set 'Glow Mode=2'", 0, "",
     " 39  shown   enabled  Iris Layer\n", "wrote", false},
    {"about prints and renders nothing", "--about", 0, "", "Simulates a physically accurate glow.", "wrote", false},
    {"dash h is help", "-h", 0, "", "usage: velloran-render [options]", "", false},
    {"help tells the PNG depth of a 32 bit frame", "--help", 0, "", "a 32-bit frame gets 16 bits a channel", "",
     false},
    {"help tells the EXR windows", "--help", 0, "", "the input frame is the file's display window", "", false},
    {"version", "--version", 0, "", "Velloran 2 v1.0.2\n", "", false},
    // Names: case and the spaces around '=' do not matter; the clamping warning shows which parameter was set.
    {"name in lower case with spaces around the equals sign", kSmall + "--set ' exposure = 50 '", 0,
     "warning: Exposure: 50 is outside 0 to 20; clamped to 20", "", "", true},
    {"popup choice in another case", kSmall + "--set 'glow mode=lens iris'", 0, "", "", "", true},
    {"misspelt name suggests the nearest", kSmall + "--set Raduis=4", 2,
     "--set Raduis=4: no parameter is named \"Raduis\"; did you mean \"Radius\"?", "", "", false},
    {"name near one", kSmall + "--set 'Glow Size=3'", 2,
     "no parameter is named \"Glow Size\"; did you mean \"Glow Mode\"?", "", "", false},
    {"name nowhere near any", kSmall + "--set 'Xyzzy=3'", 2, "no parameter is named \"Xyzzy\" (see --list-params)",
     "", "", false},
    {"shared name lists each index with its group", kSmall + "--set 'Blend Mode=Add'", 2,
     "more than one parameter is named \"Blend Mode\": 18 (popup in Main), 145 (popup in Deprecated)", "", "",
     false},
    {"shared name at the top level", kSmall + "--set 'View=Glow Input'", 2,
     "110 (popup at the top level), 111 (popup at the top level)", "", "", false},
    {"group given a value", kSmall + "--set 'Tone Mapping=1'", 2,
     "\"Tone Mapping\" is a group of parameters, not one that takes a value", "", "", false},
    {"button given a value", kSmall + "--set 'Reset Main=1'", 2, "\"Reset Main\" is a button, which takes no value",
     "", "", false},
    {"group given a value by index", kSmall + "--set 84=1", 2,
     "--set 84=1: parameter 84 (\"Tone Mapping\", a group) takes no value", "", "", false},
    {"checkbox given 2", kSmall + "--set Unmult=2", 2, "--set Unmult=2: a checkbox is on or off", "", "", false},
    {"checkbox given minus 1", kSmall + "--set Unmult=-1", 2, "--set Unmult=-1: a checkbox is on or off", "", "",
     false},
    {"checkbox given OFF", kSmall + "--set Unmult=OFF", 0, "", "", "", true},
    // Layer positions.
    {"position with one coordinate", kSmall + "--iris opaque.png@10", 2,
     "the layer position in \"opaque.png@10\" is malformed", "", "", false},
    {"position with a fraction", kSmall + "--mask opaque.png@1.5,2", 2, "is malformed", "", "", false},
    {"file name holding an at sign", kSmall + "--mask at@2x.png", 0, "", "", "cannot read", true},
    {"layer argument of 100000 characters", kSmall + "--mask " + std::string(100000, 'a') + "@1,2", 1,
     "cannot read (File name too long)", "", "", false},
    // What the picture shows is said on stderr too.
    {"warning drawn into the frame", kSmall + "--set '111=Lens Dirt Matted'", 0,
     "velloran-render: warning: the frame shows: Velloran 2 warning:\n"
     "velloran-render: warning: the frame shows: User requested to view lens dirt matted,\n"
     "velloran-render: warning: the frame shows: but no lens dirt layer supplied.\n",
     "", "", true},
    {"no drawn warning, nothing said", kSmall + "--set '111=Lens Dirt Matted' --dirt opaque.png", 0, "", "",
     "the frame shows", true},
    {"iris layer in Exponential mode", kSmall + "--iris opaque.png", 0,
     "warning: --iris opaque.png: this frame does not use that layer (the iris shapes the glow only with "
     "\"Glow Mode=Lens Iris\")",
     "", "", true},
    {"iris layer in Lens Iris mode", kSmall + "--set 'Glow Mode=Lens Iris' --iris opaque.png", 0, "", "",
     "does not use", true},
    {"same layer option twice", kSmall + "--dirt missing.png --dirt opaque.png@1,1", 0,
     "warning: --dirt given more than once; the last one, opaque.png@1,1, is used", "", "", true},
    {"opaque mask by alpha", kSmall + "--mask opaque.png", 0,
     "warning: the mask opaque.png is opaque everywhere, so by its alpha it masks nothing; to mask by brightness, "
     "add --set \"Mask Mode=Luminance\"",
     "", "", true},
    {"opaque mask by luminance", kSmall + "--mask opaque.png --set 'Mask Mode=Luminance'", 0, "", "",
     "opaque everywhere", true},
    {"translucent mask by alpha", kSmall + "--mask translucent.png", 0, "", "", "opaque everywhere", true},
};

class ToolAsUsersMeetIt : public testing::TestWithParam<UserCase> {};

TEST_P(ToolAsUsersMeetIt, SaysWhatItDoesAndWritesOnlyFrames) {
    const UserCase& c = GetParam();
    testsupport::ScopedHome home;
    testsupport::TempDir scratch;
    PrepareFolder(scratch.path());
    const std::set<std::string> before = tooltest::Listing(scratch.path());

    const ToolRun run = RunTool(scratch.path(), c.arguments);

    EXPECT_EQ(run.exitCode, c.status) << run.stderrText;
    EXPECT_EQ(tooltest::Listing(scratch.path()), before) << "files made or lost; stderr:\n" << run.stderrText;
    const std::string output = testsupport::ReadFile(scratch.path() + "/out.png");
    if (c.writesFrame) {
        EXPECT_NE(output, kOldOutput) << run.stderrText;
        EXPECT_GT(simhost::ReadImage(scratch.path() + "/out.png").width(), 16);
    } else {
        EXPECT_EQ(output, kOldOutput) << "out.png was replaced; stderr:\n" << run.stderrText;
    }
    if (c.status != 0) {
        ASSERT_EQ(run.errorLines.size(), 1u) << run.stderrText;
        EXPECT_THAT(run.errorLines[0], ::testing::StartsWith("velloran-render: "));
    } else {
        EXPECT_THAT(run.errorLines, ::testing::IsEmpty()) << run.stderrText;
    }
    if (!c.said.empty()) {
        EXPECT_THAT(run.stderrText, ::testing::HasSubstr(c.said));
    }
    if (!c.printed.empty()) {
        EXPECT_THAT(run.stdoutText, ::testing::HasSubstr(c.printed));
    }
    if (!c.notSaid.empty()) {
        EXPECT_THAT(run.stderrText, ::testing::Not(::testing::HasSubstr(c.notSaid)));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ToolAsUsersMeetIt, testing::ValuesIn(kUserCases),
                         velloran_test::NameFromWhat<UserCase>);

// The output rectangle the tool reports: where the written frame lies relative to the input.
PF_LRect OutputRectangle(const ToolRun& run) {
    PF_LRect r{};
    for (const std::string& line : Lines(run.stderrText)) {
        int left = 0, top = 0, right = 0, bottom = 0;
        if (std::sscanf(line.c_str(), "velloran-render: output rectangle (%d, %d, %d, %d)", &left, &top, &right,
                        &bottom) == 4)
            r = PF_LRect{left, top, right, bottom};
    }
    return r;
}

// Renders in a fresh folder and reads the frame back; the run is kept for its messages.
simhost::SimWorld Render(const std::string& arguments, ToolRun* run, const std::string& output = "out.exr",
                         const std::function<void(const std::string&)>& prepare = {}) {
    testsupport::ScopedHome home;
    testsupport::TempDir scratch;
    if (prepare) prepare(scratch.path());
    *run = RunTool(scratch.path(), arguments + " -o " + output);
    EXPECT_EQ(run->exitCode, 0) << run->stderrText;
    if (run->exitCode != 0) return simhost::SimWorld(0, 0, simhost::PixelDepth::k32f);
    return simhost::ReadImage(scratch.path() + "/" + output);
}

// An 8-bit frame holds only multiples of 1/255, whatever file it is written to; a float frame holds values
// between them.
TEST(ToolFrameOptions, DepthChangesTheFramesDepth) {
    const auto offGrid = [](const simhost::SimWorld& w) {
        int count = 0;
        for (A_long y = 0; y < w.height(); ++y)
            for (A_long x = 0; x < w.width(); ++x) {
                const float v = w.GetFloat(x, y).green * 255.f;
                if (std::fabs(v - std::round(v)) > 1e-3f) ++count;
            }
        return count;
    };
    ToolRun run8, run32;
    const simhost::SimWorld eight = Render(kSmall + "--depth 8", &run8);
    const simhost::SimWorld thirtyTwo = Render(kSmall + "--depth 32", &run32);
    ASSERT_GT(eight.width(), 0);
    ASSERT_GT(thirtyTwo.width(), 0);
    EXPECT_EQ(offGrid(eight), 0) << "an 8-bit frame holds a value between two 8-bit steps";
    EXPECT_GT(offGrid(thirtyTwo), 0) << "a 32-bit frame holds only 8-bit steps";
}

// A tint colour given as #RRGGBB reaches the glow channel by channel: red only in red, blue only in blue.
TEST(ToolFrameOptions, ColorPutsRedInRed) {
    for (const auto& [hex, channel] : std::vector<std::pair<std::string, int>>{{"#FF0000", 0}, {"#0000FF", 2}}) {
        SCOPED_TRACE(hex);
        ToolRun run;
        const simhost::SimWorld w = Render(kSmall + "--set 'Tint Mode=Monocolor' --set 'Color=" + hex +
                                               "' --set 'Source Opacity=0' --set Unmult=off",
                                           &run);
        ASSERT_GT(w.width(), 0);
        double sums[3] = {0, 0, 0};
        for (A_long y = 0; y < w.height(); ++y)
            for (A_long x = 0; x < w.width(); ++x) {
                const PF_PixelFloat p = w.GetFloat(x, y);
                sums[0] += p.red;
                sums[1] += p.green;
                sums[2] += p.blue;
            }
        ASSERT_GT(sums[channel], 0) << "no glow";
        for (int other = 0; other < 3; ++other) {
            if (other != channel) {
                EXPECT_LT(sums[other], 0.01 * sums[channel]) << "channel " << other;
            }
        }
    }
}

struct Placement {
    A_long x = -1, y = -1, width = 0, height = 0;  // relative to the input's corner, in the frame's pixels
};

// Where the iris view shows a 4 by 2 white iris layer given at `position`: the view draws the iris at its own
// place on black.
Placement IrisInView(const std::string& position, const std::string& more) {
    const auto writeDot = [](const std::string& folder) { WriteLayer(folder + "/dot.png", 4, 2, 1.f); };
    ToolRun run;
    const simhost::SimWorld w =
        Render("--scene-size 48x32 --set Radius=4 --set 'Glow Mode=Lens Iris' --set '110=View Iris' --iris dot.png@" +
                   position + " " + more,
               &run, "out.exr", writeDot);
    Placement found;
    if (w.width() <= 0) return found;
    const PF_LRect r = OutputRectangle(run);
    EXPECT_EQ(r.right - r.left, w.width()) << run.stderrText;
    A_long minX = w.width(), minY = w.height(), maxX = -1, maxY = -1;
    for (A_long y = 0; y < w.height(); ++y)
        for (A_long x = 0; x < w.width(); ++x)
            if (w.GetFloat(x, y).red > 0.5f) {
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
            }
    if (maxX < 0) return found;
    return Placement{minX + r.left, minY + r.top, maxX - minX + 1, maxY - minY + 1};
}

// A layer given at X,Y lies X pixels right of and Y pixels below the input's corner.
TEST(ToolFrameOptions, PositionIsAcrossThenDown) {
    const Placement p = IrisInView("5,9", "");
    EXPECT_EQ(p.x, 5);
    EXPECT_EQ(p.y, 9);
    EXPECT_EQ(p.width, 4);
    EXPECT_EQ(p.height, 2);
}

// --downsample N makes the frame 1/N as wide and 1/N as high: a layer's place and size shrink both ways.
TEST(ToolFrameOptions, DownsampleScalesBothDirections) {
    const Placement p = IrisInView("8,12", "--downsample 2");
    EXPECT_EQ(p.x, 4);
    EXPECT_EQ(p.y, 6);
    EXPECT_EQ(p.width, 2);
    EXPECT_EQ(p.height, 1);
}

// -v gives each stage's time as a plain line, in order, for a log; without it there are none, and stderr that
// is not a terminal never gets a line drawn in place.
TEST(ToolProgress, VerboseGivesEachStagesTimeInOrder) {
    testsupport::ScopedHome home;
    testsupport::TempDir scratch;
    const ToolRun quiet = RunTool(scratch.path(), kSmall + "-o out.png");
    // The built-in scene at its default Radius: long enough that a terminal would get the line in place.
    const ToolRun verbose = RunTool(scratch.path(), "-v -o out.png");
    ASSERT_EQ(quiet.exitCode, 0) << quiet.stderrText;
    ASSERT_EQ(verbose.exitCode, 0) << verbose.stderrText;
    EXPECT_THAT(quiet.stderrText, ::testing::Not(::testing::HasSubstr(" took ")));
    std::vector<std::string> stages;
    for (const std::string& line : Lines(verbose.stderrText)) {
        char stage[32] = {};
        double seconds = -1;
        if (std::sscanf(line.c_str(), "velloran-render: %31s took %lf s", stage, &seconds) == 2) {
            EXPECT_GE(seconds, 0.0) << line;
            stages.push_back(stage);
        }
    }
    EXPECT_THAT(stages, ::testing::ElementsAre("pre-render", "render", "writing")) << verbose.stderrText;
    EXPECT_EQ(verbose.stderrText.find('\r'), std::string::npos) << "a line drawn in place in a log";
}

// On a terminal, a frame that takes more than two seconds shows its stage and time on one line that updates
// in place, and clears it at the end. The built-in scene at its default Radius takes a few seconds here.
TEST(ToolProgress, TerminalShowsOneLineUpdatedInPlace) {
    testsupport::ScopedHome home;
    testsupport::TempDir scratch;
    const std::string output = scratch.path() + "/out.png";
    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::execl(VELLORAN_RENDER_TOOL, VELLORAN_RENDER_TOOL, "-o", output.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::string seen;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(terminal, buffer, sizeof buffer);
        if (n <= 0) break;  // the tool closed the terminal's other end
        seen.append(buffer, size_t(n));
    }
    ::close(terminal);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
    EXPECT_THAT(seen, ::testing::HasSubstr("\rvelloran-render: render... ")) << seen;
    const size_t lastDrawn = seen.rfind("\rvelloran-render: render... ");
    const size_t cleared = seen.rfind("\r\033[K");
    EXPECT_NE(cleared, std::string::npos) << "the line is never cleared";
    EXPECT_GT(cleared, lastDrawn) << "the line is left standing";
    EXPECT_THAT(seen, ::testing::HasSubstr("velloran-render: wrote "));
}

}  // namespace
