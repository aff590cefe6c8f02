#include "simhost/CallFailures.h"

#include <map>
#include <mutex>

#include "simhost/SimHost.h"

namespace simhost {

namespace {

class FailureCodes {
public:
    explicit FailureCodes(SimHost&) {}
    void Set(const std::string& call, PF_Err err) {
        std::lock_guard<std::mutex> lock(mutex_);
        codes_[call] = err;
    }
    PF_Err Get(const std::string& call, PF_Err fallback) const {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = codes_.find(call);
        return it == codes_.end() ? fallback : it->second;
    }

private:
    mutable std::mutex mutex_;
    std::map<std::string, PF_Err> codes_;
};

}  // namespace

void SetFailureCode(SimHost& host, const std::string& call, PF_Err err) { host.Service<FailureCodes>().Set(call, err); }

PF_Err PlannedFailure(SimHost& host, const std::string& call, PF_Err defaultCode) {
    if (!host.Faults().ShouldFail(call)) return PF_Err_NONE;
    return host.Service<FailureCodes>().Get(call, defaultCode);
}

}  // namespace simhost
