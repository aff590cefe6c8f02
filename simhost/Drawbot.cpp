#include "simhost/Drawbot.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "simhost/SimHost.h"

namespace simhost {

namespace {

constexpr PF_Err kFault = PF_Err_INTERNAL_STRUCT_DAMAGED;

DrawbotHost* Active() {
    SimHost* host = SimHost::Active();
    return host ? host->FindService<DrawbotHost>() : nullptr;
}

PF_Err GetDrawingReference(PF_ContextH context, DRAWBOT_DrawRef* ref) {
    DrawbotHost* d = Active();
    return d && ref ? d->DrawingReference(context, ref) : PF_Err_BAD_CALLBACK_PARAM;
}
SPErr GetSupplier(DRAWBOT_DrawRef ref, DRAWBOT_SupplierRef* supplier) {
    DrawbotHost* d = Active();
    return d && supplier ? d->Supplier(ref, supplier) : PF_Err_BAD_CALLBACK_PARAM;
}
SPErr GetSurface(DRAWBOT_DrawRef ref, DRAWBOT_SurfaceRef* surface) {
    DrawbotHost* d = Active();
    return d && surface ? d->Surface(ref, surface) : PF_Err_BAD_CALLBACK_PARAM;
}
SPErr NewImageFromBuffer(DRAWBOT_SupplierRef supplier, int width, int height, int rowBytes, DRAWBOT_PixelLayout layout,
                         const void* data, DRAWBOT_ImageRef* image) {
    DrawbotHost* d = Active();
    return d && data && image ? d->NewImage(supplier, width, height, rowBytes, layout, data, image)
                              : PF_Err_BAD_CALLBACK_PARAM;
}
SPErr ReleaseObject(DRAWBOT_ObjectRef object) {
    DrawbotHost* d = Active();
    return d ? d->Release(object) : PF_Err_BAD_CALLBACK_PARAM;
}
SPErr Transform(DRAWBOT_SurfaceRef surface, const DRAWBOT_MatrixF32* matrix) {
    DrawbotHost* d = Active();
    return d && matrix ? d->Concat(surface, matrix) : PF_Err_BAD_CALLBACK_PARAM;
}
SPErr DrawImage(DRAWBOT_SurfaceRef surface, DRAWBOT_ImageRef image, const DRAWBOT_PointF32* origin, float opacity) {
    DrawbotHost* d = Active();
    return d && origin ? d->Draw(surface, image, origin, opacity) : PF_Err_BAD_CALLBACK_PARAM;
}

const PF_EffectCustomUISuite1 kCustomUISuite1 = {GetDrawingReference};
const DRAWBOT_DrawbotSuite1 kDrawSuite1 = {GetSupplier, GetSurface};
const DRAWBOT_SupplierSuite1 kSupplierSuite1 = {NewImageFromBuffer, ReleaseObject};
const DRAWBOT_SurfaceSuite1 kSurfaceSuite1 = {Transform, DrawImage};

constexpr DRAWBOT_MatrixF32 kIdentity = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};

// Affine product a * b of row-vector transforms (a applied first); the third column is not used.
DRAWBOT_MatrixF32 Multiply(const DRAWBOT_MatrixF32& a, const DRAWBOT_MatrixF32& b) {
    DRAWBOT_MatrixF32 m = kIdentity;
    for (int r = 0; r < 3; ++r) {
        const float w = r == 2 ? 1.0f : 0.0f;  // the translation row carries the homogeneous 1
        for (int c = 0; c < 2; ++c) m.mat[r][c] = a.mat[r][0] * b.mat[0][c] + a.mat[r][1] * b.mat[1][c] + w * b.mat[2][c];
    }
    return m;
}

}  // namespace

DrawbotHost::DrawbotHost(SimHost& host) : host_(host) {
    host.AddSuite(kPFEffectCustomUISuite, 1, &kCustomUISuite1);
    host.AddSuite(kDRAWBOT_DrawSuite, 1, &kDrawSuite1);
    host.AddSuite(kDRAWBOT_SupplierSuite, 1, &kSupplierSuite1);
    host.AddSuite(kDRAWBOT_SurfaceSuite, 1, &kSurfaceSuite1);
}

PF_ContextH DrawbotHost::NewWindow(int width, int height, SurfacePixel background) {
    if (width <= 0 || height <= 0) throw std::invalid_argument("a window has pixels");
    auto w = std::make_unique<Window>();
    w->width = width;
    w->height = height;
    const float a = background.alpha / 255.0f;
    w->pixels.assign(size_t(width) * size_t(height),
                     Premultiplied{background.red / 255.0f * a, background.green / 255.0f * a,
                                   background.blue / 255.0f * a, a});
    w->transform = kIdentity;
    std::lock_guard<std::mutex> lock(mutex_);
    windows_.push_back(std::move(w));
    return reinterpret_cast<PF_ContextH>(windows_.back().get());
}

void DrawbotHost::SetHasDrawingReference(bool has) {
    std::lock_guard<std::mutex> lock(mutex_);
    hasReference_ = has;
}

DrawbotHost::Window* DrawbotHost::WindowOfContext(PF_ContextH context) const {
    for (const auto& w : windows_) {
        if (reinterpret_cast<PF_ContextH>(w.get()) == context) return w.get();
    }
    return nullptr;
}
// The drawing reference of a window is the window itself; its supplier and surface are tags inside it.
DrawbotHost::Window* DrawbotHost::WindowOfDrawRef(DRAWBOT_DrawRef ref) const {
    return WindowOfContext(reinterpret_cast<PF_ContextH>(ref));
}
DrawbotHost::Window* DrawbotHost::WindowOfSupplier(DRAWBOT_SupplierRef supplier) const {
    for (const auto& w : windows_) {
        if (reinterpret_cast<DRAWBOT_SupplierRef>(&w->supplierTag) == supplier) return w.get();
    }
    return nullptr;
}
DrawbotHost::Window* DrawbotHost::WindowOfSurface(DRAWBOT_SurfaceRef surface) const {
    for (const auto& w : windows_) {
        if (reinterpret_cast<DRAWBOT_SurfaceRef>(&w->surfaceTag) == surface) return w.get();
    }
    return nullptr;
}

SurfacePixel DrawbotHost::Pixel(PF_ContextH window, int x, int y) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const Window* w = WindowOfContext(window);
    if (!w || x < 0 || y < 0 || x >= w->width || y >= w->height) throw std::out_of_range("no such pixel");
    const Premultiplied& p = w->pixels[size_t(y) * size_t(w->width) + size_t(x)];
    auto byte = [](float v) { return A_u_char(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)); };
    if (p.a <= 0) return SurfacePixel{0, 0, 0, 0};
    return SurfacePixel{byte(p.r / p.a), byte(p.g / p.a), byte(p.b / p.a), byte(p.a)};
}
int DrawbotHost::Width(PF_ContextH window) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return WindowOfContext(window)->width;
}
int DrawbotHost::Height(PF_ContextH window) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return WindowOfContext(window)->height;
}
DRAWBOT_MatrixF32 DrawbotHost::Transform(PF_ContextH window) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return WindowOfContext(window)->transform;
}
std::vector<DrawImageCall> DrawbotHost::DrawCalls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return draws_;
}
int DrawbotHost::ImagesAlive() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return int(images_.size());
}
int DrawbotHost::ImagesMade() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return imagesMade_;
}
int DrawbotHost::BadReleases() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return badReleases_;
}

PF_Err DrawbotHost::DrawingReference(PF_ContextH context, DRAWBOT_DrawRef* ref) {
    *ref = nullptr;
    if (host_.Faults().ShouldFail("PF_GetDrawingReference")) return kFault;
    std::lock_guard<std::mutex> lock(mutex_);
    Window* w = WindowOfContext(context);
    if (!w) return PF_Err_BAD_CALLBACK_PARAM;
    if (hasReference_) *ref = reinterpret_cast<DRAWBOT_DrawRef>(w);
    return PF_Err_NONE;
}

SPErr DrawbotHost::Supplier(DRAWBOT_DrawRef ref, DRAWBOT_SupplierRef* supplier) {
    *supplier = nullptr;
    if (host_.Faults().ShouldFail("GetSupplier")) return kFault;
    std::lock_guard<std::mutex> lock(mutex_);
    Window* w = WindowOfDrawRef(ref);
    if (!w) return PF_Err_BAD_CALLBACK_PARAM;
    *supplier = reinterpret_cast<DRAWBOT_SupplierRef>(&w->supplierTag);
    return PF_Err_NONE;
}

SPErr DrawbotHost::Surface(DRAWBOT_DrawRef ref, DRAWBOT_SurfaceRef* surface) {
    *surface = nullptr;
    if (host_.Faults().ShouldFail("GetSurface")) return kFault;
    std::lock_guard<std::mutex> lock(mutex_);
    Window* w = WindowOfDrawRef(ref);
    if (!w) return PF_Err_BAD_CALLBACK_PARAM;
    *surface = reinterpret_cast<DRAWBOT_SurfaceRef>(&w->surfaceTag);
    return PF_Err_NONE;
}

SPErr DrawbotHost::NewImage(DRAWBOT_SupplierRef supplier, int width, int height, int rowBytes,
                            DRAWBOT_PixelLayout layout, const void* data, DRAWBOT_ImageRef* image) {
    *image = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!WindowOfSupplier(supplier)) return PF_Err_BAD_CALLBACK_PARAM;
    }
    const bool bgra = layout == kDRAWBOT_PixelLayout_32BGRA_Straight || layout == kDRAWBOT_PixelLayout_32BGRA_Premul;
    const bool argb = layout == kDRAWBOT_PixelLayout_32ARGB_Straight || layout == kDRAWBOT_PixelLayout_32ARGB_Premul;
    if ((!bgra && !argb) || width <= 0 || height <= 0 || rowBytes < width * 4) return PF_Err_BAD_CALLBACK_PARAM;
    if (host_.Faults().ShouldFail("NewImageFromBuffer")) return kFault;
    const bool straight =
        layout == kDRAWBOT_PixelLayout_32BGRA_Straight || layout == kDRAWBOT_PixelLayout_32ARGB_Straight;
    auto img = std::make_unique<Image>();
    img->width = width;
    img->height = height;
    img->pixels.resize(size_t(width) * size_t(height));
    const auto* bytes = static_cast<const A_u_char*>(data);
    for (int y = 0; y < height; ++y) {
        const A_u_char* row = bytes + size_t(y) * size_t(rowBytes);
        for (int x = 0; x < width; ++x) {
            const A_u_char* p = row + size_t(x) * 4;
            float b, g, r, a;
            if (bgra) {
                b = p[0] / 255.0f, g = p[1] / 255.0f, r = p[2] / 255.0f, a = p[3] / 255.0f;
            } else {
                a = p[0] / 255.0f, r = p[1] / 255.0f, g = p[2] / 255.0f, b = p[3] / 255.0f;
            }
            const float k = straight ? a : 1.0f;
            img->pixels[size_t(y) * size_t(width) + size_t(x)] = Premultiplied{r * k, g * k, b * k, a};
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    *image = reinterpret_cast<DRAWBOT_ImageRef>(img.get());
    images_[img.get()] = std::move(img);
    ++imagesMade_;
    return PF_Err_NONE;
}

SPErr DrawbotHost::Release(DRAWBOT_ObjectRef object) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = images_.find(object);
    if (it == images_.end()) {
        ++badReleases_;
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    images_.erase(it);
    return host_.Faults().ShouldFail("ReleaseObject") ? kFault : PF_Err_NONE;
}

SPErr DrawbotHost::Concat(DRAWBOT_SurfaceRef surface, const DRAWBOT_MatrixF32* matrix) {
    if (host_.Faults().ShouldFail("Transform")) return kFault;
    std::lock_guard<std::mutex> lock(mutex_);
    Window* w = WindowOfSurface(surface);
    if (!w) return PF_Err_BAD_CALLBACK_PARAM;
    w->transform = Multiply(*matrix, w->transform);
    return PF_Err_NONE;
}

// Each surface pixel takes the average of the image pixels whose centres fall inside its footprint (the box
// filter a scale-down needs), or the nearest image pixel when its footprint holds none (a scale-up).
SPErr DrawbotHost::Draw(DRAWBOT_SurfaceRef surface, DRAWBOT_ImageRef image, const DRAWBOT_PointF32* origin,
                        float opacity) {
    if (host_.Faults().ShouldFail("DrawImage")) return kFault;
    std::lock_guard<std::mutex> lock(mutex_);
    Window* w = WindowOfSurface(surface);
    const auto it = images_.find(image);
    if (!w || it == images_.end()) return PF_Err_BAD_CALLBACK_PARAM;
    const Image& img = *it->second;
    const DRAWBOT_MatrixF32& m = w->transform;
    draws_.push_back(DrawImageCall{img.width, img.height, *origin, opacity, m});
    // Only scales and translations are drawn: the effect's drawing needs no more.
    const float sx = m.mat[0][0], sy = m.mat[1][1], tx = m.mat[2][0], ty = m.mat[2][1];
    if (m.mat[0][1] != 0 || m.mat[1][0] != 0 || sx <= 0 || sy <= 0) return PF_Err_BAD_CALLBACK_PARAM;
    const float left = (origin->x) * sx + tx, top = (origin->y) * sy + ty;
    const float right = (origin->x + float(img.width)) * sx + tx, bottom = (origin->y + float(img.height)) * sy + ty;
    const int x0 = std::max(0, int(std::floor(left))), y0 = std::max(0, int(std::floor(top)));
    const int x1 = std::min(w->width, int(std::ceil(right))), y1 = std::min(w->height, int(std::ceil(bottom)));
    for (int y = y0; y < y1; ++y) {
        // The footprint of this surface row in image coordinates.
        const float v0 = (float(y) - ty) / sy - origin->y, v1 = (float(y + 1) - ty) / sy - origin->y;
        for (int x = x0; x < x1; ++x) {
            const float u0 = (float(x) - tx) / sx - origin->x, u1 = (float(x + 1) - tx) / sx - origin->x;
            Premultiplied sum{0, 0, 0, 0};
            int n = 0;
            for (int iy = std::max(0, int(std::ceil(v0 - 0.5f))); iy < img.height && float(iy) + 0.5f < v1; ++iy) {
                for (int ix = std::max(0, int(std::ceil(u0 - 0.5f))); ix < img.width && float(ix) + 0.5f < u1;
                     ++ix) {
                    const Premultiplied& p = img.pixels[size_t(iy) * size_t(img.width) + size_t(ix)];
                    sum.r += p.r, sum.g += p.g, sum.b += p.b, sum.a += p.a;
                    ++n;
                }
            }
            if (n == 0) {
                const int ix = int(std::floor((u0 + u1) / 2)), iy = int(std::floor((v0 + v1) / 2));
                if (ix < 0 || iy < 0 || ix >= img.width || iy >= img.height) continue;
                sum = img.pixels[size_t(iy) * size_t(img.width) + size_t(ix)];
                n = 1;
            }
            const float k = opacity / float(n);
            Premultiplied& d = w->pixels[size_t(y) * size_t(w->width) + size_t(x)];
            const float keep = 1.0f - sum.a * k;
            d = Premultiplied{sum.r * k + d.r * keep, sum.g * k + d.g * keep, sum.b * k + d.b * keep,
                              sum.a * k + d.a * keep};
        }
    }
    return PF_Err_NONE;
}

DrawbotHost& Drawbot(SimHost& host) { return host.Service<DrawbotHost>(); }

}  // namespace simhost
