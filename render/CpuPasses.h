// The host-side passes that finish a frame after the GPU read-back: the lens-dirt composite (and the two
// lens-dirt views it produces), un-multiplying, the source composite, the iris gamma callbacks of the
// "Lens Iris" chain and the release of the render's temporary worlds.
#pragma once

#include "host/RenderSettings.h"
#include "sdk/AE_Effect.h"
#include "sdk/AE_EffectSuites.h"

// Rec. 709 luma, summed red, green, blue from 0 in single precision.
float calculateLuminance(const PF_PixelFloat& p);

// The fold of the "Repeat Edges" dirt sampling: the layer minus a two-pixel border, repeated with mirroring
// every 2n positions, n = layer size - 4; the result lies in 2 .. n + 1. n must be positive.
int mirrored_repeat(int u, int n);

// Address of pixel (x, y) of a world: data + y * rowbytes + x * pixel size.
PF_Pixel* sampleIntegral8(PF_EffectWorld* world, int x, int y);
PF_PixelFloat* sampleIntegral32(PF_EffectWorld* world, int x, int y);

// The dirt pixel at dirt coordinates (x, y). Without mirror a position outside the layer is transparent black;
// with mirror each axis is folded by mirrored_repeat. A layer under 5 pixels on either side has no fold (its
// period would be zero or negative), so it is sampled as with mirror off. A null world samples as transparent.
PF_Pixel SampleLegalPix8(int x, int y, PF_LayerDef* world, bool mirror);
PF_PixelFloat SampleLegalPix32(int x, int y, PF_LayerDef* world, bool mirror);

// Composites the dirt sample onto the glow pixel `out` in place, or replaces it by the matte or the matted
// dirt, as `data->mode` says. `dirt` is premultiplied and matted on the way.
void LensDirtCompCommon(const lens_mirror_data* data, PF_PixelFloat& dirt, PF_PixelFloat* out);

// Iteration callbacks (refcon, x, y, in, out); all return 0 and write nothing when what they need is null.
PF_Err MirrorRepeatComp8(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out);
PF_Err MirrorRepeatComp32(void* refcon, A_long x, A_long y, PF_PixelFloat* in, PF_PixelFloat* out);
PF_Err MirrorRepeat8(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out);
PF_Err MirrorRepeat32(void* refcon, A_long x, A_long y, PF_PixelFloat* in, PF_PixelFloat* out);
PF_Err GenAlphaFromLuma8(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out);
PF_Err GenAlphaFromLuma32(void* refcon, A_long x, A_long y, PF_PixelFloat* in, PF_PixelFloat* out);
// refcon: a float exponent.
PF_Err GammaIris8(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out);
PF_Err GammaIris32(void* refcon, A_long x, A_long y, PF_PixelFloat* in, PF_PixelFloat* out);

// The passes. Each returns the host's result; results other than 0 and 517 are logged with the pass's name.
PF_Err CompLensDirt(PF_InData* in_data, PF_OutData* out_data, myParams* p);
PF_Err DoUnmult(PF_InData* in_data, PF_OutData* out_data, myParams* p);
PF_Err CompSource(PF_InData* in_data, PF_OutData* out_data, myParams* p);
// Disposes matte_world and iris_gamma_world when they hold pixels (and forgets them, so a second call is
// harmless); returns the first disposal error. May throw 13 when the host lacks the world suite.
PF_Err ReleaseCPU(myParams* p, PF_InData* in_data, PF_OutData* out_data);
// The same through a world suite the caller already holds, so the disposal itself needs nothing of the host.
PF_Err ReleaseCPU(myParams* p, PF_InData* in_data, PF_OutData* out_data, const PF_WorldSuite2* worldSuite);
