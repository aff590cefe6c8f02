#include "simhost/ParamStore.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include "simhost/SimHost.h"

namespace simhost {

namespace {

ParamStore* StoreOf(PF_ProgPtr effect_ref) {
    SimHost* host = SimHost::FromRef(effect_ref);
    return host ? host->FindService<ParamStore>() : nullptr;
}

PF_Err HostAddParam(PF_ProgPtr ref, PF_ParamIndex index, PF_ParamDef* def) {
    ParamStore* store = StoreOf(ref);
    return store && def ? store->Add(index, def) : PF_Err_BAD_CALLBACK_PARAM;
}
PF_Err HostRegisterUI(PF_ProgPtr ref, void* info) {
    ParamStore* store = StoreOf(ref);
    return store && info ? store->RegisterUI(info) : PF_Err_BAD_CALLBACK_PARAM;
}
PF_Err HostCheckoutParam(PF_ProgPtr ref, PF_ParamIndex index, A_long what_time, A_long time_step, A_u_long time_scale,
                         PF_ParamDef* param) {
    ParamStore* store = StoreOf(ref);
    return store && param ? store->Checkout(index, what_time, time_step, time_scale, param)
                          : PF_Err_BAD_CALLBACK_PARAM;
}
PF_Err HostCheckinParam(PF_ProgPtr ref, PF_ParamDef* param) {
    ParamStore* store = StoreOf(ref);
    return store && param ? store->Checkin(param) : PF_Err_BAD_CALLBACK_PARAM;
}

const char* TextOf(const PF_ParamDef& def) {
    switch (def.param_type) {
        case PF_Param_POPUP: return def.u.pd.u.namesptr;
        case PF_Param_BUTTON: return def.u.button_d.u.namesptr;
        case PF_Param_CHECKBOX: return def.u.bd.u.nameptr;
        default: return nullptr;
    }
}

const char* KindName(PF_ParamType type) {
    switch (type) {
        case PF_Param_LAYER: return "layer";
        case PF_Param_SLIDER: return "slider";
        case PF_Param_ANGLE: return "angle";
        case PF_Param_CHECKBOX: return "checkbox";
        case PF_Param_COLOR: return "color";
        case PF_Param_POPUP: return "popup";
        case PF_Param_NO_DATA: return "no-data";
        case PF_Param_FLOAT_SLIDER: return "float";
        case PF_Param_GROUP_START: return "group";
        case PF_Param_GROUP_END: return "group-end";
        case PF_Param_BUTTON: return "button";
        default: return "other";
    }
}

std::vector<std::string> Choices(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const size_t bar = text.find('|', start);
        out.push_back(text.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos) return out;
        start = bar + 1;
    }
}

// A menu line that only divides the menu: the user cannot choose it.
bool IsSeparator(const std::string& choice) { return choice.compare(0, 2, "(-") == 0; }

// "1 Off, 3 Monocolor": the choices a user can pick, by number and text.
std::string ChoiceListing(const std::string& text) {
    const std::vector<std::string> choices = Choices(text);
    std::string listing;
    for (size_t i = 0; i < choices.size(); ++i)
        if (!IsSeparator(choices[i]))
            listing += (listing.empty() ? "" : ", ") + std::to_string(i + 1) + " " + choices[i];
    return listing;
}

std::string Trimmed(const std::string& s) {
    const size_t first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::string Lowered(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool SameIgnoringCase(const std::string& a, const std::string& b) { return Lowered(a) == Lowered(b); }

// Digits only, as a user types an index; false for anything else. Nine digits at most: a longer number names no
// parameter rather than wrapping onto one.
bool ParseIndex(const std::string& key, int* index) {
    if (key.empty() || key.find_first_not_of("0123456789") != std::string::npos) return false;
    *index = key.size() > 9 ? -1 : std::atoi(key.c_str());
    return true;
}

bool TakesValue(PF_ParamType type) {
    switch (type) {
        case PF_Param_SLIDER:
        case PF_Param_FLOAT_SLIDER:
        case PF_Param_ANGLE:
        case PF_Param_CHECKBOX:
        case PF_Param_COLOR:
        case PF_Param_POPUP: return true;
        default: return false;
    }
}

// Edits (insert, delete, replace one character) from one name to the other, case aside.
size_t EditDistance(const std::string& from, const std::string& to) {
    const std::string a = Lowered(from), b = Lowered(to);
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// "in Style > Gamma Correction", or "at the top level": where the user finds the parameter in the window.
std::string Placement(const std::vector<ParamDefinition>& defs, size_t index) {
    std::vector<std::string> open;
    for (size_t i = 1; i < index && i < defs.size(); ++i) {
        if (defs[i].def.param_type == PF_Param_GROUP_START) open.push_back(defs[i].def.name);
        if (defs[i].def.param_type == PF_Param_GROUP_END && !open.empty()) open.pop_back();
    }
    if (open.empty()) return "at the top level";
    std::string path;
    for (const std::string& group : open) path += (path.empty() ? "" : " > ") + (group.empty() ? "(unnamed)" : group);
    return "in " + path;
}

bool ParseNumber(const std::string& s, double* v) {
    if (s.empty()) return false;
    char* end = nullptr;
    *v = std::strtod(s.c_str(), &end);
    return end && *end == '\0';
}

}  // namespace

ParamStore::ParamStore(SimHost& host) : host_(host) {
    PF_InData& in = host.InDataTemplate();
    in.inter.add_param = HostAddParam;
    in.inter.register_ui = HostRegisterUI;
    in.inter.checkout_param = HostCheckoutParam;
    in.inter.checkin_param = HostCheckinParam;
    // Index 0: the layer the effect is applied to.
    ParamDefinition input;
    input.def.param_type = PF_Param_LAYER;
    definitions_.push_back(input);
    values_.push_back(input.def);
}

void ParamStore::Relink(ParamDefinition& d) {
    texts_.push_back(d.text);
    const char* text = texts_.back().c_str();
    switch (d.def.param_type) {
        case PF_Param_POPUP: d.def.u.pd.u.namesptr = text; break;
        case PF_Param_BUTTON: d.def.u.button_d.u.namesptr = text; break;
        case PF_Param_CHECKBOX: d.def.u.bd.u.nameptr = text; break;
        default: break;
    }
}

PF_Err ParamStore::FailureCode(const std::string& call) const {
    const auto it = failureCodes_.find(call);
    return it == failureCodes_.end() ? PF_Err_INTERNAL_STRUCT_DAMAGED : it->second;
}

void ParamStore::SetFailureCode(const std::string& call, PF_Err err) {
    std::lock_guard<std::mutex> lock(mutex_);
    failureCodes_[call] = err;
}

PF_Err ParamStore::Add(PF_ParamIndex index, const PF_ParamDef* def) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++addCalls_;
    if (host_.Faults().ShouldFail("add_param")) return FailureCode("add_param");
    if (index != -1 && index != PF_ParamIndex(definitions_.size())) return PF_Err_INVALID_INDEX;
    ParamDefinition d;
    d.def = *def;
    d.where = index;
    if (const char* text = TextOf(*def)) d.text = text;
    d.def.name[sizeof d.def.name - 1] = '\0';
    definitions_.push_back(d);
    Relink(definitions_.back());
    values_.push_back(definitions_.back().def);  // the value starts as the default the effect gave
    return PF_Err_NONE;
}

PF_Err ParamStore::RegisterUI(const void* info) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (host_.Faults().ShouldFail("register_ui")) return FailureCode("register_ui");
    ui_.push_back(*static_cast<const PF_CustomUIInfo*>(info));
    return PF_Err_NONE;
}

PF_Err ParamStore::Checkout(PF_ParamIndex index, A_long what_time, A_long time_step, A_u_long time_scale,
                            PF_ParamDef* out) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++checkouts_;
    lastTime_ = {what_time, time_step, time_scale};
    if (host_.Faults().ShouldFail("checkout_param")) return FailureCode("checkout_param");
    if (index < 0 || size_t(index) >= values_.size()) return PF_Err_INVALID_INDEX;
    *out = values_[size_t(index)];
    ++outstanding_;
    return PF_Err_NONE;
}

PF_Err ParamStore::Checkin(PF_ParamDef* /*def*/) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (host_.Faults().ShouldFail("checkin_param")) return FailureCode("checkin_param");
    // A check-in of a record whose checkout failed is harmless, as on a real host.
    if (outstanding_ > 0) --outstanding_;
    return PF_Err_NONE;
}

std::vector<ParamDefinition> ParamStore::Definitions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return definitions_;
}

int ParamStore::Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return int(definitions_.size());
}

int ParamStore::AddCalls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return addCalls_;
}

std::vector<PF_CustomUIInfo> ParamStore::RegisteredUI() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ui_;
}

PF_ParamDef ParamStore::Value(int index) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return values_.at(size_t(index));
}

void ParamStore::SetNumber(int index, double value) {
    std::lock_guard<std::mutex> lock(mutex_);
    PF_ParamDef& v = values_.at(size_t(index));
    switch (v.param_type) {
        case PF_Param_POPUP: v.u.pd.value = PF_ParamValue(value); break;
        case PF_Param_SLIDER: v.u.sd.value = PF_ParamValue(value); break;
        case PF_Param_FLOAT_SLIDER: v.u.fs_d.value = value; break;
        case PF_Param_CHECKBOX: v.u.bd.value = value != 0 ? 1 : 0; break;
        case PF_Param_ANGLE: v.u.ad.value = PF_Fixed(value * 65536.0); break;
        default: throw std::invalid_argument("parameter " + std::to_string(index) + " takes no number");
    }
}

void ParamStore::SetColor(int index, PF_Pixel color) {
    std::lock_guard<std::mutex> lock(mutex_);
    PF_ParamDef& v = values_.at(size_t(index));
    if (v.param_type != PF_Param_COLOR)
        throw std::invalid_argument("parameter " + std::to_string(index) + " is not a colour");
    v.u.cd.value = color;
}

int ParamStore::FindByName(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    int found = -1;
    for (size_t i = 1; i < definitions_.size(); ++i) {
        if (name != definitions_[i].def.name) continue;
        if (found != -1) return -1;
        found = int(i);
    }
    return found;
}

int ParamStore::ResolveName(const std::string& rawKey, std::string* error) const {
    const std::string key = Trimmed(rawKey);
    const std::vector<ParamDefinition> defs = Definitions();
    int index = -1;
    if (ParseIndex(key, &index)) {
        if (index < 1 || size_t(index) >= defs.size()) {
            *error = "no parameter " + key;
            return -1;
        }
        return index;
    }
    std::vector<size_t> settable, other;
    for (size_t i = 1; i < defs.size(); ++i) {
        const ParamDefinition& d = defs[i];
        // A button shows its text, not its name, to the user.
        const bool named = SameIgnoringCase(key, d.def.name) ||
                           (d.def.param_type == PF_Param_BUTTON && SameIgnoringCase(key, d.text));
        if (named && !key.empty()) (TakesValue(d.def.param_type) ? settable : other).push_back(i);
    }
    if (settable.size() == 1) return int(settable[0]);
    if (settable.size() > 1) {
        std::string which;
        for (const size_t i : settable)
            which += (which.empty() ? "" : ", ") + std::to_string(i) + " (" + KindName(defs[i].def.param_type) + " " +
                     Placement(defs, i) + ")";
        *error = "more than one parameter is named \"" + key + "\": " + which + "; give its index, as in --set " +
                 std::to_string(settable[0]) + "=VALUE";
        return -1;
    }
    if (!other.empty()) {
        const ParamDefinition& d = defs[other[0]];
        switch (d.def.param_type) {
            case PF_Param_GROUP_START:
                *error = "\"" + key + "\" is a group of parameters, not one that takes a value";
                break;
            case PF_Param_BUTTON: *error = "\"" + key + "\" is a button, which takes no value"; break;
            case PF_Param_LAYER: *error = "\"" + key + "\" is a layer, given as an image file (see --help)"; break;
            default: *error = "\"" + key + "\" takes no value"; break;
        }
        return -1;
    }
    // The names a slip of the keyboard is likely to have meant: the closest ones, when close at all.
    size_t best = std::string::npos;
    std::vector<std::string> nearest;
    for (size_t i = 1; i < defs.size(); ++i) {
        const std::string name = defs[i].def.name;
        if (!TakesValue(defs[i].def.param_type) || name.empty()) continue;
        const size_t distance = EditDistance(key, name);
        if (distance > std::max<size_t>(2, name.size() / 3)) continue;
        if (distance < best) {
            best = distance;
            nearest.clear();
        }
        if (distance == best && std::find(nearest.begin(), nearest.end(), name) == nearest.end())
            nearest.push_back(name);
    }
    *error = "no parameter is named \"" + key + "\"";
    if (nearest.empty()) {
        *error += " (see --list-params)";
    } else {
        *error += "; did you mean ";
        for (size_t i = 0; i < nearest.size(); ++i)
            *error += (i == 0 ? "" : i + 1 == nearest.size() ? " or " : ", ") + ("\"" + nearest[i] + "\"");
        *error += "?";
    }
    return -1;
}

bool ParamStore::SetFromText(const std::string& assignment, std::string* error, std::string* warning, int* setIndex) {
    if (warning) warning->clear();
    const size_t eq = assignment.rfind('=');
    if (eq == std::string::npos || Trimmed(assignment.substr(0, eq)).empty()) {
        *error = "expected INDEX=VALUE or \"Name=VALUE\": " + assignment;
        return false;
    }
    const std::string key = Trimmed(assignment.substr(0, eq));
    const std::string text = Trimmed(assignment.substr(eq + 1));
    double number = 0;
    const int index = ResolveName(key, error);
    if (index < 0) return false;
    if (setIndex) *setIndex = index;
    const ParamDefinition d = Definitions()[size_t(index)];
    const PF_ParamType type = d.def.param_type;
    if (!TakesValue(type)) {
        const std::string shown = type == PF_Param_BUTTON ? d.text : std::string(d.def.name);
        *error = "parameter " + key + " (\"" + shown + "\", a " + KindName(type) + ") takes no value";
        return false;
    }
    try {
        if (type == PF_Param_COLOR) {
            // Exactly six hex digits: a scanf-style reader lets spaces, signs and a stray letter through.
            if (text.size() != 7 || text[0] != '#' ||
                text.find_first_not_of("0123456789abcdefABCDEF", 1) != std::string::npos) {
                *error = "a colour is #RRGGBB in hex: " + text;
                return false;
            }
            const unsigned long rgb = std::strtoul(text.c_str() + 1, nullptr, 16);
            SetColor(index, PF_Pixel{255, A_u_char(rgb >> 16), A_u_char(rgb >> 8), A_u_char(rgb)});
            return true;
        }
        if (type == PF_Param_CHECKBOX) {
            // Only the two states a checkbox has: a stray "2" or "-1" is a slip, not "on".
            const std::string state = Lowered(text);
            if (state == "on" || state == "true" || state == "1") {
                number = 1;
            } else if (state == "off" || state == "false" || state == "0") {
                number = 0;
            } else {
                *error = "a checkbox is on or off (or 1 or 0, true or false): " + text;
                return false;
            }
        } else if (type == PF_Param_POPUP) {
            // The user picks one of the menu's entries: never a separator line, never a number between two.
            const std::vector<std::string> choices = Choices(d.text);
            const std::string listing = ChoiceListing(d.text);
            const std::string refusal = " is not a choice of " + std::string(d.def.name) + " (" + listing + ")";
            if (ParseNumber(text, &number)) {
                if (std::isnan(number) || number != std::floor(number)) {
                    *error = text + refusal;
                    return false;
                }
                if (number >= 1 && number <= double(choices.size()) && IsSeparator(choices[size_t(number) - 1])) {
                    *error = "choice " + text + " is a separator, not a choice of " + std::string(d.def.name) +
                             " (" + listing + ")";
                    return false;
                }
            } else {
                number = 0;
                for (size_t i = 0; i < choices.size(); ++i)
                    if (SameIgnoringCase(Trimmed(choices[i]), text) && !IsSeparator(text)) number = double(i + 1);
                if (number == 0) {
                    *error = "\"" + text + "\"" + refusal;
                    return false;
                }
            }
        } else if (!ParseNumber(text, &number) || std::isnan(number)) {
            *error = "not a number: " + text;
            return false;
        } else if (type == PF_Param_SLIDER && std::isfinite(number) && number != std::floor(number)) {
            // A host's integer slider takes no fraction; cutting it off would set another value than typed.
            *error = std::string(d.def.name) + " takes a whole number: " + text;
            return false;
        }
        double low = 0, high = 0;
        bool ranged = true;
        if (type == PF_Param_SLIDER) {
            low = d.def.u.sd.valid_min;
            high = d.def.u.sd.valid_max;
        } else if (type == PF_Param_FLOAT_SLIDER) {
            low = d.def.u.fs_d.valid_min;
            high = d.def.u.fs_d.valid_max;
        } else if (type == PF_Param_ANGLE) {
            // The fixed-point value holds about +-32767 degrees; a host keeps the dial within that.
            low = -32767;
            high = 32767;
        } else {
            ranged = false;
        }
        if (ranged && (number < low || number > high)) {
            const double clamped = number < low ? low : high;
            if (warning) {
                std::ostringstream text_out;
                text_out << d.def.name << ": " << text << " is outside " << low << " to " << high << "; clamped to "
                         << clamped;
                *warning = text_out.str();
            }
            number = clamped;
        }
        if (!std::isfinite(number)) {
            *error = "not a finite number: " + text;
            return false;
        }
        if (type == PF_Param_POPUP && (number < 1 || number > d.def.u.pd.num_choices)) {
            *error = "choice " + text + " is out of 1 to " + std::to_string(d.def.u.pd.num_choices) + " (" +
                     ChoiceListing(d.text) + ")";
            return false;
        }
        SetNumber(index, number);
    } catch (const std::exception& e) {
        *error = e.what();
        return false;
    }
    return true;
}

int ParamStore::Checkouts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return checkouts_;
}
int ParamStore::OutstandingCheckouts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return outstanding_;
}
CheckoutTime ParamStore::LastCheckoutTime() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastTime_;
}

ParamStore& Params(SimHost& host) { return host.Service<ParamStore>(); }

std::string DescribeParams(const ParamStore& store) {
    std::ostringstream out;
    const std::vector<ParamDefinition> defs = store.Definitions();
    for (size_t i = 1; i < defs.size(); ++i) {
        const PF_ParamDef& d = defs[i].def;
        out << i << "\tdisk " << d.uu.id << "\t" << KindName(d.param_type) << "\t\"" << d.name << "\"";
        switch (d.param_type) {
            case PF_Param_POPUP:
                out << "\tdefault " << d.u.pd.dephault << "\tchoices \"" << defs[i].text << "\"";
                break;
            case PF_Param_FLOAT_SLIDER:
                out << "\tdefault " << d.u.fs_d.dephault << "\trange " << d.u.fs_d.valid_min << " to "
                    << d.u.fs_d.valid_max << " (slider " << d.u.fs_d.slider_min << " to " << d.u.fs_d.slider_max
                    << ")" << (d.u.fs_d.display_flags & PF_ValueDisplayFlag_PERCENT ? " %" : "");
                break;
            case PF_Param_SLIDER:
                out << "\tdefault " << d.u.sd.dephault << "\trange " << d.u.sd.valid_min << " to " << d.u.sd.valid_max
                    << " (slider " << d.u.sd.slider_min << " to " << d.u.sd.slider_max << ")";
                break;
            case PF_Param_CHECKBOX: out << "\tdefault " << (d.u.bd.dephault ? "on" : "off"); break;
            case PF_Param_COLOR: {
                char hex[8];
                std::snprintf(hex, sizeof hex, "#%02X%02X%02X", d.u.cd.dephault.red, d.u.cd.dephault.green,
                              d.u.cd.dephault.blue);
                out << "\tdefault " << hex;
                break;
            }
            case PF_Param_ANGLE: out << "\tdefault " << d.u.ad.dephault / 65536.0 << " degrees"; break;
            case PF_Param_LAYER:
                out << "\tdefault " << (d.u.ld.dephault == PF_LayerDefault_MYSELF ? "own layer" : "none");
                break;
            case PF_Param_BUTTON: out << "\tbutton \"" << defs[i].text << "\""; break;
            default: break;
        }
        out << "\n";
    }
    return out.str();
}

}  // namespace simhost
