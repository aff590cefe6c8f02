#include "render/GlowLevels.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "host/RenderSettings.h"

namespace {

// Ramp of the weights of levels 1 to 9 over the full-resolution radius r: level k fades in from r = e0 and is
// at full weight at r = e0 + span, so small radii do not pile up the energy of wide levels they cannot fill.
struct WeightRamp {
    float e0, span;
};
constexpr WeightRamp kWeightRamps[10] = {
    {0, 0},  // level 0 always weighs 1
    {0, 20}, {0, 40}, {5, 55}, {10, 70}, {20, 100}, {35, 105}, {60, 100}, {90, 90}, {110, 110},
};

// A rounded-up count or size as an int. A host that sends a downsample factor of 0 makes the steps multiplier
// infinite and a level's radius 0, so their product is NaN; neither a NaN nor a value beyond int may reach the
// conversion.
int CeilToInt(double v) {
    if (std::isnan(v)) return 0;
    constexpr double lo = std::numeric_limits<int>::min() / 4, hi = std::numeric_limits<int>::max() / 4;
    return int(std::clamp(std::ceil(v), lo, hi));
}

bool FirstLevelScaled(int quality) { return quality == 1 || quality == 2 || quality == 3 || quality == kQualityCustom; }

}  // namespace

float GetWeight(float e0, float e1, float x) { return std::clamp((x - e0) / (e1 - e0), 0.0f, 1.0f); }

int calculateSafeIterations(int a, int b, int d) {
    if (d <= 0) return 0;
    const int quotient = std::min(a, b) / d;
    if (quotient < 1) return 0;
    return int(std::floor(std::log2(double(quotient))));
}

int CalcBloomDownsampleDims(myParams* p) {
    const float R = p->baseRadius;
    const int n = std::max(p->maxGlowLevels, 1);
    // The weights follow the radius the user set, not the one scaled down for a preview resolution, so a
    // half-resolution preview keeps the look of the full frame with one level fewer.
    const float r = R / p->downsampleX;
    const int quality = p->quality;
    const double a = p->aspectMultipliers[0];
    const double b = p->aspectMultipliers[1];

    // A level k exists only while R / 2^k is above one pixel; "not above" also stops a NaN radius.
    int L = 1;
    for (int k = 1;; ++k) {
        L = k;
        if (!(R / std::ldexp(1.0f, k) > 1.0f) || k >= n) break;
    }
    p->baseRadius = R / std::ldexp(1.0f, L);
    p->maxGlowLevels = L;

    p->bloomMips.clear();
    for (int k = 0; k < p->maxGlowLevels; ++k) {
        bloomMip mip;
        if (k == 0) {
            mip.scale = FirstLevelScaled(quality) ? p->resolutionScale : 1.0f;
            mip.radius = p->baseRadius;
        } else {
            const bloomMip& previous = p->bloomMips.back();
            mip.scale = quality == kQualityCustom ? p->resolutionScale : previous.scale * p->resolutionScale;
            mip.radius = 2.0f * previous.radius;
        }

        if (quality == kQualityCustom) {
            mip.weight = 1.0f;
        } else if (quality == kQualityExtreme) {
            mip.weight = float(std::min(1.0, 0.2 * std::max(double(mip.radius) * a, double(mip.radius) * b)));
        } else if (k == 0) {
            mip.weight = 1.0f;
        } else {
            const WeightRamp& ramp = kWeightRamps[std::min(k, 9)];
            mip.weight = GetWeight(ramp.e0, ramp.e0 + ramp.span, r);
            // A level that does not show ends the chain; it stays in it as the last one.
            if (mip.weight == 0.0f) p->maxGlowLevels = k + 1;
        }
        p->bloomMips.push_back(mip);
    }

    if (quality == kQualityExtreme) {
        bloomMip& last = p->bloomMips.back();
        last.weight = 1.0f;
        last.radius = std::max(last.radius, 1.0f);
    }

    const double outputWidth = p->output_worldP ? p->output_worldP->width : 0;
    const double outputHeight = p->output_worldP ? p->output_worldP->height : 0;
    for (bloomMip& mip : p->bloomMips) {
        mip.radius = mip.radius * mip.scale;
        mip.radiusX = double(mip.radius) * a;
        mip.radiusY = double(mip.radius) * b;
        mip.tapsX = std::max(CeilToInt(double(p->stepsMultiplier) * mip.radiusX), 1);
        mip.tapsY = std::max(CeilToInt(double(p->stepsMultiplier) * mip.radiusY), 1);
        mip.width = CeilToInt(double(mip.scale) * outputWidth);
        mip.height = CeilToInt(double(mip.scale) * outputHeight);
        // One tap step in texture coordinates, so the taps span radiusX level pixels on each side. An empty
        // level gets no step rather than an infinite one.
        mip.strideX = mip.width > 0 ? float((mip.radiusX / mip.tapsX) * (1.0 / mip.width)) : 0.0f;
        mip.strideY = mip.height > 0 ? float((mip.radiusY / mip.tapsY) * (1.0 / mip.height)) : 0.0f;
    }

    // "Extreme" keeps its own scales and weights but is drawn with the "Custom" pass structure.
    if (quality == kQualityExtreme) p->quality = kQualityCustom;
    return 0;
}
