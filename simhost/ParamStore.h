// The effect instance's parameters as the host keeps them: every definition the effect added (texts copied),
// the custom UI registration, and one current value per parameter, first the registered default. The effect
// reads values through checkout_param / checkin_param at a time, from any render thread.
//
// Faults (host.Faults().FailCall(name, nth)): "add_param", "register_ui", "checkout_param", "checkin_param";
// each fails with the code set by SetFailureCode (default 512), so an interrupt is
// SetFailureCode("checkout_param", PF_Interrupt_CANCEL).
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sdk/AE_CustomUI.h"
#include "sdk/AE_Effect.h"

namespace simhost {

class SimHost;

struct ParamDefinition {
    PF_ParamDef def{};      // as added; its text pointer points at the host's own copy of `text`
    PF_ParamIndex where = 0;  // the index argument of add_param (-1: append)
    std::string text;       // popup choices, button text or checkbox label
};

struct CheckoutTime {
    A_long what_time = 0, time_step = 0;
    A_u_long time_scale = 0;
};

class ParamStore {
public:
    explicit ParamStore(SimHost& host);  // installs the parameter callbacks into the host's in data
    ParamStore(const ParamStore&) = delete;
    ParamStore& operator=(const ParamStore&) = delete;

    // Definitions by parameter index; index 0 is the input layer the host supplies.
    std::vector<ParamDefinition> Definitions() const;
    int Count() const;  // with the input layer
    int AddCalls() const;
    std::vector<PF_CustomUIInfo> RegisteredUI() const;
    void SetFailureCode(const std::string& call, PF_Err err);

    // Current values. Set* throw std::out_of_range for an unknown index and std::invalid_argument for a kind
    // that takes no such value.
    PF_ParamDef Value(int index) const;
    void SetNumber(int index, double value);  // popup choice, slider, float slider, checkbox (0/1), angle (degrees)
    void SetColor(int index, PF_Pixel color);
    // The index of the one parameter with this name; -1 when none or several have it.
    int FindByName(const std::string& name) const;
    // The parameter a user means by `key`: an index ("19"), or a name matched without regard to case or to
    // spaces around it, among the parameters that take a value. -1 with the reason when there is none: the
    // nearest names where nothing matches, each index with its group where several share the name, and what
    // a group, button or layer of that name is where it takes no value.
    int ResolveName(const std::string& key, std::string* error) const;
    // "INDEX=VALUE" or "Name=VALUE" (the name as ResolveName takes it); popups take a choice number or its
    // text (never a separator, never a fraction: the refusal lists the choices), checkboxes on/off/true/false/
    // 1/0, colours #RRGGBB in hex. On failure returns false with the reason. A slider's value outside its valid
    // range, or an angle beyond what the fixed-point value holds, is clamped, as a host clamps what the user
    // types, and `warning` (when given) says so; a value that is not a finite number is refused. `index`, when
    // given, receives the parameter set.
    bool SetFromText(const std::string& assignment, std::string* error, std::string* warning = nullptr,
                     int* index = nullptr);

    // Checkouts so far, checkouts not yet checked in, the time of the last one.
    int Checkouts() const;
    int OutstandingCheckouts() const;
    CheckoutTime LastCheckoutTime() const;

    // Host callbacks.
    PF_Err Add(PF_ParamIndex index, const PF_ParamDef* def);
    PF_Err RegisterUI(const void* info);
    PF_Err Checkout(PF_ParamIndex index, A_long what_time, A_long time_step, A_u_long time_scale, PF_ParamDef* out);
    PF_Err Checkin(PF_ParamDef* def);

private:
    PF_Err FailureCode(const std::string& call) const;
    void Relink(ParamDefinition& d);  // points the definition's text pointer at a copy the host keeps

    SimHost& host_;
    mutable std::mutex mutex_;
    std::vector<ParamDefinition> definitions_;
    std::deque<std::string> texts_;  // stable addresses for the text pointers of definitions and values
    std::vector<PF_ParamDef> values_;
    std::vector<PF_CustomUIInfo> ui_;
    std::map<std::string, PF_Err> failureCodes_;
    int addCalls_ = 0;
    int checkouts_ = 0;
    int outstanding_ = 0;
    CheckoutTime lastTime_;
};

// The host's parameter store, installed on first use.
ParamStore& Params(SimHost& host);

// One line per parameter as the host received it: index, disk ID, kind, name, default, range.
std::string DescribeParams(const ParamStore& store);

}  // namespace simhost
