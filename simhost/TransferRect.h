// "PF World Transform Suite" v1 `transfer_rect`: composites a rectangle of one world onto another at an offset,
// through a composite mode at an opacity and an optional mask. Host worlds hold straight (not premultiplied)
// colour, so the arithmetic is done on straight pixels, in double precision, for 8-bit, 16-bit and 32-bit float
// worlds alike (reads divide by the channel maximum; 8 and 16-bit writes round to the nearest step and clamp to
// the channel range; float writes are not clamped).
//
// For a source pixel S, the destination pixel D under it and the mask value m:
//   o  = opacity / 255
//   m  = 1 without a mask; else, for the mask pixel M at (source x - offset.h, source y - offset.v):
//        M.alpha, or with PF_MaskFlag_LUMINANCE (0.2126 M.red + 0.7152 M.green + 0.0722 M.blue) x M.alpha
//        (the mask's luminance over black), clamped to 0..1; 0 where the mask world has no pixel;
//        PF_MaskFlag_INVERTED makes it 1 - m (so 1 outside the mask)
//   as = S.alpha x o x m            (source and destination alpha clamped to 0..1)
//   PF_Xfer_COPY:      R = (as, S.red, S.green, S.blue), replacing D
//   the others, with ab = D.alpha:
//        R.alpha = as + ab (1 - as)
//        R.c     = (as (1 - ab) S.c + as ab B(D.c, S.c) + (1 - as) ab D.c) / R.alpha, 0 when R.alpha is 0
//        B = S.c (PF_Xfer_IN_FRONT, "over"), D.c + S.c (PF_Xfer_ADD), D.c + S.c - D.c S.c (PF_Xfer_SCREEN)
// On an opaque destination this is D.c + as (B - D.c): add gives D.c + as S.c, screen D.c + as S.c (1 - D.c).
//
// Geometry: the source rectangle (null: the whole source world) is clipped to the source world; its top-left
// pixel lands at (dest_x, dest_y); what falls outside the destination world is dropped. Quality, field and the
// mode flags change nothing for whole-pixel offsets; `rand_seed`, `rgb_only` and `opacitySu` are not used.
// Any other transfer mode is refused with PF_Err_BAD_CALLBACK_PARAM. Rows are spread over the host's threads.
//
// Fault: "transfer_rect".
#pragma once

#include "sdk/AE_Effect.h"

namespace simhost {

class SimHost;

PF_Err TransferRect(int threads, const PF_Rect* src_rect, const PF_EffectWorld* src, const PF_CompositeMode* mode,
                    const PF_MaskWorld* mask, A_long dest_x, A_long dest_y, PF_EffectWorld* dst);

// Adds "PF World Transform Suite" v1 to the host (done by the host's world services).
void InstallWorldTransformSuite(SimHost& host);

}  // namespace simhost
