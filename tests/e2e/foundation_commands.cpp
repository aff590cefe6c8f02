// Commands through the loaded bundle: the About box, commands the effect does not answer, the report line of
// a failed command, and the exported suite helpers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "sdk/AE_EffectSuites.h"
#include "support/SimHostFixture.h"

namespace {

using ::testing::EndsWith;

using CommandsTest = testsupport::SimHostTest;

const char kAboutText[] = "Velloran 2 v1.0.2\n\nSimulates a physically accurate glow.\n";

TEST_F(CommandsTest, AboutWritesItsTextThroughTheAnsiSuiteAndReleasesIt) {
    const simhost::CommandResult r = host().Send(PF_Cmd_ABOUT);
    EXPECT_EQ(r.err, PF_Err_NONE);
    EXPECT_EQ(r.return_msg, kAboutText);
    EXPECT_EQ(r.out_flags, 0u) << "the About box is the return message, not an error display";
    EXPECT_EQ(host().Counts(kPFANSISuite, 1).acquires, 1);
    EXPECT_EQ(host().Counts(kPFANSISuite, 1).releases, 1);
    EXPECT_EQ(Log(), "");
}

TEST_F(CommandsTest, AboutUnderPrMrLeavesTheReturnMessageAlone) {
    host().InDataTemplate().appl_id = PF_FourCharCode("PrMr");
    simhost::CommandArgs args;
    args.prepare = [](PF_InData&, PF_OutData& out) { std::strcpy(out.return_msg, "host text"); };
    const simhost::CommandResult r = host().Send(PF_Cmd_ABOUT, args);
    EXPECT_EQ(r.err, PF_Err_NONE);
    EXPECT_EQ(r.return_msg, "host text");
    EXPECT_TRUE(host().AllCounts().empty()) << "no suite is needed for nothing";
}

TEST_F(CommandsTest, AboutWithoutTheAnsiSuiteFailsWith516AndLogsIt) {
    host().SetSuiteMissing(kPFANSISuite, 1);
    simhost::CommandArgs args;
    args.prepare = [](PF_InData&, PF_OutData& out) { std::strcpy(out.return_msg, "host text"); };
    const simhost::CommandResult r = host().Send(PF_Cmd_ABOUT, args);
    EXPECT_EQ(r.err, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(r.return_msg, "host text");
    EXPECT_THAT(Log(), EndsWith(": PF_Cmd_ABOUT reported err code: PF_Err_BAD_CALLBACK_PARAM\n"));
}

TEST_F(CommandsTest, CommandsWithoutAHandlerReturnNothingAndLogNothing) {
    std::vector<PF_Cmd> others = {2, 25, 26, 99, -1, -2147483647 - 1};
    for (PF_Cmd c = 5; c <= 12; ++c) others.push_back(c);
    for (PF_Cmd c = 16; c <= 22; ++c) others.push_back(c);
    for (PF_Cmd cmd : others) {
        SCOPED_TRACE(cmd);
        simhost::CommandArgs args;
        args.prepare = [](PF_InData&, PF_OutData& out) { std::strcpy(out.return_msg, "host text"); };
        const simhost::CommandResult r = host().Send(cmd, args);
        EXPECT_EQ(r.err, PF_Err_NONE);
        EXPECT_EQ(r.return_msg, "host text");
        EXPECT_EQ(r.out_flags, 0u);
    }
    EXPECT_FALSE(std::filesystem::exists(home_.LogFile()));
    EXPECT_TRUE(host().AllCounts().empty());
}

TEST_F(CommandsTest, GlobalDataTravelsFromOneCommandToTheNext) {
    PF_Handle block = host().Handles().New(16);
    simhost::CommandArgs set;
    set.prepare = [block](PF_InData&, PF_OutData& out) { out.global_data = block; };
    host().Send(2, set);  // as if the effect had stored its block
    PF_Handle seenIn = nullptr, seenOut = nullptr;
    simhost::CommandArgs look;
    look.prepare = [&](PF_InData& in, PF_OutData& out) {
        seenIn = in.global_data;
        seenOut = out.global_data;
    };
    host().Send(PF_Cmd_ABOUT, look);
    EXPECT_EQ(seenIn, block);
    EXPECT_EQ(seenOut, block);
    host().Send(PF_Cmd_GLOBAL_SETDOWN);
    EXPECT_EQ(host().GlobalData(), nullptr) << "the host forgets the block after set-down";
    host().Handles().Dispose(block);
}

// ---- the exported suite helpers ----------------------------------------------------------------------------

class ExportedSuitesTest : public testsupport::SimHostTest {
protected:
    template <class F>
    F Export(const char* name) {
        auto f = reinterpret_cast<F>(host().bundle().Symbol(name));
        EXPECT_NE(f, nullptr) << name << " is not exported";
        return f;
    }
    PF_InData in_{};
    PF_OutData out_{};
    void SetUp() override {
        SimHostTest::SetUp();
        in_ = host().InDataTemplate();
    }
};

TEST_F(ExportedSuitesTest, AcquireAndReleaseASuite) {
    auto acquire = Export<AEFX_AcquireSuiteFunc>("AEFX_AcquireSuite");
    auto release = Export<AEFX_ReleaseSuiteFunc>("AEFX_ReleaseSuite");
    void* suite = nullptr;
    ASSERT_EQ(acquire(&in_, &out_, kPFHandleSuite, 2, nullptr, &suite), PF_Err_NONE);
    EXPECT_NE(suite, nullptr);
    EXPECT_EQ(release(&in_, &out_, kPFHandleSuite, 2, nullptr), PF_Err_NONE);
    EXPECT_EQ(host().Counts(kPFHandleSuite, 2).releases, 1);
    EXPECT_EQ(out_.out_flags, 0u);
}

struct MessageCase {
    const char* given;
    std::string shown;
};

TEST_F(ExportedSuitesTest, AFailedAcquireShowsTheCallersTextLiterallyAndCut) {
    auto acquire = Export<AEFX_AcquireSuiteFunc>("AEFX_AcquireSuite");
    const std::string longText(400, 'q');
    const MessageCase cases[] = {
        {nullptr, "Not able to acquire AEFX Suite."},
        {"50% of %s %d %n", "50% of %s %d %n"},
        {longText.c_str(), longText.substr(0, 255)},
    };
    host().SetSuiteMissing(kPFWorldSuite, 2);
    for (const MessageCase& c : cases) {
        SCOPED_TRACE(c.shown.substr(0, 20));
        PF_OutData out{};
        void* suite = nullptr;
        EXPECT_EQ(acquire(&in_, &out, kPFWorldSuite, 2, c.given, &suite), PF_Err_BAD_CALLBACK_PARAM);
        EXPECT_EQ(std::string(out.return_msg), c.shown);
        EXPECT_EQ(out.out_flags, PF_OutFlag_DISPLAY_ERROR_MESSAGE);
    }
    EXPECT_EQ(host().SprintfOverflows(), 0);
}

TEST_F(ExportedSuitesTest, WithoutABasicSuiteNothingIsAcquiredOrReleased) {
    auto acquire = Export<AEFX_AcquireSuiteFunc>("AEFX_AcquireSuite");
    auto release = Export<AEFX_ReleaseSuiteFunc>("AEFX_ReleaseSuite");
    in_.pica_basicP = nullptr;
    void* suite = nullptr;
    EXPECT_EQ(acquire(&in_, &out_, kPFHandleSuite, 2, nullptr, &suite), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(release(&in_, &out_, kPFHandleSuite, 2, nullptr), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_STREQ(out_.return_msg, "Not able to release AEFX Suite.");
    EXPECT_EQ(out_.out_flags, PF_OutFlag_DISPLAY_ERROR_MESSAGE);
}

const int kDraw = 1, kSupplier = 2, kSurface = 3, kPath = 4;

TEST_F(ExportedSuitesTest, DrawbotSuitesAreAcquiredInOrderAndReleasedAgain) {
    host().AddSuite("DRAWBOT Draw Suite", 1, &kDraw);
    host().AddSuite("DRAWBOT Supplier Suite", 1, &kSupplier);
    host().AddSuite("DRAWBOT Surface Suite", 2, &kSurface);
    host().AddSuite("DRAWBOT Path Suite", 1, &kPath);
    auto acquire = Export<AEFX_AcquireDrawbotSuitesFunc>("AEFX_AcquireDrawbotSuites");
    auto release = Export<AEFX_ReleaseDrawbotSuitesFunc>("AEFX_ReleaseDrawbotSuites");
    DRAWBOT_Suites suites{};
    ASSERT_EQ(acquire(&in_, &out_, &suites), PF_Err_NONE);
    EXPECT_EQ(suites.drawbot_suiteP, &kDraw);
    EXPECT_EQ(suites.supplier_suiteP, &kSupplier);
    EXPECT_EQ(suites.surface_suiteP, &kSurface);
    EXPECT_EQ(suites.path_suiteP, &kPath);
    EXPECT_EQ(release(&in_, &out_), PF_Err_NONE);
}

TEST_F(ExportedSuitesTest, DrawbotAcquisitionStopsAtTheFirstMissingSuite) {
    host().AddSuite("DRAWBOT Draw Suite", 1, &kDraw);
    host().AddSuite("DRAWBOT Supplier Suite", 1, &kSupplier);
    host().AddSuite("DRAWBOT Path Suite", 1, &kPath);  // the surface suite is missing
    auto acquire = Export<AEFX_AcquireDrawbotSuitesFunc>("AEFX_AcquireDrawbotSuites");
    DRAWBOT_Suites suites{};
    EXPECT_EQ(acquire(&in_, &out_, &suites), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_STREQ(out_.return_msg, "Not able to acquire AEFX Suite.");
    EXPECT_EQ(suites.supplier_suiteP, &kSupplier);
    EXPECT_EQ(suites.surface_suiteP, nullptr);
    EXPECT_EQ(host().Counts("DRAWBOT Path Suite", 1).acquires + host().Counts("DRAWBOT Path Suite", 1).failedAcquires,
              0)
        << "asked for a suite after the first failure";
    // The caller releases what it got; here by hand, so the fixture's balance check holds.
    host().ReleaseSuite("DRAWBOT Draw Suite", 1);
    host().ReleaseSuite("DRAWBOT Supplier Suite", 1);

    PF_OutData out{};
    EXPECT_EQ(acquire(&in_, &out, nullptr), PF_Err_UNRECOGNIZED_PARAM_TYPE);
    EXPECT_STREQ(out.return_msg, "NULL suite pointer passed to AEFX_AcquireDrawbotSuites");
}

}  // namespace
