#include "simhost/PixelAccess.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace simhost {

namespace {

template <class Channel>
Channel Quantise(double v, double max) {
    if (!(v > 0)) return 0;  // NaN and negatives
    if (v >= 1) return Channel(max);
    return Channel(std::lround(v * max));
}

// The 8-bit channel values as ReadPixel gives them (c / 255.0), looked up instead of divided.
const std::array<double, 256>& Unit8() {
    static const std::array<double, 256> table = [] {
        std::array<double, 256> t{};
        for (int c = 0; c < 256; ++c) t[size_t(c)] = c / 255.0;
        return t;
    }();
    return table;
}

uint8_t* PixelAt(PF_EffectWorld& world, A_long x, A_long y) {
    return static_cast<uint8_t*>(world.data) + size_t(y) * size_t(world.rowbytes) + size_t(x) * PixelBytes(world);
}
const uint8_t* PixelAt(const PF_EffectWorld& world, A_long x, A_long y) {
    return static_cast<const uint8_t*>(world.data) + size_t(y) * size_t(world.rowbytes) +
           size_t(x) * PixelBytes(world);
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

void ReadRow(const PF_EffectWorld& world, A_long x, A_long y, A_long count, Rgba* out) {
    if (count <= 0) return;
    switch (DepthOfWorld(world)) {
        case PixelDepth::k8: {
            const auto* p = reinterpret_cast<const PF_Pixel*>(PixelAt(world, x, y));
            const auto& u = Unit8();
            for (A_long i = 0; i < count; ++i)
                out[i] = {u[p[i].alpha], u[p[i].red], u[p[i].green], u[p[i].blue]};
            break;
        }
        case PixelDepth::k16: {
            const auto* p = reinterpret_cast<const PF_Pixel16*>(PixelAt(world, x, y));
            const double s = 1.0 / kMax16;
            for (A_long i = 0; i < count; ++i) out[i] = {p[i].alpha * s, p[i].red * s, p[i].green * s, p[i].blue * s};
            break;
        }
        case PixelDepth::k32f: {
            const auto* p = reinterpret_cast<const PF_PixelFloat*>(PixelAt(world, x, y));
            for (A_long i = 0; i < count; ++i) out[i] = {p[i].alpha, p[i].red, p[i].green, p[i].blue};
            break;
        }
    }
}

void WriteRow(PF_EffectWorld& world, A_long x, A_long y, A_long count, const Rgba* in) {
    if (count <= 0) return;
    switch (DepthOfWorld(world)) {
        case PixelDepth::k8: {
            auto* p = reinterpret_cast<PF_Pixel*>(PixelAt(world, x, y));
            for (A_long i = 0; i < count; ++i)
                p[i] = {Quantise<A_u_char>(in[i].alpha, 255), Quantise<A_u_char>(in[i].red, 255),
                        Quantise<A_u_char>(in[i].green, 255), Quantise<A_u_char>(in[i].blue, 255)};
            break;
        }
        case PixelDepth::k16: {
            auto* p = reinterpret_cast<PF_Pixel16*>(PixelAt(world, x, y));
            for (A_long i = 0; i < count; ++i)
                p[i] = {Quantise<A_u_short>(in[i].alpha, kMax16), Quantise<A_u_short>(in[i].red, kMax16),
                        Quantise<A_u_short>(in[i].green, kMax16), Quantise<A_u_short>(in[i].blue, kMax16)};
            break;
        }
        case PixelDepth::k32f: {
            auto* p = reinterpret_cast<PF_PixelFloat*>(PixelAt(world, x, y));
            for (A_long i = 0; i < count; ++i)
                p[i] = {float(in[i].alpha), float(in[i].red), float(in[i].green), float(in[i].blue)};
            break;
        }
    }
}

void CopyRow(const PF_EffectWorld& src, A_long sx, A_long sy, PF_EffectWorld& dst, A_long dx, A_long dy,
             A_long count) {
    if (count <= 0) return;
    const PixelDepth depth = DepthOfWorld(src);
    if (depth != DepthOfWorld(dst)) {
        for (A_long i = 0; i < count; ++i) WritePixel(dst, dx + i, dy, ReadPixel(src, sx + i, sy));
        return;
    }
    if (depth == PixelDepth::k16) {
        // Channels above the host's 16-bit white are clamped on the way, as a transfer does.
        const auto* from = reinterpret_cast<const A_u_short*>(PixelAt(src, sx, sy));
        auto* to = reinterpret_cast<A_u_short*>(PixelAt(dst, dx, dy));
        for (A_long i = 0; i < 4 * count; ++i) to[i] = std::min(from[i], kMax16);
        return;
    }
    // 8-bit values and floats pass through a read and a write unchanged.
    std::memcpy(PixelAt(dst, dx, dy), PixelAt(src, sx, sy), size_t(count) * PixelBytes(src));
}

void FillRow(PF_EffectWorld& world, A_long x, A_long y, A_long count, const Rgba& p) {
    if (count <= 0) return;
    uint8_t* row = PixelAt(world, x, y);
    const size_t bytes = PixelBytes(world);
    // One pixel as WritePixel would write it, then copied along the row.
    PF_EffectWorld one = world;
    alignas(16) uint8_t pixel[sizeof(PF_PixelFloat)] = {};
    one.data = pixel;
    one.rowbytes = A_long(sizeof(pixel));
    WritePixel(one, 0, 0, p);
    if (std::all_of(pixel, pixel + bytes, [](uint8_t b) { return b == 0; })) {
        std::memset(row, 0, size_t(count) * bytes);
        return;
    }
    for (A_long i = 0; i < count; ++i) std::memcpy(row + size_t(i) * bytes, pixel, bytes);
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
