// Drawing in the effect-controls window: a window context has a drawing reference whose surface is a real
// pixel buffer, the supplier makes images from the effect's buffers, and the surface draws them under its
// current transform at an origin and opacity, so a test can look at the pixels the effect drew.
//
// Faults (host.Faults().FailCall(name, nth)), each failing with PF_Err_INTERNAL_STRUCT_DAMAGED:
// "PF_GetDrawingReference", "GetSupplier", "GetSurface", "NewImageFromBuffer", "ReleaseObject", "Transform",
// "DrawImage".
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "sdk/AE_EffectUI.h"
#include "sdk/DrawbotSuites.h"

namespace simhost {

class SimHost;

// 8 bits a channel, straight alpha.
struct SurfacePixel {
    A_u_char red, green, blue, alpha;
};

struct DrawImageCall {
    int width = 0, height = 0;
    DRAWBOT_PointF32 origin{};
    float opacity = 0;
    DRAWBOT_MatrixF32 transform{};  // the surface's transform at the time
};

class DrawbotHost {
public:
    explicit DrawbotHost(SimHost& host);  // adds the custom UI suite and the three drawing suites
    DrawbotHost(const DrawbotHost&) = delete;
    DrawbotHost& operator=(const DrawbotHost&) = delete;

    // A window whose surface is width by height pixels of an opaque background colour.
    PF_ContextH NewWindow(int width, int height, SurfacePixel background);
    // PF_GetDrawingReference of a window gives no reference (and no error), as for a window being closed.
    void SetHasDrawingReference(bool has);

    SurfacePixel Pixel(PF_ContextH window, int x, int y) const;
    int Width(PF_ContextH window) const;
    int Height(PF_ContextH window) const;
    DRAWBOT_MatrixF32 Transform(PF_ContextH window) const;
    std::vector<DrawImageCall> DrawCalls() const;
    int ImagesAlive() const;
    int ImagesMade() const;
    int BadReleases() const;

    // Suite entries.
    PF_Err DrawingReference(PF_ContextH context, DRAWBOT_DrawRef* ref);
    SPErr Supplier(DRAWBOT_DrawRef ref, DRAWBOT_SupplierRef* supplier);
    SPErr Surface(DRAWBOT_DrawRef ref, DRAWBOT_SurfaceRef* surface);
    SPErr NewImage(DRAWBOT_SupplierRef supplier, int width, int height, int rowBytes, DRAWBOT_PixelLayout layout,
                   const void* data, DRAWBOT_ImageRef* image);
    SPErr Release(DRAWBOT_ObjectRef object);
    SPErr Concat(DRAWBOT_SurfaceRef surface, const DRAWBOT_MatrixF32* matrix);
    SPErr Draw(DRAWBOT_SurfaceRef surface, DRAWBOT_ImageRef image, const DRAWBOT_PointF32* origin, float opacity);

private:
    struct Premultiplied {
        float r, g, b, a;
    };
    struct Window {
        int width, height;
        std::vector<Premultiplied> pixels;
        DRAWBOT_MatrixF32 transform;
        char supplierTag, surfaceTag;  // the supplier and surface handles point here
    };
    struct Image {
        int width, height;
        std::vector<Premultiplied> pixels;
    };
    Window* WindowOfContext(PF_ContextH context) const;  // caller holds mutex_
    Window* WindowOfDrawRef(DRAWBOT_DrawRef ref) const;
    Window* WindowOfSupplier(DRAWBOT_SupplierRef supplier) const;
    Window* WindowOfSurface(DRAWBOT_SurfaceRef surface) const;

    SimHost& host_;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<Window>> windows_;
    std::map<const void*, std::unique_ptr<Image>> images_;
    std::vector<DrawImageCall> draws_;
    bool hasReference_ = true;
    int imagesMade_ = 0;
    int badReleases_ = 0;
};

DrawbotHost& Drawbot(SimHost& host);

}  // namespace simhost
