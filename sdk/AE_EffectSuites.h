// Stand-in for the host's PF suites: plain tables of function pointers that the simulated host fills.
// Each suite is acquired through SPBasicSuite under the name and version given beside it.
#pragma once

#include "AE_Effect.h"

extern "C" {

// "PF ANSI Suite", version 1
#define kPFANSISuite "PF ANSI Suite"
#define kPFANSISuiteVersion1 1
typedef struct PF_ANSICallbacksSuite1 {
    A_long (*sprintf)(A_char* buffer, const A_char* format, ...);
    A_long (*strcpy)(A_char* dst, const A_char* src);
} PF_ANSICallbacksSuite1;

// "PF Handle Suite", version 2
#define kPFHandleSuite "PF Handle Suite"
#define kPFHandleSuiteVersion2 2
typedef struct PF_HandleSuite2 {
    PF_Handle (*host_new_handle)(A_u_long size);
    void* (*host_lock_handle)(PF_Handle pf_handle);
    void (*host_unlock_handle)(PF_Handle pf_handle);
    void (*host_dispose_handle)(PF_Handle pf_handle);
    A_u_long (*host_get_handle_size)(PF_Handle pf_handle);
    PF_Err (*host_resize_handle)(A_u_long new_sizeL, PF_Handle* handlePH);
} PF_HandleSuite2;

// "PF Iterate8 Suite", version 1 (8 bits per channel)
#define kPFIterate8Suite "PF Iterate8 Suite"
#define kPFIterate8SuiteVersion1 1
typedef struct PF_Iterate8Suite1 {
    PF_Err (*iterate)(PF_InData* in_data, A_long progress_base, A_long progress_final, PF_EffectWorld* src,
                      const PF_Rect* area, void* refcon, PF_IteratePixel8Func pix_fn, PF_EffectWorld* dst);
} PF_Iterate8Suite1;

// "PF iterateFloat Suite", version 1 (32-bit float per channel)
#define kPFIterateFloatSuite "PF iterateFloat Suite"
#define kPFIterateFloatSuiteVersion1 1
typedef struct PF_iterateFloatSuite1 {
    PF_Err (*iterate)(PF_InData* in_data, A_long progress_base, A_long progress_final, PF_EffectWorld* src,
                      const PF_Rect* area, void* refcon, PF_IteratePixelFloatFunc pix_fn, PF_EffectWorld* dst);
} PF_iterateFloatSuite1;

// "PF World Suite", version 2
#define kPFWorldSuite "PF World Suite"
#define kPFWorldSuiteVersion2 2
typedef A_u_long PF_NewWorldFlags;
enum : A_u_long { PF_NewWorldFlag_NONE = 0, PF_NewWorldFlag_CLEAR_PIXELS = 1u << 0 };
typedef struct PF_WorldSuite2 {
    PF_Err (*PF_NewWorld)(PF_ProgPtr effect_ref, A_long widthL, A_long heightL, PF_Boolean clear_pixB,
                          PF_PixelFormat pixel_format, PF_EffectWorld* worldP);
    PF_Err (*PF_DisposeWorld)(PF_ProgPtr effect_ref, PF_EffectWorld* worldP);
    PF_Err (*PF_GetPixelFormat)(const PF_EffectWorld* worldP, PF_PixelFormat* pixel_formatP);
} PF_WorldSuite2;

// "PF World Transform Suite", version 1
#define kPFWorldTransformSuite "PF World Transform Suite"
#define kPFWorldTransformSuiteVersion1 1
typedef struct PF_WorldTransformSuite1 {
    PF_Err (*composite_rect)(PF_ProgPtr effect_ref, PF_Rect* src_rect, A_long src_opacity,
                             PF_EffectWorld* source_wld, A_long dest_x, A_long dest_y, PF_Field field_rdr,
                             PF_XferMode xfer_mode, PF_EffectWorld* dest_wld);
    PF_Err (*blend)(PF_ProgPtr effect_ref, const PF_EffectWorld* src1, const PF_EffectWorld* src2, PF_Fixed ratio,
                    PF_EffectWorld* dst);
    PF_Err (*convolve)(PF_ProgPtr effect_ref, PF_EffectWorld* src, const PF_Rect* area, A_long flags,
                       A_long kernel_size, void* a_kernel, void* r_kernel, void* g_kernel, void* b_kernel,
                       PF_EffectWorld* dst);
    PF_Err (*copy)(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r, PF_Rect* dst_r);
    PF_Err (*copy_hq)(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r,
                      PF_Rect* dst_r);
    // Composites src into dst at (dest_x, dest_y) with the mode's transfer, opacity and an optional mask.
    PF_Err (*transfer_rect)(PF_ProgPtr effect_ref, PF_Quality quality, A_long m_flags, PF_Field field,
                            const PF_Rect* src_rec, const PF_EffectWorld* src_world, const PF_CompositeMode* comp_mode,
                            const PF_MaskWorld* mask_world0, A_long dest_x, A_long dest_y, PF_EffectWorld* dst_world);
    PF_Err (*transform_world)(PF_ProgPtr effect_ref, PF_Quality quality, A_long m_flags, PF_Field field,
                              const PF_EffectWorld* src_world, const PF_CompositeMode* comp_mode,
                              const PF_MaskWorld* mask_world0, const PF_FloatMatrix* matrices, A_long num_matrices,
                              PF_Boolean src2dst_matrix, const PF_Rect* dest_rect, PF_EffectWorld* dst_world);
} PF_WorldTransformSuite1;

// The four drawing suites that AEFX_AcquireDrawbotSuites fills, in its order.
typedef struct DRAWBOT_Suites {
    const void* drawbot_suiteP;   // "DRAWBOT Draw Suite" 1
    const void* supplier_suiteP;  // "DRAWBOT Supplier Suite" 1
    const void* surface_suiteP;   // "DRAWBOT Surface Suite" 2
    const void* path_suiteP;      // "DRAWBOT Path Suite" 1
} DRAWBOT_Suites;

// The effect's exported suite helpers, for callers outside it.
typedef PF_Err (*AEFX_AcquireSuiteFunc)(PF_InData* in_data, PF_OutData* out_data, const char* name, int32_t version,
                                        const char* error_stringPC, void** suite);
typedef PF_Err (*AEFX_ReleaseSuiteFunc)(PF_InData* in_data, PF_OutData* out_data, const char* name, int32_t version,
                                        const char* error_stringPC);
typedef PF_Err (*AEFX_AcquireDrawbotSuitesFunc)(PF_InData* in_data, PF_OutData* out_data, DRAWBOT_Suites* suitesP);
typedef PF_Err (*AEFX_ReleaseDrawbotSuitesFunc)(PF_InData* in_data, PF_OutData* out_data);

}  // extern "C"
