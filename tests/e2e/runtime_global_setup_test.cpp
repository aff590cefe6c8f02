// Global setup and set-down through the loaded bundle: the version word and capability flags a host reads,
// the host under which the effect is obsolete, the global block in its host handle kept across commands (also
// those sent from render threads), and a host without the handle suite.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "sdk/AE_EffectSuites.h"
#include "simhost/RenderThreads.h"
#include "support/CaseNames.h"
#include "support/SimHostFixture.h"

namespace {

using GlobalSetupE2E = testsupport::SimHostTest;

struct HostFlagsCase {
    const char* host;
    A_u_long appl_id;
    PF_OutFlags out_flags;
};
void PrintTo(const HostFlagsCase& c, std::ostream* os) { *os << c.host; }

class GlobalSetupFlags : public GlobalSetupE2E, public ::testing::WithParamInterface<HostFlagsCase> {};

TEST_P(GlobalSetupFlags, ReportsVersionFlagsAndABlockLockedInItsHandle) {
    host().InDataTemplate().appl_id = GetParam().appl_id;
    const simhost::CommandResult setup = host().Send(PF_Cmd_GLOBAL_SETUP);
    ASSERT_EQ(setup.err, PF_Err_NONE);
    EXPECT_EQ(setup.out.my_version, 0x81001u);
    EXPECT_EQ(setup.out_flags, GetParam().out_flags);
    EXPECT_EQ(setup.out_flags2, (1u << 3) | (1u << 10) | (1u << 12) | (1u << 21) | (1u << 27));
    EXPECT_EQ(setup.return_msg, "") << "every program of the global set builds";

    const PF_Handle handle = host().GlobalData();
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(host().Handles().Live(), 1);
    EXPECT_EQ(host().Handles().LockCount(handle), 1);

    ASSERT_EQ(host().Send(PF_Cmd_GLOBAL_SETDOWN).err, PF_Err_NONE);
    EXPECT_EQ(host().Handles().Live(), 0);
    EXPECT_EQ(host().Handles().BadHandleCalls(), 0);
}

INSTANTIATE_TEST_SUITE_P(Hosts, GlobalSetupFlags,
                         ::testing::Values(HostFlagsCase{"AnyHost", PF_FourCharCode("FXTC"), (1u << 15) | (1u << 26)},
                                           HostFlagsCase{"PrMr", PF_FourCharCode("PrMr"), 1u << 21}),
                         velloran_test::NameFromPrintTo<HostFlagsCase>);

TEST_F(GlobalSetupE2E, TheBlockTravelsToEveryLaterCommandOnEveryThreadUntilSetdown) {
    ASSERT_EQ(host().Send(PF_Cmd_GLOBAL_SETUP).err, PF_Err_NONE);
    const PF_Handle handle = host().GlobalData();
    ASSERT_NE(handle, nullptr);

    simhost::RenderThreads threads(host(), 2);
    for (int t = 0; t < threads.Count(); ++t) {
        PF_Handle seenIn = nullptr, seenOut = nullptr;
        simhost::CommandArgs args;
        args.prepare = [&](PF_InData& in, PF_OutData& out) {
            seenIn = in.global_data;
            seenOut = out.global_data;
        };
        ASSERT_EQ(threads.Send(t, PF_Cmd_ABOUT, args).err, PF_Err_NONE);
        EXPECT_EQ(seenIn, handle) << "thread " << t;
        EXPECT_EQ(seenOut, handle) << "thread " << t;
    }
    threads.End();

    ASSERT_EQ(host().Send(PF_Cmd_GLOBAL_SETDOWN).err, PF_Err_NONE);
    EXPECT_EQ(host().GlobalData(), nullptr);
    EXPECT_EQ(host().Handles().Live(), 0);
}

TEST_F(GlobalSetupE2E, WithoutTheHandleSuiteTheCommandFailsAfterVersionAndFlags) {
    host().SetSuiteMissing(kPFHandleSuite, kPFHandleSuiteVersion2);
    const simhost::CommandResult setup = host().Send(PF_Cmd_GLOBAL_SETUP);
    EXPECT_EQ(setup.err, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(setup.out.my_version, 0x81001u);
    EXPECT_EQ(setup.out_flags, (1u << 15) | (1u << 26));
    EXPECT_EQ(host().Handles().TotalAllocated(), 0);
    EXPECT_EQ(host().GlobalData(), nullptr);
    // Nothing was made, so set-down has nothing to reach the suite for.
    EXPECT_EQ(host().Send(PF_Cmd_GLOBAL_SETDOWN).err, PF_Err_NONE);
}

TEST_F(GlobalSetupE2E, SetdownWithoutTheHandleSuiteFailsAndKeepsTheBlockForARetry) {
    ASSERT_EQ(host().Send(PF_Cmd_GLOBAL_SETUP).err, PF_Err_NONE);
    const PF_Handle handle = host().GlobalData();
    host().SetSuiteMissing(kPFHandleSuite, kPFHandleSuiteVersion2);
    EXPECT_EQ(host().Send(PF_Cmd_GLOBAL_SETDOWN).err, PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_TRUE(host().Handles().IsLive(handle));

    host().SetSuiteMissing(kPFHandleSuite, kPFHandleSuiteVersion2, false);
    host().SetGlobalData(handle);  // the host forgot it after the failed set-down
    EXPECT_EQ(host().Send(PF_Cmd_GLOBAL_SETDOWN).err, PF_Err_NONE);
    EXPECT_FALSE(host().Handles().IsLive(handle));
}

}  // namespace
