// The effect's suite access against the simulated host's basic suite: what is acquired is released exactly
// once, under the name and version it was acquired with, and a missing suite fails the way its caller expects.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/Suites.h"
#include "simhost/SimHost.h"
#include "support/TempHome.h"

namespace {

using ::testing::IsEmpty;

class SuitesTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_THAT(host_.UnbalancedSuites(), IsEmpty()); }
    simhost::SuiteCounts Handle() const { return host_.Counts(kPFHandleSuite, 2); }

    testsupport::ScopedHome home_;
    simhost::SimHost host_;
    PF_InData& in_ = host_.InDataTemplate();
    PF_OutData out_{};
};

TEST_F(SuitesTest, AHandlerNeverAskedReleasesNothing) {
    { AEGP_SuiteHandler suites(in_.pica_basicP); }
    EXPECT_TRUE(host_.AllCounts().empty());
}

TEST_F(SuitesTest, AskingTwiceAcquiresOnceAndReleasesOnceAtTheEnd) {
    {
        AEGP_SuiteHandler suites(in_.pica_basicP);
        const PF_HandleSuite2* first = suites.HandleSuite2();
        const PF_HandleSuite2* second = suites.HandleSuite2();
        EXPECT_EQ(first, second);
        suites.ANSICallbacksSuite1();
        EXPECT_EQ(Handle().acquires, 1);
        EXPECT_EQ(Handle().releases, 0) << "released before the handler's end";
    }
    EXPECT_EQ(Handle().acquires, 1);
    EXPECT_EQ(Handle().releases, 1);
    EXPECT_EQ(host_.Counts(kPFANSISuite, 1).releases, 1);
}

TEST_F(SuitesTest, SlotsAreKeptPerNameAndVersion) {
    static const int otherVersion = 0;
    host_.AddSuite(kPFHandleSuite, 1, &otherVersion);
    {
        AEGP_SuiteHandler suites(in_.pica_basicP);
        EXPECT_EQ(suites.Get<int>(kPFHandleSuite, 1), &otherVersion);
        EXPECT_NE(static_cast<const void*>(suites.HandleSuite2()), static_cast<const void*>(&otherVersion));
        // The name is compared as text, not as the caller's pointer.
        const std::string name = kPFHandleSuite;
        EXPECT_EQ(suites.Get<int>(name.c_str(), 1), &otherVersion);
    }
    EXPECT_EQ(host_.Counts(kPFHandleSuite, 1).acquires, 1);
    EXPECT_EQ(Handle().acquires, 1);
}

TEST_F(SuitesTest, AMissingSuiteThrows516AndWhatWasAcquiredIsStillReleased) {
    host_.SetSuiteMissing(kPFANSISuite, 1);
    try {
        AEGP_SuiteHandler suites(in_.pica_basicP);
        suites.HandleSuite2();
        suites.ANSICallbacksSuite1();
        FAIL() << "no throw";
    } catch (int err) {
        EXPECT_EQ(err, PF_Err_BAD_CALLBACK_PARAM);
    }
    EXPECT_EQ(Handle().releases, 1);
    EXPECT_EQ(host_.Counts(kPFANSISuite, 1).failedAcquires, 1);
    EXPECT_EQ(host_.Counts(kPFANSISuite, 1).releases, 0);
}

TEST_F(SuitesTest, ANullSuiteWithoutAnErrorCountsAsMissing) {
    host_.AddSuite("PF Broken Suite", 1, nullptr);
    AEGP_SuiteHandler suites(in_.pica_basicP);
    EXPECT_THROW(suites.Get<int>("PF Broken Suite", 1), int);
    EXPECT_EQ(host_.Counts("PF Broken Suite", 1).releases, 0);
}

TEST_F(SuitesTest, ANullBasicSuiteThrows516) {
    try {
        AEGP_SuiteHandler suites(nullptr);
        FAIL() << "no throw";
    } catch (int err) {
        EXPECT_EQ(err, PF_Err_BAD_CALLBACK_PARAM);
    }
}

TEST_F(SuitesTest, TheScoperHoldsItsSuiteForItsScope) {
    {
        AEFX_SuiteScoper<PF_HandleSuite2> handles(&in_, kPFHandleSuite, 2, &out_);
        EXPECT_NE(handles.get(), nullptr);
        EXPECT_NE(handles->host_new_handle, nullptr);
        EXPECT_EQ(Handle().releases, 0);
    }
    EXPECT_EQ(Handle().acquires, 1);
    EXPECT_EQ(Handle().releases, 1);
    EXPECT_EQ(out_.out_flags, 0u);
}

struct ScoperFailure {
    const char* message;   // given to the scoper
    const char* expected;  // in return_msg
};

TEST_F(SuitesTest, AMissingSuiteThroughTheScoperShowsItsMessageAndThrows13) {
    const std::string longMessage(300, 'm');
    const ScoperFailure cases[] = {
        {nullptr, "Not able to acquire AEFX Suite."},
        {"World suite missing", "World suite missing"},
        {"100% missing %s %n", "100% missing %s %n"},  // a caller's text is never read as a format
        {longMessage.c_str(), nullptr},
    };
    host_.SetSuiteMissing(kPFWorldSuite, 2);
    for (const ScoperFailure& c : cases) {
        SCOPED_TRACE(c.expected ? c.expected : "long");
        PF_OutData out{};
        try {
            AEFX_SuiteScoper<PF_WorldSuite2> world(&in_, kPFWorldSuite, 2, &out, c.message);
            FAIL() << "no throw";
        } catch (int err) {
            EXPECT_EQ(err, 13);
        }
        EXPECT_EQ(std::string(out.return_msg), c.expected ? std::string(c.expected) : longMessage.substr(0, 255));
        EXPECT_EQ(out.out_flags, PF_OutFlag_DISPLAY_ERROR_MESSAGE);
    }
    EXPECT_EQ(host_.SprintfOverflows(), 0) << "the host's sprintf was handed more than return_msg holds";
    EXPECT_EQ(host_.Counts(kPFWorldSuite, 2).releases, 0);
}

TEST_F(SuitesTest, AMissingSuiteThroughTheScoperWithoutOutDataStillThrows13) {
    host_.SetSuiteMissing(kPFWorldSuite, 2);
    EXPECT_THROW((AEFX_SuiteScoper<PF_WorldSuite2>(&in_, kPFWorldSuite, 2, nullptr)), int);
}

}  // namespace
