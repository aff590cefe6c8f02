// What velloran-render writes where: standard output holds only what the user asked for, whatever the effect
// prints; a machine without a usable OpenGL device gets a last line that says so; and text asked for that
// cannot be written is an error, not silence.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "support/TempHome.h"
#include "tool_run.h"

namespace {

using tooltest::Lines;
using tooltest::RunTool;
using tooltest::ToolRun;

// No EGL vendor library to load: EGL offers no display, so no context can be made, as on a machine without a
// GL driver.
const std::string kNoDevice = "__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent/egl-vendor.json";
const std::string kOldOutput = "an older image, to be kept";

struct StreamCase {
    const char* what;
    std::string arguments;
    int status;
    std::string stdoutStart;  // what stdout begins with; empty: stdout stays empty
    bool stdoutWhole;         // stdout is exactly stdoutStart
};

TEST(ToolWithoutGLDevice, StdoutHoldsOnlyWhatWasAskedAndTheLastLineSaysWhy) {
    const StreamCase cases[] = {
        {"version", "--version", 0, "Velloran 2 v1.0.2\n", true},
        {"about", "--about", 0, "Velloran 2 v1.0.2\n\nSimulates a physically accurate glow.\n", true},
        {"parameter list", "--list-params", 0, "1\tdisk ", false},
        {"frame", "--scene-size 16x16 --set Radius=4", 1, "", true},
    };
    for (const StreamCase& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::ScopedHome home;
        testsupport::TempDir scratch;
        std::ofstream(scratch.path() + "/out.png", std::ios::binary) << kOldOutput;

        const ToolRun run = RunTool(scratch.path(), c.arguments, kNoDevice);

        EXPECT_EQ(run.exitCode, c.status) << run.stderrText;
        if (c.stdoutWhole) {
            EXPECT_EQ(run.stdoutText, c.stdoutStart);
        } else {
            EXPECT_THAT(run.stdoutText, ::testing::StartsWith(c.stdoutStart));
        }
        EXPECT_EQ(testsupport::ReadFile(scratch.path() + "/out.png"), kOldOutput);
        const std::vector<std::string> lines = Lines(run.stderrText);
        if (c.status == 0) continue;
        // The effect's own messages are kept, on stderr, before the tool's plain last word.
        EXPECT_THAT(run.stderrText, ::testing::HasSubstr("0 - invalid display"));
        ASSERT_FALSE(lines.empty());
        EXPECT_THAT(lines.back(), ::testing::StartsWith("velloran-render: no OpenGL 3.3 core context could be made"));
        EXPECT_THAT(lines.back(), ::testing::HasSubstr("Library/Logs/Quenholt"));
    }
}

// Where a context can be made, a frame that fails for another reason says nothing of one.
TEST(ToolWithoutGLDevice, NotSaidWhereAContextIsMade) {
    testsupport::ScopedHome home;
    testsupport::TempDir scratch;
    const ToolRun run = RunTool(scratch.path(), "--scene-size 16x16 --set Radius=4 --set Radius=x");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_THAT(run.stderrText, ::testing::Not(::testing::HasSubstr("context could be made")));
}

// Text asked for that cannot reach standard output, whether it is closed or its device is full, fails the run
// with one line saying so.
TEST(ToolStandardOutput, UnwritableIsAnError) {
    const struct {
        const char* what;
        const char* redirection;
        const char* reason;
    } cases[] = {
        {"closed", ">&-", "cannot write to standard output (Bad file descriptor)"},
        {"device full", ">/dev/full", "cannot write to standard output (No space left on device)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const char* asked : {"--version", "--list-params", "--help"}) {
            SCOPED_TRACE(asked);
            testsupport::TempDir capture;
            const std::string err = capture.path() + "/stderr.txt";
            const std::string command = std::string("'" VELLORAN_RENDER_TOOL "' ") + asked + " " + c.redirection +
                                        " 2>'" + err + "'";
            const int status = std::system(command.c_str());
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
            const std::vector<std::string> lines = Lines(testsupport::ReadFile(err));
            ASSERT_FALSE(lines.empty());
            EXPECT_EQ(lines.back(), std::string("velloran-render: ") + c.reason);
        }
    }
}

}  // namespace
