// The effect-controls window as the host keeps it for the effect instance: handles on the effect, its
// parameters' streams (values, colours at full precision, the layer a layer parameter points at, the hidden
// flag), the definitions the effect last handed to PF_UpdateParamUI (greyed out, name, twirl), undo groups,
// scripts, and the composition's other layers by ID with their switches. It also plays the host's side of a
// parameter change: the parameter array of the command, taking back the values the effect flagged, and the
// UI update that follows; the array of the last command is kept as the effect left it.
//
// Faults (host.Faults().FailCall(name, nth)), each failing with PF_Err_INTERNAL_STRUCT_DAMAGED:
// "AEGP_GetNewEffectForEffect", "AEGP_DisposeEffect", "AEGP_GetNewEffectStreamByIndex", "AEGP_DisposeStream",
// "AEGP_GetNewStreamValue", "AEGP_DisposeStreamValue", "AEGP_SetStreamValue", "AEGP_SetDynamicStreamFlag",
// "AEGP_StartUndoGroup", "AEGP_EndUndoGroup", "AEGP_ExecuteScript", "PF_UpdateParamUI", "AEGP_GetLayerFromLayerID".
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "sdk/AEGP_Suites.h"
#include "sdk/AE_Effect.h"
#include "simhost/SimHost.h"

namespace simhost {

struct UndoGroupRecord {
    std::string name;
    bool closed = false;
};

struct ParamUIUpdate {
    int index = 0;
    PF_ParamDef def{};  // as the effect handed it over
};

struct StreamRead {
    int index = 0;
    AEGP_LTimeMode mode = AEGP_LTimeMode_LayerTime;
    A_Time time{};
    bool preExpression = false;
};

// What the user sees of one control.
struct ControlView {
    int index = 0;
    std::string name;
    bool visible = true;
    bool enabled = true;
    bool collapsed = false;  // twirled shut
};

// The parameter array the host hands one command: one definition per parameter, built from the current
// values and the window's state, with stable addresses for the command's length.
class ParamArray {
public:
    explicit ParamArray(std::vector<PF_ParamDef> defs);
    ParamArray(const ParamArray&) = delete;
    ParamArray& operator=(const ParamArray&) = delete;
    PF_ParamDef** get() { return pointers_.data(); }
    PF_ParamDef& operator[](int index) { return defs_.at(size_t(index)); }
    const std::vector<PF_ParamDef>& defs() const { return defs_; }
    int size() const { return int(defs_.size()); }

private:
    std::vector<PF_ParamDef> defs_;
    std::vector<PF_ParamDef*> pointers_;
};

class EffectControls {
public:
    explicit EffectControls(SimHost& host);  // adds the suites to the host
    EffectControls(const EffectControls&) = delete;
    EffectControls& operator=(const EffectControls&) = delete;

    // The composition's layers beside the effect's own, by ID (IDs above 0).
    void AddLayer(AEGP_LayerIDVal id, AEGP_LayerFlags flags = AEGP_LayerFlag_NONE);
    void SetLayerFlags(AEGP_LayerIDVal id, AEGP_LayerFlags flags);
    // The layer a layer parameter points at; 0 for none.
    void ChooseLayer(int index, AEGP_LayerIDVal id);
    AEGP_LayerIDVal ChosenLayer(int index) const;
    // Makes AEGP_GetNewEffectForEffect give no handle (and no error), as for an effect being deleted.
    void SetEffectHandleAvailable(bool available);
    // The user twirls a control open or shut; the next command's array carries it.
    void SetCollapsed(int index, bool collapsed);

    // What the window shows.
    bool Hidden(int index) const;
    PF_ParamDef UIDefinition(int index) const;  // the last one handed over, else the registered definition
    ControlView View(int index) const;
    std::vector<ControlView> Views() const;  // indices 1 to the last parameter
    std::string DescribeControls() const;   // one line per control the user could see or not

    // A colour set through its stream, at full precision (the parameter store keeps the 8-bit value).
    AEGP_ColorVal StreamColor(int index) const;

    // Records.
    std::vector<ParamUIUpdate> UIUpdates() const;
    std::vector<UndoGroupRecord> UndoGroups() const;
    int OpenUndoGroups() const;
    int UndoGroupMisuses() const;  // a group opened inside another, or closed without one open
    std::vector<std::string> Scripts() const;
    std::vector<StreamRead> StreamReads() const;
    // The parameter array of the last command as the effect left it (values, change flags, flags).
    std::vector<PF_ParamDef> LastParamArray() const;
    void ClearRecords();
    int EffectsAlive() const;
    int StreamsAlive() const;
    int StreamValuesAlive() const;
    int BadDisposals() const;  // disposal of a handle, stream or value that is not alive

    // The host's side of a change.
    std::unique_ptr<ParamArray> MakeParamArray() const;
    // Every value the effect flagged as changed goes into the parameter store.
    void TakeChangedValues(ParamArray& params);
    // PF_Cmd_USER_CHANGED_PARAM for the index with the current values; the flagged values are taken.
    CommandResult SendUserChangedParam(int index);
    CommandResult SendUpdateParamsUI();
    // What the host does after the user changed a parameter in the store: the change command, then the UI
    // update (skipped when the change failed). The first failure is the result.
    CommandResult UserChanged(int index);

    // Suite entries.
    A_Err NewEffect(PF_ProgPtr effect_ref, AEGP_EffectRefH* effect);
    A_Err DisposeEffect(AEGP_EffectRefH effect);
    A_Err NewStream(AEGP_EffectRefH effect, PF_ParamIndex index, AEGP_StreamRefH* stream);
    A_Err DisposeStream(AEGP_StreamRefH stream);
    A_Err NewStreamValue(AEGP_StreamRefH stream, AEGP_LTimeMode mode, const A_Time* time, bool preExpression,
                         AEGP_StreamValue2* value);
    A_Err DisposeStreamValue(AEGP_StreamValue2* value);
    A_Err SetStreamValue(AEGP_StreamRefH stream, const AEGP_StreamValue2* value);
    A_Err SetDynamicStreamFlag(AEGP_StreamRefH stream, AEGP_DynStreamFlags flag, bool set);
    A_Err StartUndoGroup(const char* name);
    A_Err EndUndoGroup();
    A_Err ExecuteScript(const char* script);
    PF_Err UpdateParamUI(PF_ParamIndex index, const PF_ParamDef* def);
    A_Err LayerFromID(AEGP_CompH comp, AEGP_LayerIDVal id, AEGP_LayerH* layer);
    // Flags of one of the composition's other layers; false when the handle is none of them.
    bool OtherLayerFlags(AEGP_LayerH layer, AEGP_LayerFlags* flags) const;

    SimHost& host() { return host_; }

private:
    struct OtherLayer {
        AEGP_LayerIDVal id;
        AEGP_LayerFlags flags;
    };
    struct Stream {
        int index;
    };
    int StreamIndex(AEGP_StreamRefH stream) const;  // -1 when not alive; caller holds mutex_

    SimHost& host_;
    mutable std::mutex mutex_;
    std::map<AEGP_LayerIDVal, std::unique_ptr<OtherLayer>> layers_;
    std::map<int, AEGP_LayerIDVal> chosen_;
    std::map<int, AEGP_ColorVal> colors_;
    std::set<int> hidden_;
    std::map<int, PF_ParamDef> ui_;
    std::vector<ParamUIUpdate> updates_;
    std::vector<UndoGroupRecord> undo_;
    int openUndo_ = 0;
    int undoMisuses_ = 0;
    std::vector<std::string> scripts_;
    std::vector<StreamRead> reads_;
    std::vector<PF_ParamDef> lastArray_;
    bool effectAvailable_ = true;
    std::map<const void*, std::unique_ptr<int>> effects_;  // the handle is the address of its token
    std::map<const void*, std::unique_ptr<Stream>> streams_;
    int valuesAlive_ = 0;
    int badDisposals_ = 0;
};

EffectControls& Controls(SimHost& host);

// Entries that complete the effect-layer suites ("AEGP PF Interface Suite" 1, "AEGP Layer Suite" 13) wherever
// their tables are made; they install the effect-controls state on first use.
A_Err HostGetNewEffectForEffect(AEGP_PluginID plugin_id, PF_ProgPtr effect_ref, AEGP_EffectRefH* effect);
A_Err HostGetLayerFromLayerID(AEGP_CompH comp, A_long id, AEGP_LayerH* layer);

}  // namespace simhost
