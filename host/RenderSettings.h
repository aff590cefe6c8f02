// The per-render settings record: a copy of every parameter and the settings derived from them. PreRender and
// SmartRender each own one for the length of one host command; the pipeline reads parameters only here.
#pragma once

#include <vector>

#include "gl/Uniforms.h"  // Vec2f, Matrix44f
#include "host/ParamIndex.h"
#include "render/GlowLevels.h"
#include "sdk/AE_Effect.h"

// Reference data of the lens-dirt pixel callbacks.
struct lens_mirror_data {
    int32_t offsetX = 0;              // dirt world origin_x minus output world origin_x
    int32_t offsetY = 0;
    PF_EffectWorld* dirt = nullptr;   // the lens-dirt world (borrowed)
    bool mirror = false;              // "Repeat Edges"
    float opacity = 0;                // "Opacity" as a fraction
    float matteGammaExp = 0;          // 1 / "Matte Gamma", or 100000 when that is 0.00001 or less
    float matteGain = 0;              // "Matte Exposure" + 1
    float inherit = 0;                // "Inherit Glow Color" as a fraction
    int32_t mode = 0;                 // a copy of lensDirtMode
};

// The period of the "Repeat Edges" fold of a dirt layer along a side of `side` pixels: the layer less a
// two-pixel border, there and back, 2 x (side - 4). A layer under 5 pixels on either side has nothing left to
// fold and is never mirrored: 0.
long long DirtMirrorPeriod(A_long side, A_long otherSide);

// View numbers (the numbering of the "View" list with the iris view).
enum {
    kViewFinalResult = 1,
    kViewGlowInput = 2,
    kViewIris = 4,
    kViewLensDirtInput = 6,
    kViewLensDirtMatte = 7,
    kViewLensDirtMatted = 8,
};
enum { kGlowModeExponential = 1, kGlowModeLensIris = 2 };
enum { kQualityExtreme = 6, kQualityCustom = 8 };

// Every field starts at zero (or empty); the world pointers are borrowed from the host, the two temporary
// worlds are released by the CPU passes, and the three arrays die with the record.
struct myParams {
    PF_ParamDef params[PARAM_NUM_PARAMS] = {};   // value copies; 0, 39 and 90 are not filled
    PF_PixelFormat pixelFormat = 0;
    int16_t bitDepth = 0;
    PF_EffectWorld* input_worldP = nullptr;
    PF_EffectWorld* output_worldP = nullptr;     // null in pre-render
    PF_EffectWorld* iris_worldP = nullptr;
    PF_EffectWorld* lens_dirt_worldP = nullptr;
    PF_EffectWorld* mask_worldP = nullptr;
    PF_EffectWorld* glowSourceWorldP = nullptr;
    PF_EffectWorld matte_world = {};
    PF_EffectWorld iris_gamma_world = {};
    bool maskInvert = false;
    bool layerCollapsed = false;
    bool layerIsAdjustment = false;
    bool viewDone = false;
    bool halfFloat = false;
    int32_t glowMode = 0;
    int32_t blendMode = 0;
    int32_t aberrationMode = 0;
    int32_t tintMode = 0;
    int32_t tintBlendMode = 0;
    int32_t toneMapOperation = 0;
    int32_t maskMode = 0;
    int32_t quality = 0;
    int32_t irisSamplingLevel = 0;
    int32_t bufferExpansionMode = 0;
    int32_t debugView = 0;
    int32_t view = 0;
    int32_t lensDirtMode = 0;
    int32_t auxExpansion = 0;
    Vec2f worldOffset = {};
    Vec2f worldScale = {};
    float stepsMultiplier = 0;
    int32_t maxGlowLevels = 0;
    std::vector<bloomMip> bloomMips;
    Matrix44f xform = {};
    int32_t edgeBehaviour = 0;
    float downsampleX = 0;
    std::vector<float> irisRadii;
    std::vector<float> irisRadiiEased;
    float radiiEasing = 0;
    float irisAspect = 0;
    bool irisIsWide = false;
    bool autoDetectGamma = false;
    bool gammaCorrect = false;
    float gamma = 0;
    float threshold = 0;
    float thresholdSmooth = 0;
    float satBias = 0;
    float baseRadius = 0;
    double radiusXY[2] = {};
    float aspectRatio = 0;
    double aspectMultipliers[2] = {};
    bool enableAngle = false;
    float angleDegrees = 0;
    float angleRadians = 0;
    float exposure = 0;
    float resolutionScale = 0;
    bool glowAberration = false;
    float channelMultipliers[3] = {};
    float reachFactor = 0;
    float pixelOffset = 0;
    PF_PixelFloat tintColor = {};
    PF_PixelFloat tintColorOuter = {};
    float tintStrength = 0;
    uint8_t sourceOpacityByte = 0;
    float sourceOpacity = 0;
    bool unmult = false;
    bool unmultLowGamma = false;
    float toneMapMix = 0;
    lens_mirror_data lensMirror;
    bool simpleExposure = false;
    bool coutPreRenderRects = false;
    bool cullSmallValues = false;

    myParams() = default;
    ~myParams();
    myParams(const myParams&) = delete;
    myParams& operator=(const myParams&) = delete;
};

// Fills glowMode and view from "Glow Mode" and the two "View" lists.
PF_Err PreInitParams(myParams* p, PF_InData* in_data, PF_OutData* out_data);
// Fills everything else; extra is null in pre-render. 517 from the parameter checkouts still derives every
// field from the copies made so far and is returned at the end.
PF_Err InitParams(myParams* p, PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra);

// GL texture wrap modes of the render targets.
constexpr int32_t kGL_CLAMP_TO_BORDER = 0x812D;
constexpr int32_t kGL_MIRRORED_REPEAT = 0x8370;
