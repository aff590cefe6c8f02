// Fault injection of the simulated host: a named host call can be told to fail on its Nth call from now, and
// the abort check can report the user's interrupt after N checks. Every host call that can fail asks
// ShouldFail with its own name, so a test can make any one of them fail without touching the others.
#pragma once

#include <map>
#include <mutex>
#include <string>

namespace simhost {

class FaultInjector {
public:
    // The nth call (1 = the next one) of `call` from now fails; later calls succeed again.
    void FailCall(const std::string& call, int nth = 1);
    // Every call of `call` from the nth one on fails, until Clear.
    void FailCallsFrom(const std::string& call, int nth = 1);
    // The abort check returns PF_Interrupt_CANCEL once it has been asked `checks` times (0: at the next check)
    // and on every check after that.
    void InterruptAfterAbortChecks(int checks);
    void Clear();

    // Called by the host implementation of `call`; counts the call and says whether it must fail.
    bool ShouldFail(const std::string& call);
    // Called by the abort callback; counts the check and says whether the user has interrupted.
    bool ShouldInterrupt();

    int Calls(const std::string& call) const;
    int AbortChecks() const;
    // Every call the host has asked about since the injector was made, with how often: the difference of two
    // of these lists is what a command or a frame called, to be failed one by one.
    std::map<std::string, int> CallCounts() const;

private:
    struct Plan {
        int calls = 0;     // calls counted since the plan was made
        int failAt = 0;    // 0: no failure planned
        bool sticky = false;
    };
    mutable std::mutex mutex_;
    std::map<std::string, Plan> plans_;
    std::map<std::string, int> totals_;
    int abortChecks_ = 0;
    int interruptAfter_ = -1;
};

}  // namespace simhost
