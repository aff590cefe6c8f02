// Stand-in for the host's custom user-interface events and the suites of the effect-controls window: the
// event record of PF_Cmd_EVENT, the custom UI suite that hands out a drawing reference, and the parameter
// utility suite through which the effect tells the window that a control's look changed.
#pragma once

#include "AE_Effect.h"
#include "DrawbotSuites.h"

extern "C" {

typedef struct _PF_ContextOpaque* PF_ContextH;

typedef A_long PF_EventType;
enum : A_long {
    PF_Event_NEW_CONTEXT = 0,
    PF_Event_ACTIVATE = 1,
    PF_Event_DO_CLICK = 2,
    PF_Event_DRAG = 3,
    PF_Event_DRAW = 4,
    PF_Event_DEACTIVATE = 5,
    PF_Event_CLOSE_CONTEXT = 6,
    PF_Event_IDLE = 7,
    PF_Event_ADJUST_CURSOR = 8,
    PF_Event_KEYDOWN = 9,
    PF_Event_MOUSE_EXITED = 10,
};

// Which part of a control's line in the effect-controls window an event is for.
typedef A_long PF_EventArea;
enum : A_long { PF_EA_NONE = 0, PF_EA_PARAM_TITLE = 1, PF_EA_CONTROL = 2 };

typedef A_long PF_EventOutFlags;
enum : A_long { PF_EO_NONE = 0, PF_EO_HANDLED_EVENT = 1 << 0, PF_EO_ALWAYS_UPDATE = 1 << 1 };

typedef struct {
    PF_ParamIndex index;      // the parameter the event is for
    PF_EventArea area;
    PF_Rect current_frame;    // the area's rectangle in the window, in window pixels
    PF_Rect previous_frame;
} PF_EffectWindowInfo;

typedef struct PF_EventExtra {
    PF_ContextH contextH;     // the window the event comes from
    PF_EventType e_type;
    PF_EffectWindowInfo effect_win;
    A_long evt_in_flags;
    PF_EventOutFlags evt_out_flags;
} PF_EventExtra;

// "PF Effect Custom UI Suite", version 1
#define kPFEffectCustomUISuite "PF Effect Custom UI Suite"
#define kPFEffectCustomUISuiteVersion1 1
typedef struct PF_EffectCustomUISuite1 {
    // The drawing reference of the window behind the context; valid for the current event only.
    PF_Err (*PF_GetDrawingReference)(PF_ContextH effect_contextH, DRAWBOT_DrawRef* referenceP0);
} PF_EffectCustomUISuite1;

// "PF Param Utils Suite", version 3
#define kPFParamUtilsSuite "PF Param Utils Suite"
#define kPFParamUtilsSuiteVersion3 3
typedef struct PF_ParamUtilsSuite3 {
    // The window redraws the control from this definition: its UI flags (disabled), name and flags (twirl).
    // The value in it is not taken.
    PF_Err (*PF_UpdateParamUI)(PF_ProgPtr effect_ref, PF_ParamIndex param_index, const PF_ParamDef* defP);
} PF_ParamUtilsSuite3;

}  // extern "C"
