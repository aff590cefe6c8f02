// Stand-in for the host's AEGP suites and the PF suites that reach into the project (layers, colour settings,
// colour parameters): plain tables of function pointers that the simulated host fills. Only the functions the
// effect calls are listed; each suite is acquired through SPBasicSuite under the name and version beside it.
#pragma once

#include "AE_Effect.h"

extern "C" {

typedef A_long A_Err;
typedef A_long AEGP_PluginID;

typedef struct _AEGP_LayerOpaque* AEGP_LayerH;
typedef struct _AEGP_EffectRefOpaque* AEGP_EffectRefH;
typedef struct _AEGP_CompOpaque* AEGP_CompH;
typedef struct _AEGP_ColorProfileOpaque* AEGP_ColorProfileP;
typedef const struct _AEGP_ColorProfileOpaque* AEGP_ConstColorProfileP;

typedef A_long AEGP_LayerFlags;
enum : A_long {
    AEGP_LayerFlag_NONE = 0,
    AEGP_LayerFlag_COLLAPSE = 0x80,            // collapse transformations / continuous rasterisation
    AEGP_LayerFlag_ADJUSTMENT_LAYER = 0x200,
};

// A time as a rational number of seconds: value / scale.
typedef struct {
    A_long value;
    A_u_long scale;
} A_Time;

typedef struct {
    A_FpLong left, top, right, bottom;
} A_FloatRect;

// Row-major 4 x 4 transform, points as row vectors (the translation is in the last row).
typedef struct {
    A_FpLong mat[4][4];
} A_Matrix4;

typedef A_long AEGP_LTimeMode;
enum : A_long { AEGP_LTimeMode_LayerTime = 0, AEGP_LTimeMode_CompTime = 1 };

// "AEGP PF Interface Suite", version 1
#define kAEGPPFInterfaceSuite "AEGP PF Interface Suite"
#define kAEGPPFInterfaceSuiteVersion1 1
typedef struct AEGP_PFInterfaceSuite1 {
    // The layer the effect is applied to; null when the effect has none.
    A_Err (*AEGP_GetEffectLayer)(PF_ProgPtr effect_ref, AEGP_LayerH* layerPH);
    // A new handle on the effect instance, owned by the caller until AEGP_DisposeEffect.
    A_Err (*AEGP_GetNewEffectForEffect)(AEGP_PluginID plugin_id, PF_ProgPtr effect_ref,
                                        AEGP_EffectRefH* effectPH);
} AEGP_PFInterfaceSuite1;

// "AEGP Layer Suite", version 13
#define kAEGPLayerSuite "AEGP Layer Suite"
#define kAEGPLayerSuiteVersion13 13
typedef struct AEGP_LayerSuite13 {
    A_Err (*AEGP_GetLayerFlags)(AEGP_LayerH layerH, AEGP_LayerFlags* layer_flagsP);
    A_Err (*AEGP_GetLayerParentComp)(AEGP_LayerH layerH, AEGP_CompH* compPH);
    // The layer's bounds after its masks, in layer pixels, at a time in the given mode.
    A_Err (*AEGP_GetLayerMaskedBounds)(AEGP_LayerH layerH, AEGP_LTimeMode time_mode, const A_Time* timeP,
                                       A_FloatRect* boundsP);
    A_Err (*AEGP_ConvertLayerToCompTime)(AEGP_LayerH layerH, const A_Time* layer_timeP, A_Time* comp_timeP);
    // The layer's transform from its own pixels into the composition, at a comp time.
    A_Err (*AEGP_GetLayerToWorldXform)(AEGP_LayerH layerH, const A_Time* comp_timeP, A_Matrix4* transformP);
    // The composition's layer with this ID; null when it has none.
    A_Err (*AEGP_GetLayerFromLayerID)(AEGP_CompH parent_compH, A_long id, AEGP_LayerH* layerPH);
} AEGP_LayerSuite13;

// "PF Color Settings Suite", version 3
#define kPFColorSettingsSuite "PF Color Settings Suite"
#define kPFColorSettingsSuiteVersion3 3
typedef struct PF_ColorSettingsSuite3 {
    // A new profile of the composition's working space, owned by the caller until disposed.
    A_Err (*AEGP_GetNewWorkingSpaceColorProfile)(AEGP_PluginID plugin_id, AEGP_CompH compH,
                                                 AEGP_ColorProfileP* color_profilePP);
    A_Err (*AEGP_GetColorProfileApproximateGamma)(AEGP_ConstColorProfileP color_profileP, A_FpShort* approx_gammaP);
    A_Err (*AEGP_DisposeColorProfile)(AEGP_ColorProfileP color_profileP);
} PF_ColorSettingsSuite3;

// "PF ColorParamSuite", version 1
#define kPFColorParamSuite "PF ColorParamSuite"
#define kPFColorParamSuiteVersion1 1
typedef struct PF_ColorParamSuite1 {
    // The colour parameter's value as floats (8-bit channels divided by 255).
    PF_Err (*PF_GetFloatingPointColorFromColorDef)(PF_ProgPtr effect_ref, const PF_ParamDef* color_defP,
                                                   PF_PixelFloat* floating_point_colorP);
} PF_ColorParamSuite1;

// ---------------------------------------------------------------------------------------------------------
// Effect controls: effect handles, streams, dynamic stream flags, undo groups and scripts
// ---------------------------------------------------------------------------------------------------------
typedef struct _AEGP_StreamRefOpaque* AEGP_StreamRefH;
typedef struct _AEGP_MemHandleOpaque* AEGP_MemHandle;
typedef A_long AEGP_LayerIDVal;  // 0: no layer

typedef struct {
    A_FpLong alphaF, redF, greenF, blueF;
} AEGP_ColorVal;

typedef union {
    A_FpLong one_d;
    AEGP_ColorVal color;
    AEGP_LayerIDVal layer_id;
} AEGP_StreamVal2;

typedef struct {
    AEGP_StreamRefH streamH;  // the stream the value was read from; null in a value made by the caller
    AEGP_StreamVal2 val;
} AEGP_StreamValue2;

typedef A_long AEGP_DynStreamFlags;
enum : A_long {
    AEGP_DynStreamFlag_NONE = 0,
    AEGP_DynStreamFlag_ACTIVE_EYEBALL = 1 << 0,
    AEGP_DynStreamFlag_HIDDEN = 1 << 1,
    AEGP_DynStreamFlag_DISABLED = 1 << 2,
};

// "AEGP Effect Suite", versions 2 and 3 (the effect calls the same function in both)
#define kAEGPEffectSuite "AEGP Effect Suite"
#define kAEGPEffectSuiteVersion2 2
#define kAEGPEffectSuiteVersion3 3
typedef struct AEGP_EffectSuite3 {
    A_Err (*AEGP_DisposeEffect)(AEGP_EffectRefH effectH);
} AEGP_EffectSuite3;
typedef AEGP_EffectSuite3 AEGP_EffectSuite2;

// "AEGP Layer Suite", version 11
#define kAEGPLayerSuiteVersion11 11
typedef struct AEGP_LayerSuite11 {
    A_Err (*AEGP_GetLayerParentComp)(AEGP_LayerH layerH, AEGP_CompH* compPH);
} AEGP_LayerSuite11;

// "AEGP Stream Suite", versions 7, 8 and 9 (the functions the effect calls have one shape in all three)
#define kAEGPStreamSuite "AEGP Stream Suite"
#define kAEGPStreamSuiteVersion7 7
#define kAEGPStreamSuiteVersion8 8
#define kAEGPStreamSuiteVersion9 9
typedef struct AEGP_StreamSuite9 {
    // The stream of the effect's parameter at this index, owned by the caller until AEGP_DisposeStream.
    A_Err (*AEGP_GetNewEffectStreamByIndex)(AEGP_PluginID plugin_id, AEGP_EffectRefH effectH,
                                            PF_ParamIndex param_index, AEGP_StreamRefH* streamPH);
    A_Err (*AEGP_DisposeStream)(AEGP_StreamRefH streamH);
    // The value at a time, owned by the caller until AEGP_DisposeStreamValue.
    A_Err (*AEGP_GetNewStreamValue)(AEGP_PluginID plugin_id, AEGP_StreamRefH streamH, AEGP_LTimeMode time_mode,
                                    const A_Time* timePT, A_Boolean pre_expressionB, AEGP_StreamValue2* valueP);
    A_Err (*AEGP_DisposeStreamValue)(AEGP_StreamValue2* valueP);
    A_Err (*AEGP_SetStreamValue)(AEGP_PluginID plugin_id, AEGP_StreamRefH streamH, AEGP_StreamValue2* valueP);
} AEGP_StreamSuite9;
typedef AEGP_StreamSuite9 AEGP_StreamSuite8;
typedef AEGP_StreamSuite9 AEGP_StreamSuite7;

// "AEGP Dynamic Stream Suite", version 2
#define kAEGPDynamicStreamSuite "AEGP Dynamic Stream Suite"
#define kAEGPDynamicStreamSuiteVersion2 2
typedef struct AEGP_DynamicStreamSuite2 {
    A_Err (*AEGP_SetDynamicStreamFlag)(AEGP_StreamRefH streamH, AEGP_DynStreamFlags one_flag, A_Boolean undoableB,
                                       A_Boolean setB);
} AEGP_DynamicStreamSuite2;

// "AEGP Utility Suite", versions 7 and 11 (one shape for the functions the effect calls)
#define kAEGPUtilitySuite "AEGP Utility Suite"
#define kAEGPUtilitySuiteVersion7 7
#define kAEGPUtilitySuiteVersion11 11
typedef struct AEGP_UtilitySuite11 {
    // Everything done between the two lands in one undo step under the name.
    A_Err (*AEGP_StartUndoGroup)(const A_char* undo_nameZ);
    A_Err (*AEGP_EndUndoGroup)(void);
    A_Err (*AEGP_ExecuteScript)(AEGP_PluginID plugin_id, const A_char* scriptZ, A_Boolean platform_encodingB,
                                AEGP_MemHandle* resultPH0, AEGP_MemHandle* error_stringPH0);
} AEGP_UtilitySuite11;
typedef AEGP_UtilitySuite11 AEGP_UtilitySuite7;

}  // extern "C"
