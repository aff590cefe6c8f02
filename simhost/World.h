// Pixel worlds owned by the simulated host: real pixels, rows `rowbytes` apart. Rows may be padded beyond the
// last pixel; the padding is filled with a known byte pattern so a test can tell whether the effect wrote
// outside the pixels it was given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sdk/AE_Effect.h"

namespace simhost {

enum class PixelDepth { k8, k16, k32f };

size_t BytesPerPixel(PixelDepth depth);
PF_PixelFormat PixelFormatOf(PixelDepth depth);
// world_flags of a world of that depth: WRITEABLE, with DEEP for 16 bits and FLOAT for 32-bit float.
A_long WorldFlagsOf(PixelDepth depth);
// The depth a world's flags say it has.
PixelDepth DepthOfWorld(const PF_EffectWorld& world);

class SimWorld {
public:
    static constexpr uint8_t kPaddingByte = 0xA5;

    SimWorld() = default;
    // Every pixel byte `pixelByte` (zeroed pixels by default); each row is followed by `rowPaddingBytes` bytes of
    // padding.
    SimWorld(A_long width, A_long height, PixelDepth depth, A_long rowPaddingBytes = 0, uint8_t pixelByte = 0);
    SimWorld(SimWorld&& other) noexcept;
    SimWorld& operator=(SimWorld&& other) noexcept;
    SimWorld(const SimWorld&) = delete;
    SimWorld& operator=(const SimWorld&) = delete;
    // A deep copy with the same layout.
    SimWorld Clone() const;

    PF_EffectWorld* world() { return &world_; }
    const PF_EffectWorld* world() const { return &world_; }
    A_long width() const { return world_.width; }
    A_long height() const { return world_.height; }
    A_long rowbytes() const { return world_.rowbytes; }
    PixelDepth depth() const { return depth_; }
    bool empty() const { return storage_.empty(); }

    template <class Pixel>
    Pixel* Row(A_long y) {
        return reinterpret_cast<Pixel*>(storage_.data() + size_t(y) * size_t(world_.rowbytes));
    }
    template <class Pixel>
    const Pixel* Row(A_long y) const {
        return reinterpret_cast<const Pixel*>(storage_.data() + size_t(y) * size_t(world_.rowbytes));
    }
    template <class Pixel>
    Pixel& At(A_long x, A_long y) {
        return Row<Pixel>(y)[x];
    }
    template <class Pixel>
    const Pixel& At(A_long x, A_long y) const {
        return Row<Pixel>(y)[x];
    }

    // Any pixel read or written as float ARGB in 0..1 for 8 and 16 bits (16 bits as the host's 0..32768).
    PF_PixelFloat GetFloat(A_long x, A_long y) const;
    void SetFloat(A_long x, A_long y, const PF_PixelFloat& p);

    // True when no byte of the row padding has changed since the world was made.
    bool PaddingIntact() const;

private:
    void Wire();
    std::vector<uint8_t> storage_;
    PixelDepth depth_ = PixelDepth::k8;
    A_long padding_ = 0;
    PF_EffectWorld world_{};
};

// The host's 16-bit channels run from 0 to 32768.
constexpr A_u_short kMax16 = 32768;

}  // namespace simhost
