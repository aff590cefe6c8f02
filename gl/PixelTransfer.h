// Per-pixel conversion between host worlds and the packed RGB transfer buffer, run by the host's
// iteration suites (possibly on several threads: each call touches only its own pixel's elements).
#pragma once

#include "sdk/AE_Effect.h"

struct rgb_transfer_data {
    void* buffer;          // the locked transfer buffer
    PF_LayerDef* world;    // its width is the buffer's row length
};

// Up: premultiplied red, green, blue into the buffer; the world is not changed.
PF_Err RGB_In8(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out);
PF_Err RGB_In32(void* refcon, A_long x, A_long y, PF_PixelFloat* in, PF_PixelFloat* out);
PF_Err RGB_InHalf32(void* refcon, A_long x, A_long y, PF_PixelFloat* in, PF_PixelFloat* out);
// Down: the buffer's colour into the out pixel with alpha opaque.
PF_Err RGB_Out8(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out);
PF_Err RGB_Out32(void* refcon, A_long x, A_long y, PF_PixelFloat* in, PF_PixelFloat* out);
PF_Err RGB_OutHalf32(void* refcon, A_long x, A_long y, PF_PixelFloat* in, PF_PixelFloat* out);
