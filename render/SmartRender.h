// The smart render of one frame: the layers' pixels, masking, the diagnostic views, the GPU pass chain of the
// glow mode and the CPU passes on its result.
#pragma once

#include "host/RenderSettings.h"
#include "sdk/AE_Effect.h"

PF_Err SmartRender(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra);

// The quad transform that places the glow source inside the output: worldScale, worldOffset and xform (the
// matrix stored row by row). Needs output_worldP and glowSourceWorldP with non-zero sizes.
void GenVertexMatrices(myParams* p);
