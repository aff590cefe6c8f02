// velloran-render on a terminal: the line that shows a frame's progress in place appears only once the frame
// has taken the delay (--progress-after, so that no test depends on how fast the machine renders), and leaves
// nothing behind: not under the messages said while it shows, not under "wrote", not at the end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <string>
#include <vector>

#include "simhost/ImageIO.h"
#include "support/TempHome.h"
#include "support/TerminalScreen.h"
#include "tool_run.h"

namespace {

struct TerminalRun {
    int exitCode = -1;
    std::string sent;                 // everything the tool wrote to the terminal
    std::vector<std::string> screen;  // what the terminal shows afterwards
};

// Runs the tool in `folder` with its stdout and stderr on a new pseudo-terminal, until it closes it.
TerminalRun RunOnTerminal(const std::string& folder, const std::vector<std::string>& arguments) {
    std::vector<const char*> argv{VELLORAN_RENDER_TOOL};
    for (const std::string& a : arguments) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    TerminalRun run;
    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (child < 0) return run;
    if (child == 0) {
        if (::chdir(folder.c_str()) != 0) ::_exit(126);
        ::execv(VELLORAN_RENDER_TOOL, const_cast<char* const*>(argv.data()));
        ::_exit(127);
    }
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(terminal, buffer, sizeof buffer);
        if (n <= 0) break;  // every holder of the terminal's other end has closed it
        run.sent.append(buffer, size_t(n));
    }
    ::close(terminal);
    int status = 0;
    ::waitpid(child, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.screen = testsupport::TerminalScreen(run.sent);
    return run;
}

// Whether `text` holds the line in place: "velloran-render: STAGE... " and a digit of its time.
bool HasProgressText(const std::string& text) {
    const std::string prefix = "velloran-render: ";
    for (size_t at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at + 1)) {
        size_t end = at + prefix.size();
        while (end < text.size() && (std::islower(static_cast<unsigned char>(text[end])) || text[end] == '-')) ++end;
        if (end > at + prefix.size() && text.compare(end, 4, "... ") == 0 && end + 4 < text.size() &&
            std::isdigit(static_cast<unsigned char>(text[end + 4])))
            return true;
    }
    return false;
}

std::string Shown(const std::vector<std::string>& screen) {
    std::string text;
    for (const std::string& line : screen) text += "[" + line + "]\n";
    return text;
}

class ToolOnTerminal : public testing::Test {
protected:
    void SetUp() override {
        simhost::SimWorld layer(12, 12, simhost::PixelDepth::k8);
        for (A_long y = 0; y < 12; ++y)
            for (A_long x = 0; x < 12; ++x) layer.SetFloat(x, y, {1.f, 0.9f, 0.5f, 0.3f});
        simhost::WriteImage(scratch_.path() + "/layer.png", layer);
    }
    testsupport::ScopedHome home_;
    testsupport::TempDir scratch_;
};

// Past the delay (here none), the line shows each stage; what the tool says meanwhile (a warning while the
// line shows, "wrote" at the end) stands whole on its own line, and the screen ends with no progress text.
TEST_F(ToolOnTerminal, FramePastTheDelayShowsTheLineAndClearsIt) {
    const TerminalRun run = RunOnTerminal(
        scratch_.path(), {"--scene-size", "16x16", "--set", "Radius=4", "--iris", "layer.png", "--progress-after",
                          "0", "-o", "out.png"});
    ASSERT_EQ(run.exitCode, 0) << run.sent;
    for (const char* stage : {"reading", "pre-render", "render", "writing"})
        EXPECT_THAT(run.sent, ::testing::HasSubstr(std::string("\rvelloran-render: ") + stage + "... ")) << run.sent;
    bool wrote = false;
    for (const std::string& line : run.screen) {
        EXPECT_FALSE(HasProgressText(line)) << "progress text left on the screen:\n"
                                                             << Shown(run.screen);
        if (!line.empty()) {
            EXPECT_THAT(line, ::testing::StartsWith("velloran-render: ")) << Shown(run.screen);
        }
        wrote = wrote || line.rfind("velloran-render: wrote out.png (", 0) == 0;
    }
    EXPECT_TRUE(wrote) << Shown(run.screen);
    EXPECT_THAT(Shown(run.screen),
                ::testing::HasSubstr("[velloran-render: warning: --iris layer.png: this frame does not use that "
                                     "layer (the iris shapes the glow only with \"Glow Mode=Lens Iris\")]"));
    // The frame itself was written: the file holds the grown frame the tool reported.
    EXPECT_GT(simhost::ReadImage(scratch_.path() + "/out.png").width(), 16);
}

// A frame shorter than the delay gets no line at all; nor does one whose stderr is no terminal.
TEST_F(ToolOnTerminal, FrameShorterThanTheDelayShowsNoLine) {
    const TerminalRun run = RunOnTerminal(
        scratch_.path(), {"--scene-size", "16x16", "--set", "Radius=4", "--progress-after", "3600", "-o", "out.png"});
    ASSERT_EQ(run.exitCode, 0) << run.sent;
    EXPECT_FALSE(HasProgressText(run.sent)) << run.sent;
    EXPECT_THAT(run.sent, ::testing::HasSubstr("velloran-render: wrote out.png ("));

    const tooltest::ToolRun logged =
        tooltest::RunTool(scratch_.path(), "--scene-size 16x16 --set Radius=4 --progress-after 0 -o log.png");
    ASSERT_EQ(logged.exitCode, 0) << logged.stderrText;
    EXPECT_EQ(logged.stderrText.find('\r'), std::string::npos) << "a line drawn in place in a log";
    EXPECT_FALSE(HasProgressText(logged.stderrText)) << logged.stderrText;
}

}  // namespace
