#include "simhost/TransferRect.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "sdk/AE_EffectSuites.h"
#include "simhost/CallFailures.h"
#include "simhost/Parallel.h"
#include "simhost/PixelAccess.h"
#include "simhost/SimHost.h"
#include "simhost/WorldSuites.h"

namespace simhost {

namespace {

double Clamp01(double v) { return v > 0 ? (v < 1 ? v : 1) : 0; }  // NaN gives 0

double MaskValue(const PF_MaskWorld* mask, A_long sx, A_long sy) {
    if (!mask) return 1.0;
    const PF_EffectWorld& m = mask->mask;
    const A_long mx = sx - mask->offset.h;
    const A_long my = sy - mask->offset.v;
    double v = 0;
    if (HasPixels(&m) && mx >= 0 && my >= 0 && mx < m.width && my < m.height) {
        const Rgba p = ReadPixel(m, mx, my);
        v = (mask->what_is_mask & PF_MaskFlag_LUMINANCE)
                ? (0.2126 * p.red + 0.7152 * p.green + 0.0722 * p.blue) * Clamp01(p.alpha)
                : p.alpha;
        v = Clamp01(v);
    }
    return (mask->what_is_mask & PF_MaskFlag_INVERTED) ? 1.0 - v : v;
}

double Blend(PF_TransferMode mode, double d, double s) {
    switch (mode) {
        case PF_Xfer_ADD: return d + s;
        case PF_Xfer_SCREEN: return d + s - d * s;
        default: return s;  // in front
    }
}

Rgba Composite(PF_TransferMode mode, const Rgba& s, const Rgba& d, double opacity, double m) {
    const double as = Clamp01(s.alpha) * opacity * m;
    if (mode == PF_Xfer_COPY) return {as, s.red, s.green, s.blue};
    const double ab = Clamp01(d.alpha);
    const double ao = as + ab * (1 - as);
    if (!(ao > 0)) return {};
    auto channel = [&](double dc, double sc) {
        return (as * (1 - ab) * sc + as * ab * Blend(mode, dc, sc) + (1 - as) * ab * dc) / ao;
    };
    return {ao, channel(d.red, s.red), channel(d.green, s.green), channel(d.blue, s.blue)};
}

// The world's pixels as they are now, when the transfer also writes into them.
struct Snapshot {
    std::vector<uint8_t> bytes;
    PF_EffectWorld world{};
    const PF_EffectWorld* Take(const PF_EffectWorld* w, const PF_EffectWorld* dst) {
        if (!w || !w->data || w->data != dst->data) return w;
        const auto* p = static_cast<const uint8_t*>(w->data);
        bytes.assign(p, p + size_t(w->rowbytes) * size_t(w->height));
        world = *w;
        world.data = bytes.data();
        return &world;
    }
};

PF_Err SuiteTransferRect(PF_ProgPtr effect_ref, PF_Quality, A_long, PF_Field, const PF_Rect* src_rec,
                         const PF_EffectWorld* src_world, const PF_CompositeMode* comp_mode,
                         const PF_MaskWorld* mask_world0, A_long dest_x, A_long dest_y, PF_EffectWorld* dst_world) {
    SimHost* host = SimHost::FromRef(effect_ref);
    if (!host) return PF_Err_BAD_CALLBACK_PARAM;
    if (PF_Err err = PlannedFailure(*host, "transfer_rect")) return err;
    return TransferRect(host->WorkerThreads(), src_rec, src_world, comp_mode, mask_world0, dest_x, dest_y, dst_world);
}

PF_Err SuiteCopy(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r, PF_Rect* dst_r) {
    SimHost* host = SimHost::FromRef(effect_ref);
    if (!host) return PF_Err_BAD_CALLBACK_PARAM;
    if (PF_Err err = PlannedFailure(*host, "copy")) return err;
    return CopyWorld(host->WorkerThreads(), src, dst, src_r, dst_r);
}

// The transform suite's other entries are not used by the effect; they answer rather than leave a null.
PF_Err NoCompositeRect(PF_ProgPtr, PF_Rect*, A_long, PF_EffectWorld*, A_long, A_long, PF_Field, PF_XferMode,
                       PF_EffectWorld*) {
    return PF_Err_INVALID_CALLBACK;
}
PF_Err NoBlend(PF_ProgPtr, const PF_EffectWorld*, const PF_EffectWorld*, PF_Fixed, PF_EffectWorld*) {
    return PF_Err_INVALID_CALLBACK;
}
PF_Err NoConvolve(PF_ProgPtr, PF_EffectWorld*, const PF_Rect*, A_long, A_long, void*, void*, void*, void*,
                  PF_EffectWorld*) {
    return PF_Err_INVALID_CALLBACK;
}
PF_Err NoTransformWorld(PF_ProgPtr, PF_Quality, A_long, PF_Field, const PF_EffectWorld*, const PF_CompositeMode*,
                        const PF_MaskWorld*, const PF_FloatMatrix*, A_long, PF_Boolean, const PF_Rect*,
                        PF_EffectWorld*) {
    return PF_Err_INVALID_CALLBACK;
}

const PF_WorldTransformSuite1 kWorldTransformSuite1 = {NoCompositeRect, NoBlend,           NoConvolve,      SuiteCopy,
                                                       SuiteCopy,       SuiteTransferRect, NoTransformWorld};

}  // namespace

PF_Err TransferRect(int threads, const PF_Rect* src_rect, const PF_EffectWorld* src, const PF_CompositeMode* mode,
                    const PF_MaskWorld* mask, A_long dest_x, A_long dest_y, PF_EffectWorld* dst) {
    if (!HasPixels(src) || !HasPixels(dst) || !mode) return PF_Err_BAD_CALLBACK_PARAM;
    const PF_TransferMode xfer = mode->xfer;
    if (xfer != PF_Xfer_COPY && xfer != PF_Xfer_IN_FRONT && xfer != PF_Xfer_ADD && xfer != PF_Xfer_SCREEN)
        return PF_Err_BAD_CALLBACK_PARAM;

    const PF_LRect from = src_rect ? *src_rect : WorldBounds(*src);
    const PF_LRect clipped = IntersectRects(from, WorldBounds(*src));
    if (RectIsEmpty(clipped)) return PF_Err_NONE;
    // Source pixel (sx, sy) lands on (sx + shiftX, sy + shiftY).
    const A_long shiftX = dest_x - from.left;
    const A_long shiftY = dest_y - from.top;
    const PF_LRect placed{clipped.left + shiftX, clipped.top + shiftY, clipped.right + shiftX,
                          clipped.bottom + shiftY};
    const PF_LRect area = IntersectRects(placed, WorldBounds(*dst));
    if (RectIsEmpty(area)) return PF_Err_NONE;

    Snapshot srcCopy, maskCopy;
    const PF_EffectWorld* source = srcCopy.Take(src, dst);
    PF_MaskWorld maskHeld{};
    if (mask) {
        maskHeld = *mask;
        if (const PF_EffectWorld* m = maskCopy.Take(&mask->mask, dst); m != &mask->mask) maskHeld.mask = *m;
        mask = &maskHeld;
    }
    const double opacity = mode->opacity / 255.0;
    const A_long width = area.right - area.left;
    return ParallelRows(area.bottom - area.top, threads, [&](A_long row) {
        const A_long y = area.top + row;
        const A_long sy = y - shiftY;
        // A row at a time: the source and destination runs are read once, composited and written back whole.
        std::vector<Rgba> s(static_cast<size_t>(width)), d(xfer == PF_Xfer_COPY ? 0 : static_cast<size_t>(width));
        ReadRow(*source, area.left - shiftX, sy, width, s.data());
        if (!d.empty()) ReadRow(*dst, area.left, y, width, d.data());
        for (A_long i = 0; i < width; ++i) {
            const A_long sx = area.left + i - shiftX;
            s[size_t(i)] = Composite(xfer, s[size_t(i)], d.empty() ? Rgba{} : d[size_t(i)], opacity,
                                     MaskValue(mask, sx, sy));
        }
        WriteRow(*dst, area.left, y, width, s.data());
        return PF_Err_NONE;
    });
}

void InstallWorldTransformSuite(SimHost& host) {
    host.AddSuite(kPFWorldTransformSuite, kPFWorldTransformSuiteVersion1, &kWorldTransformSuite1);
}

}  // namespace simhost
