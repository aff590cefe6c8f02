#include "render/CpuPasses.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "host/Messages.h"
#include "host/Rect.h"
#include "host/Suites.h"
#include "sdk/AE_EffectSuites.h"

namespace {

// Limits to 0..1 in double, a NaN (a negative glow channel raised to a fractional power) becoming 0.
double Clamp01(double v) { return v > 0.0 ? (v < 1.0 ? v : 1.0) : 0.0; }

PF_PixelFloat ToFloat(const PF_Pixel& p) {
    auto f = [](A_u_char c) { return std::min(float(c) / 255.0f, 1.0f); };
    return PF_PixelFloat{f(p.alpha), f(p.red), f(p.green), f(p.blue)};
}

// v * 255 truncated toward zero, 255 from v * 255 >= 255 on; never below 0.
A_u_char ToByte(float v) {
    const float scaled = v * 255.0f;
    if (scaled >= 255.0f) return 255;
    return scaled > 0.0f ? A_u_char(scaled) : 0;
}

// The "Repeat Edges" period along one axis of the dirt layer; 0 when the layer is too small to fold.
long long AxisPeriod(const PF_LayerDef* world, bool horizontal) {
    return horizontal ? DirtMirrorPeriod(world->width, world->height) : DirtMirrorPeriod(world->height, world->width);
}

bool CanMirror(const PF_LayerDef* world) { return AxisPeriod(world, true) > 0; }

// The n of mirrored_repeat along one axis: half the period.
int FoldSize(const PF_LayerDef* world, bool horizontal) { return int(AxisPeriod(world, horizontal) / 2); }

bool Inside(int x, int y, const PF_LayerDef* world) { return x >= 0 && y >= 0 && x < world->width && y < world->height; }

// Where a frame pixel falls in the dirt layer. The difference is taken in 64 bits (a layer far off the frame
// overflows an int), then brought back: by whole periods of the mirrored repeat, which samples the same
// there, or, without mirroring, to a point outside the layer when it lies beyond an int anyway.
int DirtCoordinate(A_long frame, A_long offset, const PF_LayerDef* dirt, bool mirror, bool horizontal) {
    const long long v = (long long)frame - (long long)offset;
    const long long period = mirror && dirt ? AxisPeriod(dirt, horizontal) : 0;
    if (period > 0) return int(((v % period) + period) % period);
    return v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max() ? -1 : int(v);
}

void LogPassError(const char* pass, PF_Err err, PF_InData* in_data) {
    if (err != PF_Err_NONE && err != PF_Interrupt_CANCEL) LogError(std::string(pass) + std::to_string(err), in_data);
}

}  // namespace

float calculateLuminance(const PF_PixelFloat& p) {
    float l = 0.0f;
    l += 0.2126f * p.red;
    l += 0.7152f * p.green;
    l += 0.0722f * p.blue;
    return l;
}

int mirrored_repeat(int u, int n) {
    const int period = 2 * n;
    const int r = ((u % period) + period) % period;
    const int t = r - n;
    const int s = t >= 0 ? t : -t - 1;
    return n + 1 - s;
}

PF_Pixel* sampleIntegral8(PF_EffectWorld* world, int x, int y) {
    return reinterpret_cast<PF_Pixel*>(static_cast<char*>(world->data) + ptrdiff_t(y) * world->rowbytes +
                                       ptrdiff_t(x) * ptrdiff_t(sizeof(PF_Pixel)));
}

PF_PixelFloat* sampleIntegral32(PF_EffectWorld* world, int x, int y) {
    return reinterpret_cast<PF_PixelFloat*>(static_cast<char*>(world->data) + ptrdiff_t(y) * world->rowbytes +
                                            ptrdiff_t(x) * ptrdiff_t(sizeof(PF_PixelFloat)));
}

PF_Pixel SampleLegalPix8(int x, int y, PF_LayerDef* world, bool mirror) {
    if (!world || !world->data) return PF_Pixel{0, 0, 0, 0};
    if (mirror && CanMirror(world)) {
        return *sampleIntegral8(world, mirrored_repeat(x, FoldSize(world, true)),
                                  mirrored_repeat(y, FoldSize(world, false)));
    }
    return Inside(x, y, world) ? *sampleIntegral8(world, x, y) : PF_Pixel{0, 0, 0, 0};
}

PF_PixelFloat SampleLegalPix32(int x, int y, PF_LayerDef* world, bool mirror) {
    if (!world || !world->data) return PF_PixelFloat{0, 0, 0, 0};
    if (mirror && CanMirror(world)) {
        return *sampleIntegral32(world, mirrored_repeat(x, FoldSize(world, true)),
                                  mirrored_repeat(y, FoldSize(world, false)));
    }
    return Inside(x, y, world) ? *sampleIntegral32(world, x, y) : PF_PixelFloat{0, 0, 0, 0};
}

void LensDirtCompCommon(const lens_mirror_data* data, PF_PixelFloat& dirt, PF_PixelFloat* out) {
    dirt.red *= dirt.alpha;
    dirt.green *= dirt.alpha;
    dirt.blue *= dirt.alpha;

    const float exponent = data->matteGammaExp;
    const float luma = calculateLuminance(*out);
    const float matte = float(Clamp01((exponent != 1.0f ? std::pow(luma, exponent) : luma) * data->matteGain));

    float* const glow[3] = {&out->red, &out->green, &out->blue};
    float* const dirtChannel[3] = {&dirt.red, &dirt.green, &dirt.blue};
    float channelMatte[3] = {matte, matte, matte};
    if (data->inherit > 0.01f) {
        for (int c = 0; c < 3; ++c) {
            const float own = float(Clamp01((exponent == 1.0f ? *glow[c] : std::pow(*glow[c], exponent)) *
                                            data->matteGain));
            channelMatte[c] = Lerp(matte, own, data->inherit);
        }
    }

    if (data->mode == 1) {
        *out = PF_PixelFloat{1.0f, channelMatte[0], channelMatte[1], channelMatte[2]};
        return;
    }
    for (int c = 0; c < 3; ++c) *dirtChannel[c] *= channelMatte[c];
    if (data->mode == 2) {
        *out = dirt;
        return;
    }
    // A glow channel at or above 1 takes no dirt; below it, less the brighter it is.
    for (int c = 0; c < 3; ++c) {
        const double g = *glow[c];
        *glow[c] = float(g + double(*dirtChannel[c]) * double(data->opacity) * (1.0 - std::min(g, 1.0)));
    }
}

PF_Err MirrorRepeatComp32(void* refcon, A_long x, A_long y, PF_PixelFloat*, PF_PixelFloat* out) {
    if (!refcon || !out) return PF_Err_NONE;
    const auto* data = static_cast<const lens_mirror_data*>(refcon);
    PF_PixelFloat dirt = SampleLegalPix32(DirtCoordinate(x, data->offsetX, data->dirt, data->mirror, true),
                       DirtCoordinate(y, data->offsetY, data->dirt, data->mirror, false), data->dirt,
                       data->mirror);
    LensDirtCompCommon(data, dirt, out);
    return PF_Err_NONE;
}

PF_Err MirrorRepeatComp8(void* refcon, A_long x, A_long y, PF_Pixel*, PF_Pixel* out) {
    if (!refcon || !out) return PF_Err_NONE;
    const auto* data = static_cast<const lens_mirror_data*>(refcon);
    PF_PixelFloat dirt = ToFloat(SampleLegalPix8(DirtCoordinate(x, data->offsetX, data->dirt, data->mirror, true),
                       DirtCoordinate(y, data->offsetY, data->dirt, data->mirror, false), data->dirt,
                       data->mirror));
    PF_PixelFloat glow = ToFloat(*out);
    LensDirtCompCommon(data, dirt, &glow);
    // The 8-bit alpha stays as the read-back left it (opaque), also in the matted view.
    out->red = ToByte(glow.red);
    out->green = ToByte(glow.green);
    out->blue = ToByte(glow.blue);
    return PF_Err_NONE;
}

PF_Err MirrorRepeat8(void* refcon, A_long x, A_long y, PF_Pixel*, PF_Pixel* out) {
    if (!refcon || !out) return PF_Err_NONE;
    const auto* data = static_cast<const lens_mirror_data*>(refcon);
    *out = SampleLegalPix8(DirtCoordinate(x, data->offsetX, data->dirt, data->mirror, true),
                       DirtCoordinate(y, data->offsetY, data->dirt, data->mirror, false), data->dirt,
                       data->mirror);
    return PF_Err_NONE;
}

PF_Err MirrorRepeat32(void* refcon, A_long x, A_long y, PF_PixelFloat*, PF_PixelFloat* out) {
    if (!refcon || !out) return PF_Err_NONE;
    const auto* data = static_cast<const lens_mirror_data*>(refcon);
    *out = SampleLegalPix32(DirtCoordinate(x, data->offsetX, data->dirt, data->mirror, true),
                       DirtCoordinate(y, data->offsetY, data->dirt, data->mirror, false), data->dirt,
                       data->mirror);
    return PF_Err_NONE;
}

PF_Err GenAlphaFromLuma8(void* refcon, A_long, A_long, PF_Pixel* in, PF_Pixel* out) {
    if (!refcon || !in || !out) return PF_Err_NONE;
    double c[3] = {in->red / 255.0, in->green / 255.0, in->blue / 255.0};
    const double m = std::max({c[0], c[1], c[2]});
    if (m > 0.0) {
        for (double& v : c) v = std::min(std::max(v / m, 0.0), 1.0);
    }
    *out = PF_Pixel{A_u_char(std::floor(m * 255.0)), A_u_char(std::floor(c[0] * 255.0)),
                    A_u_char(std::floor(c[1] * 255.0)), A_u_char(std::floor(c[2] * 255.0))};
    return PF_Err_NONE;
}

PF_Err GenAlphaFromLuma32(void* refcon, A_long, A_long, PF_PixelFloat* in, PF_PixelFloat* out) {
    if (!refcon || !in || !out) return PF_Err_NONE;
    const float a = std::min(std::max({in->red, in->green, in->blue}), 1.0f);
    PF_PixelFloat result = *in;
    result.alpha = a;
    if (a != 0.0f) {
        result.red /= a;
        result.green /= a;
        result.blue /= a;
    }
    *out = result;
    return PF_Err_NONE;
}

PF_Err GammaIris8(void* refcon, A_long, A_long, PF_Pixel* in, PF_Pixel* out) {
    if (!refcon || !in || !out) return PF_Err_NONE;
    const double exponent = *static_cast<const float*>(refcon);
    auto apply = [exponent](A_u_char channel) -> A_u_char {
        const double v = std::max(std::pow(channel / 255.0, exponent), 0.0);
        return v < 1.0 ? A_u_char(std::floor(v * 255.0)) : 255;  // a NaN fails the test and gives 255
    };
    *out = PF_Pixel{in->alpha, apply(in->red), apply(in->green), apply(in->blue)};
    return PF_Err_NONE;
}

PF_Err GammaIris32(void* refcon, A_long, A_long, PF_PixelFloat* in, PF_PixelFloat* out) {
    if (!refcon || !in || !out) return PF_Err_NONE;
    const float exponent = *static_cast<const float*>(refcon);
    // A negative channel raised to a fractional power is NaN, and the iris convolution would spread one NaN
    // over a whole level: such channels count as black.
    auto apply = [exponent](float c) { return std::pow(c > 0.0f ? c : 0.0f, exponent); };
    *out = PF_PixelFloat{in->alpha, apply(in->red), apply(in->green), apply(in->blue)};
    return PF_Err_NONE;
}

PF_Err CompLensDirt(PF_InData* in_data, PF_OutData*, myParams* p) {
    if (p->view != kViewFinalResult && p->view != kViewLensDirtMatte && p->view != kViewLensDirtMatted) {
        return PF_Err_NONE;
    }
    PF_EffectWorld* output = p->output_worldP;
    if (!output) return PF_Err_NONE;
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    // The callbacks work on the destination in place; the output is also named as the source, which a host
    // that insists on a source world accepts as well.
    PF_Err err;
    if (p->bitDepth == 8) {
        err = suites.Iterate8Suite1()->iterate(in_data, 0, output->height, output, nullptr, &p->lensMirror,
                                               MirrorRepeatComp8, output);
    } else {
        err = suites.IterateFloatSuite1()->iterate(in_data, 0, output->height, output, nullptr, &p->lensMirror,
                                                   MirrorRepeatComp32, output);
    }
    LogPassError("Error on CompLensDirt: ", err, in_data);
    return err;
}

PF_Err DoUnmult(PF_InData* in_data, PF_OutData*, myParams* p) {
    PF_EffectWorld* output = p->output_worldP;
    if (!output || (p->bitDepth != 8 && p->bitDepth != 32)) return PF_Err_NONE;
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    PF_Err err;
    if (p->bitDepth == 8) {
        err = suites.Iterate8Suite1()->iterate(in_data, 0, output->height, output, nullptr, p, GenAlphaFromLuma8,
                                               output);
    } else {
        err = suites.IterateFloatSuite1()->iterate(in_data, 0, output->height, output, nullptr, p,
                                                   GenAlphaFromLuma32, output);
    }
    LogPassError("Error on DoUnmult: ", err, in_data);
    return err;
}

PF_Err CompSource(PF_InData* in_data, PF_OutData*, myParams* p) {
    PF_EffectWorld* input = p->input_worldP;
    PF_EffectWorld* output = p->output_worldP;
    if (!input || !output) return PF_Err_NONE;
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    PF_CompositeMode mode{};
    mode.xfer = p->blendMode == 2 ? PF_Xfer_ADD : PF_Xfer_SCREEN;
    mode.rand_seed = 0;
    mode.opacity = p->sourceOpacityByte;
    const PF_Rect source = input->extent_hint;
    const PF_Err err = suites.WorldTransformSuite1()->transfer_rect(
        in_data->effect_ref, in_data->quality, PF_MaskFlag_NONE, in_data->field, &source, input, &mode, nullptr,
        input->origin_x - output->origin_x, input->origin_y - output->origin_y, output);
    LogPassError("Error on CompSource: ", err, in_data);
    return err;
}

PF_Err ReleaseCPU(myParams* p, PF_InData* in_data, PF_OutData* out_data) {
    AEFX_SuiteScoper<PF_WorldSuite2> worldSuite(in_data, kPFWorldSuite, kPFWorldSuiteVersion2);
    return ReleaseCPU(p, in_data, out_data, worldSuite.get());
}

PF_Err ReleaseCPU(myParams* p, PF_InData* in_data, PF_OutData*, const PF_WorldSuite2* worldSuite) {
    PF_Err err = PF_Err_NONE;
    if (p->matte_world.data) {
        err = worldSuite->PF_DisposeWorld(in_data->effect_ref, &p->matte_world);
        p->matte_world = PF_EffectWorld{};
    }
    PF_Err err2 = err;
    if (p->iris_gamma_world.data) {
        err2 = worldSuite->PF_DisposeWorld(in_data->effect_ref, &p->iris_gamma_world);
        p->iris_gamma_world = PF_EffectWorld{};
        if (err == PF_Err_NONE) err = err2;
    }
    if (err != PF_Err_NONE || err2 != PF_Err_NONE) {
        LogError("Error on ReleaseCPU: " + std::to_string(err) + ", err2: " + std::to_string(err2), in_data);
    }
    return err;
}
