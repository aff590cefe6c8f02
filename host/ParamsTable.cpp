#include "host/ParamsTable.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr PF_ParamFlags SC = PF_ParamFlag_START_COLLAPSED;
constexpr PF_ParamFlags SUP = PF_ParamFlag_SUPERVISE;
constexpr PF_ParamFlags SR = PF_ParamFlag_SKIP_REVEAL_WHEN_UNHIDDEN;
constexpr PF_ParamFlags CTV = PF_ParamFlag_CANNOT_TIME_VARY;
constexpr PF_ParamUIFlags DIS = PF_PUI_DISABLED;
constexpr PF_ParamUIFlags INV = PF_PUI_INVISIBLE;

enum Display : bool { Plain = false, Percent = true };

constexpr ParamSpec Row(ParamIndex index, A_long disk, ParamKind kind, const char* name, PF_ParamFlags flags,
              PF_ParamUIFlags ui) {
    ParamSpec s{};
    s.index = index;
    s.diskId = disk;
    s.kind = kind;
    s.name = name;
    s.runtimeName = RuntimeName::None;
    s.flags = flags;
    s.uiFlags = ui;
    return s;
}

constexpr ParamSpec Group(ParamIndex i, A_long disk, const char* name, PF_ParamFlags f = 0, PF_ParamUIFlags ui = 0) {
    return Row(i, disk, ParamKind::GroupStart, name, f, ui);
}
constexpr ParamSpec GroupEnd(ParamIndex i, A_long disk) { return Row(i, disk, ParamKind::GroupEnd, "", 0, 0); }

constexpr ParamSpec Button(ParamIndex i, A_long disk, const char* buttonText, PF_ParamFlags f) {
    ParamSpec s = Row(i, disk, ParamKind::Button, "", f, 0);
    s.text = buttonText;
    return s;
}

constexpr ParamSpec Named(ParamSpec s, RuntimeName runtimeName) {
    s.runtimeName = runtimeName;
    return s;
}

constexpr ParamSpec Popup(ParamIndex i, A_long disk, const char* name, int dephault, const char* choices, PF_ParamFlags f = 0,
                PF_ParamUIFlags ui = 0) {
    ParamSpec s = Row(i, disk, ParamKind::Popup, name, f, ui);
    s.dephault = dephault;
    s.text = choices;
    return s;
}

constexpr ParamSpec Float(ParamIndex i, A_long disk, const char* name, double dephault, ParamRange valid, ParamRange slider,
                A_short precision, Display display, PF_ParamFlags f, PF_ParamUIFlags ui = 0) {
    ParamSpec s = Row(i, disk, ParamKind::FloatSlider, name, f, ui);
    s.dephault = dephault;
    s.valid = valid;
    s.slider = slider;
    s.precision = precision;
    s.percent = display == Percent;
    return s;
}

constexpr ParamSpec Slider(ParamIndex i, A_long disk, const char* name, int dephault, ParamRange valid, ParamRange slider,
                 PF_ParamFlags f) {
    ParamSpec s = Row(i, disk, ParamKind::Slider, name, f, 0);
    s.dephault = dephault;
    s.valid = valid;
    s.slider = slider;
    return s;
}

constexpr ParamSpec Checkbox(ParamIndex i, A_long disk, const char* name, bool on, PF_ParamFlags f = 0, PF_ParamUIFlags ui = 0,
                   const char* label = nullptr) {
    ParamSpec s = Row(i, disk, ParamKind::Checkbox, name, f, ui);
    s.dephault = on ? 1 : 0;
    s.text = label;
    return s;
}

constexpr ParamSpec Color(ParamIndex i, A_long disk, const char* name, PF_Pixel dephault) {
    ParamSpec s = Row(i, disk, ParamKind::Color, name, 0, 0);
    s.color = dephault;
    return s;
}

constexpr ParamSpec Angle(ParamIndex i, A_long disk, const char* name, double degrees, PF_ParamFlags f) {
    ParamSpec s = Row(i, disk, ParamKind::Angle, name, f, 0);
    s.dephault = degrees;
    return s;
}

constexpr ParamSpec Layer(ParamIndex i, A_long disk, const char* name, A_long dephault, PF_ParamFlags f) {
    ParamSpec s = Row(i, disk, ParamKind::Layer, name, f, 0);
    s.dephault = dephault;
    return s;
}

constexpr ParamSpec Header(ParamIndex i, A_long disk) {
    ParamSpec s = Row(i, disk, ParamKind::NoData, "", 0, PF_PUI_CONTROL | PF_PUI_DONT_ERASE_CONTROL);
    s.runtimeName = RuntimeName::Product;
    s.uiWidth = 192;
    s.uiHeight = 100;
    return s;
}

constexpr const char* kDeprecatedChoice = "Deprecated";

constexpr ParamTable BuildTable() {
    return ParamTable{{
        // About & Support
        Group(PARAM_ABOUT_GROUP, 1, "About & Support", SC),
        Header(PARAM_HEADER, 2),
        Named(Button(PARAM_HOST_VERSION_BUTTON, 3, "Product Page", SUP), RuntimeName::HostVersion),
        Named(Button(PARAM_OS_VERSION_BUTTON, 4, "Free Plugins", SUP), RuntimeName::OSVersion),
        Named(Button(PARAM_GL_RENDERER_BUTTON, 5, "Get Support", SUP), RuntimeName::GLRenderer),
        Named(Group(PARAM_GL_VERSION_GROUP, 157, "", SC), RuntimeName::GLVersion),
        GroupEnd(PARAM_GL_VERSION_GROUP_END, 158),
        Group(PARAM_ERROR_LOG_GROUP, 141, "Error Log", SC, DIS),
        Button(PARAM_OPEN_ERROR_LOG, 138, "Open Error Log", SUP),
        Button(PARAM_OPEN_LOG_DIRECTORY, 140, "Open Log Directory", SUP),
        Button(PARAM_CREATE_TEST_ERROR, 139, "Create Test Error", SUP),
        GroupEnd(PARAM_ERROR_LOG_GROUP_END, 142),
        Group(PARAM_ABOUT_SPACER, 10, "", 0, DIS),
        GroupEnd(PARAM_ABOUT_SPACER_END, 11),
        GroupEnd(PARAM_ABOUT_GROUP_END, 12),

        // Main
        Group(PARAM_MAIN_GROUP, 128, "Main"),
        Popup(PARAM_GLOW_MODE, 103, "Glow Mode", 1, "Exponential|Lens Iris", SUP),
        Popup(PARAM_BLEND_MODE, 24, "Blend Mode", 1, "Screen|Add"),
        // The default stands beyond the slider's end: the slider spans the usual radii, typing reaches 2000.
        Float(PARAM_RADIUS, 17, "Radius", 1000, {0, 2000}, {0, 500}, 2, Plain, SC | SR),
        Float(PARAM_EXPOSURE, 18, "Exposure", 1, {0, 20}, {0.9f, 1.1f}, 2, Plain, SC | SR),
        Button(PARAM_RESET_MAIN, 129, "Reset Main", SUP),
        GroupEnd(PARAM_MAIN_GROUP_END, 130),

        // Input
        Group(PARAM_INPUT_GROUP, 19, "Input", SC),
        Float(PARAM_THRESHOLD, 20, "Threshold", 0, {0, 500}, {0, 200}, 2, Percent, SC | SR),
        Float(PARAM_THRESHOLD_SMOOTH, 21, "Threshold Smooth", 0, {0, 100}, {0, 100}, 2, Percent, SC | SR),
        Float(PARAM_SATURATION_BIAS, 96, "Saturation Bias", 0, {-100, 100}, {0, 100}, 2, Percent, SC | SR),
        Group(PARAM_INPUT_MASKING_GROUP, 149, "Input Masking", SC),
        Group(PARAM_MASK_WARNING_RASTER, 74, "Warning: enable cont. raster", SR, DIS),
        GroupEnd(PARAM_MASK_WARNING_RASTER_END, 75),
        Group(PARAM_MASK_WARNING_BEHAVIOR, 76, "for correct behavior", SR, DIS),
        GroupEnd(PARAM_MASK_WARNING_BEHAVIOR_END, 77),
        Layer(PARAM_MASK_LAYER, 150, "Mask Layer", PF_LayerDefault_NONE, 0),
        Popup(PARAM_MASK_MODE, 151, "Mask Mode", 1, "Alpha|Luminance", SR),
        Checkbox(PARAM_MASK_INVERT, 152, "Mask Invert", false, SR),
        GroupEnd(PARAM_INPUT_MASKING_GROUP_END, 153),
        Button(PARAM_RESET_INPUT, 121, "Reset Input", SUP),
        GroupEnd(PARAM_INPUT_GROUP_END, 22),

        // Iris
        Group(PARAM_IRIS_GROUP, 104, "Iris", SR),
        Layer(PARAM_IRIS_LAYER, 105, "Iris Layer", PF_LayerDefault_MYSELF, SR),
        Group(PARAM_IRIS_WARNING_NOT_SUPPLIED, 110, "Warning Iris Layer not supplied", SC | SR, DIS),
        GroupEnd(PARAM_IRIS_WARNING_NOT_SUPPLIED_END, 111),
        Group(PARAM_IRIS_WARNING_BLANK, 112, "Output will be blank", SC | SR, DIS),
        GroupEnd(PARAM_IRIS_WARNING_BLANK_END, 113),
        Popup(PARAM_IRIS_SAMPLING_QUALITY, 107, "Iris Sampling Quality", 3, "Lowest|Modest|Standard|Fine|Extreme", SR),
        // The slider spans only 1 to 2 while 1 to 20 may be typed; stored projects expect these ranges.
        Slider(PARAM_IRIS_ITERATIONS, 118, "Iris Iterations", 10, {1, 20}, {1, 2}, SC | SR),
        Float(PARAM_RADII_EASING, 119, "Radii Easing", 90, {-100, 100}, {0, 50}, 2, Percent, SC | SR),
        Button(PARAM_RESET_IRIS, 122, "Reset Iris", SUP | SR),
        GroupEnd(PARAM_IRIS_GROUP_END, 106),

        // Style
        Group(PARAM_STYLE_GROUP, 23, "Style"),
        Group(PARAM_GAMMA_GROUP, 25, "Gamma Correction", SC),
        Group(PARAM_SCENE_GAMMA_TEXT, 116, "Scene Gamma: ", SC),
        GroupEnd(PARAM_SCENE_GAMMA_TEXT_END, 117),
        Checkbox(PARAM_AUTO_DETECT_GAMMA, 26, "Auto Detect Gamma", true, SUP),
        Float(PARAM_GAMMA_CORRECTION, 154, "Gamma Correction", 100, {0, 300}, {0, 100}, 2, Percent, SC | SR),
        Button(PARAM_GAMMA_INFO, 28, "Gamma Info", SUP | SR),
        Button(PARAM_RESET_GAMMA, 156, "Reset Gamma", SUP | SR),
        GroupEnd(PARAM_GAMMA_GROUP_END, 29),
        Group(PARAM_ASPECT_GROUP, 30, "Aspect Ratio", SC | SR),
        Float(PARAM_ASPECT_RATIO, 31, "Aspect Ratio", 1, {0, 2}, {0, 2}, 2, Plain, SC | SR),
        Checkbox(PARAM_ENABLE_ANGLE, 32, "Enable Angle", false, SR),
        Angle(PARAM_ASPECT_ANGLE, 33, "Aspect Angle", 0, SR),
        Button(PARAM_RESET_ASPECT_RATIO, 123, "Reset Aspect Ratio", SUP | SR),
        GroupEnd(PARAM_ASPECT_GROUP_END, 34),
        Group(PARAM_ABERRATION_GROUP, 35, "Chromatic Aberration", SC | SR),
        // Disk ID 36 is shared with "Enable Glow Aberration"; stored projects depend on it.
        Checkbox(PARAM_ENABLE_PIXEL_ABERRATION, 36, "Enable Pixel Aberration", false, SR),
        Popup(PARAM_ABERRATION_CHANNELS, 37, "Aberration Channels", 2, "Red & Green|Red & Blue|Green & Blue", SR),
        Float(PARAM_PIXEL_OFFSET, 38, "Pixel Offset", 1, {-1000, 1000}, {-5, 5}, 2, Plain, SC | SR),
        Checkbox(PARAM_ENABLE_GLOW_ABERRATION, 36, "Enable Glow Aberration", false, SR),
        Float(PARAM_MULTIPLY_RED, 97, "Multiply Red", 80, {0, 200}, {50, 150}, 2, Percent, SC | SR),
        Float(PARAM_MULTIPLY_GREEN, 98, "Multiply Green", 100, {0, 200}, {50, 150}, 2, Percent, SC | SR),
        Float(PARAM_MULTIPLY_BLUE, 99, "Multiply Blue", 120, {0, 200}, {50, 150}, 2, Percent, SC | SR),
        Button(PARAM_SHUFFLE_CHANNELS, 100, "Shuffle Channels", SUP | SR),
        Button(PARAM_RESET_ABERRATION, 101, "Reset Aberration", SUP | SR),
        GroupEnd(PARAM_ABERRATION_GROUP_END, 39),
        Group(PARAM_TINT_GROUP, 40, "Tint", SC),
        Popup(PARAM_TINT_MODE, 43, "Tint Mode", 1, "Off|(-|Monocolor|Duocolor"),
        Popup(PARAM_TINT_BLEND_MODE, 67, "Tint Blend Mode", 1, "Multiply|Overlay|Soft Light"),
        Color(PARAM_TINT_COLOR, 42, "Color", PF_Pixel{255, 255, 0, 0}),
        Color(PARAM_TINT_COLOR_OUTER, 66, "Color Outer", PF_Pixel{255, 255, 128, 0}),
        Button(PARAM_SWAP_COLORS, 69, "Swap Colors", SUP | SR),
        Float(PARAM_TINT_STRENGTH, 44, "Tint Strength", 100, {0, 200}, {0, 200}, 2, Percent, SC | SR),
        Button(PARAM_RESET_TINT, 124, "Reset Tint", SUP | SR),
        GroupEnd(PARAM_TINT_GROUP_END, 45),
        Group(PARAM_TONE_MAP_GROUP, 81, "Tone Mapping", SC),
        Popup(PARAM_TONE_MAP_OPERATION, 93, "Operation", 1,
              "None|(-|ACES Filmic|Filmic|Hable Filmic|Reinhard|Reinhard 2|(-|Clamp Chroma"),
        Float(PARAM_TONE_MAP_MIX, 82, "Mix", 100, {0, 100}, {0, 100}, 2, Percent, SC | SR),
        Button(PARAM_RESET_TONE_MAPPING, 125, "Reset Tone Mapping", SUP | SR),
        GroupEnd(PARAM_TONE_MAP_GROUP_END, 83),
        Group(PARAM_LENS_DIRT_GROUP, 85, "Lens Dirt Texture", SC),
        Layer(PARAM_LENS_DIRT_TEXTURE, 86, "Texture", PF_LayerDefault_NONE, SUP),
        Float(PARAM_LENS_DIRT_OPACITY, 88, "Opacity", 100, {0, 100}, {0, 100}, 2, Percent, SC | SR),
        Float(PARAM_LENS_DIRT_INHERIT_COLOR, 148, "Inherit Glow Color", 0, {0, 100}, {0, 100}, 2, Percent, SC | SR),
        Float(PARAM_LENS_DIRT_MATTE_EXPOSURE, 89, "Matte Exposure", 0, {-10, 10}, {-2, 2}, 2, Plain, SC | SR),
        Float(PARAM_LENS_DIRT_MATTE_GAMMA, 90, "Matte Gamma", 1, {0.1f, 5}, {0.1f, 2}, 2, Plain, SC | SR),
        Checkbox(PARAM_LENS_DIRT_REPEAT_EDGES, 120, "Repeat Edges", true, SR),
        Button(PARAM_RESET_LENS_DIRT, 126, "Reset Lens Dirt", SUP | SR),
        GroupEnd(PARAM_LENS_DIRT_GROUP_END, 92),
        GroupEnd(PARAM_STYLE_GROUP_END, 46),

        // Quality
        Group(PARAM_QUALITY_GROUP, 47, "Quality", SC),
        // Both presets are stored under disk ID 48.
        Popup(PARAM_QUALITY_PRESET, 48, "Quality Preset", 3, "Draft|Low|Medium|Standard|High|Extreme|(-|Custom",
              SUP | SR),
        Popup(PARAM_QUALITY_PRESET_IRIS, 48, "Quality Preset Iris", 3, "Draft|Low|Medium|Standard|High|Extreme",
              SUP | SR),
        Checkbox(PARAM_HALF_FLOAT, 94, "Half Float", true, SR),
        Float(PARAM_RESOLUTION, 49, "Resolution", 75, {25, 100}, {25, 100}, 0, Percent, SC | SR),
        Float(PARAM_STEPS_MULTIPLIER, 50, "Steps Multiplier", 0.5, {0.01f, 3}, {0.01f, 1}, 2, Plain, SC | SR),
        Float(PARAM_GLOW_ITERATIONS, 51, "Glow Iterations", 8, {6, 10}, {6, 10}, 0, Plain, SC | SR),
        Popup(PARAM_BUFFER_EXPANSION_MODE, 64, "Buffer Expansion Mode", 1, "Auto|Comp Size", SR),
        Slider(PARAM_AUX_BUFFER_EXPANSION, 65, "Aux Buffer Expansion", 0, {0, 2000}, {0, 500}, SC | SR),
        Button(PARAM_RESET_QUALITY, 127, "Reset Quality", SUP | SR),
        GroupEnd(PARAM_QUALITY_GROUP_END, 52),

        // Output: one setting in two numberings, shown by glow mode
        Popup(PARAM_VIEW_WITH_IRIS, 53, "View", 1,
              "Final Result|Glow Input|(-|View Iris|(-|Lens Dirt Input|Lens Dirt Matte|Lens Dirt Matted", SUP | SR),
        Popup(PARAM_VIEW, 135, "View", 1, "Final Result|Glow Input|(-|Lens Dirt Input|Lens Dirt Matte|Lens Dirt Matted",
              SUP | SR),
        Float(PARAM_SOURCE_OPACITY, 54, "Source Opacity", 100, {0, 100}, {0, 100}, 2, Percent, 0),
        Checkbox(PARAM_UNMULT, 55, "Unmult", true, 0, 0, "(Required for Alpha)"),

        // Debug
        Group(PARAM_DEBUG_GROUP, 56, "Debug"),
        Checkbox(PARAM_PRE_PROC_SOLID_FILL, 155, "Pre Proc Solid Fill", false),
        Float(PARAM_IRIS_SAMPLE_QUALITY, 131, "Iris Sample Quality", 50, {0, 100}, {20, 80}, 0, Percent, SC | SR),
        Popup(PARAM_DEBUG_VIEW, 136, "Debug View", 3, "Blur W|Blur H|None", SR),
        Checkbox(PARAM_DRAW_DIMENSIONS_COMP_UI, 132, "Draw Dimensions Comp UI", false, SR),
        Checkbox(PARAM_SHOW_BUFFERS, 57, "Show Buffers", false, SR),
        Checkbox(PARAM_COUT_PRE_RENDER_RECTS, 114, "cout PreRender Rects", false, SR),
        Checkbox(PARAM_COUT_BUFFER_DIMS, 115, "cout Buffer Dims", false, SR),
        Checkbox(PARAM_SHADERS_PER_FRAME, 137, "Shaders Per Frame", false, SR),
        Popup(PARAM_EDGE_BEHAVIOUR_DEPRECATED, 58, "Edge Behaviour (Deprecated)", 2,
              "Repeat|Mirror Repeat|Clamp to Edge|None", SR),
        Popup(PARAM_RENDERER_DEPRECATED, 102, "Renderer (Deprecated)", 1, "OpenGL|Metal", SR),
        Checkbox(PARAM_METAL_GPU_CAPTURE, 109, "Metal GPU Capture", false, SR),
        Checkbox(PARAM_SIMPLIFIED_EXPOSURE, 143, "Simplified Exposure", true, SR),
        Checkbox(PARAM_IRIS_CULL_SMALL_VALUES, 146, "Iris Cull Small Values", true, SR),
        Float(PARAM_DEBUG_LEFT, 59, "Left", 0, {-5000, 5000}, {0, 100}, 4, Plain, SC | SR),
        Float(PARAM_DEBUG_TOP, 60, "Top", 0, {-5000, 5000}, {0, 100}, 4, Plain, SC | SR),
        Float(PARAM_DEBUG_RIGHT, 61, "Right", 0, {-5000, 5000}, {0, 100}, 4, Plain, SC | SR),
        Float(PARAM_DEBUG_BOTTOM, 62, "Bottom", 0, {-5000, 5000}, {0, 100}, 4, Plain, SC | SR),
        GroupEnd(PARAM_DEBUG_GROUP_END, 63),

        // Deprecated
        Group(PARAM_DEPRECATED_GROUP, 133, "Deprecated", SC, DIS | INV),
        Checkbox(PARAM_DEPRECATED_GAMMA_CORRECTION, 27, "Gamma Correction", false),
        Group(PARAM_ASTIGMATISM_GROUP, 78, "Astigmatism", SC, DIS | INV),
        Checkbox(PARAM_ENABLE_ASTIGMATISM, 70, "Enable Astigmatism", false, CTV | SR, DIS | INV),
        Checkbox(PARAM_FORCE_SQUARE_RATIO, 79, "Force Square Ratio", false, CTV | SR, DIS | INV),
        Checkbox(PARAM_VIEW_FOCAL_POINT, 71, "View Focal Point", false, CTV | SR, DIS | INV),
        Float(PARAM_FOCAL_LENGTH, 72, "Focal Length", 50, {0, 100}, {0, 100}, 2, Percent, SC | SR, DIS | INV),
        Float(PARAM_FOCAL_FALLOFF, 73, "Focal Falloff", 50, {0, 200}, {0, 100}, 2, Percent, SC | SR, DIS | INV),
        GroupEnd(PARAM_ASTIGMATISM_GROUP_END, 80),
        Popup(PARAM_LENS_VIEW, 91, "Lens View", 1, kDeprecatedChoice, CTV, DIS | INV),
        Checkbox(PARAM_VIEW_IRIS_CHECKBOX, 108, "", false, SR, DIS | INV, "View Iris"),
        Checkbox(PARAM_TINT_ENABLE_DEPRECATED, 41, "Enable", false, SR, DIS | INV),
        Popup(PARAM_LENS_DIRT_BLEND_MODE_DEPRECATED, 87, "Blend Mode", 1, "Screen|Add", 0, DIS | INV),
        Checkbox(PARAM_TONE_MAP_ENABLE_DEPRECATED, 84, "Enable", false, 0, DIS | INV),
        Float(PARAM_INNER_OUTER_BIAS, 68, "Inner/Outer Bias", 50, {0, 100}, {0, 100}, 2, Percent, SC | SR, DIS | INV),
        Popup(PARAM_THRESHOLD_MODE, 95, "Threshold Mode", 1, "Standard (Per Channel)|Saturation|Luminance", SR,
              DIS | INV),
        Popup(PARAM_DEPRECATED_1, 6, "Deprecated", 1, kDeprecatedChoice, CTV, DIS | INV),
        Popup(PARAM_DEPRECATED_2, 7, "Deprecated", 1, kDeprecatedChoice, CTV, DIS | INV),
        Popup(PARAM_DEPRECATED_3, 8, "Deprecated", 1, kDeprecatedChoice, CTV, DIS | INV),
        Popup(PARAM_DEPRECATED_4, 9, "Deprecated", 1, kDeprecatedChoice, CTV, DIS | INV),
        // Shares disk ID 107 with "Iris Sampling Quality". The first five choices end in a blank.
        Popup(PARAM_RENDER_QUALITY_QUANTIZATION, 107, "Render Quality (Quantization)", 6,
              "1x (8px) |2x (16px) |3x (32px) |4x (64px) |5x (128px) |6x (256px)|7x (512px)|8x (1024px)", SR),
        GroupEnd(PARAM_DEPRECATED_GROUP_END, 134),
    }};
}

// The rows must stand at their own index: a row out of place would shift every later parameter.
constexpr bool RowsInOrder(const ParamTable& table) {
    for (size_t i = 0; i < table.size(); ++i) {
        if (table[i].index != int(i) + kFirstOwnParam) return false;
    }
    return true;
}

constexpr ParamTable kTable = BuildTable();
static_assert(RowsInOrder(kTable), "every row of the parameter table stands at its own index");

}  // namespace

const ParamTable& Params() { return kTable; }

const ParamSpec& ParamSpecOf(int index) { return Params().at(size_t(index - kFirstOwnParam)); }

A_short CountChoices(const char* choices) {
    if (!choices) return 0;
    A_short count = 1;
    for (const char* c = choices; *c; ++c) count += *c == '|';
    return count;
}

void CopyParamName(A_char (&field)[32], const std::string& text) {
    const size_t n = std::min(text.size(), sizeof field - 1);
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

PF_ParamDef MakeParamDef(const ParamSpec& spec, const std::string* name) {
    PF_ParamDef def;
    std::memset(&def, 0, sizeof def);
    def.uu.id = spec.diskId;
    def.flags = spec.flags;
    def.ui_flags = spec.uiFlags;
    def.ui_width = spec.uiWidth;
    def.ui_height = spec.uiHeight;
    CopyParamName(def.name, name ? *name : std::string(spec.name));

    switch (spec.kind) {
        case ParamKind::GroupStart:
            def.param_type = PF_Param_GROUP_START;
            break;
        case ParamKind::GroupEnd:
            def.param_type = PF_Param_GROUP_END;
            break;
        case ParamKind::NoData:
            def.param_type = PF_Param_NO_DATA;
            break;
        case ParamKind::Button:
            def.param_type = PF_Param_BUTTON;
            def.u.button_d.value = 0;
            def.u.button_d.u.namesptr = spec.text;
            break;
        case ParamKind::Popup:
            def.param_type = PF_Param_POPUP;
            def.u.pd.value = PF_ParamValue(spec.dephault);
            def.u.pd.dephault = A_short(spec.dephault);
            def.u.pd.num_choices = CountChoices(spec.text);
            def.u.pd.u.namesptr = spec.text;
            break;
        case ParamKind::FloatSlider:
            def.param_type = PF_Param_FLOAT_SLIDER;
            def.u.fs_d.value = spec.dephault;
            def.u.fs_d.dephault = PF_FpShort(spec.dephault);
            def.u.fs_d.valid_min = spec.valid.min;
            def.u.fs_d.valid_max = spec.valid.max;
            def.u.fs_d.slider_min = spec.slider.min;
            def.u.fs_d.slider_max = spec.slider.max;
            def.u.fs_d.precision = spec.precision;
            def.u.fs_d.display_flags = spec.percent ? PF_ValueDisplayFlag_PERCENT : PF_ValueDisplayFlag_NONE;
            def.u.fs_d.curve_tolerance = 0.05f;
            def.u.fs_d.exponent = 0;
            def.u.fs_d.fs_flags = 0;
            def.u.fs_d.value_desc = "";
            break;
        case ParamKind::Slider:
            def.param_type = PF_Param_SLIDER;
            def.u.sd.value = PF_ParamValue(spec.dephault);
            def.u.sd.dephault = PF_ParamValue(spec.dephault);
            def.u.sd.valid_min = PF_ParamValue(spec.valid.min);
            def.u.sd.valid_max = PF_ParamValue(spec.valid.max);
            def.u.sd.slider_min = PF_ParamValue(spec.slider.min);
            def.u.sd.slider_max = PF_ParamValue(spec.slider.max);
            break;
        case ParamKind::Checkbox:
            def.param_type = PF_Param_CHECKBOX;
            def.u.bd.value = PF_ParamValue(spec.dephault);
            def.u.bd.dephault = PF_Boolean(spec.dephault != 0);
            def.u.bd.u.nameptr = spec.text ? spec.text : "";
            break;
        case ParamKind::Color:
            def.param_type = PF_Param_COLOR;
            def.u.cd.value = spec.color;
            def.u.cd.dephault = spec.color;
            break;
        case ParamKind::Angle:
            def.param_type = PF_Param_ANGLE;
            def.u.ad.value = PF_Fixed(spec.dephault * 65536.0);
            def.u.ad.dephault = def.u.ad.value;
            break;
        case ParamKind::Layer:
            def.param_type = PF_Param_LAYER;
            def.u.ld.dephault = A_long(spec.dephault);
            break;
    }
    return def;
}
