// A whole frame under every fault the host can give it. A frame of each glow mode, with mask, iris and lens-dirt
// layers, is rendered once while the host records every call it makes (each suite acquired, each callback, each
// world or handle made, each layer checked out); then the frame is rendered again with just one occurrence of
// one call failing, for every call, and once with the user's interrupt at each abort check. Every run must end
// with the error the host gave (or the interrupt's 517, quietly), and whatever the host handed out must be back:
// worlds, checked-out layers, parameters, handles, locks and suites. A last clean frame must match the first.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sdk/AEGP_Suites.h"
#include "simhost/CallFailures.h"
#include "simhost/Composition.h"
#include "simhost/LayerSuites.h"
#include "simhost/ParamStore.h"
#include "simhost/RenderThreads.h"
#include "simhost/SmartRender.h"
#include "simhost/WorldSuites.h"
#include "support/CaseNames.h"
#include "support/EffectFrameTest.h"
#include "support/EffectParamIndex.h"
#include "support/SimHostFixture.h"

namespace {

using simhost::PixelDepth;
using simhost::SimWorld;

using namespace testsupport::param_index;

SimWorld Pattern(A_long w, A_long h, PixelDepth depth, float scale) {
    SimWorld world(w, h, depth);
    for (A_long y = 0; y < h; ++y)
        for (A_long x = 0; x < w; ++x) {
            const bool spot = (x % 11 == 3 && y % 9 == 4);
            const float v = spot ? 4.f * scale : scale * float((x * 7 + y * 3) % 16) / 32.f;
            world.SetFloat(x, y, {1.f, v, v * 0.8f, v * 0.5f});
        }
    return world;
}

struct FrameSetup {
    const char* what;
    int glowMode;  // 1 "Exponential", 2 "Lens Iris"
    A_short bitdepth;
};
void PrintTo(const FrameSetup& f, std::ostream* os) { velloran_test::PrintCase(f.what, os); }
const FrameSetup kFrames[] = {
    {"Exponential, float", 1, 32},
    {"Lens Iris, float", 2, 32},
    {"Exponential, 8 bits", 1, 8},
};

// What the host had handed out and not yet been given back, before and after a frame.
struct Outstanding {
    int handles = 0, locks = 0, worlds = 0, paramCheckouts = 0, badHandleCalls = 0, unbalancedUnlocks = 0;
    bool operator==(const Outstanding& o) const {
        return handles == o.handles && locks == o.locks && worlds == o.worlds && paramCheckouts == o.paramCheckouts &&
               badHandleCalls == o.badHandleCalls && unbalancedUnlocks == o.unbalancedUnlocks;
    }
};
std::ostream& operator<<(std::ostream& os, const Outstanding& o) {
    return os << "{handles " << o.handles << ", locks " << o.locks << ", worlds " << o.worlds << ", param checkouts "
              << o.paramCheckouts << ", bad handle calls " << o.badHandleCalls << ", unbalanced unlocks "
              << o.unbalancedUnlocks << "}";
}

// How a failing call shows in the frame's result.
enum class Expect { HostCode, MissingSuite, OutOfMemory, Interrupt };
Expect ExpectationOf(const std::string& call) {
    if (call.rfind("AcquireSuite ", 0) == 0) return Expect::MissingSuite;
    if (call == "host_new_handle" || call == "host_lock_handle" || call == "host_resize_handle")
        return Expect::OutOfMemory;
    if (call == "progress" || call.find(" interrupt") != std::string::npos) return Expect::Interrupt;
    return Expect::HostCode;
}

// Occurrences of a call that are failed: all of the first few, then the last one (a call made once per row or
// per pass would otherwise multiply the runs without reaching new code).
constexpr int kFirstOccurrences = 3;
std::vector<int> OccurrencesToFail(int count) {
    std::vector<int> nth;
    for (int n = 1; n <= count && n <= kFirstOccurrences; ++n) nth.push_back(n);
    if (count > kFirstOccurrences) nth.push_back(count);
    return nth;
}

bool SamePixels(const SimWorld& a, const SimWorld& b) {
    if (a.width() != b.width() || a.height() != b.height() || a.depth() != b.depth()) return false;
    for (A_long y = 0; y < a.height(); ++y)
        if (std::memcmp(a.Row<char>(y), b.Row<char>(y), size_t(a.width()) * (a.depth() == PixelDepth::k8 ? 4 : 16)))
            return false;
    return true;
}

class FaultsOverAFrame : public testsupport::EffectFrameTest, public testing::WithParamInterface<FrameSetup> {
protected:
    void SetUp() override {
        EffectFrameTest::SetUp();
        if (HasFatalFailure()) return;
        const FrameSetup& f = GetParam();
        const PixelDepth depth = f.bitdepth == 8 ? PixelDepth::k8 : PixelDepth::k32f;
        simhost::Composition& comp = simhost::Comp(host());
        comp.SetInputLayer(comp.AddLayer(Pattern(48, 48, depth, 1.f), 0, 0, "input"));
        comp.SetLayerParam(kMaskLayer, comp.AddLayer(Pattern(20, 20, depth, 2.f), 8, 8, "mask"));
        comp.SetLayerParam(kLensDirtTexture, comp.AddLayer(Pattern(24, 24, depth, 1.f), 4, 20, "dirt"));
        SimWorld iris(9, 9, depth);
        for (A_long y = 0; y < 9; ++y)
            for (A_long x = 0; x < 9; ++x) {
                const bool inside = (x - 4) * (x - 4) + (y - 4) * (y - 4) <= 12;
                iris.SetFloat(x, y, inside ? PF_PixelFloat{1, 1, 1, 1} : PF_PixelFloat{1, 0, 0, 0});
            }
        comp.SetLayerParam(kIrisLayer, comp.AddLayer(std::move(iris), 0, 0, "iris"));
        Set(kGlowMode, f.glowMode);
        Set(kRadius, 6);
        Set(kHalfFloat, 0);
        // Every faultable call fails with one code of the host's, so each run knows the error it must end with.
        for (const char* call : {"checkout_layer", "GuidMixInPtr", "checkout_layer_pixels", "checkout_output",
                                 "checkin_layer_pixels", "PF_NewWorld", "PF_DisposeWorld", "transfer_rect", "copy",
                                 "fill", "AEGP_IterateGeneric", "AEGP_GetLayerMaskedBounds",
                                 "AEGP_ConvertLayerToCompTime", "AEGP_GetLayerToWorldXform"})
            simhost::SetFailureCode(host(), call, PF_Err_INTERNAL_STRUCT_DAMAGED);
        // A first frame builds the render thread's GL state, which later frames reuse: the frames under test
        // are the steady ones a host renders all day.
        const simhost::FrameResult warmUp = Render();
        ASSERT_EQ(warmUp.render.err, PF_Err_NONE) << warmUp.render.return_msg;
    }

    simhost::FrameResult Render() {
        simhost::FrameRequest request;
        request.bitdepth = GetParam().bitdepth;
        return RunFrame(request);
    }

    Outstanding Now() {
        Outstanding o;
        o.handles = host().Handles().Live();
        o.locks = host().Handles().Locks();
        o.worlds = simhost::Worlds(host()).Alive();
        o.paramCheckouts = simhost::Params(host()).OutstandingCheckouts();
        o.badHandleCalls = host().Handles().BadHandleCalls();
        o.unbalancedUnlocks = host().Handles().UnbalancedUnlocks();
        return o;
    }

    // Everything the host handed out during the frame is back. Layers checked out for the render are the one
    // exception by design: the host checks in what is left when the command ends, so only a check-in the host
    // refuses (a second one, an unknown id) counts, which Clean covers. `worldsLeft` worlds may stay with the
    // host where the host itself refused to take one back; `paramDelta` is the host's own count of
    // parameters it holds as checked out, which a refused check-in raises.
    void ExpectAllGivenBack(const simhost::FrameResult& r, Outstanding before, const std::string& run,
                            size_t worldsLeft = 0, int paramDelta = 0) {
        if (worldsLeft == 0) {
            EXPECT_TRUE(r.Clean()) << run << ": " << r.Problems();
        } else {
            EXPECT_EQ(r.undisposedWorlds.size(), worldsLeft) << run << ": " << r.Problems();
            EXPECT_TRUE(r.overruns.empty() && r.badDisposals == 0 && r.badCallbackCalls == 0) << run << ": "
                                                                                             << r.Problems();
        }
        before.paramCheckouts += paramDelta;
        EXPECT_EQ(Now(), before) << run;
        EXPECT_THAT(host().UnbalancedSuites(), ::testing::IsEmpty()) << run;
    }

};

TEST_P(FaultsOverAFrame, EveryHostCallFailingAndEveryInterruptEndsCleanly) {
    // The recording frame.
    const Outstanding start = Now();
    const std::map<std::string, int> callsBefore = host().Faults().CallCounts();
    const int checksBefore = host().Faults().AbortChecks();
    const simhost::FrameResult reference = Render();
    ASSERT_EQ(reference.render.err, PF_Err_NONE) << reference.render.return_msg;
    ASSERT_TRUE(reference.outputCheckedOut);
    ExpectAllGivenBack(reference, start, "the recording frame");
    const int abortChecks = host().Faults().AbortChecks() - checksBefore;
    std::map<std::string, int> calls;
    for (const auto& [name, count] : host().Faults().CallCounts()) {
        const auto it = callsBefore.find(name);
        const int inFrame = count - (it == callsBefore.end() ? 0 : it->second);
        if (inFrame > 0) calls[name] = inFrame;
    }
    ASSERT_GE(abortChecks, 5);
    // The frame reaches the kinds of call the test is about; a recording that missed them would prove nothing.
    for (const char* expected : {"checkout_layer", "checkout_layer_pixels", "checkout_output", "PF_NewWorld",
                                 "transfer_rect", "checkout_param"})
        EXPECT_TRUE(calls.count(expected)) << expected << " not called in the frame";
    bool anySuite = false;
    for (const auto& entry : calls) anySuite = anySuite || ExpectationOf(entry.first) == Expect::MissingSuite;
    EXPECT_TRUE(anySuite) << "no suite acquired in the frame";

    int injected = 0, libraryFailures = 0;
    std::string summary;
    for (const auto& [call, count] : calls) {
        summary += call + " x" + std::to_string(count) + "; ";
        for (const int nth : OccurrencesToFail(count)) {
            const std::string run = GetParam().what + std::string(": ") + call + " #" + std::to_string(nth);
            const Outstanding before = Now();
            const std::string logBefore = Log();
            host().Faults().Clear();
            host().Faults().FailCall(call, nth);
            const simhost::FrameResult r = Render();
            host().Faults().Clear();
            ++injected;
            const PF_Err err = r.rendered ? r.render.err : r.preRender.err;
            const simhost::CommandResult& last = r.rendered ? r.render : r.preRender;
            const std::string said = run + " (error " + std::to_string(err) + ", \"" + last.return_msg + "\")";
            if (err == PF_Err_NONE && GetParam().glowMode == 2 &&
                last.return_msg.rfind("Error: ", 0) == 0) {
                // A call of the iris-blur library: its failure is written into the return message and the
                // render goes on without that level.
                ++libraryFailures;
            } else {
                switch (ExpectationOf(call)) {
                    case Expect::HostCode:
                        // The read-back reports a failed iteration as out of memory.
                        if (err == PF_Err_OUT_OF_MEMORY && call.rfind("iterate", 0) == 0) break;
                        EXPECT_EQ(err, PF_Err_INTERNAL_STRUCT_DAMAGED) << said;
                        break;
                    case Expect::MissingSuite: EXPECT_NE(err, PF_Err_NONE) << said; break;
                    case Expect::OutOfMemory: EXPECT_EQ(err, PF_Err_OUT_OF_MEMORY) << said; break;
                    case Expect::Interrupt:
                        EXPECT_EQ(err, PF_Interrupt_CANCEL) << said;
                        EXPECT_EQ(last.return_msg, "") << said;
                        EXPECT_EQ(Log(), logBefore) << said;
                        break;
                }
            }
            // The host keeps a world whose disposal it refused, and a parameter whose check-in it refused; a
            // check-in of a record whose checkout failed gives back one of those kept before.
            const size_t worldsLeft = call == "PF_DisposeWorld" ? 1 : 0;
            const int paramDelta = call == "checkin_param"                                  ? 1
                                   : call == "checkout_param" && before.paramCheckouts > 0 ? -1
                                                                                             : 0;
            ExpectAllGivenBack(r, before, said, worldsLeft, paramDelta);
        }
    }

    int interrupts = 0;
    for (int n = 0; n < abortChecks; ++n) {
        const std::string run = GetParam().what + std::string(": interrupt at abort check ") + std::to_string(n);
        const Outstanding before = Now();
        const std::string logBefore = Log();
        host().Faults().Clear();
        host().Faults().InterruptAfterAbortChecks(n);
        const simhost::FrameResult r = Render();
        host().Faults().Clear();
        ++interrupts;
        const PF_Err err = r.rendered ? r.render.err : r.preRender.err;
        const simhost::CommandResult& last = r.rendered ? r.render : r.preRender;
        EXPECT_EQ(err, PF_Interrupt_CANCEL) << run;
        EXPECT_EQ(last.return_msg, "") << run;
        EXPECT_EQ(last.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE, 0u) << run;
        EXPECT_EQ(Log(), logBefore) << run << ": an interrupt is no error";
        ExpectAllGivenBack(r, before, run);
    }

    // No fault left the effect in a state that changes a later frame.
    const simhost::FrameResult after = Render();
    ASSERT_EQ(after.render.err, PF_Err_NONE) << after.render.return_msg;
    EXPECT_TRUE(SamePixels(after.output, reference.output)) << "the frame after the faults differs";
    RecordProperty("calls_injected", injected);
    RecordProperty("interrupts_injected", interrupts);
    std::printf("[ faults   ] %s: %d calls injected (%d of them failing the blur library, which goes on), %d "
                "interrupts; calls in the frame: %s\n",
                GetParam().what, injected, libraryFailures, interrupts, summary.c_str());
}

INSTANTIATE_TEST_SUITE_P(Frames, FaultsOverAFrame, testing::ValuesIn(kFrames), velloran_test::NameFromWhat<FrameSetup>);

}  // namespace
