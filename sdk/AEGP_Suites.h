// Stand-in for the host's AEGP suites and the PF suites that reach into the project (layers, colour settings,
// colour parameters): plain tables of function pointers that the simulated host fills. Only the functions the
// effect calls are listed; each suite is acquired through SPBasicSuite under the name and version beside it.
#pragma once

#include "AE_Effect.h"

extern "C" {

typedef A_long A_Err;
typedef A_long AEGP_PluginID;

typedef struct _AEGP_LayerOpaque* AEGP_LayerH;
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

}  // extern "C"
