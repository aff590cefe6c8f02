#include "simhost/Faults.h"

namespace simhost {

void FaultInjector::FailCall(const std::string& call, int nth) {
    std::lock_guard<std::mutex> lock(mutex_);
    plans_[call] = Plan{0, nth < 1 ? 1 : nth, false};
}

void FaultInjector::FailCallsFrom(const std::string& call, int nth) {
    std::lock_guard<std::mutex> lock(mutex_);
    plans_[call] = Plan{0, nth < 1 ? 1 : nth, true};
}

void FaultInjector::InterruptAfterAbortChecks(int checks) {
    std::lock_guard<std::mutex> lock(mutex_);
    abortChecks_ = 0;
    interruptAfter_ = checks < 0 ? 0 : checks;
}

void FaultInjector::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    plans_.clear();
    interruptAfter_ = -1;
}

bool FaultInjector::ShouldFail(const std::string& call) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++totals_[call];
    auto it = plans_.find(call);
    if (it == plans_.end()) return false;
    Plan& plan = it->second;
    ++plan.calls;
    if (plan.sticky) return plan.calls >= plan.failAt;
    if (plan.calls != plan.failAt) return false;
    plans_.erase(it);
    return true;
}

bool FaultInjector::ShouldInterrupt() {
    std::lock_guard<std::mutex> lock(mutex_);
    const int before = abortChecks_++;
    return interruptAfter_ >= 0 && before >= interruptAfter_;
}

int FaultInjector::Calls(const std::string& call) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = totals_.find(call);
    return it == totals_.end() ? 0 : it->second;
}

int FaultInjector::AbortChecks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return abortChecks_;
}

std::map<std::string, int> FaultInjector::CallCounts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return totals_;
}

}  // namespace simhost
