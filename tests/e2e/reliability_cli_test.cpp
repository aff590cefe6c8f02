// The command-line host given bad input: files that are missing, unreadable or damaged, parameters it does not
// have or values it cannot take, outputs it cannot write. Each ends in one line saying what is wrong and a
// non-zero exit, and leaves no output file behind, not even a partial one; a value outside a parameter's range is
// clamped with a warning and the frame is still written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "CGLStandIn.h"
#include "simhost/ImageIO.h"
#include "support/CaseNames.h"
#include "support/TempHome.h"
#include "tool_run.h"

namespace {

namespace fs = std::filesystem;

using tooltest::Lines;
using tooltest::Listing;
using tooltest::RunTool;
using tooltest::ToolRun;

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The first half of a valid image file of that kind.
void WriteTruncatedImage(const std::string& folder, const std::string& name) {
    const std::string whole = folder + "/whole-" + name;
    simhost::SimWorld world(24, 24, simhost::PixelDepth::k32f);
    for (A_long y = 0; y < 24; ++y)
        for (A_long x = 0; x < 24; ++x) world.SetFloat(x, y, {1.f, float(x) / 24.f, float(y) / 24.f, 0.5f});
    simhost::WriteImage(whole, world);
    const std::string bytes = testsupport::ReadFile(whole);
    WriteBytes(folder + "/" + name, bytes.substr(0, bytes.size() / 2));
    fs::remove(whole);
}

// A small, cheap frame: a tiny scene and a short glow.
const std::string kSmall = "--scene-size 16x16 --set Radius=4 ";

struct CliCase {
    const char* what;
    std::function<void(const std::string& folder)> prepare;  // files the case needs, made in the folder
    std::string arguments;
    bool succeeds;              // exit 0 (a clamped value) or not
    std::string message;        // in the single error line, or in the warning of a case that succeeds
    std::set<std::string> outputs;  // what the tool leaves in the folder beside what `prepare` made
    bool needsNonRoot = false;      // file permissions bind only a user other than root
    int status = 1;                 // of a case that fails: 1 for bad input, 2 for a mistake in the command line
};

// ctest's list and the failure messages name the case, not its bytes.
void PrintTo(const CliCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

// A small image file for a layer.
void WriteLayer(const std::string& path, A_long w, A_long h) {
    simhost::SimWorld world(w, h, simhost::PixelDepth::k8);
    for (A_long y = 0; y < h; ++y)
        for (A_long x = 0; x < w; ++x) world.SetFloat(x, y, {1.f, 0.8f, float(x) / float(w), 0.3f});
    simhost::WriteImage(path, world);
}
const auto kMaskFile = [](const std::string& f) { WriteLayer(f + "/layer.png", 12, 12); };

// The longest name a file may have, ending in .png.
const std::string kLongestName = std::string(251, 'n') + ".png";

const auto kNothing = [](const std::string&) {};

const CliCase kCliCases[] = {
    {"missing input", kNothing, kSmall + "missing.png -o out.png", false,
     "missing.png: cannot read (No such file or directory)", {}},
    {"input is a folder", [](const std::string& f) { fs::create_directory(f + "/folder.png"); },
     kSmall + "folder.png -o out.png", false, "folder.png: cannot read (a folder", {}},
    // A path through a regular file fails for every user, root included.
    {"input under a file, not a folder", [](const std::string& f) { WriteBytes(f + "/plain", "x"); },
     kSmall + "plain/in.png -o out.png", false, "plain/in.png: cannot read (Not a directory)", {}},
    {"unreadable input",
     [](const std::string& f) {
         WriteBytes(f + "/locked.png", "x");
         ::chmod((f + "/locked.png").c_str(), 0);
     },
     kSmall + "locked.png -o out.png", false, "locked.png: cannot read (Permission denied)", {}, true},
    {"missing layer file", kNothing, kSmall + "--mask nomask.png@2,2 -o out.png", false,
     "nomask.png: cannot read (No such file or directory)", {}},
    {"text named .png", [](const std::string& f) { WriteBytes(f + "/text.png", "not an image at all\n"); },
     kSmall + "text.png -o out.png", false, "text.png: not a PNG file", {}},
    {"truncated PNG", [](const std::string& f) { WriteTruncatedImage(f, "cut.png"); }, kSmall + "cut.png -o out.png",
     false, "cut.png: damaged PNG file", {}},
    {"truncated PNG as a layer", [](const std::string& f) { WriteTruncatedImage(f, "cut.png"); },
     kSmall + "--dirt cut.png -o out.png", false, "cut.png: damaged PNG file", {}},
    {"text named .exr", [](const std::string& f) { WriteBytes(f + "/text.exr", "not an image at all\n"); },
     kSmall + "text.exr -o out.exr", false, "text.exr: ", {}},
    {"truncated EXR", [](const std::string& f) { WriteTruncatedImage(f, "cut.exr"); }, kSmall + "cut.exr -o out.exr",
     false, "cut.exr: ", {}},
    {"unknown parameter name", kNothing, kSmall + "--set 'Glow Size=3' -o out.png", false,
     "--set Glow Size=3: no parameter is named \"Glow Size\"", {}, false, 2},
    {"unknown parameter index", kNothing, kSmall + "--set 999=3 -o out.png", false, "--set 999=3: no parameter 999",
     {}, false, 2},
    {"index of the input layer", kNothing, kSmall + "--set 0=1 -o out.png", false, "--set 0=1: no parameter 0", {}, false, 2},
    {"value not a number", kNothing, kSmall + "--set Exposure=bright -o out.png", false,
     "--set Exposure=bright: not a number: bright", {}, false, 2},
    {"value NaN", kNothing, kSmall + "--set Exposure=nan -o out.png", false, "--set Exposure=nan: not a number: nan",
     {}, false, 2},
    {"choice beyond the list", kNothing, kSmall + "--set 'Glow Mode=9' -o out.png", false,
     "choice 9 is out of 1 to", {}, false, 2},
    {"value above the range", kNothing, kSmall + "--set Exposure=50 -o out.png", true,
     "warning: Exposure: 50 is outside 0 to 20; clamped to 20", {"out.png"}},
    {"value below the range", kNothing, kSmall + "--set 'Threshold Smooth=-7' -o out.exr", true,
     "warning: Threshold Smooth: -7 is outside 0 to 100; clamped to 0", {"out.exr"}},
    {"infinite value is clamped", kNothing, kSmall + "--set Exposure=inf -o out.png", true,
     "warning: Exposure: inf is outside 0 to 20; clamped to 20", {"out.png"}},
    {"output folder missing", kNothing, kSmall + "-o no/such/out.png", false,
     "no/such/out.png: cannot create (No such file or directory)", {}},
    {"output folder missing, EXR", kNothing, kSmall + "-o no/such/out.exr", false, "no/such/out.exr: ", {}},
    {"output not an image type", kNothing, kSmall + "-o out.jpg", false, "the output file out.jpg must end in", {}, false, 2},
    {"output name taken by a folder",
     [](const std::string& f) {
         fs::create_directories(f + "/taken.png/inside");
     },
     kSmall + "-o taken.png", false, "taken.png: cannot write (", {}},
    {"output folder is a file", [](const std::string& f) { WriteBytes(f + "/plain", "x"); },
     kSmall + "-o plain/out.png", false, "plain/out.png: cannot create (Not a directory)", {}},
    {"output folder read-only",
     [](const std::string& f) {
         fs::create_directory(f + "/sealed");
         ::chmod((f + "/sealed").c_str(), 0555);
     },
     kSmall + "-o sealed/out.png", false, "sealed/out.png: cannot create (Permission denied)", {}, true},
    // A menu's separator line and the space between two choices are not choices.
    {"popup separator by number", kNothing, kSmall + "--set 'Tint Mode=2' -o out.png", false,
     "--set Tint Mode=2: choice 2 is a separator, not a choice of Tint Mode (1 Off, 3 Monocolor, 4 Duocolor)", {},
     false, 2},
    {"popup separator by text", kNothing, kSmall + "--set 'Tint Mode=(-' -o out.png", false,
     "\"(-\" is not a choice of Tint Mode (1 Off, 3 Monocolor, 4 Duocolor)", {}, false, 2},
    {"fractional choice", kNothing, kSmall + "--set 'Glow Mode=1.5' -o out.png", false,
     "1.5 is not a choice of Glow Mode (1 Exponential, 2 Lens Iris)", {}, false, 2},
    {"colour with a letter that is not hex", kNothing, kSmall + "--set 'Color Outer=#12345G' -o out.png", false,
     "a colour is #RRGGBB in hex: #12345G", {}, false, 2},
    {"colour with spaces", kNothing, kSmall + "--set 'Color Outer=# 1 2 3' -o out.png", false,
     "a colour is #RRGGBB in hex: # 1 2 3", {}, false, 2},
    {"colour with signs", kNothing, kSmall + "--set 'Color Outer=#-1-1-1' -o out.png", false,
     "a colour is #RRGGBB in hex: #-1-1-1", {}, false, 2},
    {"huge angle is clamped", kNothing, kSmall + "--set 'Aspect Angle=1e30' -o out.png", true,
     "warning: Aspect Angle: 1e30 is outside -32767 to 32767; clamped to 32767", {"out.png"}},
    // Numbers too large for the tool are mistakes in the command line, not crashes.
    {"parameter index beyond int", kNothing, kSmall + "--set 99999999999=1 -o out.png", false,
     "--set 99999999999=1: no parameter 99999999999", {}, false, 2},
    {"parameter index beyond int, with --controls", kNothing, kSmall + "--controls --set 99999999999=1 -o out.png",
     false, "--set 99999999999=1: ", {}, false, 2},
    {"layer position just beyond int", kMaskFile, kSmall + "--mask layer.png@2147483648,0 -o out.png", false,
     "the layer position in \"layer.png@2147483648,0\" is out of range", {}, false, 2},
    {"layer position far beyond int", kMaskFile, kSmall + "--mask layer.png@99999999999999999999,0 -o out.png", false,
     "is out of range (each of X and Y from -2147483648 to 2147483647)", {}, false, 2},
    {"downsample beyond what the output could hold", kNothing, kSmall + "--downsample 2147483647 -o out.png", false,
     "--downsample takes a whole number from 1 to 256", {}, false, 2},
    // Layers at the ends of the int range: their offsets are computed without overflow (the sanitizer build
    // would stop the tool on one).
    {"mask at the largest position", kMaskFile, kSmall + "--mask layer.png@2147483647,0 -o out.png", true,
     "output rectangle", {"out.png"}},
    {"lens dirt at the smallest position", kMaskFile, kSmall + "--dirt layer.png@-2147483648,-2147483648 -o out.png",
     true, "output rectangle", {"out.png"}},
    {"mask wholly above the input", kMaskFile, kSmall + "--mask layer.png@0,-40 -o out.png", false,
     "the effect produced nothing to show for this input (the mask layer layer.png does not overlap the input)",
     {}},
    {"mask wholly left of the input", kMaskFile, kSmall + "--mask layer.png@-13,0 -o out.png", false,
     "the effect produced nothing to show for this input (the mask layer layer.png does not overlap the input)",
     {}},
    {"output name of the longest legal length", kNothing, kSmall + "-o " + kLongestName, true, "wrote ",
     {kLongestName}},
};

class ToolBadInput : public testing::TestWithParam<CliCase> {};

TEST_P(ToolBadInput, OneLineErrorNonZeroExitNoPartialOutput) {
    const CliCase& c = GetParam();
    if (c.needsNonRoot && ::geteuid() == 0)
        GTEST_SKIP() << "file modes do not bind root; the case beside it with a path through a file holds for root";
    testsupport::ScopedHome home;  // the effect's log goes there, not into the user's folder
    testsupport::TempDir scratch;
    const std::string folder = scratch.path() + "/work";
    fs::create_directory(folder);
    c.prepare(folder);
    const std::set<std::string> before = Listing(folder);

    const ToolRun run = RunTool(folder, c.arguments);

    std::set<std::string> expected = before;
    expected.insert(c.outputs.begin(), c.outputs.end());
    EXPECT_EQ(Listing(folder), expected) << "files left behind; stderr:\n" << run.stderrText;
    if (c.succeeds) {
        EXPECT_EQ(run.exitCode, 0) << run.stderrText;
        EXPECT_THAT(run.errorLines, ::testing::IsEmpty());
        EXPECT_THAT(run.stderrText, ::testing::HasSubstr("velloran-render: " + c.message));
        for (const std::string& name : c.outputs) {
            const simhost::SimWorld written = simhost::ReadImage(folder + "/" + name);
            EXPECT_GT(written.width(), 16) << "the glow grows the frame";
        }
    } else {
        EXPECT_EQ(run.exitCode, c.status) << run.stderrText;
        ASSERT_EQ(run.errorLines.size(), 1u) << run.stderrText;
        EXPECT_THAT(run.errorLines[0], ::testing::StartsWith("velloran-render: "));
        EXPECT_THAT(run.errorLines[0], ::testing::HasSubstr(c.message));
    }
    // Let TempDir remove what a case made unwritable.
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        ::chmod(entry.path().c_str(), entry.is_directory() ? 0755 : 0644);
}

INSTANTIATE_TEST_SUITE_P(Cases, ToolBadInput, testing::ValuesIn(kCliCases), velloran_test::NameFromWhat<CliCase>);

// The controls window as --controls prints it sees the frame's layers: those given on the command line, and
// for "Iris Layer", whose default is the effect's own layer, that layer when no --iris is given.
TEST(ToolControls, SeeTheLayersTheFrameWillHave) {
    struct Case {
        const char* what;
        std::string arguments;
        std::vector<std::string> lines;  // each printed as a whole line
    };
    const std::vector<Case> cases = {
        {"no layers", "--controls --set 'Glow Mode=2'",
         {" 33  shown   greyed   Mask Mode", " 40  hidden  greyed   Warning Iris Layer not supplied"}},
        {"mask and iris given", "--controls --set 'Glow Mode=2' --mask layer.png@3,3 --iris layer.png",
         {" 33  shown   enabled  Mask Mode", " 40  hidden  greyed   Warning Iris Layer not supplied"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::ScopedHome home;
        testsupport::TempDir scratch;
        const std::string folder = scratch.path() + "/work";
        fs::create_directory(folder);
        kMaskFile(folder);
        const ToolRun run = RunTool(folder, kSmall + c.arguments + " -o out.png");
        EXPECT_EQ(run.exitCode, 0) << run.stderrText;
        EXPECT_THAT(run.errorLines, ::testing::IsEmpty());
        const std::vector<std::string> printed = Lines(run.stdoutText);
        for (const std::string& line : c.lines) EXPECT_THAT(printed, ::testing::Contains(line)) << run.stdoutText;
    }
}

// One run of the tool, signalled as soon as the image is being written into its temporary file. Gives how the
// tool ended and what it left in the folder; `written` is false when it wrote no temporary file at all.
struct SignalledRun {
    bool written = false;
    int status = 0;
    std::set<std::string> left;
};

SignalledRun SignalWhileWriting(const std::string& folder, int sig) {
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    EXPECT_GE(watch, 0);
    EXPECT_GE(::inotify_add_watch(watch, folder.c_str(), IN_MODIFY), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::chdir(folder.c_str()) != 0) ::_exit(126);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        tooltest::DefaultSignals();
        // A large EXR takes a while to write.
        ::execl(VELLORAN_RENDER_TOOL, VELLORAN_RENDER_TOOL, "--scene-size", "256x256", "--set", "Radius=4", "-o",
                "out.exr", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    SignalledRun run;
    run.written = !tooltest::SignalWhenTemporaryIsWritten(watch, child, sig, "out.exr").empty();
    ::waitpid(child, &run.status, 0);
    run.left = Listing(folder);
    return run;
}

// SIGINT or SIGTERM while the frame is written: the temporary file goes, and the tool ends by that signal.
// On a busy machine the signal may come only after the finished image was put in place (a complete out.exr,
// which is right), even after the tool has ended: then the run is tried again.
TEST(ToolSignals, InterruptWhileWritingLeavesNothingBehind) {
    for (const int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig == SIGTERM ? "SIGTERM" : "SIGINT");
        bool caughtWriting = false;
        for (int attempt = 0; attempt < 5 && !caughtWriting && !HasFailure(); ++attempt) {
            testsupport::ScopedHome home;
            testsupport::TempDir scratch;
            const std::string folder = scratch.path() + "/work";
            fs::create_directory(folder);
            const SignalledRun run = SignalWhileWriting(folder, sig);
            ASSERT_TRUE(run.written) << "no temporary file was written";
            if (run.left == std::set<std::string>{"out.exr"}) {
                EXPECT_TRUE(WIFEXITED(run.status) ? WEXITSTATUS(run.status) == 0 : WTERMSIG(run.status) == sig)
                    << "status " << run.status;
                EXPECT_GT(simhost::ReadImage(folder + "/out.exr").width(), 256);
                continue;  // too late: the image was already in place
            }
            EXPECT_TRUE(WIFSIGNALED(run.status) && WTERMSIG(run.status) == sig) << "status " << run.status;
            EXPECT_THAT(run.left, ::testing::IsEmpty()) << "left behind";
            caughtWriting = true;
        }
        EXPECT_TRUE(caughtWriting) << "the signal never came while the image was written";
    }
}

// The renderer line follows the output rectangle and names the renderer the stand-in's contexts get, so a
// frame made on Mesa's software renderer says so.
TEST(ToolRendererLine, FollowsTheOutputRectangleAndNamesTheRendererInUse) {
    testsupport::ScopedHome home;
    testsupport::TempDir scratch;
    const ToolRun run = RunTool(scratch.path(), kSmall + "-o out.png");
    ASSERT_EQ(run.exitCode, 0) << run.stderrText;
    const std::vector<std::string> lines = Lines(run.stderrText);
    const auto rectangle = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.rfind("velloran-render: output rectangle ", 0) == 0;
    });
    ASSERT_NE(rectangle, lines.end()) << run.stderrText;
    ASSERT_NE(rectangle + 1, lines.end()) << run.stderrText;
    ASSERT_STRNE(CGLStandInRenderer(), "");
    EXPECT_EQ(*(rectangle + 1), std::string("velloran-render: renderer ") + CGLStandInRenderer());
}

}  // namespace

// A frame grown past the renderer's largest texture, across or down, is refused with its size and the limit as
// soon as the pre-render has said how large it is, instead of a GL error from deep in the render.
TEST(ToolFrameTooLarge, RefusedWithItsSizeAndTheLimitBeforeRendering) {
    const int largest = CGLStandInMaxTextureSize();
    ASSERT_GT(largest, 0) << "the renderer could not be asked";
    constexpr int kWidestImage = 16384;  // the image reader's limit
    if (largest > kWidestImage) GTEST_SKIP() << "no readable image grows past a " << largest << "-pixel texture";
    for (const bool across : {true, false}) {
        SCOPED_TRACE(across ? "too wide" : "too tall");
        testsupport::ScopedHome home;
        testsupport::TempDir scratch;
        const std::string folder = scratch.path() + "/work";
        fs::create_directory(folder);
        // Fits the renderer one way; the glow's margin does not.
        WriteLayer(folder + "/long.png", across ? largest : 1, across ? 1 : largest);
        const std::set<std::string> before = Listing(folder);

        const ToolRun run = RunTool(folder, "--set Radius=4 long.png -o out.png");

        EXPECT_EQ(run.exitCode, 1) << run.stderrText;
        EXPECT_EQ(Listing(folder), before) << "files left behind; stderr:\n" << run.stderrText;
        ASSERT_EQ(run.errorLines.size(), 1u) << run.stderrText;
        int width = 0, height = 0, limit = 0, end = 0;
        const std::string& line = run.errorLines[0];
        ASSERT_EQ(std::sscanf(line.c_str(),
                              "velloran-render: the frame's output of %dx%d pixels is larger than the renderer "
                              "accepts (at most %d pixels a side)%n",
                              &width, &height, &limit, &end),
                  3)
            << line;
        EXPECT_EQ(std::size_t(end), line.size()) << line;
        EXPECT_GT(across ? width : height, largest);
        EXPECT_GT(across ? height : width, 1) << "the glow grows the frame both ways";
        EXPECT_EQ(limit, largest);
    }
}
