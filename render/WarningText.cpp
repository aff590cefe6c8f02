#include "render/WarningText.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "host/Messages.h"
#include "sdk/AEGP_IterateSuite.h"
#include "sdk/AE_EffectSuites.h"

namespace {

uint32_t SurfaceWord(const cairo_copy_data* d, A_long x, A_long y) {
    uint32_t word;
    std::memcpy(&word, d->data + size_t(y) * size_t(d->stride) + size_t(x) * 4, sizeof word);
    return word;
}

template <class Pixel>
Pixel* WorldRow(PF_LayerDef* world, A_long y) {
    return reinterpret_cast<Pixel*>(static_cast<char*>(world->data) + ptrdiff_t(y) * ptrdiff_t(world->rowbytes));
}

// Disposes the line's temporary world when a host code is thrown between its making and its disposal.
class TemporaryWorld {
public:
    TemporaryWorld(const PF_WorldSuite2* suite, PF_ProgPtr ref) : suite_(suite), ref_(ref) {}
    ~TemporaryWorld() {
        if (world.data) suite_->PF_DisposeWorld(ref_, &world);
    }
    TemporaryWorld(const TemporaryWorld&) = delete;
    TemporaryWorld& operator=(const TemporaryWorld&) = delete;

    PF_Err Dispose() {
        const PF_Err err = suite_->PF_DisposeWorld(ref_, &world);
        world.data = nullptr;
        return err;
    }

    PF_EffectWorld world{};

private:
    const PF_WorldSuite2* suite_;
    PF_ProgPtr ref_;
};

}  // namespace

cairoContext::cairoContext(int width, int height, AEGP_SuiteHandler* suites, PF_InData* in_data_, int pixelFormat_)
    : in_data(in_data_), pixelFormat(PF_PixelFormat(pixelFormat_)) {
    surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cr = cairo_create(surface);
    try {
        const PF_HandleSuite2* handles = suites->HandleSuite2();
        handle = handles->host_new_handle(4);
        if (handle) data = handles->host_lock_handle(handle);
    } catch (...) {
        Release();
        throw;
    }
    // A surface cairo could not make (no memory, or a side beyond its limit) is an error object with no pixels:
    // copying from it would read through a null pointer.
    valid = handle && data && cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS &&
            cairo_status(cr) == CAIRO_STATUS_SUCCESS && cairo_image_surface_get_data(surface);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.1);
    cairo_set_line_width(cr, 5.0);
}

cairoContext::~cairoContext() { Release(); }

void cairoContext::cairoClean() {
    Release();
    valid = false;
}

// Releases whatever was obtained, valid or not, so that a handle that could not be locked or a surface that
// failed does not leak.
void cairoContext::Release() noexcept {
    if (cr) cairo_destroy(cr);
    if (surface) cairo_surface_destroy(surface);
    cr = nullptr;
    surface = nullptr;
    if (!handle) return;
    try {
        AEGP_SuiteHandler suites(in_data ? in_data->pica_basicP : nullptr);
        const PF_HandleSuite2* handles = suites.HandleSuite2();
        if (data) handles->host_unlock_handle(handle);
        handles->host_dispose_handle(handle);
    } catch (...) {
        // The handle suite went away since the handle was made; the host reclaims its handles itself.
    }
    handle = nullptr;
    data = nullptr;
}

PF_Err cairoContext::cairoCopy(PF_LayerDef* world, AEGP_SuiteHandler* suites) {
    if (!surface || cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) return PF_Err_OUT_OF_MEMORY;
    cairo_surface_flush(surface);
    cairo_copy_data copy;
    copy.world = world;
    copy.data = cairo_image_surface_get_data(surface);
    copy.stride = cairo_image_surface_get_stride(surface);
    if (!copy.data) return PF_Err_OUT_OF_MEMORY;

    AEGP_IterateGenericFunc callback = nullptr;
    if (pixelFormat == PF_PixelFormat_ARGB32) {
        callback = cairoCopy8;
    } else if (pixelFormat == PF_PixelFormat_ARGB128) {
        callback = cairoCopy32;
    } else {
        return PF_Err_NONE;
    }
    // A world larger than the surface would be filled from memory outside cairo's pixels.
    if (world->width > cairo_image_surface_get_width(surface) || world->height > cairo_image_surface_get_height(surface))
        return PF_Err_BAD_CALLBACK_PARAM;
    const auto* iterate = suites->Get<AEGP_IterateSuite1>(kAEGPIterateSuite, kAEGPIterateSuiteVersion1);
    return iterate->AEGP_IterateGeneric(world->height, &copy, callback);
}

A_Err cairoCopy8(void* refcon, A_long /*thread_indexL*/, A_long y, A_long /*iterationsL*/) {
    const auto* d = static_cast<const cairo_copy_data*>(refcon);
    PF_Pixel* row = WorldRow<PF_Pixel>(d->world, y);
    for (A_long x = 0; x < d->world->width; ++x) {
        const uint32_t p = SurfaceWord(d, x, y);
        const unsigned a = (p >> 24) & 0xFF;
        row[x].alpha = A_u_char(a);
        if (a == 0) continue;
        // Premultiplied colour never exceeds alpha in a valid surface; the clamp keeps a stray value in range.
        row[x].red = A_u_char(std::min(255u, ((p >> 16) & 0xFF) * 255u / a));
        row[x].green = A_u_char(std::min(255u, ((p >> 8) & 0xFF) * 255u / a));
        row[x].blue = A_u_char(std::min(255u, (p & 0xFF) * 255u / a));
    }
    return PF_Err_NONE;
}

A_Err cairoCopy32(void* refcon, A_long /*thread_indexL*/, A_long y, A_long /*iterationsL*/) {
    const auto* d = static_cast<const cairo_copy_data*>(refcon);
    PF_PixelFloat* row = WorldRow<PF_PixelFloat>(d->world, y);
    for (A_long x = 0; x < d->world->width; ++x) {
        const uint32_t p = SurfaceWord(d, x, y);
        const unsigned a = (p >> 24) & 0xFF;
        if (a == 0) continue;
        const float alpha = float(a / 255.0);
        row[x].alpha = alpha;
        row[x].red = float((((p >> 16) & 0xFF) / 255.0) / alpha);
        row[x].green = float((((p >> 8) & 0xFF) / 255.0) / alpha);
        row[x].blue = float(((p & 0xFF) / 255.0) / alpha);
    }
    return PF_Err_NONE;
}

PF_Err DrawString(myParams* p, PF_InData* in_data, PF_OutData* out_data, std::string text, PF_LayerDef* dst,
                  double yOffset, double size) {
    // An output without a pixel has nothing to draw into; cairo would report its empty surface as failed.
    if (dst->width < 1 || dst->height < 1) return PF_Err_NONE;
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    AEFX_SuiteScoper<PF_WorldSuite2> worldSuite(in_data, kPFWorldSuite, kPFWorldSuiteVersion2, out_data);
    TemporaryWorld line(worldSuite.get(), in_data->effect_ref);

    PF_Err err = worldSuite->PF_NewWorld(in_data->effect_ref, dst->width, dst->height, true, p->pixelFormat,
                                         &line.world);
    if (err) {
        LogError("err DrawString: PF_NewWorld: " + std::to_string(err), in_data);
    } else {
        const double dx = p->downsampleX;
        cairoContext ctx(line.world.width, line.world.height, &suites, in_data, int(p->pixelFormat));
        if (!ctx.valid) {
            err = PF_Err_OUT_OF_MEMORY;
        } else {
            cairo_select_font_face(ctx.cr, "Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
            cairo_set_font_size(ctx.cr, dx * size * 35.0);
            if (yOffset == 0) {
                cairo_set_source_rgba(ctx.cr, 0, 0, 0, 0.75);
                cairo_rectangle(ctx.cr, 0, 0, dst->width, dst->height);
                cairo_fill(ctx.cr);
            }
            cairo_set_source_rgba(ctx.cr, 1.0, 1.0, 0.0, 0.75);
            const float x = float(p->auxExpansion) + std::ceil(float(dx) * 50.0f);
            const float baseline = x + float(dx) * 30.0f;
            cairo_move_to(ctx.cr, x, baseline);
            cairo_show_text(ctx.cr, text.c_str());

            ctx.cairoCopy(&line.world, &suites);
            PF_CompositeMode mode{};
            mode.xfer = PF_Xfer_IN_FRONT;
            mode.rand_seed = 0;
            mode.opacity = 255;
            const A_long shift = A_long(std::ceil(dx * yOffset * size));
            err = suites.WorldTransformSuite1()->transfer_rect(in_data->effect_ref, in_data->quality,
                                                               PF_MaskFlag_NONE, in_data->field, &dst->extent_hint,
                                                               &line.world, &mode, nullptr, 0, shift, dst);
            ctx.cairoClean();
            if (err) LogError("err DrawString: transfer_rect: " + std::to_string(err), in_data);
        }
    }
    if (line.world.data) {
        const PF_Err disposeErr = line.Dispose();
        if (!err) err = disposeErr;
    }
    return err;
}
