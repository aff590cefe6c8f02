#include "host/ParamChange.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "host/Messages.h"
#include "host/ParamIndex.h"
#include "host/ParamUI.h"
#include "host/Platform.h"
#include "host/Suites.h"
#include "sdk/AEGP_Suites.h"

namespace {

constexpr AEGP_PluginID kPluginID = 0;

const AEGP_UtilitySuite11* UtilitySuite(const AEGP_SuiteHandler& suites, int version) {
    return suites.Get<AEGP_UtilitySuite11>(kAEGPUtilitySuite, version);
}

// An undo group that, once opened, is closed on every path: after a failing host call inside it too, so the
// host is never left collecting the user's later edits into the effect's group.
class UndoGroup {
public:
    explicit UndoGroup(const AEGP_SuiteHandler& suites) : suites_(suites) {}
    ~UndoGroup() {
        try {
            Close();
        } catch (...) {
        }
    }
    UndoGroup(const UndoGroup&) = delete;
    UndoGroup& operator=(const UndoGroup&) = delete;

    PF_Err Open(const std::string& name) {
        const PF_Err err = UtilitySuite(suites_, kAEGPUtilitySuiteVersion7)->AEGP_StartUndoGroup(name.c_str());
        open_ = err == PF_Err_NONE;
        return err;
    }
    PF_Err Close() {
        if (!open_) return PF_Err_NONE;
        open_ = false;
        return UtilitySuite(suites_, kAEGPUtilitySuiteVersion7)->AEGP_EndUndoGroup();
    }

private:
    const AEGP_SuiteHandler& suites_;
    bool open_ = false;
};

// The command's first error: later host calls are skipped once one is recorded.
struct FirstError {
    PF_Err err = PF_Err_NONE;
    void operator=(PF_Err e) {
        if (!err) err = e;
    }
    explicit operator bool() const { return err != PF_Err_NONE; }
};

void Flag(PF_ParamDef* def) { def->uu.change_flags |= PF_ChangeFlag_CHANGED_VALUE; }

// Writes a number into whatever kind of value the parameter holds.
void WriteNumber(PF_ParamDef* def, double value) {
    switch (def->param_type) {
        case PF_Param_POPUP: def->u.pd.value = PF_ParamValue(value); break;
        case PF_Param_CHECKBOX: def->u.bd.value = value != 0 ? 1 : 0; break;
        case PF_Param_FLOAT_SLIDER: def->u.fs_d.value = value; break;
        case PF_Param_SLIDER: def->u.sd.value = PF_ParamValue(value); break;
        case PF_Param_ANGLE: def->u.ad.value = PF_Fixed(value * 65536.0); break;
        default: break;
    }
}

void WriteRGB(PF_ParamDef* def, A_u_char red, A_u_char green, A_u_char blue) {
    def->u.cd.value.red = red;
    def->u.cd.value.green = green;
    def->u.cd.value.blue = blue;
}

// Plain text into the return message, cut to what fits; the display flag is left alone.
void CopyReturnMessage(PF_OutData* out_data, const std::string& text) {
    const size_t n = std::min(text.size(), size_t(PF_MAX_RETURN_MSG_LEN - 1));
    std::memcpy(out_data->return_msg, text.data(), n);
    out_data->return_msg[n] = '\0';
}

struct NumberValue {
    int index;
    double value;
};
struct ColorValue {
    int index;
    A_u_char red, green, blue;
};
struct ResetButton {
    int button;
    const char* group;  // the undo group's name after "Velloran 2 Reset "
    std::vector<NumberValue> numbers;
    std::vector<ColorValue> colors;
    int first, last;    // every parameter in between is flagged and redrawn
};

// The defaults of the parameter table, grouped as the reset buttons restore them. Layers, group lines,
// buttons and Half Float inside a range are redrawn with the value they have.
const std::vector<ResetButton>& ResetButtons() {
    static const std::vector<ResetButton> buttons = {
        {PARAM_RESET_MAIN, "Main",
         {{PARAM_GLOW_MODE, 1}, {PARAM_BLEND_MODE, 1}, {PARAM_RADIUS, 1000}, {PARAM_EXPOSURE, 1}},
         {}, PARAM_GLOW_MODE, PARAM_EXPOSURE},
        {PARAM_RESET_INPUT, "Input",
         {{PARAM_THRESHOLD, 0}, {PARAM_THRESHOLD_SMOOTH, 0}, {PARAM_SATURATION_BIAS, 0}, {PARAM_MASK_MODE, 1},
          {PARAM_MASK_INVERT, 0}},
         {}, PARAM_THRESHOLD, PARAM_INPUT_MASKING_GROUP_END},
        {PARAM_RESET_IRIS, "Iris",
         {{PARAM_IRIS_SAMPLING_QUALITY, 3}, {PARAM_IRIS_ITERATIONS, 10}, {PARAM_RADII_EASING, 90}},
         {}, PARAM_IRIS_LAYER, PARAM_RADII_EASING},
        {PARAM_RESET_GAMMA, "Gamma",
         {{PARAM_AUTO_DETECT_GAMMA, 1}, {PARAM_GAMMA_CORRECTION, 100}},
         {}, PARAM_AUTO_DETECT_GAMMA, PARAM_GAMMA_INFO},
        {PARAM_RESET_ASPECT_RATIO, "Aspect Ratio",
         {{PARAM_ASPECT_RATIO, 1}, {PARAM_ENABLE_ANGLE, 0}, {PARAM_ASPECT_ANGLE, 0}},
         {}, PARAM_ASPECT_RATIO, PARAM_ASPECT_ANGLE},
        {PARAM_RESET_ABERRATION, "Chromatic Aberration",
         {{PARAM_ENABLE_PIXEL_ABERRATION, 0}, {PARAM_ABERRATION_CHANNELS, 2}, {PARAM_PIXEL_OFFSET, 1},
          {PARAM_ENABLE_GLOW_ABERRATION, 0}, {PARAM_MULTIPLY_RED, 80}, {PARAM_MULTIPLY_GREEN, 100},
          {PARAM_MULTIPLY_BLUE, 120}},
         {}, PARAM_ENABLE_PIXEL_ABERRATION, PARAM_MULTIPLY_BLUE},
        {PARAM_RESET_TINT, "Tint",
         {{PARAM_TINT_MODE, 1}, {PARAM_TINT_BLEND_MODE, 1}, {PARAM_TINT_STRENGTH, 100}},
         {{PARAM_TINT_COLOR, 255, 0, 0}, {PARAM_TINT_COLOR_OUTER, 255, 128, 0}}, PARAM_TINT_MODE,
         PARAM_TINT_STRENGTH},
        {PARAM_RESET_TONE_MAPPING, "Tone Mapping",
         {{PARAM_TONE_MAP_OPERATION, 1}, {PARAM_TONE_MAP_MIX, 100}},
         {}, PARAM_TONE_MAP_OPERATION, PARAM_TONE_MAP_MIX},
        {PARAM_RESET_LENS_DIRT, "Lens Dirt Texture",
         {{PARAM_LENS_DIRT_OPACITY, 100}, {PARAM_LENS_DIRT_INHERIT_COLOR, 0}, {PARAM_LENS_DIRT_MATTE_EXPOSURE, 0},
          {PARAM_LENS_DIRT_MATTE_GAMMA, 1}, {PARAM_LENS_DIRT_REPEAT_EDGES, 1}},
         {}, PARAM_LENS_DIRT_OPACITY, PARAM_LENS_DIRT_REPEAT_EDGES},
        {PARAM_RESET_QUALITY, "Quality",
         {{PARAM_QUALITY_PRESET, 3}, {PARAM_QUALITY_PRESET_IRIS, 3}, {PARAM_RESOLUTION, 75},
          {PARAM_STEPS_MULTIPLIER, 0.5}, {PARAM_GLOW_ITERATIONS, 8}, {PARAM_BUFFER_EXPANSION_MODE, 1},
          {PARAM_AUX_BUFFER_EXPANSION, 0}},
         {}, PARAM_QUALITY_PRESET, PARAM_AUX_BUFFER_EXPANSION},
    };
    return buttons;
}

void Reset(const ResetButton& button, PF_InData* in_data, const AEGP_SuiteHandler& suites, PF_ParamDef* params[],
           FirstError& err) {
    UndoGroup group(suites);
    if (!err) err = group.Open(std::string("Velloran 2 Reset ") + button.group);
    for (const NumberValue& v : button.numbers) WriteNumber(params[v.index], v.value);
    for (const ColorValue& c : button.colors) WriteRGB(params[c.index], c.red, c.green, c.blue);
    for (int i = button.first; i <= button.last; ++i) {
        Flag(params[i]);
        if (!err) err = ParamUtilsSuite3(suites)->PF_UpdateParamUI(in_data->effect_ref, i, params[i]);
    }
    err = group.Close();
}

void ChangeView(const AEGP_SuiteHandler& suites, PF_ParamDef* params[], FirstError& err) {
    UndoGroup group(suites);
    if (!err) err = group.Open("Velloran 2 Change View");
    // The direction follows the mode, not the list that changed: the list on show is the one the user sees.
    if (params[PARAM_GLOW_MODE]->u.pd.value == 1) {
        params[PARAM_VIEW_WITH_IRIS]->u.pd.value = ViewWithIrisFromView(params[PARAM_VIEW]->u.pd.value);
        Flag(params[PARAM_VIEW_WITH_IRIS]);
    } else {
        params[PARAM_VIEW]->u.pd.value = ViewFromViewWithIris(params[PARAM_VIEW_WITH_IRIS]->u.pd.value);
        Flag(params[PARAM_VIEW]);
    }
    err = group.Close();
}

void GammaInfo(PF_InData* in_data, const AEGP_SuiteHandler& suites, FirstError& err) {
    float gamma = 0.0f;
    if (!err) err = LookupSceneGamma(in_data, suites, &gamma);
    // The two characters backslash and n: the script engine turns them into the alert's line break.
    const std::string script = "alert(\"Scene Gamma: " + SceneGammaText(gamma) +
                               (gamma > 1.0f ? "\\nGamma correction will be applied"
                                             : "\\nGamma correction won't be applied") +
                               "\");";
    if (!err) {
        err = UtilitySuite(suites, kAEGPUtilitySuiteVersion11)
                  ->AEGP_ExecuteScript(kPluginID, script.c_str(), 1, nullptr, nullptr);
    }
}

void SwapColors(PF_InData* in_data, const AEGP_SuiteHandler& suites, AEGP_EffectRefH effect, PF_ParamDef* params[],
                FirstError& err) {
    const PF_ColorParamSuite1* colours = suites.Get<PF_ColorParamSuite1>(kPFColorParamSuite, 1);
    PF_PixelFloat inner{}, outer{};
    if (!err) err = colours->PF_GetFloatingPointColorFromColorDef(in_data->effect_ref, params[PARAM_TINT_COLOR], &inner);
    if (!err) {
        err = colours->PF_GetFloatingPointColorFromColorDef(in_data->effect_ref, params[PARAM_TINT_COLOR_OUTER], &outer);
    }
    // Each colour moves whole, alpha included, so that two presses give back exactly what was there.
    auto streamValue = [](const PF_PixelFloat& c) {
        AEGP_StreamValue2 v{};
        v.val.color = AEGP_ColorVal{c.alpha, c.red, c.green, c.blue};
        return v;
    };
    AEGP_StreamValue2 newOuter = streamValue(inner);
    AEGP_StreamValue2 newInner = streamValue(outer);

    const AEGP_StreamSuite9* streams = suites.Get<AEGP_StreamSuite9>(kAEGPStreamSuite, kAEGPStreamSuiteVersion9);
    UndoGroup group(suites);
    AEGP_StreamRefH outerStream = nullptr, innerStream = nullptr;
    if (!err) err = group.Open("Velloran 2 Swap Colors");
    if (!err) err = streams->AEGP_GetNewEffectStreamByIndex(kPluginID, effect, PARAM_TINT_COLOR_OUTER, &outerStream);
    if (!err) err = streams->AEGP_GetNewEffectStreamByIndex(kPluginID, effect, PARAM_TINT_COLOR, &innerStream);
    if (!err) err = streams->AEGP_SetStreamValue(kPluginID, outerStream, &newOuter);
    if (!err) err = streams->AEGP_SetStreamValue(kPluginID, innerStream, &newInner);
    if (outerStream) err = streams->AEGP_DisposeStream(outerStream);
    if (innerStream) err = streams->AEGP_DisposeStream(innerStream);
    err = group.Close();
}

void ShuffleChannels(const AEGP_SuiteHandler& suites, PF_ParamDef* params[], FirstError& err) {
    // Read as doubles and stored through single precision, as the sliders keep them.
    const double red = float(params[PARAM_MULTIPLY_RED]->u.fs_d.value);
    const double green = float(params[PARAM_MULTIPLY_GREEN]->u.fs_d.value);
    const double blue = float(params[PARAM_MULTIPLY_BLUE]->u.fs_d.value);
    UndoGroup group(suites);
    if (!err) err = group.Open("Velloran 2 Shuffle Aberration Amounts");
    params[PARAM_MULTIPLY_RED]->u.fs_d.value = blue;
    params[PARAM_MULTIPLY_GREEN]->u.fs_d.value = red;
    params[PARAM_MULTIPLY_BLUE]->u.fs_d.value = green;
    Flag(params[PARAM_MULTIPLY_RED]);
    Flag(params[PARAM_MULTIPLY_GREEN]);
    Flag(params[PARAM_MULTIPLY_BLUE]);
    err = group.Close();
}

void OpenErrorLog(PF_InData* in_data, PF_OutData* out_data) {
    const std::string path = GetLogPath(in_data, true);
    bool exists = false;
    try {
        exists = fileExists(path);
    } catch (const std::exception&) {
        exists = false;  // a file whose status cannot be read cannot be opened either
    }
    if (exists) {
        OpenFileWithDefaultEditor(path);
    } else {
        CopyReturnMessage(out_data, "No errors reported. Searched: " + path);
    }
}

}  // namespace

PF_ParamValue ViewWithIrisFromView(PF_ParamValue view) {
    static const PF_ParamValue table[] = {1, 2, 1, 6, 7, 8};
    return view >= 1 && view <= 6 ? table[view - 1] : 1;
}

PF_ParamValue ViewFromViewWithIris(PF_ParamValue viewWithIris) {
    static const PF_ParamValue table[] = {1, 2, 1, 1, 1, 4, 5, 6};
    return viewWithIris >= 1 && viewWithIris <= 8 ? table[viewWithIris - 1] : 1;
}

PF_Err UserChangedParam(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef*,
                        const PF_UserChangedParamExtra* which_hit) {
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    EffectHandleOwner effect(suites, kAEGPEffectSuiteVersion3);
    FirstError err;
    err = effect.Acquire(in_data);
    if (!effect.valid()) return err.err;

    const int index = which_hit ? which_hit->param_index : -1;
    switch (index) {
        case PARAM_QUALITY_PRESET:
            if (params[PARAM_QUALITY_PRESET]->u.pd.value != 8) {  // "Custom" has no counterpart in Lens Iris
                params[PARAM_QUALITY_PRESET_IRIS]->u.pd.value = params[PARAM_QUALITY_PRESET]->u.pd.value;
                Flag(params[PARAM_QUALITY_PRESET_IRIS]);
            }
            break;
        case PARAM_QUALITY_PRESET_IRIS:
            params[PARAM_QUALITY_PRESET]->u.pd.value = params[PARAM_QUALITY_PRESET_IRIS]->u.pd.value;
            Flag(params[PARAM_QUALITY_PRESET]);
            break;
        case PARAM_VIEW_WITH_IRIS:
        case PARAM_VIEW: ChangeView(suites, params, err); break;
        case PARAM_OPEN_LOG_DIRECTORY: OpenWithDefaultApplication(GetLogPath(in_data, false)); break;
        case PARAM_OPEN_ERROR_LOG: OpenErrorLog(in_data, out_data); break;
        case PARAM_CREATE_TEST_ERROR: {
            const std::string failure = LogError("Test Error", in_data);
            if (!failure.empty()) CopyReturnMessage(out_data, failure);
            break;
        }
        case PARAM_HOST_VERSION_BUTTON: OpenWithDefaultApplication(kProductPageURL); break;
        case PARAM_OS_VERSION_BUTTON: OpenWithDefaultApplication(kFreePluginsURL); break;
        case PARAM_GL_RENDERER_BUTTON: OpenWithDefaultApplication(kSupportURL); break;
        case PARAM_HEADER:
            // Lens Iris hides the aspect controls collapsed; back in the other mode they open again.
            if (params[PARAM_GLOW_MODE]->u.pd.value != 2) {
                params[PARAM_ASPECT_ANGLE]->flags &= ~PF_ParamFlags(PF_ParamFlag_COLLAPSE_TWIRLY);
                if (!err) {
                    err = ParamUtilsSuite3(suites)->PF_UpdateParamUI(in_data->effect_ref, PARAM_ASPECT_ANGLE,
                                                                     params[PARAM_ASPECT_ANGLE]);
                }
            }
            break;
        case PARAM_AUTO_DETECT_GAMMA:
            if (params[PARAM_DEPRECATED_GAMMA_CORRECTION]->u.bd.value) {
                params[PARAM_DEPRECATED_GAMMA_CORRECTION]->u.bd.value = 0;
                Flag(params[PARAM_DEPRECATED_GAMMA_CORRECTION]);
            }
            break;
        case PARAM_GAMMA_INFO: GammaInfo(in_data, suites, err); break;
        case PARAM_SWAP_COLORS: SwapColors(in_data, suites, *effect.get(), params, err); break;
        case PARAM_SHUFFLE_CHANNELS: ShuffleChannels(suites, params, err); break;
        default:
            for (const ResetButton& button : ResetButtons()) {
                if (button.button == index) Reset(button, in_data, suites, params, err);
            }
            break;
    }

    const PF_Err disposeErr = effect.Dispose();
    return err ? err.err : disposeErr;
}
