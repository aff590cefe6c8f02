#include "host/ParamUI.h"

#include <cstdio>
#include <initializer_list>
#include <vector>

#include "host/Handlers.h"
#include "host/ParamIndex.h"
#include "host/ParamsTable.h"

namespace {

constexpr AEGP_PluginID kPluginID = 0;

const AEGP_EffectSuite3* EffectSuite(const AEGP_SuiteHandler& suites, int version) {
    return suites.Get<AEGP_EffectSuite3>(kAEGPEffectSuite, version);
}
const AEGP_StreamSuite9* StreamSuite(const AEGP_SuiteHandler& suites, int version) {
    return suites.Get<AEGP_StreamSuite9>(kAEGPStreamSuite, version);
}

// Reads the value of a layer parameter's stream and gives the layer ID in it. The value is disposed only
// when the host made one: disposing a value that was never filled would hand the host garbage.
PF_Err ReadLayerID(const AEGP_StreamSuite9* streamSuite, const AEGP_StreamSuite9* valueSuite,
                   AEGP_EffectRefH effect, PF_ParamIndex index, const A_Time& time, bool preExpression,
                   AEGP_LayerIDVal* layerID) {
    AEGP_StreamRefH stream = nullptr;
    PF_Err err = streamSuite->AEGP_GetNewEffectStreamByIndex(kPluginID, effect, index, &stream);
    if (!err && stream) {
        AEGP_StreamValue2 value{};
        err = valueSuite->AEGP_GetNewStreamValue(kPluginID, stream, AEGP_LTimeMode_LayerTime, &time,
                                                 preExpression ? 1 : 0, &value);
        if (!err) {
            *layerID = value.val.layer_id;
            const PF_Err disposeErr = valueSuite->AEGP_DisposeStreamValue(&value);
            if (!err) err = disposeErr;
        }
    }
    if (stream) {
        const PF_Err disposeErr = streamSuite->AEGP_DisposeStream(stream);
        if (!err) err = disposeErr;
    }
    return err;
}

PF_ParamDef DisabledDefinition(const PF_ParamDef& def, bool disable, const std::string& enabledName,
                               const std::string& disabledName) {
    PF_ParamDef copy = def;
    if (!enabledName.empty() && !disabledName.empty()) CopyParamName(copy.name, disable ? disabledName : enabledName);
    if (copy.param_type == PF_Param_FLOAT_SLIDER) copy.flags |= PF_ParamFlag_COLLAPSE_TWIRLY;
    if (disable) {
        copy.ui_flags |= PF_PUI_DISABLED;
    } else {
        copy.ui_flags &= ~PF_PUI_DISABLED;
    }
    return copy;
}

bool Checked(const PF_ParamDef* def) { return def->u.bd.value != 0; }
PF_ParamValue Choice(const PF_ParamDef* def) { return def->u.pd.value; }

}  // namespace

EffectHandleOwner::~EffectHandleOwner() {
    if (!effect_) return;
    try {
        Dispose();
    } catch (...) {
        // A missing effect suite while unwinding: nothing more can be done for the handle.
    }
}

PF_Err EffectHandleOwner::Acquire(const PF_InData* in_data) {
    return PFInterfaceSuite1(suites_)->AEGP_GetNewEffectForEffect(kPluginID, in_data->effect_ref, &effect_);
}

PF_Err EffectHandleOwner::Dispose() {
    if (!effect_) return PF_Err_NONE;
    AEGP_EffectRefH effect = effect_;
    effect_ = nullptr;
    return EffectSuite(suites_, version_)->AEGP_DisposeEffect(effect);
}

const PF_ParamUtilsSuite3* ParamUtilsSuite3(const AEGP_SuiteHandler& suites) {
    return suites.Get<PF_ParamUtilsSuite3>(kPFParamUtilsSuite, kPFParamUtilsSuiteVersion3);
}
const AEGP_PFInterfaceSuite1* PFInterfaceSuite1(const AEGP_SuiteHandler& suites) {
    return suites.Get<AEGP_PFInterfaceSuite1>(kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1);
}
const AEGP_LayerSuite13* LayerSuite13(const AEGP_SuiteHandler& suites) {
    return suites.Get<AEGP_LayerSuite13>(kAEGPLayerSuite, kAEGPLayerSuiteVersion13);
}
const PF_ColorSettingsSuite3* ColorSettingsSuite3(const AEGP_SuiteHandler& suites) {
    return suites.Get<PF_ColorSettingsSuite3>(kPFColorSettingsSuite, kPFColorSettingsSuiteVersion3);
}

PF_Err LookupSceneGamma(const PF_InData* in_data, const AEGP_SuiteHandler& suites, float* gamma) {
    AEGP_LayerH layer = nullptr;
    PF_Err err = PFInterfaceSuite1(suites)->AEGP_GetEffectLayer(in_data->effect_ref, &layer);
    if (err || !layer) return err;
    AEGP_CompH comp = nullptr;
    err = LayerSuite13(suites)->AEGP_GetLayerParentComp(layer, &comp);
    if (err || !comp) return err;
    const PF_ColorSettingsSuite3* colour = ColorSettingsSuite3(suites);
    AEGP_ColorProfileP profile = nullptr;
    err = colour->AEGP_GetNewWorkingSpaceColorProfile(kPluginID, comp, &profile);
    if (!err && profile) {
        A_FpShort approx = *gamma;
        err = colour->AEGP_GetColorProfileApproximateGamma(profile, &approx);
        if (!err) *gamma = approx;
    }
    if (profile) {
        const PF_Err disposeErr = colour->AEGP_DisposeColorProfile(profile);
        if (!err) err = disposeErr;
    }
    return err;
}

std::string SceneGammaText(float gamma) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", double(gamma));
    return std::string(text).substr(0, 4);
}

PF_Err HideParam(PF_InData* in_data, const AEGP_SuiteHandler& suites, AEGP_EffectRefH* effect, PF_ParamDef* params[],
                 PF_ParamIndex index, bool hide) {
    const AEGP_StreamSuite9* streams = StreamSuite(suites, kAEGPStreamSuiteVersion7);
    AEGP_StreamRefH stream = nullptr;
    PF_Err err = streams->AEGP_GetNewEffectStreamByIndex(kPluginID, *effect, index, &stream);
    if (!err) {
        err = suites.Get<AEGP_DynamicStreamSuite2>(kAEGPDynamicStreamSuite, kAEGPDynamicStreamSuiteVersion2)
                  ->AEGP_SetDynamicStreamFlag(stream, AEGP_DynStreamFlag_HIDDEN, 0, hide ? 1 : 0);
    }
    if (stream) {
        const PF_Err disposeErr = streams->AEGP_DisposeStream(stream);
        if (!err) err = disposeErr;
    }
    if (!err) {
        PF_ParamDef copy = *params[index];
        err = ParamUtilsSuite3(suites)->PF_UpdateParamUI(in_data->effect_ref, index, &copy);
    }
    return err;
}

PF_Err DisableParam(PF_InData* in_data, const AEGP_SuiteHandler& suites, PF_ParamDef* params[], PF_ParamIndex index,
                    bool disable) {
    return DisableParam(in_data, suites, params, index, disable, std::string(), std::string());
}

PF_Err DisableParam(PF_InData* in_data, const AEGP_SuiteHandler& suites, PF_ParamDef* params[], PF_ParamIndex index,
                    bool disable, const std::string& enabledName, const std::string& disabledName) {
    PF_ParamDef copy = DisabledDefinition(*params[index], disable, enabledName, disabledName);
    return ParamUtilsSuite3(suites)->PF_UpdateParamUI(in_data->effect_ref, index, &copy);
}

PF_Err GetLayerIDFromStream(PF_InData* in_data, PF_OutData*, AEGP_EffectRefH* effect, PF_ParamIndex index,
                            AEGP_LayerIDVal* layerID) {
    *layerID = 0;
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    const A_Time now{in_data->current_time, in_data->time_scale};
    AEGP_LayerIDVal found = 0;
    const PF_Err err = ReadLayerID(StreamSuite(suites, kAEGPStreamSuiteVersion9),
                                   StreamSuite(suites, kAEGPStreamSuiteVersion8), *effect, index, now, false, &found);
    if (!err) *layerID = found;
    return err;
}

PF_Err GetLayerHandleFromLayerParamIndex(PF_InData* in_data, AEGP_LayerH* layer, PF_ParamIndex index) {
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    EffectHandleOwner effect(suites, kAEGPEffectSuiteVersion2);
    PF_Err err = effect.Acquire(in_data);
    AEGP_LayerIDVal layerID = 0;
    if (!err && effect.valid()) {
        const AEGP_StreamSuite9* streams = StreamSuite(suites, kAEGPStreamSuiteVersion7);
        err = ReadLayerID(streams, streams, *effect.get(), index, A_Time{0, 1}, true, &layerID);
    }
    if (!err && layerID != 0) {
        // A missing effect layer or composition means there is no layer to find, not a fault.
        AEGP_LayerH effectLayer = nullptr;
        err = PFInterfaceSuite1(suites)->AEGP_GetEffectLayer(in_data->effect_ref, &effectLayer);
        AEGP_CompH comp = nullptr;
        if (!err && effectLayer) {
            err = suites.Get<AEGP_LayerSuite11>(kAEGPLayerSuite, kAEGPLayerSuiteVersion11)
                      ->AEGP_GetLayerParentComp(effectLayer, &comp);
        }
        if (!err && comp) err = LayerSuite13(suites)->AEGP_GetLayerFromLayerID(comp, layerID, layer);
    }
    const PF_Err disposeErr = effect.Dispose();
    return err ? err : disposeErr;
}

PF_Err CheckForCollapse(PF_InData* in_data, AEGP_LayerH layer, bool* collapsed) {
    if (!layer) return PF_Err_NONE;
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    AEGP_LayerFlags flags = AEGP_LayerFlag_NONE;
    const PF_Err err = LayerSuite13(suites)->AEGP_GetLayerFlags(layer, &flags);
    if (!err && (flags & AEGP_LayerFlag_COLLAPSE)) *collapsed = true;
    return err;
}

PF_Err UpdateParameterUI(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef*) {
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    EffectHandleOwner effect(suites, kAEGPEffectSuiteVersion2);
    PF_Err err = effect.Acquire(in_data);
    if (!effect.valid()) return err;

    // The definitions as this command has shown them so far. Hiding redraws a control from its definition;
    // redrawn from the host's array as it came in, a control greyed out or renamed earlier in the same command
    // would lose that again, and the window would show the state of the command before.
    std::vector<PF_ParamDef> shownDefs(PARAM_NUM_PARAMS);
    std::vector<PF_ParamDef*> shown(PARAM_NUM_PARAMS);
    for (int i = 0; i < PARAM_NUM_PARAMS; ++i) {
        shownDefs[size_t(i)] = *params[i];
        shown[size_t(i)] = &shownDefs[size_t(i)];
    }

    // Each step runs only while nothing has failed; the first failure is the command's result.
    auto hide = [&](std::initializer_list<int> indices, bool hidden) {
        for (int i : indices) {
            if (!err) err = HideParam(in_data, suites, effect.get(), shown.data(), i, hidden);
        }
    };
    auto hideRange = [&](int first, int last, bool hidden) {
        for (int i = first; i <= last; ++i) {
            if (!err) err = HideParam(in_data, suites, effect.get(), shown.data(), i, hidden);
        }
    };
    auto disableNamed = [&](int i, bool disabled, const std::string& enabledName, const std::string& disabledName) {
        if (err) return;
        err = DisableParam(in_data, suites, shown.data(), i, disabled, enabledName, disabledName);
        if (!err) shownDefs[size_t(i)] = DisabledDefinition(shownDefs[size_t(i)], disabled, enabledName, disabledName);
    };
    auto disable = [&](std::initializer_list<int> indices, bool disabled) {
        for (int i : indices) disableNamed(i, disabled, std::string(), std::string());
    };

    const bool exponential = Choice(params[PARAM_GLOW_MODE]) == 1;
    const bool lensIris = !exponential;
    const PF_ParamValue tintMode = Choice(params[PARAM_TINT_MODE]);

    hideRange(PARAM_DEBUG_GROUP, PARAM_DEBUG_GROUP_END, true);                                      // 1
    const std::initializer_list<int> aspectGroup = {PARAM_ASPECT_GROUP, PARAM_ASPECT_RATIO, PARAM_ENABLE_ANGLE,
                                                    PARAM_ASPECT_ANGLE, PARAM_RESET_ASPECT_RATIO};
    hide(aspectGroup, lensIris);                                                                    // 2
    disable({PARAM_ENABLE_ANGLE}, params[PARAM_ASPECT_RATIO]->u.fs_d.value == 1.0);                 // 3
    if (lensIris) {                                                                                 // 4
        if (!err) {
            params[PARAM_ASPECT_ANGLE]->flags |= PF_ParamFlag_COLLAPSE_TWIRLY;
            shown[PARAM_ASPECT_ANGLE]->flags |= PF_ParamFlag_COLLAPSE_TWIRLY;
            err = ParamUtilsSuite3(suites)->PF_UpdateParamUI(in_data->effect_ref, PARAM_ASPECT_ANGLE,
                                                             shown[PARAM_ASPECT_ANGLE]);
        }
        hide(aspectGroup, true);
    } else {
        hide({PARAM_ASPECT_ANGLE}, !Checked(params[PARAM_ENABLE_ANGLE]));
    }
    const bool autoGamma = Checked(params[PARAM_AUTO_DETECT_GAMMA]);
    hide({PARAM_GAMMA_CORRECTION}, autoGamma);                                                      // 5
    hide({PARAM_GAMMA_INFO}, !autoGamma);                                                           // 6

    AEGP_LayerIDVal irisLayer = 0;                                                                  // 7
    if (!err) err = GetLayerIDFromStream(in_data, out_data, effect.get(), PARAM_IRIS_LAYER, &irisLayer);
    hide({PARAM_IRIS_GROUP, PARAM_IRIS_LAYER, PARAM_IRIS_WARNING_NOT_SUPPLIED_END, PARAM_IRIS_WARNING_BLANK_END,
          PARAM_IRIS_SAMPLING_QUALITY, PARAM_IRIS_ITERATIONS, PARAM_RADII_EASING, PARAM_RESET_IRIS,
          PARAM_IRIS_GROUP_END},
         exponential);                                                                              // 8
    hide({PARAM_IRIS_WARNING_NOT_SUPPLIED, PARAM_IRIS_WARNING_BLANK}, irisLayer != 0 || exponential);  // 9
    if (lensIris) {                                                                                 // 10
        hide({PARAM_RESOLUTION, PARAM_STEPS_MULTIPLIER, PARAM_GLOW_ITERATIONS}, true);
    } else {
        hideRange(PARAM_QUALITY_PRESET, PARAM_RESET_QUALITY, false);
    }
    hide({PARAM_QUALITY_PRESET}, lensIris);                                                         // 11
    hide({PARAM_QUALITY_PRESET_IRIS}, exponential);                                                 // 12
    disable({PARAM_ABERRATION_CHANNELS, PARAM_PIXEL_OFFSET},
            !Checked(params[PARAM_ENABLE_PIXEL_ABERRATION]));                                       // 13
    const bool glowAberration = Checked(params[PARAM_ENABLE_GLOW_ABERRATION]);
    disable({PARAM_MULTIPLY_RED, PARAM_MULTIPLY_GREEN, PARAM_MULTIPLY_BLUE, PARAM_SHUFFLE_CHANNELS},
            !glowAberration);                                                                       // 14
    hideRange(PARAM_ABERRATION_GROUP, PARAM_ABERRATION_GROUP_END, false);                           // 15
    hide({PARAM_ENABLE_GLOW_ABERRATION, PARAM_MULTIPLY_RED, PARAM_MULTIPLY_GREEN, PARAM_MULTIPLY_BLUE,
          PARAM_SHUFFLE_CHANNELS},
         lensIris);                                                                                 // 16
    hide({PARAM_VIEW_WITH_IRIS}, exponential);                                                      // 17
    hide({PARAM_VIEW}, lensIris);                                                                   // 18
    hide({PARAM_TINT_COLOR_OUTER, PARAM_SWAP_COLORS}, tintMode == 3);                               // 19
    const bool tintOff = tintMode == 1;                                                             // 20
    disable({PARAM_TINT_BLEND_MODE}, tintOff);
    if (tintMode == 3) {
        disableNamed(PARAM_TINT_COLOR, false, "Color", "Color");
    } else {
        disableNamed(PARAM_TINT_COLOR, tintOff, "Color Inner", "Color Inner");
    }
    disable({PARAM_TINT_COLOR_OUTER, PARAM_SWAP_COLORS, PARAM_TINT_STRENGTH}, tintOff);
    if (exponential) {                                                                              // 21
        hide({PARAM_RESOLUTION, PARAM_STEPS_MULTIPLIER, PARAM_GLOW_ITERATIONS},
             Choice(params[PARAM_QUALITY_PRESET]) != 8);
    }
    AEGP_LayerIDVal dirtLayer = 0;                                                                  // 22
    if (!err) err = GetLayerIDFromStream(in_data, out_data, effect.get(), PARAM_LENS_DIRT_TEXTURE, &dirtLayer);
    disable({PARAM_LENS_DIRT_OPACITY, PARAM_LENS_DIRT_INHERIT_COLOR, PARAM_LENS_DIRT_MATTE_EXPOSURE,
             PARAM_LENS_DIRT_MATTE_GAMMA, PARAM_LENS_DIRT_REPEAT_EDGES},
            dirtLayer == 0);
    disable({PARAM_THRESHOLD_SMOOTH, PARAM_SATURATION_BIAS}, params[PARAM_THRESHOLD]->u.fs_d.value == 0.0);  // 23
    disable({PARAM_TONE_MAP_MIX}, Choice(params[PARAM_TONE_MAP_OPERATION]) == 1);                   // 24

    if (!err) {                                                                                     // 25
        float gamma = 0.0f;
        err = LookupSceneGamma(in_data, suites, &gamma);
        if (!err) {
            PF_ParamDef copy = *shown[PARAM_SCENE_GAMMA_TEXT];
            CopyParamName(copy.name, "Scene Gamma: " + SceneGammaText(gamma));
            err = ParamUtilsSuite3(suites)->PF_UpdateParamUI(in_data->effect_ref, PARAM_SCENE_GAMMA_TEXT, &copy);
            if (!err) *shown[PARAM_SCENE_GAMMA_TEXT] = copy;
        }
    }

    bool effectCollapsed = false;                                                                   // 26
    if (!err) {
        AEGP_LayerH maskLayer = nullptr;
        err = GetLayerHandleFromLayerParamIndex(in_data, &maskLayer, PARAM_MASK_LAYER);
        AEGP_LayerH effectLayer = nullptr;
        if (!err) err = PFInterfaceSuite1(suites)->AEGP_GetEffectLayer(in_data->effect_ref, &effectLayer);
        if (!err) err = CheckForCollapse(in_data, effectLayer, &effectCollapsed);
        if (maskLayer) {
            bool maskCollapsed = false;
            if (!err) err = CheckForCollapse(in_data, maskLayer, &maskCollapsed);
            hide({PARAM_MASK_WARNING_RASTER, PARAM_MASK_WARNING_BEHAVIOR}, effectCollapsed && maskCollapsed);
            disable({PARAM_MASK_MODE, PARAM_MASK_INVERT}, false);
        } else {
            hide({PARAM_MASK_WARNING_RASTER, PARAM_MASK_WARNING_BEHAVIOR}, true);
            disable({PARAM_MASK_MODE, PARAM_MASK_INVERT}, true);
        }
    }
    hide({PARAM_BUFFER_EXPANSION_MODE}, !effectCollapsed);                                          // 27

    const PF_Err disposeErr = effect.Dispose();
    return err ? err : disposeErr;
}
