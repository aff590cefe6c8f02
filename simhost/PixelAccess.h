// Reading and writing any host world's pixels as double-precision straight ARGB, whatever its depth. The host's
// own pixel services (fill, copy, transfer_rect, layer checkouts) all go through these, so a depth conversion
// rounds the same way everywhere: to the nearest step, clamped to the channel's range; floats are kept as they
// are (no clamping, so over-range colour survives a 32-bit transfer).
#pragma once

#include "sdk/AE_Effect.h"
#include "simhost/World.h"

namespace simhost {

struct Rgba {
    double alpha = 0, red = 0, green = 0, blue = 0;
};

// Null when the world record names no pixels or a size below zero.
bool HasPixels(const PF_EffectWorld* world);

Rgba ReadPixel(const PF_EffectWorld& world, A_long x, A_long y);
void WritePixel(PF_EffectWorld& world, A_long x, A_long y, const Rgba& p);

// `count` pixels of row y from column x on, exactly as ReadPixel and WritePixel would give and write them one
// by one; the depth is looked up once for the run.
void ReadRow(const PF_EffectWorld& world, A_long x, A_long y, A_long count, Rgba* out);
void WriteRow(PF_EffectWorld& world, A_long x, A_long y, A_long count, const Rgba* in);

// Writes `count` pixels of `src` from (sx, sy) to `dst` at (dx, dy), as WritePixel(ReadPixel) would: worlds of
// one depth copy their bytes (16-bit channels still clamped to the host's range), others convert. The runs
// must not overlap.
void CopyRow(const PF_EffectWorld& src, A_long sx, A_long sy, PF_EffectWorld& dst, A_long dx, A_long dy,
             A_long count);

// Sets `count` pixels of row y from column x on to p, as WritePixel would.
void FillRow(PF_EffectWorld& world, A_long x, A_long y, A_long count, const Rgba& p);

// An 8-bit colour as the host's callbacks take it, in the channel range of the world's depth.
Rgba FromPixel8(const PF_Pixel& p);

// Size in bytes of one pixel of the world's depth.
size_t PixelBytes(const PF_EffectWorld& world);

// The format that a world's flags say it has; INVALID for none.
PF_PixelFormat FormatOfWorld(const PF_EffectWorld& world);
// The depth of a pixel format; false for a format the host does not make.
bool DepthOfFormat(PF_PixelFormat format, PixelDepth* depth);

// Rectangles are half open: left and top inside, right and bottom outside.
PF_LRect IntersectRects(const PF_LRect& a, const PF_LRect& b);
bool RectIsEmpty(const PF_LRect& r);
PF_LRect WorldBounds(const PF_EffectWorld& world);

}  // namespace simhost
