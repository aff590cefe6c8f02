// The "Lens Iris" glow on the GPU: the glow source placed into the output world and uploaded, pre-processed
// into buffer 0, halved into a few smaller buffers, each iteration convolved with the iris by the blur library
// from its buffer into its own level target, the level targets blended together from the last to the first,
// and the sum post-processed and read back.
//
//   output world ──upload──▶ pre-process ──▶ B0 ──down──▶ B1 ──down──▶ … B(count-1)
//   iteration i:   B[bufIdx[i]] ──iris blur, radius irisRadii[i] · scale──▶ L[i]   (L[i] has B[bufIdx[i]]'s size)
//   combine:       L[n-1] ─copy or up+─▶ L[n-2] ─ … ─▶ L[0] ──post──▶ final ──▶ output world
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "gl/GLContext.h"
#include "host/Messages.h"
#include "host/Suites.h"
#include "render/ChainCommon.h"
#include "render/CpuPasses.h"
#include "render/LensIrisChain.h"
#include "render/PassChains.h"
#include "render/PreRender.h"
#include "render/UniformSenders.h"
#include "sdk/AE_EffectSuites.h"

namespace {

// The pace at which iterations move to smaller buffers: iteration i uses buffer floor(i / div) + off.
struct IrisBufferPace {
    float div;
    float off;
};

IrisBufferPace PaceOf(int quality) {
    switch (quality) {
        case 1: return {2, 2};   // "Draft"
        case 2: return {3, 1};   // "Low"
        case 3: return {4, 1};   // "Medium"
        case 4: return {5, 0};   // "Standard"
        case 5: return {6, 0};   // "High"
        case 6: return {20, 0};  // "Extreme"
        default: return {1, 0};
    }
}

// Gamma-corrects the iris layer into iris_gamma_world and hands that to the blur library in its place, the
// layer itself being checked in at once. Without the new world's pixels (a failed or interrupted allocation)
// the layer stays checked out and is used as it is: a world without pixels must never reach the library.
void GammaCorrectIris(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra, myParams* p) {
    if (!p->gammaCorrect || !p->iris_worldP) return;
    PF_EffectWorld* iris = p->iris_worldP;
    bool usable = false;
    {
        AEFX_SuiteScoper<PF_WorldSuite2> worldSuite(in_data, kPFWorldSuite, kPFWorldSuiteVersion2, out_data);
        const PF_Err alloc = worldSuite->PF_NewWorld(in_data->effect_ref, iris->width, iris->height, true,
                                                     p->pixelFormat, &p->iris_gamma_world);
        p->iris_gamma_world.width = iris->width;
        p->iris_gamma_world.height = iris->height;
        p->iris_gamma_world.extent_hint = iris->extent_hint;
        p->iris_gamma_world.origin_x = iris->origin_x;
        p->iris_gamma_world.origin_y = iris->origin_y;
        if (alloc == PF_Err_NONE && p->iris_gamma_world.data) {
            float exponent = p->gamma;
            AEGP_SuiteHandler suites(in_data->pica_basicP);
            // The iteration's result is not used: a partly corrected iris still shapes the glow.
            if (p->bitDepth == 32) {
                (void)suites.IterateFloatSuite1()->iterate(in_data, 0, iris->height, iris, nullptr, &exponent,
                                                           GammaIris32, &p->iris_gamma_world);
            } else {
                (void)suites.Iterate8Suite1()->iterate(in_data, 0, iris->height, iris, nullptr, &exponent,
                                                       GammaIris8, &p->iris_gamma_world);
            }
            usable = true;
        } else if (alloc != PF_Interrupt_CANCEL) {
            LogError("error on allocating iris_gamma_world of dims " + std::to_string(iris->width) + ", " +
                         std::to_string(iris->height) + ", err code of " + std::to_string(alloc),
                     in_data);
        }
    }
    if (usable) {
        extra->cb->checkin_layer_pixels(in_data->effect_ref, kCheckoutIris);
        p->iris_worldP = &p->iris_gamma_world;
    }
}

void SetTexture(PF_Err err, UniformMap& map, PX_FBO2& source) {
    if (!err) map["videoTexture"] = TEX2D(source.GetTAO());
}

bool SameSize(const PX_FBO2& a, const PX_FBO2& b) { return a.m_widthLu == b.m_widthLu && a.m_heightLu == b.m_heightLu; }

}  // namespace

IrisBufferPlan PlanIrisBuffers(int W, int H, int iterations, int quality) {
    const int n = std::max(iterations, 1);
    IrisBufferPlan plan;
    // Shorter sides under 40 pixels allow no halving (and under 20 none at all): one full-size buffer.
    plan.res = std::max(std::min({calculateSafeIterations(W, H, 20), n, 5}), 1);

    const IrisBufferPace pace = PaceOf(quality);
    plan.bufIdx.resize(size_t(n));
    int largest = 0;
    for (int i = 0; i < n; ++i) {
        const float b = std::min(std::floor(float(i) / pace.div) + pace.off, float(plan.res - 1));
        plan.bufIdx[size_t(i)] = int(b);
        largest = std::max(largest, plan.bufIdx[size_t(i)]);
    }
    const int count = std::min(std::max(1, largest) + 1, plan.res);

    float scale = 1.0f;
    for (int k = 0; k < count; ++k) {
        bloomMip buffer;
        buffer.scale = scale;
        buffer.width = int(std::ceil(float(W) * scale));
        buffer.height = int(std::ceil(float(H) * scale));
        plan.buffers.push_back(buffer);
        scale *= 0.5f;
    }
    return plan;
}

IrisBlurCalls DefaultIrisBlurCalls() {
    return IrisBlurCalls{CreateOstrabelImageCacheGL, OstrabelGL, OstrabelDisposeBlurCacheGL};
}

IrisBlurCalls& IrisBlurCallsForTesting() {
    static IrisBlurCalls calls = DefaultIrisBlurCalls();
    return calls;
}

PF_Err RenderLensIrisChain(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra, myParams* p,
                           PF_Err err) {
    PF_EffectWorld* source = p->glowSourceWorldP;
    PF_EffectWorld* output = p->output_worldP;
    {
        // Host calls only, up to the thread's GL state.
        const GLWorkPause pause;
        // The gamma world is made even after a failure: the render's release step owns it either way.
        GammaCorrectIris(in_data, out_data, extra, p);
        if (err) return err;
        const A_long dx = source->origin_x - output->origin_x, dy = source->origin_y - output->origin_y;
        PF_Rect destination{};
        destination.left = dx;
        destination.top = dy;
        destination.right = dx + source->width;
        destination.bottom = dy + source->height;
        err = in_data->utils->copy(in_data->effect_ref, source, output, nullptr, &destination);
    }

    InitThreadLocalRenderData(in_data, out_data);
    const LocalGLStruct* state = local_render_data.get();
    if (!state) {
        const char* text = "error on local_render_data.get()";
        LogError(text, in_data);
        SendMessageAppendErr(text, out_data, err, 0, true);
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    SetCurrentContext(state->gl_ctx);
    if (!state->gl_ctx || !state->blur_ctx) {
        const char* text = "!local_render_data->gl_ctx || !local_render_data->blur_ctx";
        LogError(text, in_data);
        SendMessageAppendErr(text, out_data, err, 0, true);
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }

    const int n = std::max(p->maxGlowLevels, 1);
    const IrisBufferPlan plan = PlanIrisBuffers(output->width, output->height, n, p->quality);
    const int count = int(plan.buffers.size());
    const GLint format = ChainTargetFormat(*p);
    const int wrap = p->edgeBehaviour;

    BlendingOffAtExit blendingOff;
    PX_FBO2 finalTarget, upload;
    // Exactly the targets that exist are deleted, by these owners, on every path.
    std::vector<PX_FBO2> buffers(static_cast<size_t>(count)), levels(static_cast<size_t>(n));
    const unsigned W = unsigned(output->width), H = unsigned(output->height);
    err = CreateChainTarget(err, finalTarget, in_data, W, H, wrap, format);
    err = CreateChainTarget(err, upload, in_data, W, H, wrap, format);
    for (int k = 0; k < count; ++k)
        err = CreateChainTarget(err, buffers[k], in_data, unsigned(plan.buffers[k].width),
                                unsigned(plan.buffers[k].height), wrap, format);
    for (int i = 0; i < n; ++i) {
        const bloomMip& b = plan.buffers[size_t(plan.bufIdx[i])];
        err = CreateChainTarget(err, levels[i], in_data, unsigned(b.width), unsigned(b.height), wrap, format);
    }

    if (!err) err = upload.UploadToTexture(output, p->bitDepth, p->halfFloat);
    UniformMap map;
    SetTexture(err, map, upload);
    SendPreProcUniforms(map, *p);
    err = DrawChainPass(err, buffers[0], *state, PRE_PROC_IDENTITY_P, map);
    upload.DeleteGenericFBO();

    if (p->view == kViewGlowInput) {
        if (err) return err;
        glFinish();
        return FBOtoEffectWorld(in_data, buffers[0].GetFBO(), output, p->bitDepth, p->halfFloat);
    }

    for (int k = 1; k < count; ++k) {
        UniformMap down;
        SetTexture(err, down, buffers[k - 1]);
        down["srcResolution"] = VEC2({float(plan.buffers[k].width), float(plan.buffers[k].height)});
        err = DrawChainPass(err, buffers[k], *state, DOWNSAMPLE_P, down);
    }

    const IrisBlurCalls& blurCalls = IrisBlurCallsForTesting();
    for (int i = 0; i < n && !err; ++i) {
        const int b = plan.bufIdx[i];
        const bloomMip& buffer = plan.buffers[size_t(b)];
        char reason[1024] = {};
        void* cache = blurCalls.createCache(in_data, state->blur_ctx, 8, p->iris_worldP, 50, 1, buffers[b].GetFBO(),
                                            buffer.width, buffer.height, reason, 1023);
        SettleGLWork();  // the library reads the level back, and may blit to do it
        if (!cache) {
            // The library's reason, cut to what the message holds; the frame goes on without this iteration.
            const int written = std::snprintf(out_data->return_msg, 255, "Error: %s\n", reason);
            (void)written;
        }
        const float radius = size_t(i) < p->irisRadii.size() ? p->irisRadii[size_t(i)] : 0.0f;
        blurCalls.blur(cache, p->irisSamplingLevel, levels[i].GetFBO(), buffer.width, buffer.height,
                       radius * buffer.scale);
        SettleGLWork();  // the library uploads and blits the blurred level
        blurCalls.dispose(cache);
    }

    BlendingOn(p->blendMode);
    for (int k = n - 1; k >= 1; --k) {
        UniformMap combine;
        combine["halfFloatB"] = IVEC(p->halfFloat ? 1 : 0);
        SetTexture(err, combine, levels[k]);
        if (SameSize(levels[k], levels[k - 1])) {
            combine["cull_small_valuesB"] = IVEC(p->cullSmallValues ? 1 : 0);
            err = DrawChainPass(err, levels[k - 1], *state, IDENTITY, combine);
        } else {
            combine["in_res"] = VEC2(TargetSize(levels[k]));
            combine["out_res"] = VEC2(TargetSize(levels[k - 1]));
            err = DrawChainPass(err, levels[k - 1], *state, UPSAMPLE_P, combine);
        }
    }
    BlendingOff();

    map.clear();
    SetTexture(err, map, levels[0]);
    SendPostProcUniforms(map, *p);
    err = DrawChainPass(err, finalTarget, *state, POST_PROC_P, map);
    if (err) return err;
    glFinish();
    return finalTarget.FBOtoEffectWorld(output, p->bitDepth, p->halfFloat);
}
