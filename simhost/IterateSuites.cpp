#include "simhost/IterateSuites.h"

#include <algorithm>

#include "simhost/Parallel.h"
#include "simhost/SimHost.h"
#include "simhost/World.h"

namespace simhost {

namespace {

SimHost* HostOf(const PF_InData* in_data) {
    SimHost* host = in_data ? SimHost::FromRef(in_data->effect_ref) : nullptr;
    return host ? host : SimHost::Active();
}

// The area visited: the given rectangle (world coordinates, right and bottom exclusive) or the whole
// source, cut to what both worlds hold so that no callback gets a pixel outside either. Without a source
// the destination alone bounds it.
PF_Rect AreaOf(const PF_EffectWorld* src, const PF_EffectWorld& dst, const PF_Rect* area) {
    const PF_EffectWorld& bounds = src ? *src : dst;
    PF_Rect r = area ? *area : PF_Rect{0, 0, bounds.width, bounds.height};
    r.left = std::max<A_long>(r.left, 0);
    r.top = std::max<A_long>(r.top, 0);
    r.right = std::min({r.right, bounds.width, dst.width});
    r.bottom = std::min({r.bottom, bounds.height, dst.height});
    return r;
}

template <class Pixel>
Pixel* PixelAt(const PF_EffectWorld& world, A_long x, A_long y) {
    return reinterpret_cast<Pixel*>(static_cast<char*>(world.data) + size_t(y) * size_t(world.rowbytes)) + x;
}

template <class Pixel, class Callback>
PF_Err Iterate(PixelDepth depth, const char* fault, const char* interrupt, PF_InData* in_data,
               PF_EffectWorld* src, const PF_Rect* area, void* refcon, Callback pix_fn, PF_EffectWorld* dst) {
    SimHost* host = HostOf(in_data);
    // The source is optional (the callback then gets a null input pixel), the destination is not.
    if (!host || !dst || !pix_fn || (src && !src->data) || !dst->data) return PF_Err_BAD_CALLBACK_PARAM;
    // A world of another depth would be read with the wrong pixel size.
    if ((src && DepthOfWorld(*src) != depth) || DepthOfWorld(*dst) != depth) return PF_Err_BAD_CALLBACK_PARAM;
    if (host->Faults().ShouldFail(fault)) return PF_Err_INTERNAL_STRUCT_DAMAGED;

    const PF_Rect r = AreaOf(src, *dst, area);
    if (r.right <= r.left || r.bottom <= r.top) return PF_Err_NONE;
    const bool interrupted = host->Faults().ShouldFail(interrupt);
    const A_long rows = interrupted ? (r.bottom - r.top) / 2 : r.bottom - r.top;

    const PF_Err err = ParallelRows(rows, host->WorkerThreads(), [&](A_long row) -> PF_Err {
        const A_long y = r.top + row;
        for (A_long x = r.left; x < r.right; ++x) {
            Pixel* in = src ? PixelAt<Pixel>(*src, x, y) : nullptr;
            const PF_Err e = pix_fn(refcon, x, y, in, PixelAt<Pixel>(*dst, x, y));
            if (e != PF_Err_NONE) return e;
        }
        return PF_Err_NONE;
    });
    if (err != PF_Err_NONE) return err;
    return interrupted ? PF_Interrupt_CANCEL : PF_Err_NONE;
}

PF_Err Iterate8(PF_InData* in_data, A_long /*progress_base*/, A_long /*progress_final*/, PF_EffectWorld* src,
                const PF_Rect* area, void* refcon, PF_IteratePixel8Func pix_fn, PF_EffectWorld* dst) {
    return Iterate<PF_Pixel>(PixelDepth::k8, kIterate8Fault, kIterate8Interrupt, in_data, src, area, refcon, pix_fn,
                             dst);
}

PF_Err IterateFloat(PF_InData* in_data, A_long /*progress_base*/, A_long /*progress_final*/, PF_EffectWorld* src,
                    const PF_Rect* area, void* refcon, PF_IteratePixelFloatFunc pix_fn, PF_EffectWorld* dst) {
    return Iterate<PF_PixelFloat>(PixelDepth::k32f, kIterateFloatFault, kIterateFloatInterrupt, in_data, src, area,
                                  refcon, pix_fn, dst);
}

const PF_Iterate8Suite1 kIterate8Suite1 = {Iterate8};
const PF_iterateFloatSuite1 kIterateFloatSuite1 = {IterateFloat};

}  // namespace

void InstallIterateSuites(SimHost& host) {
    host.AddSuite(kPFIterate8Suite, kPFIterate8SuiteVersion1, &kIterate8Suite1);
    host.AddSuite(kPFIterateFloatSuite, kPFIterateFloatSuiteVersion1, &kIterateFloatSuite1);
}

}  // namespace simhost
