#include "simhost/WorldSuites.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "sdk/AE_EffectSuites.h"
#include "simhost/CallFailures.h"
#include "simhost/LayerSuites.h"
#include "simhost/Parallel.h"
#include "simhost/PixelAccess.h"
#include "simhost/SimHost.h"
#include "simhost/TransferRect.h"

namespace simhost {

namespace {

// The frame being rendered on this thread, set by the smart render runner; 0 outside a frame.
thread_local int currentFrame = 0;

PF_Err UtilFill(PF_ProgPtr effect_ref, const PF_Pixel* color, const PF_Rect* rect, PF_EffectWorld* world) {
    SimHost* host = SimHost::FromRef(effect_ref);
    if (!host) return PF_Err_BAD_CALLBACK_PARAM;
    if (PF_Err err = PlannedFailure(*host, "fill")) return err;
    return FillWorld(host->WorkerThreads(), color, rect, world);
}

PF_Err UtilCopy(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst, const PF_Rect* src_r,
                const PF_Rect* dst_r) {
    SimHost* host = SimHost::FromRef(effect_ref);
    if (!host) return PF_Err_BAD_CALLBACK_PARAM;
    if (PF_Err err = PlannedFailure(*host, "copy")) return err;
    return CopyWorld(host->WorkerThreads(), src, dst, src_r, dst_r);
}

}  // namespace

int CurrentFrameOnThisThread() { return currentFrame; }
void SetCurrentFrameOnThisThread(int frame) { currentFrame = frame; }

HostWorlds::HostWorlds(SimHost& host) : host_(host) {
    EffectLayerOf(host);  // serves "PF World Suite" v2 over this registry
    host.Utils().fill = UtilFill;
    host.Utils().copy = UtilCopy;
    InstallWorldTransformSuite(host);
}

HostWorlds& Worlds(SimHost& host) { return host.Service<HostWorlds>(); }

void HostWorlds::SetRowPaddingPixels(A_long pixels) {
    std::lock_guard<std::mutex> lock(mutex_);
    paddingPixels_ = std::max<A_long>(0, pixels);
}

A_long HostWorlds::RowPaddingPixels() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return paddingPixels_;
}

SimWorld HostWorlds::MakeWorld(A_long width, A_long height, PixelDepth depth, bool clear) const {
    return SimWorld(width, height, depth, RowPaddingPixels() * A_long(BytesPerPixel(depth)),
                    clear ? 0 : kUnclearedByte);
}

PF_Err HostWorlds::New(A_long width, A_long height, bool clear, PF_PixelFormat format, PF_EffectWorld* out,
                       int frame) {
    PixelDepth depth;
    if (!out || width < 0 || height < 0 || !DepthOfFormat(format, &depth)) return PF_Err_BAD_CALLBACK_PARAM;
    Made made;
    try {
        made.world = std::make_unique<SimWorld>(MakeWorld(width, height, depth, clear));
    } catch (const std::bad_alloc&) {
        return PF_Err_OUT_OF_MEMORY;
    }
    made.frame = frame;
    std::lock_guard<std::mutex> lock(mutex_);
    made.serial = ++serial_;
    *out = *made.world->world();
    alive_[made.world->world()->data] = std::move(made);
    ++counts_.made;
    return PF_Err_NONE;
}

PF_Err HostWorlds::Dispose(PF_EffectWorld* world) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = world ? alive_.find(world->data) : alive_.end();
    if (it == alive_.end()) {
        ++counts_.badDisposals;
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    if (!it->second.world->PaddingIntact()) overruns_.emplace_back(it->second.frame, Describe(it->second));
    alive_.erase(it);
    ++counts_.disposed;
    return PF_Err_NONE;
}

WorldCounts HostWorlds::Counts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_;
}

int HostWorlds::Alive() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return int(alive_.size());
}

std::string HostWorlds::Describe(const Made& m) {
    const PF_EffectWorld& w = *m.world->world();
    const char* depth = m.world->depth() == PixelDepth::k8 ? "8-bit" : m.world->depth() == PixelDepth::k16
                                                                         ? "16-bit"
                                                                         : "32-bit float";
    return "PF_NewWorld #" + std::to_string(m.serial) + " " + std::to_string(w.width) + "x" +
           std::to_string(w.height) + " " + depth;
}

std::vector<std::string> HostWorlds::Undisposed(int frame) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::pair<int, std::string>> found;
    for (const auto& entry : alive_)
        if (entry.second.frame == frame) found.emplace_back(entry.second.serial, Describe(entry.second));
    std::sort(found.begin(), found.end());
    std::vector<std::string> out;
    for (auto& f : found) out.push_back(std::move(f.second));
    return out;
}

int HostWorlds::ReleaseFrame(int frame) {
    std::lock_guard<std::mutex> lock(mutex_);
    int released = 0;
    for (auto it = alive_.begin(); it != alive_.end();) {
        if (it->second.frame == frame) {
            if (!it->second.world->PaddingIntact()) overruns_.emplace_back(frame, Describe(it->second));
            it = alive_.erase(it);
            ++released;
        } else {
            ++it;
        }
    }
    return released;
}

std::vector<std::string> HostWorlds::Overrun(int frame) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    for (const auto& o : overruns_)
        if (o.first == frame) out.push_back(o.second);
    for (const auto& entry : alive_)
        if (entry.second.frame == frame && !entry.second.world->PaddingIntact()) out.push_back(Describe(entry.second));
    return out;
}

// ---- fill and copy ----------------------------------------------------------------------------------------

PF_Err FillWorld(int threads, const PF_Pixel* color, const PF_Rect* rect, PF_EffectWorld* world) {
    if (!HasPixels(world)) return PF_Err_BAD_CALLBACK_PARAM;
    // No colour is transparent black, no rectangle the whole world; what lies outside the world is dropped.
    const Rgba value = color ? FromPixel8(*color) : Rgba{};
    const PF_LRect area = IntersectRects(rect ? *rect : WorldBounds(*world), WorldBounds(*world));
    if (RectIsEmpty(area)) return PF_Err_NONE;
    return ParallelRows(area.bottom - area.top, threads, [&](A_long row) {
        const A_long y = area.top + row;
        FillRow(*world, area.left, y, area.right - area.left, value);
        return PF_Err_NONE;
    });
}

PF_Err CopyWorld(int threads, const PF_EffectWorld* src, PF_EffectWorld* dst, const PF_Rect* src_r,
                 const PF_Rect* dst_r) {
    if (!HasPixels(src) || !HasPixels(dst)) return PF_Err_BAD_CALLBACK_PARAM;
    const PF_LRect from = src_r ? *src_r : WorldBounds(*src);
    const PF_LRect to = dst_r ? *dst_r : WorldBounds(*dst);
    if (RectIsEmpty(from) || RectIsEmpty(to)) return PF_Err_NONE;
    const double sx = double(from.right - from.left) / double(to.right - to.left);
    const double sy = double(from.bottom - from.top) / double(to.bottom - to.top);
    const PF_LRect area = IntersectRects(to, WorldBounds(*dst));
    const PF_LRect srcBounds = WorldBounds(*src);
    // A copy onto an overlapping part of the same world reads the pixels as they were before it.
    std::vector<uint8_t> snapshot;
    const PF_EffectWorld* reading = src;
    PF_EffectWorld held{};
    if (src->data == dst->data) {
        const size_t bytes = size_t(src->rowbytes) * size_t(src->height);
        snapshot.assign(static_cast<const uint8_t*>(src->data), static_cast<const uint8_t*>(src->data) + bytes);
        held = *src;
        held.data = snapshot.data();
        reading = &held;
    }
    // Rectangles of different sizes scale by the nearest source pixel to each destination pixel's centre.
    if (RectIsEmpty(area)) return PF_Err_NONE;
    if (sx == 1.0 && sy == 1.0) {
        // Equal sizes map pixel to pixel: each row is one run of the source, copied whole. The columns whose
        // source lies outside the source world are left as they are, as below.
        const int64_t shiftX = int64_t(from.left) - int64_t(to.left);
        const int64_t shiftY = int64_t(from.top) - int64_t(to.top);
        const int64_t left = std::max<int64_t>(area.left, int64_t(srcBounds.left) - shiftX);
        const int64_t right = std::min<int64_t>(area.right, int64_t(srcBounds.right) - shiftX);
        if (left >= right) return PF_Err_NONE;
        return ParallelRows(area.bottom - area.top, threads, [&](A_long row) {
            const A_long y = area.top + row;
            const int64_t v = int64_t(y) + shiftY;
            if (v < srcBounds.top || v >= srcBounds.bottom) return PF_Err_NONE;
            CopyRow(*reading, A_long(left + shiftX), A_long(v), *dst, A_long(left), y, A_long(right - left));
            return PF_Err_NONE;
        });
    }
    return ParallelRows(area.bottom - area.top, threads, [&](A_long row) {
        const A_long y = area.top + row;
        const A_long v = from.top + A_long(std::floor((y - to.top + 0.5) * sy));
        if (v < srcBounds.top || v >= srcBounds.bottom) return PF_Err_NONE;
        for (A_long x = area.left; x < area.right; ++x) {
            const A_long u = from.left + A_long(std::floor((x - to.left + 0.5) * sx));
            if (u < srcBounds.left || u >= srcBounds.right) continue;
            WritePixel(*dst, x, y, ReadPixel(*reading, u, v));
        }
        return PF_Err_NONE;
    });
}

}  // namespace simhost
