#include "host/HeaderDraw.h"

#include <cstring>

#include "host/HeaderImage.h"
#include "host/ParamIndex.h"
#include "host/Suites.h"
#include "sdk/DrawbotSuites.h"

namespace {

// The picture is twice the control's size, so that it stays sharp on a high-density display; drawing it in a
// space scaled by one half fills the 192 by 100 control.
constexpr DRAWBOT_MatrixF32 kHalf = {{{0.5f, 0, 0}, {0, 0.5f, 0}, {0, 0, 0.5f}}};
constexpr DRAWBOT_MatrixF32 kDouble = {{{2.0f, 0, 0}, {0, 2.0f, 0}, {0, 0, 2.0f}}};

// A host handle locked for the length of a scope, unlocked and disposed on every path.
class LockedHandle {
public:
    LockedHandle(const PF_HandleSuite2* suite, A_u_long size) : suite_(suite) {
        handle_ = suite_->host_new_handle(size);
        if (!handle_) return;
        if (suite_->host_get_handle_size(handle_) < size) return;
        data_ = suite_->host_lock_handle(handle_);
    }
    ~LockedHandle() {
        if (!handle_) return;
        if (data_) suite_->host_unlock_handle(handle_);
        suite_->host_dispose_handle(handle_);
    }
    LockedHandle(const LockedHandle&) = delete;
    LockedHandle& operator=(const LockedHandle&) = delete;
    void* data() const { return data_; }

private:
    const PF_HandleSuite2* suite_;
    PF_Handle handle_ = nullptr;
    void* data_ = nullptr;
};

PF_Err DrawHeaderImage(const DRAWBOT_SupplierSuite1* supplierSuite, const DRAWBOT_SurfaceSuite1* surfaceSuite,
                       DRAWBOT_SupplierRef supplier, DRAWBOT_SurfaceRef surface, const AEGP_SuiteHandler& suites,
                       const PF_EventExtra* extra) {
    PF_Err err = PF_Err_NONE;
    // The image is made from a host handle's copy of the picture; a handle that could not be had, or is
    // smaller than asked, gets no copy.
    LockedHandle buffer(suites.HandleSuite2(), A_u_long(kHeaderImageBytes));
    if (!buffer.data()) return PF_Err_OUT_OF_MEMORY;
    std::memcpy(buffer.data(), kHeaderImageBGRA, kHeaderImageBytes);

    DRAWBOT_ImageRef image = nullptr;
    err = supplierSuite->NewImageFromBuffer(supplier, kHeaderImageWidth, kHeaderImageHeight, kHeaderImageRowBytes,
                                            kDRAWBOT_PixelLayout_32BGRA_Straight, buffer.data(), &image);
    // In the halved space the doubled corner lands on the control's top-left corner.
    const DRAWBOT_PointF32 origin = {2.0f * float(extra->effect_win.current_frame.left),
                                     2.0f * float(extra->effect_win.current_frame.top)};
    if (!err) {
        err = surfaceSuite->Transform(surface, &kHalf);
        if (!err) {
            err = surfaceSuite->DrawImage(surface, image, &origin, 1.0f);
            // Restored whatever the drawing did: the host draws the rest of the window in this surface.
            const PF_Err restoreErr = surfaceSuite->Transform(surface, &kDouble);
            if (!err) err = restoreErr;
        }
    }
    if (image) {
        const PF_Err releaseErr = supplierSuite->ReleaseObject(image);
        if (!err) err = releaseErr;
    }
    return err;
}

PF_Err DrawHeader(PF_InData* in_data, PF_OutData* out_data, PF_EventExtra* extra) {
    AEFX_SuiteScoper<DRAWBOT_DrawbotSuite1> drawSuite(in_data, kDRAWBOT_DrawSuite, kDRAWBOT_DrawSuite_Version1,
                                                      out_data);
    AEFX_SuiteScoper<DRAWBOT_SupplierSuite1> supplierSuite(in_data, kDRAWBOT_SupplierSuite,
                                                           kDRAWBOT_SupplierSuite_Version1, out_data);
    AEFX_SuiteScoper<DRAWBOT_SurfaceSuite1> surfaceSuite(in_data, kDRAWBOT_SurfaceSuite,
                                                         kDRAWBOT_SurfaceSuite_Version1, out_data);
    AEGP_SuiteHandler suites(in_data->pica_basicP);

    DRAWBOT_DrawRef drawRef = nullptr;
    PF_Err err = suites.Get<PF_EffectCustomUISuite1>(kPFEffectCustomUISuite, kPFEffectCustomUISuiteVersion1)
                     ->PF_GetDrawingReference(extra->contextH, &drawRef);
    if (err || !drawRef) return err;

    DRAWBOT_SupplierRef supplier = nullptr;
    DRAWBOT_SurfaceRef surface = nullptr;
    err = drawSuite->GetSupplier(drawRef, &supplier);
    if (!err) err = drawSuite->GetSurface(drawRef, &surface);
    if (!err && extra->effect_win.area == PF_EA_CONTROL) {
        err = DrawHeaderImage(supplierSuite.get(), surfaceSuite.get(), supplier, surface, suites, extra);
    }
    if (!err) extra->evt_out_flags |= PF_EO_HANDLED_EVENT;
    return err;
}

}  // namespace

PF_Err DrawCompUIEvent(PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*, PF_EventExtra* extra) {
    extra->evt_out_flags |= PF_EO_HANDLED_EVENT;
    return PF_Err_NONE;
}

PF_Err HandleEvent(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output,
                   PF_EventExtra* extra) {
    if (!extra || extra->e_type != PF_Event_DRAW) return PF_Err_NONE;
    if (extra->effect_win.index != PARAM_HEADER) return DrawCompUIEvent(in_data, out_data, params, output, extra);
    return DrawHeader(in_data, out_data, extra);
}
