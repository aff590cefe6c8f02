#include "host/Suites.h"

#include <cstring>

#include <new>
#include <type_traits>

#include "host/Export.h"
#include "host/Messages.h"
#include "sdk/AE_Effect.h"

namespace {

const char kNotAcquired[] = "Not able to acquire AEFX Suite.";
const char kNotReleased[] = "Not able to release AEFX Suite.";

// Every text put into return_msg here goes through the host's ANSI sprintf. The text is handed over as an
// argument of "%s", never as the format, so a '%' in a caller's message is printed as it stands; it is cut
// to what return_msg holds first.
void ReportToHost(const PF_InData* in_data, PF_OutData* out_data, const char* text) {
    if (!out_data) return;
    out_data->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;
    char clipped[PF_MAX_RETURN_MSG_LEN];
    std::strncpy(clipped, text, sizeof clipped - 1);
    clipped[sizeof clipped - 1] = '\0';
    if (in_data && in_data->utils && in_data->utils->ansi.sprintf) {
        in_data->utils->ansi.sprintf(out_data->return_msg, "%s", clipped);
    } else {
        std::memcpy(out_data->return_msg, clipped, std::strlen(clipped) + 1);
    }
}

}  // namespace

AEGP_SuiteHandler::AEGP_SuiteHandler(const SPBasicSuite* basic) : basic_(basic) {
    if (!basic_) MissingSuiteError();
}

AEGP_SuiteHandler::~AEGP_SuiteHandler() { ReleaseAllSuites(); }

const void* AEGP_SuiteHandler::Slot(const char* name, int version) const {
    for (const SlotEntry& slot : slots_) {
        if (slot.version == version && slot.name == name) return slot.suite;
    }
    // Room for the slot is made before the suite is acquired, so that a failed allocation cannot leave an
    // acquired suite that nobody releases.
    slots_.reserve(slots_.size() + 1);
    SlotEntry entry{name, version, nullptr};
    const void* suite = LoadSuite(name, version);
    entry.suite = suite;
    slots_.push_back(std::move(entry));  // cannot throw: the capacity is there and the string moves
    return suite;
}

const void* AEGP_SuiteHandler::LoadSuite(const char* name, int version) const {
    const void* suite = nullptr;
    const SPErr err = basic_->AcquireSuite(name, version, &suite);
    if (err != kSPNoError || !suite) MissingSuiteError();
    return suite;
}

void AEGP_SuiteHandler::MissingSuiteError() const { throw int(PF_Err_BAD_CALLBACK_PARAM); }

void AEGP_SuiteHandler::ReleaseSuite(const char* name, int version) { basic_->ReleaseSuite(name, version); }

void AEGP_SuiteHandler::ReleaseAllSuites() {
    for (const SlotEntry& slot : slots_) {
        if (slot.suite) ReleaseSuite(slot.name.c_str(), slot.version);
    }
    slots_.clear();
}

const void* AcquireSuiteOrReport(const PF_InData* in_data, const char* name, int version, PF_OutData* out_data,
                                 const char* message) {
    const void* suite = nullptr;
    const SPBasicSuite* basic = in_data ? in_data->pica_basicP : nullptr;
    if (basic && basic->AcquireSuite(name, version, &suite) == kSPNoError && suite) return suite;
    ReportToHost(in_data, out_data, message ? message : kNotAcquired);
    throw int(kPF_Err_MissingSuite);
}

// ---------------------------------------------------------------------------------------------------------
// The same acquisition for callers outside the effect, with an error code instead of an exception.
// ---------------------------------------------------------------------------------------------------------
namespace {

const char* const kDrawbotSuiteNames[4] = {"DRAWBOT Draw Suite", "DRAWBOT Supplier Suite", "DRAWBOT Surface Suite",
                                           "DRAWBOT Path Suite"};
const int kDrawbotSuiteVersions[4] = {1, 1, 2, 1};

// Nothing thrown may reach a caller of the exported functions: a memory failure becomes out of memory, anything
// else the host's internal error, each with a log line naming the function.
PF_Err StoppedException(const char* function, PF_InData* in_data) noexcept {
    PF_Err err = PF_Err_INTERNAL_STRUCT_DAMAGED;
    std::string what = "an exception of unknown type";
    try {
        throw;
    } catch (const std::bad_alloc& e) {
        err = PF_Err_OUT_OF_MEMORY;
        what = e.what();
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
    }
    try {
        LogError(std::string(function) + " stopped by an exception: " + what, in_data);
    } catch (...) {
    }
    return err;
}

}  // namespace

VELLORAN_EXPORT PF_Err AEFX_AcquireSuite(PF_InData* in_data, PF_OutData* out_data,
                                                                 const char* name, int32_t version,
                                                                 const char* error_stringPC, void** suite) try {
    const void* acquired = nullptr;
    const SPBasicSuite* basic = in_data ? in_data->pica_basicP : nullptr;
    if (basic && suite && basic->AcquireSuite(name, version, &acquired) == kSPNoError && acquired) {
        *suite = const_cast<void*>(acquired);
        return PF_Err_NONE;
    }
    ReportToHost(in_data, out_data, error_stringPC ? error_stringPC : kNotAcquired);
    return PF_Err_BAD_CALLBACK_PARAM;
} catch (...) {
    return StoppedException("AEFX_AcquireSuite", in_data);
}

VELLORAN_EXPORT PF_Err AEFX_ReleaseSuite(PF_InData* in_data, PF_OutData* out_data,
                                                                 const char* name, int32_t version,
                                                                 const char* error_stringPC) try {
    const SPBasicSuite* basic = in_data ? in_data->pica_basicP : nullptr;
    if (!basic) {
        ReportToHost(in_data, out_data, error_stringPC ? error_stringPC : kNotReleased);
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    basic->ReleaseSuite(name, version);
    return PF_Err_NONE;
} catch (...) {
    return StoppedException("AEFX_ReleaseSuite", in_data);
}

VELLORAN_EXPORT PF_Err AEFX_AcquireDrawbotSuites(PF_InData* in_data, PF_OutData* out_data,
                                                                         DRAWBOT_Suites* suitesP) try {
    if (!suitesP) {
        ReportToHost(in_data, out_data, "NULL suite pointer passed to AEFX_AcquireDrawbotSuites");
        return PF_Err_UNRECOGNIZED_PARAM_TYPE;
    }
    const void** fields[4] = {&suitesP->drawbot_suiteP, &suitesP->supplier_suiteP, &suitesP->surface_suiteP,
                              &suitesP->path_suiteP};
    const SPBasicSuite* basic = in_data ? in_data->pica_basicP : nullptr;
    for (int i = 0; i < 4; ++i) {
        const void* acquired = nullptr;
        if (!basic || basic->AcquireSuite(kDrawbotSuiteNames[i], kDrawbotSuiteVersions[i], &acquired) != kSPNoError ||
            !acquired) {
            ReportToHost(in_data, out_data, kNotAcquired);
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        *fields[i] = acquired;
    }
    return PF_Err_NONE;
} catch (...) {
    return StoppedException("AEFX_AcquireDrawbotSuites", in_data);
}

VELLORAN_EXPORT PF_Err AEFX_ReleaseDrawbotSuites(PF_InData* in_data,
                                                                         PF_OutData* out_data) try {
    const SPBasicSuite* basic = in_data ? in_data->pica_basicP : nullptr;
    for (int i = 0; i < 4; ++i) {
        if (basic) {
            basic->ReleaseSuite(kDrawbotSuiteNames[i], kDrawbotSuiteVersions[i]);
        } else {
            ReportToHost(in_data, out_data, kNotReleased);
        }
    }
    return PF_Err_NONE;
} catch (...) {
    return StoppedException("AEFX_ReleaseDrawbotSuites", in_data);
}


static_assert(std::is_same_v<decltype(&AEFX_AcquireSuite), AEFX_AcquireSuiteFunc>);
static_assert(std::is_same_v<decltype(&AEFX_ReleaseSuite), AEFX_ReleaseSuiteFunc>);
static_assert(std::is_same_v<decltype(&AEFX_AcquireDrawbotSuites), AEFX_AcquireDrawbotSuitesFunc>);
static_assert(std::is_same_v<decltype(&AEFX_ReleaseDrawbotSuites), AEFX_ReleaseDrawbotSuitesFunc>);
