#include "simhost/EffectControls.h"

#include <cmath>
#include <cstring>
#include <cstdio>
#include <sstream>
#include <stdexcept>

#include "sdk/AE_EffectUI.h"
#include "simhost/Composition.h"
#include "simhost/LayerSuites.h"
#include "simhost/ParamStore.h"

namespace simhost {

namespace {

constexpr A_Err kFault = PF_Err_INTERNAL_STRUCT_DAMAGED;

EffectControls* Active() {
    SimHost* host = SimHost::Active();
    return host ? host->FindService<EffectControls>() : nullptr;
}
EffectControls* FromRef(PF_ProgPtr effect_ref) {
    SimHost* host = SimHost::FromRef(effect_ref);
    return host ? host->FindService<EffectControls>() : nullptr;
}

A_Err GetEffectLayer(PF_ProgPtr effect_ref, AEGP_LayerH* layer) {
    EffectControls* c = FromRef(effect_ref);
    return c && layer ? EffectLayerOf(c->host()).GetEffectLayer(layer) : PF_Err_BAD_CALLBACK_PARAM;
}
A_Err DisposeEffect(AEGP_EffectRefH effect) {
    EffectControls* c = Active();
    return c ? c->DisposeEffect(effect) : PF_Err_BAD_CALLBACK_PARAM;
}
A_Err GetLayerFlags(AEGP_LayerH layer, AEGP_LayerFlags* flags) {
    EffectControls* c = Active();
    if (!c || !flags) return PF_Err_BAD_CALLBACK_PARAM;
    if (c->OtherLayerFlags(layer, flags)) {
        return c->host().Faults().ShouldFail("AEGP_GetLayerFlags") ? kFault : PF_Err_NONE;
    }
    return EffectLayerOf(c->host()).GetLayerFlags(layer, flags);
}
A_Err GetLayerParentComp(AEGP_LayerH layer, AEGP_CompH* comp) {
    EffectControls* c = Active();
    return c && comp ? EffectLayerOf(c->host()).GetLayerParentComp(layer, comp) : PF_Err_BAD_CALLBACK_PARAM;
}
A_Err GetNewEffectStreamByIndex(AEGP_PluginID, AEGP_EffectRefH effect, PF_ParamIndex index, AEGP_StreamRefH* stream) {
    EffectControls* c = Active();
    return c && stream ? c->NewStream(effect, index, stream) : PF_Err_BAD_CALLBACK_PARAM;
}
A_Err DisposeStream(AEGP_StreamRefH stream) {
    EffectControls* c = Active();
    return c ? c->DisposeStream(stream) : PF_Err_BAD_CALLBACK_PARAM;
}
A_Err GetNewStreamValue(AEGP_PluginID, AEGP_StreamRefH stream, AEGP_LTimeMode mode, const A_Time* time,
                        A_Boolean preExpression, AEGP_StreamValue2* value) {
    EffectControls* c = Active();
    return c && time && value ? c->NewStreamValue(stream, mode, time, preExpression != 0, value)
                              : PF_Err_BAD_CALLBACK_PARAM;
}
A_Err DisposeStreamValue(AEGP_StreamValue2* value) {
    EffectControls* c = Active();
    return c && value ? c->DisposeStreamValue(value) : PF_Err_BAD_CALLBACK_PARAM;
}
A_Err SetStreamValue(AEGP_PluginID, AEGP_StreamRefH stream, AEGP_StreamValue2* value) {
    EffectControls* c = Active();
    return c && value ? c->SetStreamValue(stream, value) : PF_Err_BAD_CALLBACK_PARAM;
}
A_Err SetDynamicStreamFlag(AEGP_StreamRefH stream, AEGP_DynStreamFlags flag, A_Boolean, A_Boolean set) {
    EffectControls* c = Active();
    return c ? c->SetDynamicStreamFlag(stream, flag, set != 0) : PF_Err_BAD_CALLBACK_PARAM;
}
A_Err StartUndoGroup(const A_char* name) {
    EffectControls* c = Active();
    return c && name ? c->StartUndoGroup(name) : PF_Err_BAD_CALLBACK_PARAM;
}
A_Err EndUndoGroup() {
    EffectControls* c = Active();
    return c ? c->EndUndoGroup() : PF_Err_BAD_CALLBACK_PARAM;
}
A_Err ExecuteScript(AEGP_PluginID, const A_char* script, A_Boolean, AEGP_MemHandle* result, AEGP_MemHandle* error) {
    EffectControls* c = Active();
    if (result) *result = nullptr;
    if (error) *error = nullptr;
    return c && script ? c->ExecuteScript(script) : PF_Err_BAD_CALLBACK_PARAM;
}
PF_Err UpdateParamUI(PF_ProgPtr effect_ref, PF_ParamIndex index, const PF_ParamDef* def) {
    EffectControls* c = FromRef(effect_ref);
    return c && def ? c->UpdateParamUI(index, def) : PF_Err_BAD_CALLBACK_PARAM;
}

const AEGP_PFInterfaceSuite1 kPFInterfaceSuite1 = {GetEffectLayer, HostGetNewEffectForEffect};
const AEGP_LayerSuite13 kLayerSuite13 = {GetLayerFlags, GetLayerParentComp, CompositionLayerMaskedBounds,
                                         CompositionLayerToCompTime, CompositionLayerToWorldXform,
                                         HostGetLayerFromLayerID};
const AEGP_LayerSuite11 kLayerSuite11 = {GetLayerParentComp};
const AEGP_EffectSuite3 kEffectSuite = {DisposeEffect};
const AEGP_StreamSuite9 kStreamSuite = {GetNewEffectStreamByIndex, DisposeStream, GetNewStreamValue,
                                        DisposeStreamValue, SetStreamValue};
const AEGP_DynamicStreamSuite2 kDynamicStreamSuite2 = {SetDynamicStreamFlag};
const AEGP_UtilitySuite11 kUtilitySuite = {StartUndoGroup, EndUndoGroup, ExecuteScript};
const PF_ParamUtilsSuite3 kParamUtilsSuite3 = {UpdateParamUI};

A_u_char ToByte(double v) {
    const double c = v < 0 ? 0 : v > 1 ? 1 : v;
    return A_u_char(std::lround(c * 255.0));
}

// The value a parameter's definition holds, in the units the store takes.
void StoreValue(ParamStore& store, int index, const PF_ParamDef& def) {
    switch (def.param_type) {
        case PF_Param_POPUP: store.SetNumber(index, def.u.pd.value); break;
        case PF_Param_CHECKBOX: store.SetNumber(index, def.u.bd.value ? 1 : 0); break;
        case PF_Param_FLOAT_SLIDER: store.SetNumber(index, def.u.fs_d.value); break;
        case PF_Param_SLIDER: store.SetNumber(index, def.u.sd.value); break;
        case PF_Param_ANGLE: store.SetNumber(index, def.u.ad.value / 65536.0); break;
        case PF_Param_COLOR: store.SetColor(index, def.u.cd.value); break;
        default: break;  // layers, groups and buttons carry no value the host takes back
    }
}

}  // namespace

ParamArray::ParamArray(std::vector<PF_ParamDef> defs) : defs_(std::move(defs)) {
    for (auto& d : defs_) pointers_.push_back(&d);
}

EffectControls::EffectControls(SimHost& host) : host_(host) {
    Params(host);
    EffectLayerOf(host);  // its suites first: the two tables below widen them
    host.AddSuite(kAEGPPFInterfaceSuite, 1, &kPFInterfaceSuite1);
    host.AddSuite(kAEGPLayerSuite, 13, &kLayerSuite13);
    host.AddSuite(kAEGPLayerSuite, 11, &kLayerSuite11);
    host.AddSuite(kAEGPEffectSuite, 2, &kEffectSuite);
    host.AddSuite(kAEGPEffectSuite, 3, &kEffectSuite);
    for (int v : {7, 8, 9}) host.AddSuite(kAEGPStreamSuite, v, &kStreamSuite);
    host.AddSuite(kAEGPDynamicStreamSuite, 2, &kDynamicStreamSuite2);
    host.AddSuite(kAEGPUtilitySuite, 7, &kUtilitySuite);
    host.AddSuite(kAEGPUtilitySuite, 11, &kUtilitySuite);
    host.AddSuite(kPFParamUtilsSuite, 3, &kParamUtilsSuite3);
}

void EffectControls::AddLayer(AEGP_LayerIDVal id, AEGP_LayerFlags flags) {
    if (id <= 0) throw std::invalid_argument("layer IDs start at 1");
    std::lock_guard<std::mutex> lock(mutex_);
    layers_[id] = std::make_unique<OtherLayer>(OtherLayer{id, flags});
}
void EffectControls::SetLayerFlags(AEGP_LayerIDVal id, AEGP_LayerFlags flags) {
    std::lock_guard<std::mutex> lock(mutex_);
    layers_.at(id)->flags = flags;
}
void EffectControls::ChooseLayer(int index, AEGP_LayerIDVal id) {
    std::lock_guard<std::mutex> lock(mutex_);
    chosen_[index] = id;
}
AEGP_LayerIDVal EffectControls::ChosenLayer(int index) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = chosen_.find(index);
    return it == chosen_.end() ? 0 : it->second;
}
void EffectControls::SetEffectHandleAvailable(bool available) {
    std::lock_guard<std::mutex> lock(mutex_);
    effectAvailable_ = available;
}
void EffectControls::SetCollapsed(int index, bool collapsed) {
    PF_ParamDef def = UIDefinition(index);
    if (collapsed) {
        def.flags |= PF_ParamFlag_COLLAPSE_TWIRLY;
    } else {
        def.flags &= ~PF_ParamFlags(PF_ParamFlag_COLLAPSE_TWIRLY);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ui_[index] = def;
}

bool EffectControls::Hidden(int index) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return hidden_.count(index) != 0;
}

PF_ParamDef EffectControls::UIDefinition(int index) const {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = ui_.find(index);
        if (it != ui_.end()) return it->second;
    }
    const auto defs = Params(host_).Definitions();
    if (index < 0 || size_t(index) >= defs.size()) throw std::out_of_range("no parameter " + std::to_string(index));
    return defs[size_t(index)].def;
}

ControlView EffectControls::View(int index) const {
    const PF_ParamDef def = UIDefinition(index);
    ControlView v;
    v.index = index;
    v.name = std::string(def.name, strnlen(def.name, sizeof def.name));
    v.visible = !Hidden(index) && !(def.ui_flags & PF_PUI_INVISIBLE);
    v.enabled = !(def.ui_flags & PF_PUI_DISABLED);
    v.collapsed = (def.flags & PF_ParamFlag_COLLAPSE_TWIRLY) != 0;
    return v;
}

std::vector<ControlView> EffectControls::Views() const {
    std::vector<ControlView> views;
    const int count = Params(host_).Count();
    for (int i = 1; i < count; ++i) views.push_back(View(i));
    return views;
}

std::string EffectControls::DescribeControls() const {
    const auto defs = Params(host_).Definitions();
    std::ostringstream out;
    for (const ControlView& v : Views()) {
        // A button shows its text where other controls show a name.
        std::string label = v.name;
        const ParamDefinition& d = defs.at(size_t(v.index));
        if (d.def.param_type == PF_Param_BUTTON && !d.text.empty()) label += (label.empty() ? "" : ": ") + d.text;
        char line[160];
        std::snprintf(line, sizeof line, "%3d  %-7s %-8s %s\n", v.index, v.visible ? "shown" : "hidden",
                      v.enabled ? "enabled" : "greyed", label.empty() ? "(unnamed)" : label.c_str());
        out << line;
    }
    return out.str();
}

AEGP_ColorVal EffectControls::StreamColor(int index) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return colors_.at(index);
}

std::vector<ParamUIUpdate> EffectControls::UIUpdates() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return updates_;
}
std::vector<UndoGroupRecord> EffectControls::UndoGroups() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return undo_;
}
int EffectControls::OpenUndoGroups() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return openUndo_;
}
int EffectControls::UndoGroupMisuses() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return undoMisuses_;
}
std::vector<std::string> EffectControls::Scripts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return scripts_;
}
std::vector<StreamRead> EffectControls::StreamReads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reads_;
}
std::vector<PF_ParamDef> EffectControls::LastParamArray() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastArray_;
}
void EffectControls::ClearRecords() {
    std::lock_guard<std::mutex> lock(mutex_);
    updates_.clear();
    undo_.clear();
    scripts_.clear();
    reads_.clear();
}
int EffectControls::EffectsAlive() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return int(effects_.size());
}
int EffectControls::StreamsAlive() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return int(streams_.size());
}
int EffectControls::StreamValuesAlive() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return valuesAlive_;
}
int EffectControls::BadDisposals() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return badDisposals_;
}

std::unique_ptr<ParamArray> EffectControls::MakeParamArray() const {
    ParamStore& store = Params(host_);
    std::vector<PF_ParamDef> defs;
    const int count = store.Count();
    for (int i = 0; i < count; ++i) {
        PF_ParamDef d = store.Value(i);
        // The window's look of the control travels with the value, as the host keeps both in one record.
        const PF_ParamDef ui = UIDefinition(i);
        d.ui_flags = ui.ui_flags;
        d.flags = ui.flags;
        std::memcpy(d.name, ui.name, sizeof d.name);
        d.uu.change_flags = 0;
        defs.push_back(d);
    }
    return std::make_unique<ParamArray>(std::move(defs));
}

void EffectControls::TakeChangedValues(ParamArray& params) {
    ParamStore& store = Params(host_);
    for (int i = 1; i < params.size(); ++i) {
        if (params[i].uu.change_flags & PF_ChangeFlag_CHANGED_VALUE) StoreValue(store, i, params[i]);
    }
}

CommandResult EffectControls::SendUserChangedParam(int index) {
    auto params = MakeParamArray();
    PF_UserChangedParamExtra extra{index};
    CommandArgs args;
    args.params = params->get();
    args.extra = &extra;
    CommandResult r = host_.Send(PF_Cmd_USER_CHANGED_PARAM, args);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lastArray_ = params->defs();
    }
    TakeChangedValues(*params);
    // The flags of a definition the effect changed in the array (a twirl) stay with the window.
    for (int i = 1; i < params->size(); ++i) {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = ui_.find(i);
        if (it != ui_.end()) it->second.flags = (*params)[i].flags;
    }
    return r;
}

CommandResult EffectControls::SendUpdateParamsUI() {
    auto params = MakeParamArray();
    CommandArgs args;
    args.params = params->get();
    CommandResult r = host_.Send(PF_Cmd_UPDATE_PARAMS_UI, args);
    std::lock_guard<std::mutex> lock(mutex_);
    lastArray_ = params->defs();
    return r;
}

CommandResult EffectControls::UserChanged(int index) {
    CommandResult r = SendUserChangedParam(index);
    if (r.err) return r;
    CommandResult ui = SendUpdateParamsUI();
    if (ui.err) return ui;
    return r;
}

A_Err EffectControls::NewEffect(PF_ProgPtr, AEGP_EffectRefH* effect) {
    *effect = nullptr;
    if (host_.Faults().ShouldFail("AEGP_GetNewEffectForEffect")) return kFault;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!effectAvailable_) return PF_Err_NONE;
    auto token = std::make_unique<int>(0);
    *effect = reinterpret_cast<AEGP_EffectRefH>(token.get());
    effects_[token.get()] = std::move(token);
    return PF_Err_NONE;
}

A_Err EffectControls::DisposeEffect(AEGP_EffectRefH effect) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = effects_.find(effect);
    if (it == effects_.end()) {
        ++badDisposals_;
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    effects_.erase(it);  // freed even when the call then reports a failure
    return host_.Faults().ShouldFail("AEGP_DisposeEffect") ? kFault : PF_Err_NONE;
}

int EffectControls::StreamIndex(AEGP_StreamRefH stream) const {
    const auto it = streams_.find(stream);
    return it == streams_.end() ? -1 : it->second->index;
}

A_Err EffectControls::NewStream(AEGP_EffectRefH effect, PF_ParamIndex index, AEGP_StreamRefH* stream) {
    *stream = nullptr;
    const int count = Params(host_).Count();
    if (host_.Faults().ShouldFail("AEGP_GetNewEffectStreamByIndex")) return kFault;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!effects_.count(effect) || index < 1 || index >= count) return PF_Err_BAD_CALLBACK_PARAM;
    auto made = std::make_unique<Stream>(Stream{index});
    *stream = reinterpret_cast<AEGP_StreamRefH>(made.get());
    streams_[made.get()] = std::move(made);
    return PF_Err_NONE;
}

A_Err EffectControls::DisposeStream(AEGP_StreamRefH stream) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = streams_.find(stream);
    if (it == streams_.end()) {
        ++badDisposals_;
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    streams_.erase(it);
    return host_.Faults().ShouldFail("AEGP_DisposeStream") ? kFault : PF_Err_NONE;
}

A_Err EffectControls::NewStreamValue(AEGP_StreamRefH stream, AEGP_LTimeMode mode, const A_Time* time,
                                     bool preExpression, AEGP_StreamValue2* value) {
    int index;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        index = StreamIndex(stream);
    }
    if (index < 0) return PF_Err_BAD_CALLBACK_PARAM;
    if (host_.Faults().ShouldFail("AEGP_GetNewStreamValue")) return kFault;
    const PF_ParamDef def = Params(host_).Value(index);
    AEGP_StreamValue2 v{};
    v.streamH = stream;
    std::lock_guard<std::mutex> lock(mutex_);
    switch (def.param_type) {
        case PF_Param_LAYER: {
            // A layer chosen here, else the one the composition's layer parameters choose.
            const auto it = chosen_.find(index);
            if (it != chosen_.end()) {
                v.val.layer_id = it->second;
            } else if (const Composition* comp = host_.FindService<Composition>()) {
                v.val.layer_id = comp->LayerForParam(index);
            }
            break;
        }
        case PF_Param_COLOR: {
            const auto it = colors_.find(index);
            const PF_Pixel& p = def.u.cd.value;
            v.val.color = it != colors_.end() ? it->second
                                              : AEGP_ColorVal{p.alpha / 255.0, p.red / 255.0, p.green / 255.0,
                                                              p.blue / 255.0};
            break;
        }
        case PF_Param_POPUP: v.val.one_d = def.u.pd.value; break;
        case PF_Param_CHECKBOX: v.val.one_d = def.u.bd.value; break;
        case PF_Param_SLIDER: v.val.one_d = def.u.sd.value; break;
        case PF_Param_FLOAT_SLIDER: v.val.one_d = def.u.fs_d.value; break;
        case PF_Param_ANGLE: v.val.one_d = def.u.ad.value / 65536.0; break;
        default: break;
    }
    *value = v;
    ++valuesAlive_;
    reads_.push_back(StreamRead{index, mode, *time, preExpression});
    return PF_Err_NONE;
}

A_Err EffectControls::DisposeStreamValue(AEGP_StreamValue2* value) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (valuesAlive_ == 0 || !value->streamH) {
        ++badDisposals_;
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    --valuesAlive_;
    value->streamH = nullptr;
    return host_.Faults().ShouldFail("AEGP_DisposeStreamValue") ? kFault : PF_Err_NONE;
}

A_Err EffectControls::SetStreamValue(AEGP_StreamRefH stream, const AEGP_StreamValue2* value) {
    int index;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        index = StreamIndex(stream);
    }
    if (index < 0) return PF_Err_BAD_CALLBACK_PARAM;
    if (host_.Faults().ShouldFail("AEGP_SetStreamValue")) return kFault;
    ParamStore& store = Params(host_);
    const PF_ParamDef def = store.Value(index);
    if (def.param_type == PF_Param_COLOR) {
        const AEGP_ColorVal& c = value->val.color;
        store.SetColor(index, PF_Pixel{ToByte(c.alphaF), ToByte(c.redF), ToByte(c.greenF), ToByte(c.blueF)});
        std::lock_guard<std::mutex> lock(mutex_);
        colors_[index] = c;
    } else if (def.param_type == PF_Param_LAYER) {
        std::lock_guard<std::mutex> lock(mutex_);
        chosen_[index] = value->val.layer_id;
    } else {
        store.SetNumber(index, value->val.one_d);
    }
    return PF_Err_NONE;
}

A_Err EffectControls::SetDynamicStreamFlag(AEGP_StreamRefH stream, AEGP_DynStreamFlags flag, bool set) {
    std::lock_guard<std::mutex> lock(mutex_);
    const int index = StreamIndex(stream);
    if (index < 0) return PF_Err_BAD_CALLBACK_PARAM;
    if (host_.Faults().ShouldFail("AEGP_SetDynamicStreamFlag")) return kFault;
    if (flag == AEGP_DynStreamFlag_HIDDEN) {
        if (set) {
            hidden_.insert(index);
        } else {
            hidden_.erase(index);
        }
    }
    return PF_Err_NONE;
}

A_Err EffectControls::StartUndoGroup(const char* name) {
    if (host_.Faults().ShouldFail("AEGP_StartUndoGroup")) return kFault;
    std::lock_guard<std::mutex> lock(mutex_);
    if (openUndo_ > 0) ++undoMisuses_;  // the effect's edits are one step each: a group inside one is a fault
    ++openUndo_;
    undo_.push_back(UndoGroupRecord{name, false});
    return PF_Err_NONE;
}

A_Err EffectControls::EndUndoGroup() {
    if (host_.Faults().ShouldFail("AEGP_EndUndoGroup")) return kFault;
    std::lock_guard<std::mutex> lock(mutex_);
    if (openUndo_ == 0) {
        ++undoMisuses_;
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    --openUndo_;
    for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) {
        if (!it->closed) {
            it->closed = true;
            break;
        }
    }
    return PF_Err_NONE;
}

A_Err EffectControls::ExecuteScript(const char* script) {
    if (host_.Faults().ShouldFail("AEGP_ExecuteScript")) return kFault;
    std::lock_guard<std::mutex> lock(mutex_);
    scripts_.push_back(script);
    return PF_Err_NONE;
}

PF_Err EffectControls::UpdateParamUI(PF_ParamIndex index, const PF_ParamDef* def) {
    if (index < 1 || index >= Params(host_).Count()) return PF_Err_INVALID_INDEX;
    if (host_.Faults().ShouldFail("PF_UpdateParamUI")) return kFault;
    std::lock_guard<std::mutex> lock(mutex_);
    ui_[index] = *def;
    updates_.push_back(ParamUIUpdate{index, *def});
    return PF_Err_NONE;
}

A_Err EffectControls::LayerFromID(AEGP_CompH comp, AEGP_LayerIDVal id, AEGP_LayerH* layer) {
    *layer = nullptr;
    if (!comp) return PF_Err_BAD_CALLBACK_PARAM;
    if (host_.Faults().ShouldFail("AEGP_GetLayerFromLayerID")) return kFault;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = layers_.find(id);
    if (it != layers_.end()) {
        *layer = reinterpret_cast<AEGP_LayerH>(it->second.get());
    } else if (const Composition* comp = host_.FindService<Composition>()) {
        // The composition's layers carry no switches: they count as layers with no flags set.
        if (const CompLayer* found = comp->Find(id)) *layer = reinterpret_cast<AEGP_LayerH>(const_cast<CompLayer*>(found));
    }
    return PF_Err_NONE;
}

bool EffectControls::OtherLayerFlags(AEGP_LayerH layer, AEGP_LayerFlags* flags) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& entry : layers_) {
        if (reinterpret_cast<AEGP_LayerH>(entry.second.get()) == layer) {
            *flags = entry.second->flags;
            return true;
        }
    }
    const Composition* comp = host_.FindService<Composition>();
    if (!comp || layer == EffectLayerHandle()) return false;
    for (LayerId id = 1; const CompLayer* found = comp->Find(id); ++id) {
        if (reinterpret_cast<AEGP_LayerH>(const_cast<CompLayer*>(found)) == layer) {
            *flags = AEGP_LayerFlag_NONE;
            return true;
        }
    }
    return false;
}

EffectControls& Controls(SimHost& host) { return host.Service<EffectControls>(); }

A_Err HostGetNewEffectForEffect(AEGP_PluginID, PF_ProgPtr effect_ref, AEGP_EffectRefH* effect) {
    SimHost* host = SimHost::FromRef(effect_ref);
    return host && effect ? Controls(*host).NewEffect(effect_ref, effect) : PF_Err_BAD_CALLBACK_PARAM;
}

A_Err HostGetLayerFromLayerID(AEGP_CompH comp, A_long id, AEGP_LayerH* layer) {
    SimHost* host = SimHost::Active();
    return host && layer ? Controls(*host).LayerFromID(comp, id, layer) : PF_Err_BAD_CALLBACK_PARAM;
}

}  // namespace simhost
