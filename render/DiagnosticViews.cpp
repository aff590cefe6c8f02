#include "render/DiagnosticViews.h"

#include <initializer_list>
#include <string>

#include "host/Suites.h"
#include "render/CpuPasses.h"
#include "render/WarningText.h"
#include "sdk/AE_EffectSuites.h"

namespace {

constexpr const char* kWarningTitle = "Velloran 2 warning:";
constexpr const char* kNoIrisLayer = "but no iris layer supplied.";
constexpr const char* kNoLensDirtLayer = "but no lens dirt layer supplied.";
constexpr const char* kIrisMakesMatte = "Iris required to produce matte for lens dirt";
const std::string kRequested = "User requested to view ";

// Full-resolution distance of warning line n (0 first) below the first; DrawString scales it.
double LineOffset(int n) { return 40.0 * n; }

// Every line is drawn whatever the ones before it returned: the lens-dirt views show all they can.
void DrawAllLines(myParams* p, PF_InData* in_data, PF_OutData* out_data, std::initializer_list<std::string> lines) {
    int n = 0;
    for (const std::string& line : lines) {
        DrawString(p, in_data, out_data, line, p->output_worldP, LineOffset(n++), 1.0);
    }
}

// Lines in order while each succeeds; the result is that of the last line drawn.
PF_Err DrawLinesUntilFailure(myParams* p, PF_InData* in_data, PF_OutData* out_data,
                             std::initializer_list<std::string> lines) {
    PF_Err err = PF_Err_NONE;
    int n = 0;
    for (const std::string& line : lines) {
        err = DrawString(p, in_data, out_data, line, p->output_worldP, LineOffset(n++), 1.0);
        if (err) break;
    }
    return err;
}

PF_Err CopyLensDirt(myParams* p, PF_InData* in_data) {
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    PF_EffectWorld* output = p->output_worldP;
    // Every output pixel is replaced by the dirt sample for its position; no source world is read.
    if (p->bitDepth == 8) {
        return suites.Iterate8Suite1()->iterate(in_data, 0, output->height, nullptr, nullptr, &p->lensMirror,
                                                MirrorRepeat8, output);
    }
    return suites.IterateFloatSuite1()->iterate(in_data, 0, output->height, nullptr, nullptr, &p->lensMirror,
                                                MirrorRepeat32, output);
}

PF_Err ShowIris(myParams* p, PF_InData* in_data) {
    PF_EffectWorld* output = p->output_worldP;
    const PF_EffectWorld* iris = p->iris_worldP;
    // The iris shows at its own place; what it does not cover is opaque black, not the cleared output.
    const PF_Pixel black = {255, 0, 0, 0};
    in_data->utils->fill(in_data->effect_ref, &black, nullptr, output);

    PF_CompositeMode mode{};
    mode.xfer = PF_Xfer_IN_FRONT;
    mode.rand_seed = 0;
    mode.opacity = 255;
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    return suites.WorldTransformSuite1()->transfer_rect(in_data->effect_ref, in_data->quality, PF_MaskFlag_NONE,
                                                        in_data->field, &iris->extent_hint, iris, &mode, nullptr,
                                                        iris->origin_x - output->origin_x,
                                                        iris->origin_y - output->origin_y, output);
}

}  // namespace

PF_Err RenderLensDirtView(myParams* p, PF_InData* in_data, PF_OutData* out_data) {
    const bool hasDirt = p->lens_dirt_worldP != nullptr;
    if (p->view == kViewLensDirtInput) {
        p->viewDone = true;
        if (hasDirt) return CopyLensDirt(p, in_data);
        DrawAllLines(p, in_data, out_data, {kWarningTitle, kRequested + "lens dirt,", kNoLensDirtLayer});
        return PF_Err_NONE;
    }
    if (p->view == kViewLensDirtMatted && !hasDirt) {
        DrawAllLines(p, in_data, out_data, {kWarningTitle, kRequested + "lens dirt matted,", kNoLensDirtLayer});
        p->viewDone = true;
        return PF_Err_NONE;
    }
    // The matte comes from the glow, which in "Lens Iris" mode needs the iris; otherwise the frame renders and
    // the lens-dirt pass produces the matte or the matted dirt.
    const bool matteView = p->view == kViewLensDirtMatte || p->view == kViewLensDirtMatted;
    if (matteView && p->glowMode == kGlowModeLensIris && !p->iris_worldP) {
        const std::string what = p->view == kViewLensDirtMatte ? "lens dirt matte," : "lens dirt matted,";
        DrawAllLines(p, in_data, out_data, {kWarningTitle, kRequested + what, kNoIrisLayer, kIrisMakesMatte});
        p->viewDone = true;
    }
    return PF_Err_NONE;
}

PF_Err RenderIrisView(myParams* p, PF_InData* in_data, PF_OutData* out_data) {
    if (p->view == kViewFinalResult) {
        if (p->iris_worldP) return PF_Err_NONE;
        p->viewDone = true;
        return DrawLinesUntilFailure(p, in_data, out_data,
                                     {kWarningTitle, "User requested to view final result,", kNoIrisLayer});
    }
    if (p->view == kViewIris) {
        p->viewDone = true;
        if (p->iris_worldP) return ShowIris(p, in_data);
        return DrawLinesUntilFailure(p, in_data, out_data,
                                     {kWarningTitle, "User requested to view iris input,", kNoIrisLayer});
    }
    return PF_Err_NONE;
}
