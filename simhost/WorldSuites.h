// The worlds the host lends the effect, and the services that fill them: the registry behind "PF World Suite" v2
// (PF_NewWorld and PF_DisposeWorld, whose table simhost/LayerSuites.h serves) and the utility callbacks `fill`
// and `copy`.
//
// Every world the host hands out is tracked: worlds made by PF_NewWorld until they are disposed, and (through
// the smart render runner) the layer pixels and the output of a frame. A world made during a frame and not
// disposed by the end of that frame is a leak; the runner reports it and then frees it. Worlds carry padding
// after each row, filled with a known byte, so a write past a world's pixels is caught too.
//
// Faults: "fill", "copy" (and, in the world suite, "PF_NewWorld", "PF_DisposeWorld", "PF_GetPixelFormat").
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sdk/AE_Effect.h"
#include "simhost/World.h"

namespace simhost {

class SimHost;

// Bytes written into the pixels of a world made without clear_pixB, as memory a host reuses would hold: an
// effect that reads such a world before writing it sees this, not zeros.
constexpr uint8_t kUnclearedByte = 0x5A;

struct WorldCounts {
    int made = 0;          // successful PF_NewWorld calls
    int disposed = 0;      // successful PF_DisposeWorld calls
    int badDisposals = 0;  // PF_DisposeWorld of a world the host did not make, or made and already disposed
};

class HostWorlds {
public:
    explicit HostWorlds(SimHost& host);  // installs the world suites and the fill and copy callbacks
    HostWorlds(const HostWorlds&) = delete;
    HostWorlds& operator=(const HostWorlds&) = delete;

    // Padding after each row of every world the host makes from now on, in pixels of the world's depth.
    void SetRowPaddingPixels(A_long pixels);
    A_long RowPaddingPixels() const;

    // A host-made world: zeroed (or uncleared), padded, tracked under `frame` (0: made outside any frame).
    PF_Err New(A_long width, A_long height, bool clear, PF_PixelFormat format, PF_EffectWorld* out, int frame);
    PF_Err Dispose(PF_EffectWorld* world);

    WorldCounts Counts() const;
    // Worlds made by PF_NewWorld and not disposed: all of them, or those made during one frame.
    int Alive() const;
    std::vector<std::string> Undisposed(int frame) const;
    // Frees the worlds still alive from `frame` (the effect leaked them) and says how many there were.
    int ReleaseFrame(int frame);
    // Descriptions of the worlds made during `frame` whose row padding was written (checked when disposed,
    // released, or now for those still alive).
    std::vector<std::string> Overrun(int frame) const;

    // A world of the given size and depth with this host's padding, for the host's own use (layer pixels, output).
    SimWorld MakeWorld(A_long width, A_long height, PixelDepth depth, bool clear) const;

private:
    struct Made {
        std::unique_ptr<SimWorld> world;
        int frame = 0;
        int serial = 0;
    };
    static std::string Describe(const Made& m);

    SimHost& host_;
    mutable std::mutex mutex_;
    std::map<const void*, Made> alive_;  // by pixel address, which the effect's copy of the record keeps
    std::vector<std::pair<int, std::string>> overruns_;  // frame, description
    WorldCounts counts_;
    int serial_ = 0;
    A_long paddingPixels_ = 2;
};

HostWorlds& Worlds(SimHost& host);

// The frame the smart render runner is rendering on the calling thread (0: none); worlds made by PF_NewWorld
// belong to it.
int CurrentFrameOnThisThread();
void SetCurrentFrameOnThisThread(int frame);

// The host's fill and copy, also used by the world transform suite; rows spread over up to `threads` threads.
PF_Err FillWorld(int threads, const PF_Pixel* color, const PF_Rect* rect, PF_EffectWorld* world);
PF_Err CopyWorld(int threads, const PF_EffectWorld* src, PF_EffectWorld* dst, const PF_Rect* src_r,
                 const PF_Rect* dst_r);

}  // namespace simhost
