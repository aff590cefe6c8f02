#include "render/UniformSenders.h"

#include <cmath>

namespace {

constexpr int kDebugViewBlurW = 1;
constexpr int kDebugViewBlurH = 2;
constexpr int kTintModeDuocolor = 4;

// The quarter turn the height pass adds to the angle; kept at this rounding so that angled
// glows render as they always have.
constexpr double kQuarterTurn = 1.5708;

void Set(UniformMap& uniforms, const char* name, const uniform_t& value) { uniforms[name] = value; }

Vec3f Rgb(const PF_PixelFloat& colour) { return Vec3f{colour.red, colour.green, colour.blue}; }

}  // namespace

void SendPreProcUniforms(UniformMap& uniforms, const myParams& p)
{
    // In single precision, as the shader compares texture coordinates: 1 / size, times the
    // offset. No output world (never the case while rendering) means no shift rather than a
    // division by zero.
    Vec2f amount{0.f, 0.f};
    if (p.output_worldP && p.output_worldP->width > 0 && p.output_worldP->height > 0) {
        const float inverseWidth = 1.f / float(p.output_worldP->width);
        const float inverseHeight = 1.f / float(p.output_worldP->height);
        amount = Vec2f{p.pixelOffset * inverseWidth, p.pixelOffset * inverseHeight};
    }
    Set(uniforms, "satBiasF", VEC(p.satBias));
    Set(uniforms, "threshold", VEC(p.threshold));
    Set(uniforms, "thresholdSmooth", VEC(p.thresholdSmooth));
    Set(uniforms, "exposure", VEC(p.exposure));
    Set(uniforms, "gammaCorrect", IVEC(p.gammaCorrect ? 1 : 0));
    Set(uniforms, "custom_gammaF", VEC(p.gamma));
    Set(uniforms, "blendModeE", IVEC(p.blendMode));
    Set(uniforms, "viewE", IVEC(p.view));
    Set(uniforms, "aberration_modeE", IVEC(p.aberrationMode));
    Set(uniforms, "aberration_amountF", VEC2(amount));
    Set(uniforms, "simple_exposureB", IVEC(p.simpleExposure ? 1 : 0));
    Set(uniforms, "halfFloatB", IVEC(p.halfFloat ? 1 : 0));
}

void SendBlurUniforms(UniformMap& uniforms, const myParams& p, unsigned char isWidthPass, int level)
{
    if (level < 0 || std::size_t(level) >= p.bloomMips.size())
        return;
    const bloomMip& L = p.bloomMips[std::size_t(level)];
    const bool width = isWidthPass != 0;

    float strideX = 0.f;
    float strideY = 0.f;
    if (!p.enableAngle) {
        strideX = width ? L.strideX : 0.f;
        strideY = width ? 0.f : L.strideY;
    } else {
        // One step is k pixels of the level, along the angle in the width pass and across it
        // in the height pass.
        const double k = 1.0 / double(p.stepsMultiplier);
        const double w = L.width;
        const double h = L.height;
        if (width) {
            strideX = float(k * std::cos(p.angleRadians) / w);   // cos and sin of the float angle
            strideY = float(k * std::sin(p.angleRadians) / h);
        } else {
            const double across = double(p.angleRadians) + kQuarterTurn;
            strideX = float(k * std::cos(across) / w);
            strideY = float(k * std::sin(across) / h);
        }
    }

    Set(uniforms, "STEPS", VEC(float(width ? L.tapsX : L.tapsY)));
    Set(uniforms, "fadeMultiplier", VEC(width ? L.weight : 1.f));
    Set(uniforms, "bypassB", IVEC(p.debugView == (width ? kDebugViewBlurH : kDebugViewBlurW) ? 1 : 0));
    Set(uniforms, "isBlurWidthB", IVEC(width ? 1 : 0));
    Set(uniforms, "isAngleB", IVEC(p.enableAngle ? 1 : 0));
    Set(uniforms, "strideX", VEC(strideX));
    Set(uniforms, "strideY", VEC(strideY));
    Set(uniforms, "is_glow_aberrationB", IVEC(p.glowAberration ? 1 : 0));
    Set(uniforms, "redMultF", VEC(p.channelMultipliers[0]));
    Set(uniforms, "greenMultF", VEC(p.channelMultipliers[1]));
    Set(uniforms, "blueMultF", VEC(p.channelMultipliers[2]));
}

void SendUpsampleUniforms(UniformMap& uniforms, const myParams& p, Vec2f inSize, Vec2f outSize)
{
    Set(uniforms, "halfFloatB", IVEC(p.halfFloat ? 1 : 0));
    Set(uniforms, "in_res", VEC2(inSize));
    Set(uniforms, "out_res", VEC2(outSize));
}

void SendPostProcUniforms(UniformMap& uniforms, const myParams& p)
{
    const bool duocolor = p.tintMode == kTintModeDuocolor;
    Set(uniforms, "simple_exposureB", IVEC(p.simpleExposure ? 1 : 0));
    Set(uniforms, "gammaCorrect", IVEC(p.gammaCorrect ? 1 : 0));
    Set(uniforms, "custom_gammaF", VEC(p.gamma));
    Set(uniforms, "blendMode", IVEC(p.blendMode));
    // No shader declares it; the binding drops it.
    Set(uniforms, "unmult", IVEC(p.unmult ? 1 : 0));
    Set(uniforms, "exposure", VEC(p.exposure));
    Set(uniforms, "tintMix", VEC(p.tintStrength));
    Set(uniforms, "clampMixF", VEC(p.toneMapMix));
    Set(uniforms, "tonemapE", IVEC(p.toneMapOperation));
    Set(uniforms, "tintColor", VEC3(Rgb(p.tintColor)));
    Set(uniforms, "tintMode", IVEC(p.tintBlendMode));
    Set(uniforms, "tintMultiB", IVEC(duocolor ? 1 : 0));
    Set(uniforms, "tintColorOuter", VEC3(duocolor ? Rgb(p.tintColorOuter) : Vec3f{0.f, 0.f, 0.f}));
    Set(uniforms, "halfFloatB", IVEC(p.halfFloat ? 1 : 0));
}
