// The tool's progress report at given moments: which stage time -v prints, when the line in place appears,
// and that neither a message nor the end leaves a piece of it on the terminal.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simhost/tool/Options.h"
#include "simhost/tool/ProgressLine.h"
#include "support/TerminalScreen.h"

namespace {

using velloran_tool::ProgressReport;
using testsupport::TerminalScreen;

// Each stage's own time, not the time since the frame began: a log reader adds them up to the whole.
TEST(ToolProgressReport, VerboseTimesEachStageOnItsOwn) {
    ProgressReport report(false, true, velloran_tool::kProgressAfterSeconds);
    std::string sent = report.Enter("reading", 10.0);
    sent += report.Enter("pre-render", 11.0);
    sent += report.Tick(11.2);
    sent += report.Enter("render", 11.5);
    sent += report.Enter("writing", 14.0);
    sent += report.End(14.25);
    EXPECT_EQ(sent,
              "velloran-render: reading took 1.00 s\n"
              "velloran-render: pre-render took 0.50 s\n"
              "velloran-render: render took 2.50 s\n"
              "velloran-render: writing took 0.25 s\n");
}

// The delay a command line without --progress-after gets.
double ToolStateDelay() { return velloran_tool::ToolState{}.progressAfter; }

struct DelayCase {
    const char* what;
    bool terminal;
    double delay;
    double tickAt;   // seconds into the frame
    bool drawn;      // the line shows by then
};

const DelayCase kDelayCases[] = {
    {"default delay not yet reached", true, ToolStateDelay(), 1.99, false},
    {"default delay reached", true, ToolStateDelay(), 2.0, true},
    {"delay set to zero shows at once", true, 0.0, 0.0, true},
    {"long delay not reached", true, 3600.0, 3599.0, false},
    {"never on a log", false, 0.0, 100.0, false},
};

TEST(ToolProgressReport, LineAppearsOnlyOnATerminalAndOnlyAfterItsDelay) {
    for (const DelayCase& c : kDelayCases) {
        SCOPED_TRACE(c.what);
        ProgressReport report(c.terminal, false, c.delay);
        std::string sent = report.Enter("render", 100.0);
        if (c.tickAt > 0) sent += report.Tick(100.0 + c.tickAt);
        EXPECT_EQ(sent.find("velloran-render: render... ") != std::string::npos, c.drawn) << sent;
        if (c.drawn) {
            EXPECT_THAT(sent, ::testing::HasSubstr("render... " + velloran_tool::Seconds(c.tickAt)));
        }
        sent += report.End(100.0 + c.tickAt + 1);
        // Whatever was drawn is gone at the end.
        for (const std::string& line : TerminalScreen(sent)) EXPECT_EQ(line, "") << sent;
    }
}

// A message said while the line shows stands on a line of its own, whole, and the line comes back below it:
// a message shorter than the line would otherwise keep the line's tail.
TEST(ToolProgressReport, MessageWhileTheLineShowsLeavesNoPieceOfIt) {
    ProgressReport report(true, false, 0.0);
    std::string sent = report.Enter("writing", 0.0);
    sent += report.Tick(12.25);
    sent += report.Say("velloran-render: wrote a.png (8x8)\n", 12.5);
    const std::vector<std::string> during = TerminalScreen(sent);
    ASSERT_EQ(during.size(), 2u) << sent;
    EXPECT_EQ(during[0], "velloran-render: wrote a.png (8x8)");
    EXPECT_EQ(during[1], "velloran-render: writing... 12.50 s");
    sent += report.End(12.75);
    EXPECT_THAT(TerminalScreen(sent), ::testing::ElementsAre("velloran-render: wrote a.png (8x8)", ""));
}

}  // namespace
