#include "render/PreRender.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "host/Handlers.h"
#include "host/Messages.h"
#include "host/Rect.h"
#include "host/Suites.h"
#include "sdk/AEGP_Suites.h"

namespace {

constexpr double kHalfPi = 1.5707963267948966;

// A rounded double as a rectangle coordinate. Infinite or NaN values (a downsample factor of 0 from a host
// that sent none, or parameters left unread after an interrupt) must not reach an int conversion.
int ToCoord(double v) {
    if (std::isnan(v)) return 0;
    constexpr double lo = std::numeric_limits<int>::min() / 4, hi = std::numeric_limits<int>::max() / 4;
    return int(std::clamp(v, lo, hi));
}

bool EffectApiAbove13_8(const PF_InData* in_data) {
    return in_data->version_major > 13 || (in_data->version_major == 13 && in_data->version_minor > 8);
}

// Mixes the effect layer's transform, the downsample factors and the request into the frame-cache key, so a
// moved layer or a new resolution never reuses a cached frame.
PF_Err MixFrameCacheKey(PF_InData* in_data, PF_OutData* out_data, PF_PreRenderExtra* extra) {
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    const auto* pfInterface = suites.Get<AEGP_PFInterfaceSuite1>(kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1);
    const auto* layerSuite = suites.Get<AEGP_LayerSuite13>(kAEGPLayerSuite, kAEGPLayerSuiteVersion13);

    AEGP_LayerH layer = nullptr;
    PF_Err err = pfInterface->AEGP_GetEffectLayer(in_data->effect_ref, &layer);
    if (err || !layer) return err;
    AEGP_LayerFlags flags = 0;
    err = layerSuite->AEGP_GetLayerFlags(layer, &flags);

    const A_Time layerTime{in_data->current_time, in_data->time_scale};
    if (!err && !(flags & AEGP_LayerFlag_COLLAPSE)) {
        A_FloatRect bounds{};
        err = layerSuite->AEGP_GetLayerMaskedBounds(layer, AEGP_LTimeMode_LayerTime, &layerTime, &bounds);
    }
    A_Time compTime{};
    if (!err) err = layerSuite->AEGP_ConvertLayerToCompTime(layer, &layerTime, &compTime);
    A_Matrix4 xform{};
    if (!err) err = layerSuite->AEGP_GetLayerToWorldXform(layer, &compTime, &xform);
    if (err) return err;

    unsigned char block[kFrameCacheKeySize] = {};
    static_assert(sizeof(A_Matrix4) == 128, "the key starts with the 4x4 doubles of the transform");
    std::memcpy(block, &xform, sizeof xform);
    const int32_t scales[4] = {in_data->downsample_x.num, int32_t(in_data->downsample_x.den),
                               in_data->downsample_y.num, int32_t(in_data->downsample_y.den)};
    std::memcpy(block + 128, scales, sizeof scales);
    const PF_LRect& request = extra->input->output_request.rect;
    const int32_t rect[4] = {request.left, request.top, request.right, request.bottom};
    std::memcpy(block + 144, rect, sizeof rect);

    err = extra->cb->GuidMixInPtr(in_data->effect_ref, kFrameCacheKeySize, block);
    if (err && err != PF_Interrupt_CANCEL) SendMessageAppendErr("GuidMixInPtr", out_data, err, 0, true);
    return err;
}

// One layer checkout at the in data's time, with the host's request at another rectangle.
PF_Err Checkout(PF_InData* in_data, PF_PreRenderExtra* extra, PF_ParamIndex index, A_long id, const PF_LRect& rect,
                PF_CheckoutResult* result) {
    PF_RenderRequest request = extra->input->output_request;
    request.field = PF_Field_FRAME;
    request.rect = rect;
    return extra->cb->checkout_layer(in_data->effect_ref, index, id, &request, in_data->current_time,
                                     in_data->time_step, in_data->time_scale, result);
}

// The quality pad and margin of the "Exponential" bounds.
void QualityPad(const myParams* p, int* pad, int* margin) {
    const float dx = p->downsampleX;
    const double margin8 = std::ceil(8.0 / double(dx));
    *margin = ToCoord(margin8);
    double padding = 0;
    switch (p->quality) {
        case 1: padding = std::trunc(75.0f * dx); break;
        case 2: padding = std::trunc(55.0f * dx); break;
        case 3: padding = std::trunc(45.0f * dx); break;
        case 4: padding = std::trunc(40.0f * dx); break;
        case 5: padding = std::trunc(30.0f * dx); break;
        case 6: padding = std::trunc(10.0f * dx); break;
        case kQualityCustom:
            padding = std::trunc(double(40.0f * dx) * (1.1 - double(p->resolutionScale)));
            *margin = ToCoord(std::ceil(margin8 * 0.5));
            break;
        default: break;  // quality not read (an interrupt during the parameter copies)
    }
    *pad = ToCoord(padding);
}

}  // namespace

A_FloatPoint CalculateGaussianBounds(myParams* p, A_FloatPoint corner, WHICH_CORNER_E which) {
    const float d = p->reachFactor * p->baseRadius;
    const float f = float((p->enableAngle ? 0.9 : 0.7) * double(d) * 0.7);
    const double theta = p->angleRadians;
    const A_FloatPoint u{std::cos(theta), -std::sin(theta)};
    const A_FloatPoint v{std::cos(theta + kHalfPi), -std::sin(theta + kHalfPi)};

    const double sx = (which == CORNER_TOP_LEFT || which == CORNER_BOTTOM_LEFT) ? -1.0 : 1.0;
    const double sy = (which == CORNER_TOP_LEFT || which == CORNER_TOP_RIGHT) ? -1.0 : 1.0;
    auto outward = [](double a, double b, double sense) { return sense < 0 ? std::min(a, b) : std::max(a, b); };
    auto reach = [&](const A_FloatPoint& axis) {
        return A_FloatPoint{outward(corner.x + d * axis.x, corner.x - d * axis.x, sx),
                            outward(corner.y + d * axis.y, corner.y - d * axis.y, sy)};
    };
    const A_FloatPoint alongU = reach(u);
    const A_FloatPoint alongV = reach(v);
    const A_FloatPoint diagonal{corner.x + sx * f, corner.y + sy * f};

    const float a = p->aspectRatio;
    return a >= 1.0f ? lerp_point(alongU, diagonal, double(a) - 1.0) : lerp_point(diagonal, alongV, double(a));
}

PF_LRect calculate_guassian_bounds(myParams* p, PF_InData*, PF_LRect rect) {
    const A_FloatPoint r0 = CalculateGaussianBounds(p, {double(rect.left), double(rect.top)}, CORNER_TOP_LEFT);
    const A_FloatPoint r1 = CalculateGaussianBounds(p, {double(rect.right), double(rect.top)}, CORNER_TOP_RIGHT);
    const A_FloatPoint r2 = CalculateGaussianBounds(p, {double(rect.right), double(rect.bottom)}, CORNER_BOTTOM_RIGHT);
    const A_FloatPoint r3 = CalculateGaussianBounds(p, {double(rect.left), double(rect.bottom)}, CORNER_BOTTOM_LEFT);
    PF_LRect box{ToCoord(std::floor(std::min(r0.x, r3.x))), ToCoord(std::ceil(std::max(r0.y, r1.y))),
                 ToCoord(std::floor(std::min(r1.x, r2.x))), ToCoord(std::ceil(std::max(r2.y, r3.y)))};
    int pad = 0, margin = 0;
    QualityPad(p, &pad, &margin);
    ExpandRect(&box, pad);
    ExpandRect(&box, margin);
    return box;
}

std::pair<double, double> calculate_iris_radius_expansion(myParams* p, PF_InData*, const PF_CheckoutResult* iris) {
    static const double kPads[] = {250, 200, 150, 100, 50, 25};
    const double pad = (p->quality >= 1 && p->quality <= 6) ? kPads[p->quality - 1] : 0.0;
    const PF_LRect& r = iris->max_result_rect;
    const double w = double(r.right) - double(r.left), h = double(r.bottom) - double(r.top);
    const float radius = p->baseRadius;
    p->irisAspect = 1.0f;
    if (w > 0 && h > 0) {
        p->irisIsWide = w >= h;
        if (w >= h) {
            p->irisAspect = float(w) / float(h);
            return {std::ceil(double(radius) + pad), std::ceil(double(radius / (float(w) / float(h))) + pad)};
        }
        p->irisAspect = float(h) / float(w);
        return {std::ceil(double(radius / (float(h) / float(w))) + pad), std::ceil(double(radius) + pad)};
    }
    return {std::ceil(pad), std::ceil(pad)};
}

PF_Err PreRender(PF_InData* in_data, PF_OutData* out_data, PF_PreRenderExtra* extra) {
    myParams p;
    PF_Err err = PF_Err_NONE;
    PF_PreRenderOutput* output = extra->output;

    if (EffectApiAbove13_8(in_data) && extra->cb->GuidMixInPtr) {
        err = MixFrameCacheKey(in_data, out_data, extra);
        if (err == PF_Interrupt_CANCEL) {
            output->flags = PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS;
            return err;
        }
        if (err) {
            SendMessageAppendErr("Error on GuidMixInPtr!", out_data, err, 0, true);
            return err;
        }
    }

    err = PreInitParams(&p, in_data, out_data);
    if (!err) {
        err = InitParams(&p, in_data, out_data, nullptr);
    } else if (err == PF_Interrupt_CANCEL) {
        // The user has asked us to stop, so no more parameters are read. The rectangles below still need the
        // downsample factor, which the in data holds without a host call; without it they come out unbounded.
        p.downsampleX = float(in_data->downsample_x.num) / float(in_data->downsample_x.den);
    }
    if (err && err != PF_Interrupt_CANCEL) {
        SendMessageAppendErr("Error on PreRender InitParams!", out_data, err, 0, true);
        return err;
    }

    const float dx = p.downsampleX;
    const int g = ToCoord(std::ceil(50.0f * dx));
    const PF_LRect layerRect{0, 0, ToCoord(std::ceil(float(in_data->width) * dx)),
                             ToCoord(std::ceil(float(in_data->height) * dx))};
    const bool collapsedOrAdjustment = p.layerCollapsed || p.layerIsAdjustment;
    const PF_LRect kEmpty{0, 0, 0, 0};

    // Every result starts all zero, so a checkout skipped after an error leaves an empty rectangle.
    PF_CheckoutResult input{}, iris{}, dirt{}, mask{};
    if (!err) err = Checkout(in_data, extra, PARAM_INPUT, kProbeInput, extra->input->output_request.rect, &input);
    PF_LRect request = input.max_result_rect;
    if (collapsedOrAdjustment) ClampRect(&request, &layerRect);
    ExpandRect(&request, p.auxExpansion + g);
    if (!err) err = Checkout(in_data, extra, PARAM_INPUT, kCheckoutInput, request, &input);

    if (p.glowMode == kGlowModeLensIris) {
        if (!err) err = Checkout(in_data, extra, PARAM_IRIS_LAYER, kProbeIris, kEmpty, &iris);
        if (!err) err = Checkout(in_data, extra, PARAM_IRIS_LAYER, kCheckoutIris, iris.max_result_rect, &iris);
    }

    const PF_LRect& inputMax = input.max_result_rect;
    PF_LRect grownLayer = layerRect;
    ExpandRect(&grownLayer, g);
    PF_LRect result;
    if (p.bufferExpansionMode == 2) {  // "Comp Size"
        result = layerRect;
        if (collapsedOrAdjustment) {
            // Reach past the layer only where the layer's content does, and never further than the glow.
            if (inputMax.left < 0) result.left = std::max(-g, inputMax.left);
            if (inputMax.top < 0) result.top = std::max(-g, inputMax.top);
            if (inputMax.right > layerRect.right) result.right = std::min(layerRect.right + g, inputMax.right);
            if (inputMax.bottom > layerRect.bottom) result.bottom = std::min(layerRect.bottom + g, inputMax.bottom);
        }
    } else if (p.glowMode == kGlowModeLensIris) {
        result = inputMax;
        const std::pair<double, double> growth = calculate_iris_radius_expansion(&p, in_data, &iris);
        ExpandRect(&result, ToCoord(growth.first), ToCoord(growth.second));
        ExpandRect(&result, ToCoord(std::ceil(std::fabs(double(p.pixelOffset)))));
        if (collapsedOrAdjustment) ClampRect(&result, &grownLayer);
    } else {
        result = calculate_guassian_bounds(&p, in_data, IsEmptyRect(&input.result_rect) ? inputMax : input.result_rect);
        if (collapsedOrAdjustment) ClampRect(&result, &grownLayer);
    }
    ExpandRect(&result, p.auxExpansion);
    UnionLRect(&result, &output->result_rect);
    UnionLRect(&result, &output->max_result_rect);

    if (!err) err = Checkout(in_data, extra, PARAM_LENS_DIRT_TEXTURE, kProbeLensDirt, kEmpty, &dirt);
    if (!err) err = Checkout(in_data, extra, PARAM_LENS_DIRT_TEXTURE, kCheckoutLensDirt, dirt.max_result_rect, &dirt);

    const PF_LRect maskRequest = IsEmptyRect(&input.result_rect) ? inputMax : input.result_rect;
    if (!err) err = Checkout(in_data, extra, PARAM_MASK_LAYER, kCheckoutMask, maskRequest, &mask);
    // A mask that lies wholly away from the input leaves nothing to glow, unless it is inverted.
    if (!IsEmptyRect(&mask.max_result_rect) && !RectsIntersect(&mask.max_result_rect, &input.result_rect) &&
        !p.maskInvert) {
        output->result_rect = kEmpty;
        output->max_result_rect = kEmpty;
    }

    output->flags = PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS;
    return err;
}
