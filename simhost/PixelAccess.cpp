#include "simhost/PixelAccess.h"

#include <algorithm>
#include <cmath>

namespace simhost {

namespace {

template <class Channel>
Channel Quantise(double v, double max) {
    if (!(v > 0)) return 0;  // NaN and negatives
    if (v >= 1) return Channel(max);
    return Channel(std::lround(v * max));
}

}  // namespace

bool HasPixels(const PF_EffectWorld* world) {
    return world && world->data && world->width >= 0 && world->height >= 0;
}

size_t PixelBytes(const PF_EffectWorld& world) { return BytesPerPixel(DepthOfWorld(world)); }

Rgba ReadPixel(const PF_EffectWorld& world, A_long x, A_long y) {
    const auto* row = static_cast<const uint8_t*>(world.data) + size_t(y) * size_t(world.rowbytes);
    switch (DepthOfWorld(world)) {
        case PixelDepth::k8: {
            const PF_Pixel& p = reinterpret_cast<const PF_Pixel*>(row)[x];
            return {p.alpha / 255.0, p.red / 255.0, p.green / 255.0, p.blue / 255.0};
        }
        case PixelDepth::k16: {
            const PF_Pixel16& p = reinterpret_cast<const PF_Pixel16*>(row)[x];
            const double s = 1.0 / kMax16;
            return {p.alpha * s, p.red * s, p.green * s, p.blue * s};
        }
        case PixelDepth::k32f: {
            const PF_PixelFloat& p = reinterpret_cast<const PF_PixelFloat*>(row)[x];
            return {p.alpha, p.red, p.green, p.blue};
        }
    }
    return {};
}

void WritePixel(PF_EffectWorld& world, A_long x, A_long y, const Rgba& p) {
    auto* row = static_cast<uint8_t*>(world.data) + size_t(y) * size_t(world.rowbytes);
    switch (DepthOfWorld(world)) {
        case PixelDepth::k8:
            reinterpret_cast<PF_Pixel*>(row)[x] = {Quantise<A_u_char>(p.alpha, 255), Quantise<A_u_char>(p.red, 255),
                                                   Quantise<A_u_char>(p.green, 255), Quantise<A_u_char>(p.blue, 255)};
            break;
        case PixelDepth::k16:
            reinterpret_cast<PF_Pixel16*>(row)[x] = {
                Quantise<A_u_short>(p.alpha, kMax16), Quantise<A_u_short>(p.red, kMax16),
                Quantise<A_u_short>(p.green, kMax16), Quantise<A_u_short>(p.blue, kMax16)};
            break;
        case PixelDepth::k32f:
            reinterpret_cast<PF_PixelFloat*>(row)[x] = {float(p.alpha), float(p.red), float(p.green), float(p.blue)};
            break;
    }
}

Rgba FromPixel8(const PF_Pixel& p) { return {p.alpha / 255.0, p.red / 255.0, p.green / 255.0, p.blue / 255.0}; }

PF_PixelFormat FormatOfWorld(const PF_EffectWorld& world) {
    if (!world.data) return PF_PixelFormat_INVALID;
    return PixelFormatOf(DepthOfWorld(world));
}

bool DepthOfFormat(PF_PixelFormat format, PixelDepth* depth) {
    for (PixelDepth d : {PixelDepth::k8, PixelDepth::k16, PixelDepth::k32f}) {
        if (PixelFormatOf(d) == format) {
            *depth = d;
            return true;
        }
    }
    return false;
}

PF_LRect IntersectRects(const PF_LRect& a, const PF_LRect& b) {
    PF_LRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
               std::min(a.bottom, b.bottom)};
    if (RectIsEmpty(r)) r = PF_LRect{0, 0, 0, 0};
    return r;
}

bool RectIsEmpty(const PF_LRect& r) { return r.right <= r.left || r.bottom <= r.top; }

PF_LRect WorldBounds(const PF_EffectWorld& world) { return PF_LRect{0, 0, world.width, world.height}; }

}  // namespace simhost
