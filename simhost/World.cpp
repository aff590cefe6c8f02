#include "simhost/World.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace simhost {

size_t BytesPerPixel(PixelDepth depth) {
    switch (depth) {
        case PixelDepth::k8: return sizeof(PF_Pixel);
        case PixelDepth::k16: return sizeof(PF_Pixel16);
        case PixelDepth::k32f: return sizeof(PF_PixelFloat);
    }
    return sizeof(PF_Pixel);
}

PF_PixelFormat PixelFormatOf(PixelDepth depth) {
    switch (depth) {
        case PixelDepth::k8: return PF_PixelFormat_ARGB32;
        case PixelDepth::k16: return PF_PixelFormat_ARGB64;
        case PixelDepth::k32f: return PF_PixelFormat_ARGB128;
    }
    return PF_PixelFormat_INVALID;
}

A_long WorldFlagsOf(PixelDepth depth) {
    switch (depth) {
        case PixelDepth::k8: return PF_WorldFlag_WRITEABLE;
        case PixelDepth::k16: return PF_WorldFlag_WRITEABLE | PF_WorldFlag_DEEP;
        case PixelDepth::k32f: return PF_WorldFlag_WRITEABLE | PF_WorldFlag_FLOAT;
    }
    return PF_WorldFlag_WRITEABLE;
}

PixelDepth DepthOfWorld(const PF_EffectWorld& world) {
    if (world.world_flags & PF_WorldFlag_FLOAT) return PixelDepth::k32f;
    if (world.world_flags & PF_WorldFlag_DEEP) return PixelDepth::k16;
    return PixelDepth::k8;
}

SimWorld::SimWorld(A_long width, A_long height, PixelDepth depth, A_long rowPaddingBytes, uint8_t pixelByte)
    : depth_(depth), padding_(rowPaddingBytes) {
    if (width < 0 || height < 0 || rowPaddingBytes < 0) throw std::invalid_argument("SimWorld: negative size");
    const size_t rowbytes = size_t(width) * BytesPerPixel(depth) + size_t(rowPaddingBytes);
    // The pixels get their byte in the one pass that allocates them; only the padding is written again.
    storage_.assign(std::max<size_t>(rowbytes * size_t(height), 1), pixelByte);
    world_.rowbytes = A_long(rowbytes);
    world_.width = width;
    world_.height = height;
    for (A_long y = 0; y < height; ++y) {
        std::memset(storage_.data() + size_t(y) * rowbytes + size_t(width) * BytesPerPixel(depth), kPaddingByte,
                    size_t(rowPaddingBytes));
    }
    Wire();
}

void SimWorld::Wire() {
    world_.world_flags = WorldFlagsOf(depth_);
    world_.data = storage_.empty() ? nullptr : storage_.data();
    world_.extent_hint = {0, 0, world_.width, world_.height};
    world_.pix_aspect_ratio = {1, 1};
}

SimWorld::SimWorld(SimWorld&& other) noexcept
    : storage_(std::move(other.storage_)), depth_(other.depth_), padding_(other.padding_), world_(other.world_) {
    other.world_ = PF_EffectWorld{};
    Wire();
}

SimWorld& SimWorld::operator=(SimWorld&& other) noexcept {
    if (this != &other) {
        storage_ = std::move(other.storage_);
        depth_ = other.depth_;
        padding_ = other.padding_;
        world_ = other.world_;
        other.world_ = PF_EffectWorld{};
        Wire();
    }
    return *this;
}

SimWorld SimWorld::Clone() const {
    SimWorld copy;
    copy.storage_ = storage_;
    copy.depth_ = depth_;
    copy.padding_ = padding_;
    copy.world_ = world_;
    copy.Wire();
    return copy;
}

PF_PixelFloat SimWorld::GetFloat(A_long x, A_long y) const {
    switch (depth_) {
        case PixelDepth::k8: {
            const PF_Pixel& p = At<PF_Pixel>(x, y);
            return {p.alpha / 255.f, p.red / 255.f, p.green / 255.f, p.blue / 255.f};
        }
        case PixelDepth::k16: {
            const PF_Pixel16& p = At<PF_Pixel16>(x, y);
            const float s = 1.f / kMax16;
            return {p.alpha * s, p.red * s, p.green * s, p.blue * s};
        }
        case PixelDepth::k32f: return At<PF_PixelFloat>(x, y);
    }
    return {};
}

void SimWorld::SetFloat(A_long x, A_long y, const PF_PixelFloat& p) {
    auto to8 = [](float v) { return A_u_char(std::lround(std::clamp(v, 0.f, 1.f) * 255.f)); };
    auto to16 = [](float v) { return A_u_short(std::lround(std::clamp(v, 0.f, 1.f) * kMax16)); };
    switch (depth_) {
        case PixelDepth::k8: At<PF_Pixel>(x, y) = {to8(p.alpha), to8(p.red), to8(p.green), to8(p.blue)}; break;
        case PixelDepth::k16:
            At<PF_Pixel16>(x, y) = {to16(p.alpha), to16(p.red), to16(p.green), to16(p.blue)};
            break;
        case PixelDepth::k32f: At<PF_PixelFloat>(x, y) = p; break;
    }
}

bool SimWorld::PaddingIntact() const {
    const size_t pixelBytes = size_t(world_.width) * BytesPerPixel(depth_);
    for (A_long y = 0; y < world_.height; ++y) {
        const uint8_t* pad = storage_.data() + size_t(y) * size_t(world_.rowbytes) + pixelBytes;
        for (A_long i = 0; i < padding_; ++i)
            if (pad[i] != kPaddingByte) return false;
    }
    return true;
}

}  // namespace simhost
