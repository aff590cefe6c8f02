// Fill the uniform maps of the pre-process, blur and post-process passes from the render
// settings. They only write the map they are given (each entry replacing one of that name);
// they never touch GL, and the pass chains add the textures and draw.
#pragma once

#include "gl/Uniforms.h"
#include "host/RenderSettings.h"

// satBiasF ... simple_exposureB of the preProcess shader.
void SendPreProcUniforms(UniformMap& uniforms, const myParams& params);

// One direction of level `level`'s blur: the width pass when isWidthPass is non-zero, else the
// height pass. A level outside the chain sets nothing.
void SendBlurUniforms(UniformMap& uniforms, const myParams& params, unsigned char isWidthPass, int level);

// The upsample pass from a level of inSize to a target of outSize, with halfFloatB so that a
// half-float target saturates rather than overflowing to infinity.
void SendUpsampleUniforms(UniformMap& uniforms, const myParams& params, Vec2f inSize, Vec2f outSize);

// simple_exposureB ... tintColorOuter of the postProcess shader, and unmult.
void SendPostProcUniforms(UniformMap& uniforms, const myParams& params);
