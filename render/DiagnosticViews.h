// The views that show an input of the glow instead of the result. Each either fills p->output_worldP and
// sets p->viewDone, or leaves everything as it is so the frame renders normally.
#pragma once

#include "host/RenderSettings.h"
#include "sdk/AE_Effect.h"

// Views 6, 7 and 8 (the lens-dirt input, matte and matted dirt).
PF_Err RenderLensDirtView(myParams* p, PF_InData* in_data, PF_OutData* out_data);
// "Lens Iris" mode: "View Iris", and the warning of "Final Result" without an iris layer.
PF_Err RenderIrisView(myParams* p, PF_InData* in_data, PF_OutData* out_data);
