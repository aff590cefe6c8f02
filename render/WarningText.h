// One line of warning text drawn into a host world: cairo renders it into an offscreen ARGB32 surface, the
// surface's pixels are copied (un-premultiplied) into a transparent world of the destination's size, and that
// world is composited in front of the destination at the line's vertical offset.
#pragma once

#include <string>

#include <cairo.h>

#include "host/RenderSettings.h"
#include "host/Suites.h"
#include "sdk/AEGP_IterateSuite.h"
#include "sdk/AE_Effect.h"

// Refcon of the row copy callbacks: the destination world and the surface's pixels as cairo lays them out.
struct cairo_copy_data {
    PF_LayerDef* world = nullptr;
    unsigned char* data = nullptr;  // the surface's first pixel byte
    int stride = 0;                 // bytes per surface row
};

// A cairo image surface with its drawing context, and a small locked host handle whose allocation decides
// whether the object may be used. Everything it obtained is released by cairoClean or at destruction.
class cairoContext {
public:
    // Throws the host's code when the handle suite is missing (nothing is left allocated then).
    cairoContext(int width, int height, AEGP_SuiteHandler* suites, PF_InData* in_data, int pixelFormat);
    ~cairoContext();
    cairoContext(const cairoContext&) = delete;
    cairoContext& operator=(const cairoContext&) = delete;

    // Copies the surface into `world` (of the surface's size) through the host's generic iteration, one row per
    // iteration; any pixel format other than 8-bit and float ARGB copies nothing. 4 when the surface holds no
    // pixels.
    PF_Err cairoCopy(PF_LayerDef* world, AEGP_SuiteHandler* suites);
    // Releases the cairo objects and the handle now; the object is invalid afterwards.
    void cairoClean();

    bool valid = false;  // surface, context and locked handle all obtained
    void* data = nullptr;
    PF_Handle handle = nullptr;
    PF_InData* in_data = nullptr;
    PF_PixelFormat pixelFormat = 0;
    cairo_surface_t* surface = nullptr;
    cairo_t* cr = nullptr;

private:
    void Release() noexcept;
};

// Row callbacks of AEGP_IterateGeneric (refcon: cairo_copy_data). Surface words are native 32-bit ARGB with
// premultiplied colour; world pixels get straight colour. A surface pixel of alpha 0 leaves the world's colour
// as it is (at 8 bits its alpha becomes 0; in float the pixel is not touched). Always 0.
A_Err cairoCopy8(void* refcon, A_long thread_indexL, A_long y, A_long iterationsL);
A_Err cairoCopy32(void* refcon, A_long thread_indexL, A_long y, A_long iterationsL);

// Draws `text` as one yellow line onto dst, `yOffset` full-resolution pixels below the first line (scaled by
// the frame's downsample factor and `size`); the line at offset 0 also darkens the whole of dst behind it.
// Failures of the host's world calls are logged and returned; a surface or handle that cannot be had is 4.
PF_Err DrawString(myParams* p, PF_InData* in_data, PF_OutData* out_data, std::string text, PF_LayerDef* dst,
                  double yOffset, double size);
