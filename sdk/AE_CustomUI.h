// Stand-in for the host's custom UI registration: which kinds of windows send the effect PF_Cmd_EVENT.
#pragma once

#include "AE_Effect.h"

extern "C" {

enum : A_long {
    PF_CustomEFlag_NONE = 0,
    PF_CustomEFlag_COMP = 1 << 0,
    PF_CustomEFlag_LAYER = 1 << 1,
    PF_CustomEFlag_EFFECT = 1 << 2,
};

typedef struct {
    A_long events;                 // PF_CustomEFlag_ bits
    A_long comp_ui_width;
    A_long comp_ui_height;
    A_long comp_ui_alignment;
    A_long layer_ui_width;
    A_long layer_ui_height;
    A_long layer_ui_alignment;
    A_long preview_ui_width;
    A_long preview_ui_height;
    A_long preview_ui_alignment;
} PF_CustomUIInfo;

}  // extern "C"
