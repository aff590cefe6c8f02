#include "host/RenderSettings.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "host/Messages.h"
#include "host/Suites.h"
#include "sdk/AEGP_Suites.h"
#include "sdk/AE_EffectSuites.h"

myParams::~myParams() = default;

namespace {

PF_Err Checkout(PF_InData* in_data, int index, PF_ParamDef* def) {
    return in_data->inter.checkout_param(in_data->effect_ref, index, in_data->current_time, in_data->time_step,
                                         in_data->time_scale, def);
}
PF_Err Checkin(PF_InData* in_data, PF_ParamDef* def) { return in_data->inter.checkin_param(in_data->effect_ref, def); }

// Value readers over the copies; a copy that was never made reads as zero.
double FloatValue(const myParams* p, int index) { return p->params[index].u.fs_d.value; }
int PopupValue(const myParams* p, int index) { return p->params[index].u.pd.value; }
int SliderValue(const myParams* p, int index) { return p->params[index].u.sd.value; }
bool CheckboxValue(const myParams* p, int index) { return p->params[index].u.bd.value != 0; }

// The "View" list without the iris view, in the numbering of the list with it.
int ViewFromListWithoutIris(int choice, int fallback) {
    switch (choice) {
        case 1: return kViewFinalResult;
        case 2: return kViewGlowInput;
        case 4: return kViewLensDirtInput;
        case 5: return kViewLensDirtMatte;
        case 6: return kViewLensDirtMatted;
        default: return fallback;
    }
}

// Steps value and resolution scale of an "Exponential" quality preset.
void QualityPreset(const myParams* p, double* steps, float* resolutionScale) {
    switch (p->quality) {
        case 1: *steps = 0.25; *resolutionScale = 0.8f; break;
        case 2: *steps = 0.25; *resolutionScale = 0.85f; break;
        case 3: *steps = 0.33; *resolutionScale = 0.9f; break;
        case 4: *steps = 0.5; *resolutionScale = 0.9f; break;
        case 5: *steps = 0.5; *resolutionScale = 0.97f; break;
        case 6: *steps = 1.0; *resolutionScale = 1.0f; break;
        case kQualityCustom:
            *steps = FloatValue(p, PARAM_STEPS_MULTIPLIER);
            *resolutionScale = float(FloatValue(p, PARAM_RESOLUTION) * 0.01);
            break;
        default: *steps = 0; *resolutionScale = 0; break;
    }
}

void DeriveExponential(myParams* p) {
    double steps = 0;
    QualityPreset(p, &steps, &p->resolutionScale);
    p->stepsMultiplier = float(steps * (1.0 / double(p->downsampleX)));
    p->maxGlowLevels = 10;
    p->reachFactor = 1;

    if (CheckboxValue(p, PARAM_ENABLE_GLOW_ABERRATION)) {
        const int channels[3] = {PARAM_MULTIPLY_RED, PARAM_MULTIPLY_GREEN, PARAM_MULTIPLY_BLUE};
        for (int c = 0; c < 3; ++c) p->channelMultipliers[c] = float(FloatValue(p, channels[c]) * 0.01);
        const float* m = p->channelMultipliers;
        if (m[0] != 1.0f || m[1] != 1.0f || m[2] != 1.0f) {
            p->glowAberration = true;
            p->reachFactor = std::max({m[0], m[1], m[2]});
        }
    }

    p->aspectRatio = float(FloatValue(p, PARAM_ASPECT_RATIO));
    p->aspectMultipliers[0] = p->aspectRatio;
    p->aspectMultipliers[1] = std::fabs(2.0 - double(p->aspectRatio));

    p->enableAngle = CheckboxValue(p, PARAM_ENABLE_ANGLE);
    if (p->enableAngle) {
        float degrees = std::fmod(float(p->params[PARAM_ASPECT_ANGLE].u.ad.value) / 65536.0f, 360.0f);
        if (degrees < 0) degrees += 360.0f;
        p->angleDegrees = degrees;
    }
    p->angleRadians = float(double(p->angleDegrees) * 0.017453292519943295);

    p->radiusXY[0] = double(p->baseRadius) * p->aspectMultipliers[0];
    p->radiusXY[1] = double(p->baseRadius) * p->aspectMultipliers[1];
}

void DeriveLensIris(myParams* p) {
    p->quality = PopupValue(p, PARAM_QUALITY_PRESET_IRIS);
    const int sampling = PopupValue(p, PARAM_IRIS_SAMPLING_QUALITY);
    p->irisSamplingLevel = sampling >= 1 && sampling <= 5 ? 6 - sampling : 3;

    const int n = std::max(SliderValue(p, PARAM_IRIS_ITERATIONS), 1);
    p->maxGlowLevels = n;
    p->radiiEasing = float(FloatValue(p, PARAM_RADII_EASING) * 0.01);
    const float e = p->radiiEasing;
    const float R = p->baseRadius;

    p->irisRadii.assign(size_t(n), R);
    p->irisRadiiEased.assign(size_t(n), R);
    // One iteration is the full radius; the curves below would divide 0 by 0 at t = i / (n - 1).
    if (n == 1) return;

    std::vector<float>& radii = p->irisRadii;
    std::vector<float>& eased = p->irisRadiiEased;
    const float step = R / float(n);
    radii[size_t(n - 1)] = R;
    for (int k = n - 1; k >= 1; --k) radii[size_t(k - 1)] = radii[size_t(k)] - step;

    for (int i = 0; i < n; ++i) {
        const float t = float(i) / float(n - 1);
        if (e >= 0.01f) {
            // Exponential ease-in: the early iterations stay small, the last one reaches R.
            eased[size_t(i)] = t == 0.0f ? 0.0f : float(double(R) * std::pow(2.0, double(10.0f * (t - 1.0f))));
        } else {
            // Exponential ease-out: the radii rise fast and flatten towards R.
            eased[size_t(i)] = t == 1.0f ? R : float(double(R) * (1.0 - std::pow(2.0, double(-10.0f * t))));
        }
    }

    const float w = std::fabs(e);
    for (int k = 0; k < n; ++k) radii[size_t(k)] = (1.0f - w) * radii[size_t(k)] + w * eased[size_t(k)];
}

}  // namespace

long long DirtMirrorPeriod(A_long side, A_long otherSide) {
    return side >= 5 && otherSide >= 5 ? 2LL * (side - 4) : 0;
}

namespace {

// The dirt world's origin less the output's, for a 32-bit field. Two origins far apart can differ by more than
// an int holds: with mirrored repeat only the offset modulo the mirror period matters, so it is reduced by
// whole periods; without it such a layer lies wholly off the frame, which the saturated offset still says.
int32_t DirtOffset(A_long dirtOrigin, A_long outputOrigin, bool mirror, A_long size, A_long otherSize) {
    long long d = (long long)dirtOrigin - (long long)outputOrigin;
    if (d >= INT32_MIN && d <= INT32_MAX) return int32_t(d);
    const long long period = mirror ? DirtMirrorPeriod(size, otherSize) : 0;
    if (period > 0) return int32_t(((d % period) + period) % period);
    return d < 0 ? INT32_MIN : INT32_MAX;
}

void FillLensMirror(myParams* p) {
    if (!p->lens_dirt_worldP) {
        p->lensDirtMode = p->view == kViewLensDirtMatte ? 1 : 0;
        return;
    }
    switch (p->view) {
        case kViewFinalResult: p->lensDirtMode = 3; break;
        case kViewLensDirtInput: p->lensDirtMode = 0; break;
        case kViewLensDirtMatte: p->lensDirtMode = 1; break;
        case kViewLensDirtMatted: p->lensDirtMode = 2; break;
        default: p->lensDirtMode = 0; break;
    }
    lens_mirror_data& m = p->lensMirror;
    const PF_EffectWorld* dirt = p->lens_dirt_worldP;
    const PF_EffectWorld* out = p->output_worldP;
    m.dirt = p->lens_dirt_worldP;
    m.mirror = CheckboxValue(p, PARAM_LENS_DIRT_REPEAT_EDGES);
    m.offsetX = DirtOffset(dirt->origin_x, out ? out->origin_x : 0, m.mirror, dirt->width, dirt->height);
    m.offsetY = DirtOffset(dirt->origin_y, out ? out->origin_y : 0, m.mirror, dirt->height, dirt->width);
    m.opacity = float(FloatValue(p, PARAM_LENS_DIRT_OPACITY) * 0.01);
    const double matteGamma = FloatValue(p, PARAM_LENS_DIRT_MATTE_GAMMA);
    m.matteGammaExp = matteGamma > 0.00001 ? float(1.0 / matteGamma) : 100000.0f;
    m.matteGain = float(FloatValue(p, PARAM_LENS_DIRT_MATTE_EXPOSURE) + 1.0);
    m.inherit = float(FloatValue(p, PARAM_LENS_DIRT_INHERIT_COLOR) * 0.01);
    m.mode = p->lensDirtMode;
}

PF_Err DeriveTint(myParams* p, PF_InData* in_data, const AEGP_SuiteHandler& suites, PF_Err err) {
    p->tintMode = PopupValue(p, PARAM_TINT_MODE);
    p->tintStrength = float(FloatValue(p, PARAM_TINT_STRENGTH) * 0.01);
    if (p->tintStrength < 0.001f || p->tintMode == 1) {
        p->tintStrength = 0;
        p->tintMode = 1;
        return err;
    }
    p->tintBlendMode = PopupValue(p, PARAM_TINT_BLEND_MODE);
    if (!err) {
        const PF_ColorParamSuite1* colors = suites.Get<PF_ColorParamSuite1>(kPFColorParamSuite, 1);
        err = colors->PF_GetFloatingPointColorFromColorDef(in_data->effect_ref, &p->params[PARAM_TINT_COLOR],
                                                           &p->tintColor);
        if (!err) {
            err = colors->PF_GetFloatingPointColorFromColorDef(in_data->effect_ref,
                                                               &p->params[PARAM_TINT_COLOR_OUTER], &p->tintColorOuter);
        }
    }
    // Over-range colours would brighten the glow beyond what the tint strength says.
    for (PF_PixelFloat* c : {&p->tintColor, &p->tintColorOuter}) {
        c->red = std::min(c->red, 1.0f);
        c->green = std::min(c->green, 1.0f);
        c->blue = std::min(c->blue, 1.0f);
    }
    return err;
}

// The effect's layer flags and the working space's gamma. A missing layer, composition or profile ends the
// step quietly; the profile is disposed whenever one was made.
PF_Err ReadLayerAndSceneGamma(myParams* p, PF_InData* in_data, const AEGP_SuiteHandler& suites) {
    AEGP_LayerH layer = nullptr;
    PF_Err err = suites.Get<AEGP_PFInterfaceSuite1>(kAEGPPFInterfaceSuite, 1)->AEGP_GetEffectLayer(in_data->effect_ref,
                                                                                                   &layer);
    if (err || !layer) return err;
    const AEGP_LayerSuite13* layers = suites.Get<AEGP_LayerSuite13>(kAEGPLayerSuite, 13);
    AEGP_LayerFlags flags = 0;
    err = layers->AEGP_GetLayerFlags(layer, &flags);
    if (err) return err;
    p->layerIsAdjustment = (flags & AEGP_LayerFlag_ADJUSTMENT_LAYER) != 0;
    p->layerCollapsed = (flags & AEGP_LayerFlag_COLLAPSE) != 0;
    AEGP_CompH comp = nullptr;
    err = layers->AEGP_GetLayerParentComp(layer, &comp);
    if (err || !comp) return err;
    const PF_ColorSettingsSuite3* colorSettings = suites.Get<PF_ColorSettingsSuite3>(kPFColorSettingsSuite, 3);
    AEGP_ColorProfileP profile = nullptr;
    err = colorSettings->AEGP_GetNewWorkingSpaceColorProfile(0, comp, &profile);
    if (err || !profile) return err;
    A_FpShort gamma = 0;
    err = colorSettings->AEGP_GetColorProfileApproximateGamma(profile, &gamma);
    if (!err) p->gamma = gamma;
    const PF_Err disposeErr = colorSettings->AEGP_DisposeColorProfile(profile);
    return err ? err : disposeErr;
}

}  // namespace

PF_Err PreInitParams(myParams* p, PF_InData* in_data, PF_OutData* /*out_data*/) {
    PF_ParamDef glowMode, viewWithoutIris, viewWithIris;
    std::memset(&glowMode, 0, sizeof glowMode);
    std::memset(&viewWithoutIris, 0, sizeof viewWithoutIris);
    std::memset(&viewWithIris, 0, sizeof viewWithIris);
    struct Attempt {
        int index;
        PF_ParamDef* def;
        bool tried;
    } attempts[3] = {{PARAM_GLOW_MODE, &glowMode, false},
                     {PARAM_VIEW, &viewWithoutIris, false},
                     {PARAM_VIEW_WITH_IRIS, &viewWithIris, false}};

    PF_Err err = PF_Err_NONE;
    for (Attempt& a : attempts) {
        if (err) break;
        a.tried = true;
        err = Checkout(in_data, a.index, a.def);
        if (err) std::memset(a.def, 0, sizeof *a.def);  // a failed checkout reads as zero
    }
    PF_Err checkinErr = PF_Err_NONE;
    for (Attempt& a : attempts) {
        if (!a.tried) continue;
        const PF_Err e = Checkin(in_data, a.def);
        if (!checkinErr) checkinErr = e;
    }

    p->glowMode = glowMode.u.pd.value;
    p->view = viewWithIris.u.pd.value;
    if (p->glowMode != kGlowModeLensIris) p->view = ViewFromListWithoutIris(viewWithoutIris.u.pd.value, p->view);
    return err ? err : checkinErr;
}

PF_Err InitParams(myParams* p, PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra) {
    PF_Err err = PF_Err_NONE;
    PF_Err lastCheckinErr = PF_Err_NONE;

    // 1. Value copies of the parameters. The layer parameters are checked out by the render itself.
    for (int index = kFirstOwnParam; index <= kLastOwnParam && !err; ++index) {
        if (index == PARAM_IRIS_LAYER || index == PARAM_LENS_DIRT_TEXTURE) continue;
        PF_ParamDef* def = &p->params[index];
        const PF_Err checkoutErr = Checkout(in_data, index, def);
        if (checkoutErr) std::memset(def, 0, sizeof *def);
        const PF_Err checkinErr = Checkin(in_data, def);
        lastCheckinErr = checkinErr;
        err = checkoutErr ? checkoutErr : checkinErr;
        if (err && err != PF_Interrupt_CANCEL) {
            LogError("err on param checkout: " + std::to_string(err), in_data);
            SendMessageAppendErr("err on param checkout", out_data, err, checkinErr, true);
            return err;
        }
    }

    // 2. Pixel format of the output.
    if (p->output_worldP) {
        AEFX_SuiteScoper<PF_WorldSuite2> worlds(in_data, kPFWorldSuite, 2, out_data);
        if (!err) {
            const PF_Err formatErr = worlds->PF_GetPixelFormat(p->output_worldP, &p->pixelFormat);
            if (formatErr && formatErr != PF_Interrupt_CANCEL) {
                LogError("err on PF_GetPixelFormat: " + std::to_string(formatErr), in_data);
                SendMessageAppendErr("err on PF_GetPixelFormat", out_data, formatErr, lastCheckinErr, true);
                return formatErr;
            }
            err = formatErr;
        }
    }

    // 3. Lengths follow the host's horizontal downsampling; the vertical factor is not used.
    p->downsampleX = float(in_data->downsample_x.num) / float(in_data->downsample_x.den);
    p->baseRadius = float(FloatValue(p, PARAM_RADIUS) * double(p->downsampleX));
    if (extra && extra->input) p->bitDepth = extra->input->bitdepth;

    // 4. Debug switches; "Simplified Exposure" and "Iris Cull Small Values" are always on.
    p->coutPreRenderRects = CheckboxValue(p, PARAM_COUT_PRE_RENDER_RECTS);
    p->debugView = PopupValue(p, PARAM_DEBUG_VIEW);
    p->cullSmallValues = true;
    p->simpleExposure = true;

    // 5.
    p->quality = PopupValue(p, PARAM_QUALITY_PRESET);
    p->bufferExpansionMode = PopupValue(p, PARAM_BUFFER_EXPANSION_MODE);
    p->auxExpansion = int32_t(std::ceil(p->downsampleX * float(SliderValue(p, PARAM_AUX_BUFFER_EXPANSION))));

    // 6. Pixel aberration.
    p->pixelOffset = float(FloatValue(p, PARAM_PIXEL_OFFSET) * double(p->downsampleX));
    p->aberrationMode = PopupValue(p, PARAM_ABERRATION_CHANNELS);
    if (p->pixelOffset == 0.0f || !CheckboxValue(p, PARAM_ENABLE_PIXEL_ABERRATION)) {
        p->pixelOffset = 0;
        p->aberrationMode = 0;
    }

    // 7.
    p->maskMode = PopupValue(p, PARAM_MASK_MODE);
    p->maskInvert = CheckboxValue(p, PARAM_MASK_INVERT);

    // 8, 9.
    if (p->glowMode != kGlowModeLensIris) {
        DeriveExponential(p);
    } else {
        DeriveLensIris(p);
    }

    // 10. Both modes.
    p->halfFloat = CheckboxValue(p, PARAM_HALF_FLOAT);
    p->threshold = float(FloatValue(p, PARAM_THRESHOLD) * 0.01);
    p->satBias = float(FloatValue(p, PARAM_SATURATION_BIAS) * 0.01);
    p->thresholdSmooth = std::max(float(FloatValue(p, PARAM_THRESHOLD_SMOOTH) * 0.01), 0.001f);
    p->blendMode = PopupValue(p, PARAM_BLEND_MODE);
    p->exposure = std::max(float(FloatValue(p, PARAM_EXPOSURE)), 0.001f);

    FillLensMirror(p);
    p->edgeBehaviour = p->enableAngle ? kGL_CLAMP_TO_BORDER : kGL_MIRRORED_REPEAT;

    p->toneMapOperation = PopupValue(p, PARAM_TONE_MAP_OPERATION);
    p->toneMapMix = float(FloatValue(p, PARAM_TONE_MAP_MIX) * 0.01);
    if (p->toneMapMix <= 0.001f) p->toneMapOperation = 1;

    const double sourceOpacity = FloatValue(p, PARAM_SOURCE_OPACITY);
    p->sourceOpacity = float(sourceOpacity * 0.01);
    p->sourceOpacityByte = uint8_t(std::clamp(std::ceil(sourceOpacity * 2.55), 0.0, 255.0));
    p->unmult = CheckboxValue(p, PARAM_UNMULT);

    AEGP_SuiteHandler suites(in_data->pica_basicP);
    err = DeriveTint(p, in_data, suites, err);

    p->thresholdSmooth = std::min(p->thresholdSmooth, p->threshold);
    p->autoDetectGamma = CheckboxValue(p, PARAM_AUTO_DETECT_GAMMA);

    if (!err) err = ReadLayerAndSceneGamma(p, in_data, suites);
    // Un-multiplying a low-gamma scene is judged on the scene's own gamma, whatever gamma the glow uses.
    p->unmultLowGamma = p->unmult && p->gamma < 1.6f;
    if (!p->autoDetectGamma) p->gamma = float(FloatValue(p, PARAM_GAMMA_CORRECTION) * 0.01 * 1.2 + 1.0);
    p->gammaCorrect = p->gamma > 1.01f;

    if (p->output_worldP && p->glowMode == kGlowModeExponential) CalcBloomDownsampleDims(p);

    // "Comp Size" holds only on collapsed layers.
    if (p->view == kViewIris || p->view == kViewLensDirtInput) p->bufferExpansionMode = 2;
    if (!p->layerCollapsed) p->bufferExpansionMode = 1;
    return err;
}
