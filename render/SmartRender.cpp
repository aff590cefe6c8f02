#include "render/SmartRender.h"

#include <string>

#include <glm/glm.hpp>
#include <glm/gtc/matrix_transform.hpp>

#include "gl/GLContext.h"
#include "host/Handlers.h"
#include "host/Messages.h"
#include "host/Suites.h"
#include "render/CpuPasses.h"
#include "render/DiagnosticViews.h"
#include "render/PassChains.h"
#include "render/PreRender.h"
#include "sdk/AE_EffectSuites.h"

namespace {

PF_Err AbortCheck(PF_InData* in_data) {
    return in_data->inter.abort ? in_data->inter.abort(in_data->effect_ref) : PF_Err_NONE;
}

bool HasPixels(const PF_EffectWorld* world) { return world && world->width > 0 && world->height > 0; }

// Disposes the render's temporary worlds exactly once: at the end of the frame through Finish, which returns
// the disposal's result, or, when a host code is thrown mid-frame, while the stack unwinds. The world suite for
// the disposal is acquired before any temporary world exists (a host without it fails the frame right there,
// as the disposal would have at its end), so a world once made can always be given back.
class TemporaryWorldsRelease {
public:
    TemporaryWorldsRelease(myParams* p, PF_InData* in_data, PF_OutData* out_data)
        : p_(p), in_data_(in_data), out_data_(out_data), worldSuite_(in_data, kPFWorldSuite, kPFWorldSuiteVersion2) {}
    ~TemporaryWorldsRelease() {
        if (!done_) ReleaseCPU(p_, in_data_, out_data_, worldSuite_.get());
    }
    TemporaryWorldsRelease(const TemporaryWorldsRelease&) = delete;
    TemporaryWorldsRelease& operator=(const TemporaryWorldsRelease&) = delete;

    PF_Err Finish() {
        done_ = true;
        return ReleaseCPU(p_, in_data_, out_data_, worldSuite_.get());
    }

private:
    myParams* p_;
    PF_InData* in_data_;
    PF_OutData* out_data_;
    AEFX_SuiteScoper<PF_WorldSuite2> worldSuite_;
    bool done_ = false;
};

// Checks the mask layer in when masking ends, also when a host code is thrown during the transfer, so the
// host never holds the mask checked out past the masking step.
class MaskCheckin {
public:
    MaskCheckin(PF_InData* in_data, PF_SmartRenderExtra* extra) : in_data_(in_data), extra_(extra) {}
    ~MaskCheckin() {
        if (!done_) extra_->cb->checkin_layer_pixels(in_data_->effect_ref, kCheckoutMask);
    }
    MaskCheckin(const MaskCheckin&) = delete;
    MaskCheckin& operator=(const MaskCheckin&) = delete;

    PF_Err Checkin() {
        done_ = true;
        return extra_->cb->checkin_layer_pixels(in_data_->effect_ref, kCheckoutMask);
    }

private:
    PF_InData* in_data_;
    PF_SmartRenderExtra* extra_;
    bool done_ = false;
};

// The input masked by the mask layer into matte_world, which becomes the glow source.
PF_Err MaskInput(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra, myParams* p) {
    MaskCheckin checkin(in_data, extra);
    PF_EffectWorld* input = p->input_worldP;
    PF_Err stepErr = PF_Err_NONE;
    {
        AEFX_SuiteScoper<PF_WorldSuite2> worldSuite(in_data, kPFWorldSuite, kPFWorldSuiteVersion2, out_data);
        const PF_Err alloc = worldSuite->PF_NewWorld(in_data->effect_ref, input->width, input->height, true,
                                                     p->pixelFormat, &p->matte_world);
        if (alloc == PF_Err_NONE) {
            PF_MaskWorld mask{};
            mask.mask = *p->mask_worldP;
            mask.offset.h = p->mask_worldP->origin_x - input->origin_x;
            mask.offset.v = p->mask_worldP->origin_y - input->origin_y;
            mask.what_is_mask = (p->maskMode == 2 ? PF_MaskFlag_LUMINANCE : PF_MaskFlag_NONE) |
                                (p->maskInvert ? PF_MaskFlag_INVERTED : PF_MaskFlag_NONE);
            PF_CompositeMode mode{};
            mode.xfer = PF_Xfer_COPY;
            mode.rand_seed = 0;
            mode.opacity = 255;
            mode.rgb_only = false;
            AEGP_SuiteHandler suites(in_data->pica_basicP);
            stepErr = suites.WorldTransformSuite1()->transfer_rect(in_data->effect_ref, in_data->quality,
                                                                   PF_MaskFlag_NONE, in_data->field,
                                                                   &input->extent_hint, input, &mode, &mask, 0, 0,
                                                                   &p->matte_world);
        } else if (alloc == PF_Interrupt_CANCEL) {
            stepErr = alloc;
        }
        if (alloc == PF_Err_NONE || alloc == PF_Interrupt_CANCEL) {
            p->matte_world.origin_x = input->origin_x;
            p->matte_world.origin_y = input->origin_y;
            p->glowSourceWorldP = &p->matte_world;
        } else {
            LogError("error on allocating matte_world of dims " + std::to_string(input->width) + ", " +
                         std::to_string(input->height) + ", err code of " + std::to_string(alloc),
                     in_data);
            stepErr = alloc;
        }
    }
    const PF_Err checkinErr = checkin.Checkin();
    p->mask_worldP = nullptr;
    return stepErr ? stepErr : checkinErr;
}

}  // namespace

void GenVertexMatrices(myParams* p) {
    const PF_EffectWorld* s = p->glowSourceWorldP;
    const PF_EffectWorld* o = p->output_worldP;
    p->worldScale.x = float(s->width) / float(o->width);
    p->worldScale.y = float(s->height) / float(o->height);
    p->worldOffset.x = (float(s->origin_x - o->origin_x) / float(o->width)) / p->worldScale.x;
    p->worldOffset.y = (float(s->origin_y - o->origin_y) / float(o->height)) / p->worldScale.y;

    // Scale about the target's corner (-1, -1) after moving the quad by its offset in source-sized units.
    const glm::mat4 identity(1.0f);
    const glm::mat4 m = glm::translate(identity, glm::vec3(-1.0f, -1.0f, 0.0f)) *
                        glm::scale(identity, glm::vec3(p->worldScale.x, p->worldScale.y, 1.0f)) *
                        glm::translate(identity, glm::vec3(1.0f, 1.0f, 0.0f)) *
                        glm::translate(identity, glm::vec3(2.0f * p->worldOffset.x, 2.0f * p->worldOffset.y, 0.0f));
    // glm is column-major; the record holds the rows one after the other.
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col) p->xform.m[row * 4 + col] = m[col][row];
}

PF_Err SmartRender(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra) {
    myParams p;
    TemporaryWorldsRelease release(&p, in_data, out_data);
    const PF_SmartRenderCallbacks* cb = extra->cb;
    PF_ProgPtr ref = in_data->effect_ref;

    PF_Err err = PreInitParams(&p, in_data, out_data);
    if (!err) err = cb->checkout_layer_pixels(ref, kCheckoutInput, &p.input_worldP);
    if (!err) err = cb->checkout_layer_pixels(ref, kCheckoutLensDirt, &p.lens_dirt_worldP);
    if (!err) err = cb->checkout_layer_pixels(ref, kCheckoutMask, &p.mask_worldP);
    if (!err && p.glowMode == kGlowModeLensIris) err = cb->checkout_layer_pixels(ref, kCheckoutIris, &p.iris_worldP);
    if (!err) err = cb->checkout_output(ref, &p.output_worldP);

    if (p.output_worldP) {
        if (!err) err = AbortCheck(in_data);
        if (!err) err = in_data->utils->fill(ref, nullptr, nullptr, p.output_worldP);
        if (!err) err = InitParams(&p, in_data, out_data, extra);

        if (p.input_worldP && !p.mask_worldP) {
            p.glowSourceWorldP = p.input_worldP;
        } else if (p.input_worldP && !err) {
            err = MaskInput(in_data, out_data, extra, &p);
        }

        if (!err && (p.view == kViewLensDirtInput || p.view == kViewLensDirtMatte || p.view == kViewLensDirtMatted)) {
            err = RenderLensDirtView(&p, in_data, out_data);
            if (!err) err = AbortCheck(in_data);
        }
        if (!err && p.glowMode == kGlowModeLensIris && !p.viewDone) err = RenderIrisView(&p, in_data, out_data);

        // Nothing to glow: a view filled the output, there is no input, or the source or the output has no
        // pixels (an empty layer, or a mask that lies away from the input and zeroed the result in the
        // pre-render). The output stays cleared; GL targets of size 0 would only fail.
        if (!p.viewDone && HasPixels(p.glowSourceWorldP) && HasPixels(p.output_worldP)) {
            if (!err) err = AbortCheck(in_data);
            GenVertexMatrices(&p);
            {
                // The chains are the render's only GL work; their GL targets are gone when they return.
                const GLWorkLock glWork = LockGLWork();
                if (p.glowMode == kGlowModeExponential) {
                    err = RenderExponentialChain(in_data, out_data, &p, err);
                } else {
                    err = RenderLensIrisChain(in_data, out_data, extra, &p, err);
                }
            }
            if (!err) err = AbortCheck(in_data);
            if (!err && p.lens_dirt_worldP) err = CompLensDirt(in_data, out_data, &p);
            if (p.view == kViewFinalResult) {
                if (!err && p.unmult) err = DoUnmult(in_data, out_data, &p);
                if (!err) err = AbortCheck(in_data);
                if (!err && p.sourceOpacity > 0) err = CompSource(in_data, out_data, &p);
            }
            if (!err) err = AbortCheck(in_data);
        }
    }

    const PF_Err releaseErr = release.Finish();
    return err ? err : releaseErr;
}
