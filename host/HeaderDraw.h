// Custom-UI events (PF_Cmd_EVENT): the header picture drawn into the About & Support group's control, and the
// composition and layer windows' draw events, which the effect takes without drawing.
#pragma once

#include "host/Handlers.h"
#include "sdk/AE_EffectUI.h"

// Marks the event handled and draws nothing.
PF_Err DrawCompUIEvent(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output,
                       PF_EventExtra* extra);
