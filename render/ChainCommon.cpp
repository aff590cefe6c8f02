#include "render/ChainCommon.h"

GLint ChainTargetFormat(const myParams& p) { return p.halfFloat ? GL_RGB16F : GL_RGB32F; }

PF_Err ChainAbortCheck(PF_InData* in_data) {
    if (!in_data->inter.abort) return PF_Err_NONE;
    const GLWorkPause pause;  // a call into the host
    return in_data->inter.abort(in_data->effect_ref);
}

void BlendingOn(int32_t blendMode) {
    glEnable(GL_BLEND);
    if (blendMode == 1) {
        glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_COLOR);
    } else {
        glBlendFunc(GL_ONE, GL_ONE);
    }
    glBlendEquation(GL_FUNC_ADD);
}

void BlendingOff() { glDisable(GL_BLEND); }

PF_Err CreateChainTarget(PF_Err err, PX_FBO2& target, PF_InData* in_data, unsigned width, unsigned height,
                         int wrap, GLint format) {
    if (err) return err;
    return target.CreateTextureFBO2(in_data, width, height, wrap, format);
}

PF_Err DrawChainPass(PF_Err err, PX_FBO2& target, const LocalGLStruct& state, ProgramSlot slot,
                     UniformMap& uniforms) {
    if (err) return err;
    return target.RenderQuad2(ProgramId(state.programs, slot), uniforms);
}

Vec2f TargetSize(const PX_FBO2& target) {
    return {float(target.m_colorBuffer.width), float(target.m_colorBuffer.height)};
}
