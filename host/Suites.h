// Access to the host's suites: a per-call cache that releases everything it acquired, and a one-suite scoper.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "sdk/AE_Effect.h"
#include "sdk/AE_EffectSuites.h"
#include "sdk/SPBasic.h"

class AEGP_SuiteHandler {
public:
    explicit AEGP_SuiteHandler(const SPBasicSuite* basic);  // throws 516 when basic is null
    ~AEGP_SuiteHandler();
    AEGP_SuiteHandler(const AEGP_SuiteHandler&) = delete;
    AEGP_SuiteHandler& operator=(const AEGP_SuiteHandler&) = delete;

    // Acquired on first use, released when the handler dies; never null (a missing suite throws 516).
    template <class Suite>
    const Suite* Get(const char* name, int version) const {
        return static_cast<const Suite*>(Slot(name, version));
    }

    const PF_ANSICallbacksSuite1* ANSICallbacksSuite1() const { return Get<PF_ANSICallbacksSuite1>(kPFANSISuite, 1); }
    const PF_HandleSuite2* HandleSuite2() const { return Get<PF_HandleSuite2>(kPFHandleSuite, 2); }
    const PF_Iterate8Suite1* Iterate8Suite1() const { return Get<PF_Iterate8Suite1>(kPFIterate8Suite, 1); }
    const PF_iterateFloatSuite1* IterateFloatSuite1() const {
        return Get<PF_iterateFloatSuite1>(kPFIterateFloatSuite, 1);
    }
    const PF_WorldTransformSuite1* WorldTransformSuite1() const {
        return Get<PF_WorldTransformSuite1>(kPFWorldTransformSuite, 1);
    }

    const void* LoadSuite(const char* name, int version) const;
    [[noreturn]] void MissingSuiteError() const;
    void ReleaseSuite(const char* name, int version);
    void ReleaseAllSuites();

private:
    struct SlotEntry {
        std::string name;  // a copy: the caller's name need not outlive the call
        int version;
        const void* suite;
    };
    const void* Slot(const char* name, int version) const;

    const SPBasicSuite* basic_;
    mutable std::vector<SlotEntry> slots_;
};

// Holds one suite for a scope. A missing suite shows "Not able to acquire AEFX Suite." (or the given message)
// when out data is given, then throws 13.
template <class Suite>
class AEFX_SuiteScoper {
public:
    AEFX_SuiteScoper(const PF_InData* in_data, const char* name, int version, PF_OutData* out_data = nullptr,
                     const char* message = nullptr);
    ~AEFX_SuiteScoper();
    AEFX_SuiteScoper(const AEFX_SuiteScoper&) = delete;
    AEFX_SuiteScoper& operator=(const AEFX_SuiteScoper&) = delete;

    const Suite* operator->() const { return suite_; }
    const Suite* get() const { return suite_; }

private:
    const Suite* suite_ = nullptr;
    const SPBasicSuite* basic_;
    const char* name_;
    int version_;
};

// Shared by the scoper's template and the exported C functions.
const void* AcquireSuiteOrReport(const PF_InData* in_data, const char* name, int version, PF_OutData* out_data,
                                 const char* message);  // throws 13

template <class Suite>
AEFX_SuiteScoper<Suite>::AEFX_SuiteScoper(const PF_InData* in_data, const char* name, int version,
                                          PF_OutData* out_data, const char* message)
    : basic_(in_data ? in_data->pica_basicP : nullptr), name_(name), version_(version) {
    suite_ = static_cast<const Suite*>(AcquireSuiteOrReport(in_data, name, version, out_data, message));
}

template <class Suite>
AEFX_SuiteScoper<Suite>::~AEFX_SuiteScoper() {
    if (suite_ && basic_) basic_->ReleaseSuite(name_, version_);
}
