// Pieces both GPU pass chains share: the frame's target format, blending, abort checks, and target creation
// and draws that do nothing once the frame has failed.
#pragma once

#include "gl/glrender.h"
#include "host/RenderSettings.h"
#include "render/ProgramSet.h"
#include "render/ThreadState.h"
#include "sdk/AE_Effect.h"

// GL_RGB16F with "Half Float", else GL_RGB32F: every target of a frame has this format.
GLint ChainTargetFormat(const myParams& p);

// The host's abort callback; 0 when the host gives none.
PF_Err ChainAbortCheck(PF_InData* in_data);

// Screen (blend mode 1) leaves src + dst * (1 - src) per channel; every other mode src + dst.
void BlendingOn(int32_t blendMode);
void BlendingOff();

// Switches blending off when a chain's scope ends, so a chain that stops early (a failed step, a thrown host
// code) never leaves the thread's context blending into the next frame's first draw.
class BlendingOffAtExit {
public:
    BlendingOffAtExit() = default;
    ~BlendingOffAtExit() { BlendingOff(); }
    BlendingOffAtExit(const BlendingOffAtExit&) = delete;
    BlendingOffAtExit& operator=(const BlendingOffAtExit&) = delete;
};

// Creates target with the frame's format when err is 0; returns err or the creation's result.
PF_Err CreateChainTarget(PF_Err err, PX_FBO2& target, PF_InData* in_data, unsigned width, unsigned height,
                         int wrap, GLint format);

// Draws the full-screen quad into target with the program of `slot` when err is 0; the map is emptied by
// the draw. Returns err or the draw's result.
PF_Err DrawChainPass(PF_Err err, PX_FBO2& target, const LocalGLStruct& state, ProgramSlot slot,
                     UniformMap& uniforms);

// The texture size of a target as floats, for the resampling shaders' resolution uniforms.
Vec2f TargetSize(const PX_FBO2& target);
