// A simulated host with the bundle loaded and registered, over a temporary HOME so the effect's log lines land
// in a file the test can read. At the end every suite acquired must have been released.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "simhost/SimHost.h"
#include "support/TempHome.h"

namespace testsupport {

class SimHostTest : public ::testing::Test {
protected:
    void SetUp() override { host_ = std::make_unique<simhost::SimHost>(); }
    void TearDown() override {
        if (host_) {
            EXPECT_THAT(host_->UnbalancedSuites(), ::testing::IsEmpty()) << "suites not released exactly once";
        }
        host_.reset();
    }

    simhost::SimHost& host() { return *host_; }
    std::string Log() const { return home_.ReadLog(); }

    ScopedHome home_;
    std::unique_ptr<simhost::SimHost> host_;
};

}  // namespace testsupport
