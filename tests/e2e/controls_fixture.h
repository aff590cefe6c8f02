// A host with the effect's parameters set up and the effect-controls window in place, and a stand-in for the
// desktop's opener: an `xdg-open` first on PATH that writes each call's argument to a file, so no browser or
// file manager is ever started.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "simhost/Drawbot.h"
#include "simhost/EffectControls.h"
#include "simhost/LayerSuites.h"
#include "simhost/ParamStore.h"
#include "support/EffectParamIndex.h"
#include "support/SimHostFixture.h"
#include "support/TempHome.h"

namespace controls_test {

using namespace testsupport::param_index;

// Replaces PATH's opener for the length of a test.
class FakeOpener {
public:
    FakeOpener() {
        const std::string script = dir_.path() + "/xdg-open";
        record_ = dir_.path() + "/opened.txt";
        std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" << record_ << "'\n";
        chmod(script.c_str(), 0755);
        const char* path = std::getenv("PATH");
        if (path) saved_ = path;
        setenv("PATH", (dir_.path() + ":" + (path ? path : "/usr/bin:/bin")).c_str(), 1);
    }
    ~FakeOpener() {
        if (saved_) {
            setenv("PATH", saved_->c_str(), 1);
        } else {
            unsetenv("PATH");
        }
    }
    // One entry per call, in order.
    std::vector<std::string> Opened() const {
        std::vector<std::string> lines;
        std::ifstream in(record_);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

private:
    testsupport::TempDir dir_;
    std::string record_;
    std::optional<std::string> saved_;
};

class ControlsTest : public testsupport::SimHostTest {
protected:
    void SetUp() override {
        testsupport::SimHostTest::SetUp();
        controls_ = &simhost::Controls(host());
        const simhost::CommandResult r = host().Send(PF_Cmd_PARAMS_SETUP);
        ASSERT_EQ(r.err, PF_Err_NONE);
        controls().ClearRecords();
    }
    void TearDown() override {
        if (host_) {
            EXPECT_EQ(controls().EffectsAlive(), 0) << "effect handles left undisposed";
            EXPECT_EQ(controls().StreamsAlive(), 0) << "streams left undisposed";
            EXPECT_EQ(controls().StreamValuesAlive(), 0) << "stream values left undisposed";
            EXPECT_EQ(controls().BadDisposals(), 0);
            EXPECT_EQ(controls().OpenUndoGroups(), 0) << "an undo group was left open";
            EXPECT_EQ(controls().UndoGroupMisuses(), 0);
            EXPECT_EQ(simhost::EffectLayerOf(host()).ProfilesAlive(), 0) << "colour profiles left undisposed";
        }
        testsupport::SimHostTest::TearDown();
    }

    simhost::EffectControls& controls() { return *controls_; }
    simhost::ParamStore& params() { return simhost::Params(host()); }
    double Number(int index) {
        const PF_ParamDef d = params().Value(index);
        switch (d.param_type) {
            case PF_Param_POPUP: return d.u.pd.value;
            case PF_Param_CHECKBOX: return d.u.bd.value;
            case PF_Param_SLIDER: return d.u.sd.value;
            case PF_Param_ANGLE: return d.u.ad.value / 65536.0;
            default: return d.u.fs_d.value;
        }
    }
    PF_Pixel Color(int index) { return params().Value(index).u.cd.value; }
    std::vector<std::string> UndoNames() {
        std::vector<std::string> names;
        for (const auto& g : controls().UndoGroups()) names.push_back(g.name);
        return names;
    }
    std::vector<int> UpdatedIndices() {
        std::vector<int> indices;
        for (const auto& u : controls().UIUpdates()) indices.push_back(u.index);
        return indices;
    }

    simhost::EffectControls* controls_ = nullptr;
};

}  // namespace controls_test
