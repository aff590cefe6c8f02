// Showing, hiding, enabling and naming the effect's controls, and the layer lookups this needs. Hidden-ness
// lives in the host's effect streams (the dynamic-stream flag); greyed-out state and names in the definition
// last handed to PF_UpdateParamUI.
#pragma once

#include <string>

#include "host/Suites.h"
#include "sdk/AEGP_Suites.h"
#include "sdk/AE_Effect.h"
#include "sdk/AE_EffectUI.h"

// The command's handle on its effect instance, disposed once on every path (a missing suite throws through
// the handler; the handle must not be left behind then either).
class EffectHandleOwner {
public:
    // effectSuiteVersion: the "AEGP Effect Suite" version the disposal goes through.
    EffectHandleOwner(const AEGP_SuiteHandler& suites, int effectSuiteVersion)
        : suites_(suites), version_(effectSuiteVersion) {}
    ~EffectHandleOwner();
    EffectHandleOwner(const EffectHandleOwner&) = delete;
    EffectHandleOwner& operator=(const EffectHandleOwner&) = delete;

    PF_Err Acquire(const PF_InData* in_data);
    AEGP_EffectRefH* get() { return &effect_; }
    bool valid() const { return effect_ != nullptr; }
    // Disposes now and gives the disposal's result (0 when there was nothing to dispose).
    PF_Err Dispose();

private:
    const AEGP_SuiteHandler& suites_;
    int version_;
    AEGP_EffectRefH effect_ = nullptr;
};

// The suites of the effect-controls work, by name and version.
const PF_ParamUtilsSuite3* ParamUtilsSuite3(const AEGP_SuiteHandler& suites);
const AEGP_PFInterfaceSuite1* PFInterfaceSuite1(const AEGP_SuiteHandler& suites);
const AEGP_LayerSuite13* LayerSuite13(const AEGP_SuiteHandler& suites);
const PF_ColorSettingsSuite3* ColorSettingsSuite3(const AEGP_SuiteHandler& suites);

// Approximate gamma of the working space of the effect's composition, into gamma (left as it is when the
// effect has no layer, the layer no composition or the composition no working-space profile). The profile
// is disposed whenever one was made; the first error is returned.
PF_Err LookupSceneGamma(const PF_InData* in_data, const AEGP_SuiteHandler& suites, float* gamma);
// The gamma as "%f" gives it, cut to four characters: 2.2 gives "2.20", 10.5 gives "10.5".
std::string SceneGammaText(float gamma);

PF_Err HideParam(PF_InData* in_data, const AEGP_SuiteHandler& suites, AEGP_EffectRefH* effect, PF_ParamDef* params[],
                 PF_ParamIndex index, bool hide);
PF_Err DisableParam(PF_InData* in_data, const AEGP_SuiteHandler& suites, PF_ParamDef* params[], PF_ParamIndex index,
                    bool disable);
// As above; when both names are given, the control is first named by the one for its new state.
PF_Err DisableParam(PF_InData* in_data, const AEGP_SuiteHandler& suites, PF_ParamDef* params[], PF_ParamIndex index,
                    bool disable, const std::string& enabledName, const std::string& disabledName);

// The layer chosen in a layer parameter at the current time, after expressions; 0 when none (or on failure).
PF_Err GetLayerIDFromStream(PF_InData* in_data, PF_OutData* out_data, AEGP_EffectRefH* effect, PF_ParamIndex index,
                            AEGP_LayerIDVal* layerID);
// The layer chosen in a layer parameter at time 0, before expressions; the caller sets *layer to null first.
PF_Err GetLayerHandleFromLayerParamIndex(PF_InData* in_data, AEGP_LayerH* layer, PF_ParamIndex index);
// Sets *collapsed when the layer has its collapse switch on; never clears it. A null layer is no error.
PF_Err CheckForCollapse(PF_InData* in_data, AEGP_LayerH layer, bool* collapsed);
