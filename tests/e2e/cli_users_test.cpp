// velloran-render as its users meet it: commands that only print render and write nothing, -h and --version,
// parameter names matched forgivingly where that is safe and refused precisely where it is not, warnings on
// stderr for what the picture alone would show, stage times and progress; and frames whose options really
// reach the picture (depth, colour, layer position, downsample).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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
// one whose name starts with a dash, and an older out.png that only a rendered frame may replace.
void PrepareFolder(const std::string& folder) {
    WriteLayer(folder + "/opaque.png", 12, 12, 1.f);
    WriteLayer(folder + "/translucent.png", 12, 12, 0.5f);
    WriteLayer(folder + "/at@2x.png", 12, 12, 1.f);
    WriteLayer(folder + "/-dash.png", 12, 12, 1.f);
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
    {"help tells the EXR windows", "--help", 0, "", "its display window is the input's", "", false},
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
    // Settings that change nothing, or lose something, are said; one that cannot be what was meant is refused.
    {"view of the Lens Iris list in Exponential mode", kSmall + "--set '110=Glow Input'", 0,
     "warning: --set 110=Glow Input: in \"Exponential\" mode the frame uses the View of 111, so this one "
     "changes nothing",
     "", "", true},
    {"view of the Exponential list in Lens Iris mode", kSmall + "--set 'Glow Mode=Lens Iris' --set 111=2", 0,
     "warning: --set 111=2: in \"Lens Iris\" mode the frame uses the View of 110, so this one changes nothing",
     "", "", true},
    {"view of the mode's own list", kSmall + "--set 'Glow Mode=Lens Iris' --set 110=2", 0, "", "",
     "changes nothing", true},
    {"mask wholly off the input", kSmall + "--mask translucent.png@16,-3", 0,
     "warning: --mask translucent.png@16,-3 lies wholly outside the input, so nothing of the input glows", "", "",
     true},
    {"mask partly over the input", kSmall + "--mask translucent.png@15,-11", 0, "", "", "wholly outside", true},
    {"depth 8 of a frame with values above 1", kSmall + "--depth 8", 0,
     "warning: --depth 8: the input holds values above 1, which an 8-bit frame clamps to 1", "", "", true},
    {"depth 8 of an 8-bit frame", kSmall + "--scene-depth 8 --depth 8", 0, "", "", "clamps", true},
    {"scene size with an input file", kSmall + "opaque.png", 0,
     "warning: --scene-size and --scene-depth shape only the built-in scene; the input opaque.png is rendered as "
     "it is",
     "", "", true},
    {"scene size without an input file", kSmall, 0, "", "", "built-in scene", true},
    {"fraction to a whole-number parameter", kSmall + "--set 'Iris Iterations=2.7'", 2,
     "--set Iris Iterations=2.7: Iris Iterations takes a whole number: 2.7", "", "", false},
    {"whole number to a whole-number parameter", kSmall + "--set 'Iris Iterations=3.0'", 0, "", "", "", true},
    {"popup choice whose text ends in a space", kSmall + "--set '153=2x (16px)'", 0, "", "", "", true},
    // Option syntax and limits.
    {"double dash ends the options", kSmall + "-- -dash.png", 0, "", "", "", true},
    {"dash file without double dash", kSmall + "-dash.png", 2, "unknown option -dash.png", "", "", false},
    {"largest downsample", kSmall + "--scene-depth 8 --downsample 256", 0, "downsample 1/256", "", "", true},
    {"downsample past the largest", kSmall + "--downsample 257", 2,
     "--downsample takes a whole number from 1 to 256", "", "", false},
    {"progress delay not a number", kSmall + "--progress-after soon", 2,
     "--progress-after takes a number of seconds from 0 to 604800", "", "", false},
    {"progress delay negative", kSmall + "--progress-after -1", 2, "--progress-after takes a number", "", "", false},
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

size_t Occurrences(const std::string& text, const std::string& piece) {
    size_t count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++count;
    return count;
}

size_t LongestRunOf(char c, const std::string& text) {
    size_t longest = 0, run = 0;
    for (const char t : text) longest = std::max(longest, run = t == c ? run + 1 : 0);
    return longest;
}

// Runs the tool in `folder` with `arguments` as they are, without a shell (whose one command line could not
// hold them all), stderr caught in `errors`; returns the exit status.
int RunWithArguments(const std::string& folder, const std::vector<std::string>& arguments, const std::string& errors) {
    std::vector<const char*> argv{VELLORAN_RENDER_TOOL};
    for (const std::string& a : arguments) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        const int err = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = ::open("/dev/null", O_WRONLY);
        if (err < 0 || null < 0 || ::chdir(folder.c_str()) != 0) ::_exit(126);
        ::dup2(err, 2);
        ::dup2(null, 1);
        ::execv(VELLORAN_RENDER_TOOL, const_cast<char* const*>(argv.data()));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// An argument of 100,000 characters is quoted by its first hundred or so, once, in a line a terminal can show; a
// layer option given 10,000 times is one warning.
TEST(ToolArguments, HugeArgumentsAreQuotedOnceAndRepeatsWarnedOnce) {
    const std::string huge(100000, 'a');
    struct {
        const char* what;
        std::string arguments;
        int status;
        std::string said;
    } cases[] = {
        {"unknown option", "-" + huge, 2, "unknown option -aaaa"},
        {"parameter name", "--set " + huge + "=1", 2, "no parameter is named"},
        {"parameter value", "--set Radius=" + huge, 2, "not a number: "},
        {"popup value", "--set 'Glow Mode=" + huge + "'", 2, "is not a choice of Glow Mode"},
        {"layer file", "--mask " + huge, 1, "cannot read (File name too long)"},
        {"second input", "opaque.png " + huge, 2, "more than one input file: opaque.png and aaaa"},
        {"output file", "-o " + huge, 2, "must end in .png or .exr"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::ScopedHome home;
        testsupport::TempDir scratch;
        PrepareFolder(scratch.path());
        const ToolRun run = RunTool(scratch.path(), kSmall + c.arguments);
        EXPECT_EQ(run.exitCode, c.status);
        ASSERT_EQ(run.errorLines.size(), 1u) << run.stderrText.substr(0, 2000);
        const std::string& line = run.errorLines[0];
        EXPECT_THAT(line, ::testing::HasSubstr(c.said));
        EXPECT_LT(line.size(), 400u) << line.substr(0, 2000);
        EXPECT_LE(LongestRunOf('a', line), 100u) << line.substr(0, 2000);
        EXPECT_EQ(Occurrences(line, " characters)"), 1u) << line;
    }

    testsupport::ScopedHome home;
    testsupport::TempDir scratch;
    PrepareFolder(scratch.path());
    std::vector<std::string> arguments{"--scene-size", "16x16", "--set", "Radius=4"};
    for (int i = 0; i < 10000; ++i) arguments.insert(arguments.end(), {"--dirt", "translucent.png"});
    arguments.insert(arguments.end(), {"--dirt", "opaque.png@1,1"});
    const std::string errors = scratch.path() + "/stderr.txt";
    EXPECT_EQ(RunWithArguments(scratch.path(), arguments, errors), 0);
    const std::string said = testsupport::ReadFile(errors);
    EXPECT_EQ(Occurrences(said, "given more than once"), 1u) << said.substr(0, 2000);
    EXPECT_THAT(said, ::testing::HasSubstr("warning: --dirt given more than once; the last one, opaque.png@1,1, is used"));
}

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

// -v gives each stage's time as a plain line, in order, for a log (reading the input among them); without it
// there are none, and stderr that is not a terminal never gets a line drawn in place, even past its delay.
TEST(ToolProgress, VerboseGivesEachStagesTimeInOrder) {
    testsupport::ScopedHome home;
    testsupport::TempDir scratch;
    const ToolRun quiet = RunTool(scratch.path(), kSmall + "-o out.png");
    const ToolRun verbose = RunTool(scratch.path(), kSmall + "--progress-after 0 -v -o out.png");
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
    EXPECT_THAT(stages, ::testing::ElementsAre("reading", "pre-render", "render", "writing")) << verbose.stderrText;
    EXPECT_EQ(verbose.stderrText.find('\r'), std::string::npos) << "a line drawn in place in a log";
}

}  // namespace
