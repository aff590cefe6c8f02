// Stand-in for the host's drawing suites: a drawing reference gives a supplier (that makes images) and a
// surface (that draws them under its current transform). Only what the effect calls is listed.
#pragma once

#include "AE_Effect.h"
#include "SPBasic.h"

extern "C" {

typedef struct _DRAWBOT_DrawRefOpaque* DRAWBOT_DrawRef;
typedef struct _DRAWBOT_ObjectOpaque* DRAWBOT_ObjectRef;
typedef struct _DRAWBOT_SupplierOpaque* DRAWBOT_SupplierRef;
typedef struct _DRAWBOT_SurfaceOpaque* DRAWBOT_SurfaceRef;
typedef DRAWBOT_ObjectRef DRAWBOT_ImageRef;  // images are objects, released with ReleaseObject

typedef struct {
    float x, y;
} DRAWBOT_PointF32;

// A 2-D affine transform of points as row vectors: (x, y, 1) * mat, the translation in mat[2][0] and mat[2][1].
typedef struct {
    float mat[3][3];
} DRAWBOT_MatrixF32;

typedef A_long DRAWBOT_PixelLayout;
enum : A_long {
    kDRAWBOT_PixelLayout_24RGB = 0,
    kDRAWBOT_PixelLayout_24BGR = 1,
    kDRAWBOT_PixelLayout_32RGB = 2,
    kDRAWBOT_PixelLayout_32BGR = 3,
    kDRAWBOT_PixelLayout_32ARGB_Straight = 4,
    kDRAWBOT_PixelLayout_32ARGB_Premul = 5,
    kDRAWBOT_PixelLayout_32BGRA_Straight = 6,
    kDRAWBOT_PixelLayout_32BGRA_Premul = 7,
};

// "DRAWBOT Draw Suite", version 1
#define kDRAWBOT_DrawSuite "DRAWBOT Draw Suite"
#define kDRAWBOT_DrawSuite_Version1 1
typedef struct DRAWBOT_DrawbotSuite1 {
    SPErr (*GetSupplier)(DRAWBOT_DrawRef drawbot_ref, DRAWBOT_SupplierRef* out_supplierP);
    SPErr (*GetSurface)(DRAWBOT_DrawRef drawbot_ref, DRAWBOT_SurfaceRef* out_surfaceP);
} DRAWBOT_DrawbotSuite1;

// "DRAWBOT Supplier Suite", version 1
#define kDRAWBOT_SupplierSuite "DRAWBOT Supplier Suite"
#define kDRAWBOT_SupplierSuite_Version1 1
typedef struct DRAWBOT_SupplierSuite1 {
    // An image holding a copy of the buffer's pixels; the buffer may be freed once the call returns.
    SPErr (*NewImageFromBuffer)(DRAWBOT_SupplierRef supplier_ref, int width, int height, int row_bytes,
                                DRAWBOT_PixelLayout pl, const void* dataP, DRAWBOT_ImageRef* out_imageP);
    SPErr (*ReleaseObject)(DRAWBOT_ObjectRef obj_ref);
} DRAWBOT_SupplierSuite1;

// "DRAWBOT Surface Suite", version 1
#define kDRAWBOT_SurfaceSuite "DRAWBOT Surface Suite"
#define kDRAWBOT_SurfaceSuite_Version1 1
typedef struct DRAWBOT_SurfaceSuite1 {
    // Concatenates the matrix onto the surface's current transform.
    SPErr (*Transform)(DRAWBOT_SurfaceRef surface_ref, const DRAWBOT_MatrixF32* matrixP);
    // Draws the image with its top-left corner at the origin (in the current transform's space).
    SPErr (*DrawImage)(DRAWBOT_SurfaceRef surface_ref, DRAWBOT_ImageRef image_ref, const DRAWBOT_PointF32* originP,
                       float alpha);
} DRAWBOT_SurfaceSuite1;

// "DRAWBOT Path Suite", version 1: acquired by AEFX_AcquireDrawbotSuites only; the effect draws no path.
#define kDRAWBOT_PathSuite "DRAWBOT Path Suite"
#define kDRAWBOT_PathSuite_Version1 1

}  // extern "C"
