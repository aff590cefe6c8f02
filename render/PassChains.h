// The GPU part of a frame, one chain per glow mode. SmartRender calls exactly one of them once the glow
// source, the output and the quad transform (worldOffset, worldScale, xform) are set in the record, and the
// output is cleared; the chain reads its result back into p->output_worldP (in the "Glow Input" view the
// pre-processed glow input instead). SmartRender then runs the CPU passes on the output and releases the
// temporary worlds (matte_world, iris_gamma_world) itself.
//
// Each takes the frame's error so far and returns the frame's error after the chain: err itself when it
// came in set (a chain then does only the steps it must do even after a failure), else the chain's first
// failure (512 for a missing thread state, a GL failure's code, 517 from an abort check), else 0.
#pragma once

#include "host/RenderSettings.h"
#include "sdk/AE_Effect.h"

// "Exponential" mode: the "Custom" structure when p->quality is 8 (also "Extreme", rewritten by the level
// chain), the preset structure otherwise. Reads p->bloomMips, p->glowSourceWorldP and p->xform.
PF_Err RenderExponentialChain(PF_InData* in_data, PF_OutData* out_data, myParams* p, PF_Err err);

// "Lens Iris" mode. extra gives checkin_layer_pixels for the early check-in of the iris layer (checkout id 43)
// after its gamma world is made; p->iris_worldP may be null (no iris layer chosen).
PF_Err RenderLensIrisChain(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra, myParams* p,
                           PF_Err err);
