// The "Exponential" glow on the GPU: the glow source pre-processed into an output-sized target, then either
// the preset pyramid or the "Custom" sum, post-processed into the same target and read back.
//
// Preset pyramid (n levels, level k of bloomMips[k]'s size, each no larger than the one above):
//
//   pre ──down──▶ D0 ──down──▶ D1 ── … ──▶ D(n-1)
//                 │ blur x, y  │           │
//                 ▼            ▼           ▼
//                 H0 ◀──up+── H1 ◀─ … ◀──up+── H(n-1)       (each up-draw blended onto the level's own blur)
//                 │
//                 └──post──▶ pre ──▶ output world
//
// "Custom" (and "Extreme"): every level blurred from one source S at level 0's size and blended into one
// accumulation target, which is resampled to the output's size unless level 0 already has it.
#include <algorithm>
#include <vector>

#include "host/Messages.h"
#include "render/ChainCommon.h"
#include "render/PassChains.h"
#include "render/UniformSenders.h"

namespace {

struct ExponentialFrame {
    PF_InData* in_data;
    myParams* p;
    const LocalGLStruct& state;
    GLint format;
    int wrap;  // edgeBehaviour
};

void SetTexture(PF_Err err, UniformMap& map, PX_FBO2& source) {
    // Only while the frame is sound: a target that failed to be made has no texture to name.
    if (!err) map["videoTexture"] = TEX2D(source.GetTAO());
}

// Upload, then pre-process into `pre` (output size): by xform, or, with pixel aberration, from an
// output-sized copy at the source's integer offset (the aberration shifts then sample around the source).
PF_Err PreProcess(const ExponentialFrame& f, PX_FBO2& pre, PF_Err err) {
    myParams* p = f.p;
    PF_EffectWorld* source = p->glowSourceWorldP;
    PF_EffectWorld* output = p->output_worldP;
    PX_FBO2 upload;
    err = CreateChainTarget(err, pre, f.in_data, unsigned(output->width), unsigned(output->height), f.wrap, f.format);
    err = CreateChainTarget(err, upload, f.in_data, unsigned(source->width), unsigned(source->height),
                            GL_CLAMP_TO_BORDER, f.format);
    if (!err) err = ChainAbortCheck(f.in_data);
    if (!err) err = upload.UploadToTexture(source, p->bitDepth, p->halfFloat);

    UniformMap map;
    if (p->aberrationMode == 0) {
        SetTexture(err, map, upload);
        map["xform"] = MAT44(p->xform);
        SendPreProcUniforms(map, *p);
        err = DrawChainPass(err, pre, f.state, PRE_PROC_XFORM_P, map);
        upload.DeleteGenericFBO();
        return err;
    }

    PX_FBO2 blit;
    err = CreateChainTarget(err, blit, f.in_data, unsigned(output->width), unsigned(output->height),
                            GL_CLAMP_TO_BORDER, f.format);
    if (!err) {
        const GLint sw = source->width, sh = source->height;
        const GLint dx = source->origin_x - output->origin_x, dy = source->origin_y - output->origin_y;
        glBindFramebuffer(GL_READ_FRAMEBUFFER, upload.GetFBO());
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, blit.GetFBO());
        glBlitFramebuffer(0, 0, sw, sh, dx, dy, dx + sw, dy + sh, GL_COLOR_BUFFER_BIT, GL_LINEAR);
        SettleGLWork();
        glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    }
    upload.DeleteGenericFBO();
    SetTexture(err, map, blit);
    SendPreProcUniforms(map, *p);
    err = DrawChainPass(err, pre, f.state, PRE_PROC_IDENTITY_P, map);
    blit.DeleteGenericFBO();
    return err;
}

PF_Err ReadBack(const ExponentialFrame& f, PX_FBO2& pre, PF_Err err) {
    if (err) return err;
    return pre.FBOtoEffectWorld(f.p->output_worldP, f.p->bitDepth, f.p->halfFloat);
}

PF_Err PresetStructure(const ExponentialFrame& f, PX_FBO2& pre, int n, PF_Err err) {
    myParams* p = f.p;
    const std::vector<bloomMip>& mips = p->bloomMips;
    const size_t levels = size_t(n);
    std::vector<PX_FBO2> widthTargets(levels), downTargets(levels), levelTargets(levels);
    for (int k = 0; k < n; ++k) {
        const unsigned w = unsigned(mips[k].width), h = unsigned(mips[k].height);
        err = CreateChainTarget(err, widthTargets[k], f.in_data, w, h, f.wrap, f.format);
        err = CreateChainTarget(err, downTargets[k], f.in_data, w, h, f.wrap, f.format);
        err = CreateChainTarget(err, levelTargets[k], f.in_data, w, h, f.wrap, f.format);
    }
    if (!err) err = ChainAbortCheck(f.in_data);

    UniformMap map;
    for (int k = 0; k < n; ++k) {
        SetTexture(err, map, k == 0 ? pre : downTargets[k - 1]);
        map["srcResolution"] = VEC2({float(mips[k].width), float(mips[k].height)});
        err = DrawChainPass(err, downTargets[k], f.state, DOWNSAMPLE_P, map);
    }

    for (int k = 0; k < n; ++k) {
        if (!err) err = ChainAbortCheck(f.in_data);
        SendBlurUniforms(map, *p, 1, k);
        SetTexture(err, map, downTargets[k]);
        err = DrawChainPass(err, widthTargets[k], f.state, BLUR_UNIFIED_P, map);
        downTargets[k].DeleteGenericFBO();
        SetTexture(err, map, widthTargets[k]);
        SendBlurUniforms(map, *p, 0, k);
        err = DrawChainPass(err, levelTargets[k], f.state, BLUR_UNIFIED_P, map);
        widthTargets[k].DeleteGenericFBO();
    }

    if (!err) err = pre.ClearFBO2();
    BlendingOn(p->blendMode);
    if (!err) err = ChainAbortCheck(f.in_data);
    for (int k = n - 1; k >= 1; --k) {
        UniformMap up;
        SendUpsampleUniforms(up, *p, {float(mips[k].width), float(mips[k].height)},
                             {float(mips[k - 1].width), float(mips[k - 1].height)});
        SetTexture(err, up, levelTargets[k]);
        err = DrawChainPass(err, levelTargets[k - 1], f.state, UPSAMPLE_P, up);
    }
    BlendingOff();

    map.clear();
    SetTexture(err, map, levelTargets[0]);
    SendPostProcUniforms(map, *p);
    err = DrawChainPass(err, pre, f.state, POST_PROC_P, map);
    if (!err) glFinish();
    if (!err) err = ChainAbortCheck(f.in_data);
    return ReadBack(f, pre, err);
}

PF_Err CustomStructure(const ExponentialFrame& f, PX_FBO2& pre, int n, PF_Err err) {
    myParams* p = f.p;
    const bloomMip& level0 = p->bloomMips[0];
    const unsigned w0 = unsigned(level0.width), h0 = unsigned(level0.height);
    // Written as a negation so that a NaN scale also resamples.
    const bool resampled = !(p->resolutionScale == 1.0f);

    UniformMap map;
    PX_FBO2 level0Target;
    PX_FBO2* blurSource = &pre;
    if (resampled) {
        err = CreateChainTarget(err, level0Target, f.in_data, w0, h0, f.wrap, f.format);
        SetTexture(err, map, pre);
        map["srcResolution"] = VEC2({float(level0.width), float(level0.height)});
        err = DrawChainPass(err, level0Target, f.state, DOWNSAMPLE_P, map);
        blurSource = &level0Target;
    }

    PX_FBO2 widthTarget, accumulation, upsampled;
    err = CreateChainTarget(err, widthTarget, f.in_data, w0, h0, f.wrap, f.format);
    err = CreateChainTarget(err, accumulation, f.in_data, w0, h0, f.wrap, f.format);
    err = CreateChainTarget(err, upsampled, f.in_data, unsigned(p->output_worldP->width),
                            unsigned(p->output_worldP->height), GL_CLAMP_TO_BORDER, f.format);

    for (int k = 0; k < n; ++k) {
        if (!err) err = ChainAbortCheck(f.in_data);
        SetTexture(err, map, *blurSource);
        SendBlurUniforms(map, *p, 1, k);
        err = DrawChainPass(err, widthTarget, f.state, BLUR_UNIFIED_P, map);
        BlendingOn(p->blendMode);
        SetTexture(err, map, widthTarget);
        SendBlurUniforms(map, *p, 0, k);
        err = DrawChainPass(err, accumulation, f.state, BLUR_UNIFIED_P, map);
        BlendingOff();
    }
    level0Target.DeleteGenericFBO();
    widthTarget.DeleteGenericFBO();

    PX_FBO2* glow = &accumulation;
    if (resampled) {
        UniformMap up;
        SendUpsampleUniforms(up, *p, TargetSize(accumulation), TargetSize(upsampled));
        SetTexture(err, up, accumulation);
        err = DrawChainPass(err, upsampled, f.state, UPSAMPLE_P, up);
        accumulation.DeleteGenericFBO();
        glow = &upsampled;
    }

    if (!err) err = ChainAbortCheck(f.in_data);
    if (!err) err = pre.ClearFBO2();
    map.clear();
    SetTexture(err, map, *glow);
    SendPostProcUniforms(map, *p);
    err = DrawChainPass(err, pre, f.state, POST_PROC_P, map);
    if (!err) glFinish();
    return ReadBack(f, pre, err);
}

}  // namespace

PF_Err RenderExponentialChain(PF_InData* in_data, PF_OutData* out_data, myParams* p, PF_Err err) {
    if (err) return err;
    const bool custom = p->quality == kQualityCustom;

    InitThreadLocalRenderData(in_data, out_data);
    const LocalGLStruct* state = local_render_data.get();
    if (!state || !state->gl_ctx) {
        const char* text = "error on local_render_data.get()";
        if (!custom) LogError(text, in_data);
        SendMessageAppendErr(text, out_data, 0, 0, true);
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    // The level chain always has a level in this mode; a record without one would index nothing below.
    const int n = std::min<int>(p->maxGlowLevels, int(p->bloomMips.size()));
    if (n < 1) {
        LogError("RenderExponentialChain: no glow level", in_data);
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }

    const ExponentialFrame frame{in_data, p, *state, ChainTargetFormat(*p), p->edgeBehaviour};
    // Declared before the targets, so blending is off again before and after they are deleted, on every path.
    BlendingOffAtExit blendingOff;
    PX_FBO2 pre;
    err = PreProcess(frame, pre, err);
    if (p->view == kViewGlowInput) {
        if (!err) glFinish();
        return ReadBack(frame, pre, err);
    }
    return custom ? CustomStructure(frame, pre, n, err) : PresetStructure(frame, pre, n, err);
}
