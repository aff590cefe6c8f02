// Positions of the effect's parameters in the host's parameter list, for the tests that drive the loaded
// bundle through the simulated host. They are written down here, from the parameter table as a host sees it,
// rather than taken from the effect's own header: an end-to-end test sees only what the host sees, and a
// parameter registered at the wrong place must fail these tests instead of moving along with them.
#pragma once

namespace testsupport::param_index {

enum : int {
    // About & Support
    kHeader = 2,
    kProductPage = 3,       // the "AE <version>" button
    kFreePlugins = 4,       // the "OS <version>" button
    kGetSupport = 5,        // the GL renderer's button
    kOpenErrorLog = 9,
    kOpenLogDirectory = 10,
    kCreateTestError = 11,

    // Main
    kGlowMode = 17,         // kExponential, kLensIris
    kBlendMode = 18,        // kScreen, kAdd
    kRadius = 19,
    kExposure = 20,

    // Input
    kThreshold = 24,        // %
    kThresholdSmooth = 25,  // %
    kMaskLayer = 32,
    kMaskMode = 33,         // 2 "Luminance"
    kMaskInvert = 34,

    // Iris
    kIrisLayer = 39,
    kIrisIterations = 45,
    kRadiiEasing = 46,      // %: 0 keeps the radii evenly spaced

    // Style
    kSceneGammaLine = 51,
    kAutoDetectGamma = 53,
    kGammaCorrection = 54,  // %
    kGammaInfo = 55,
    kAspectRatio = 59,
    kEnableAngle = 60,
    kAspectAngle = 61,      // degrees
    kEnablePixelAberration = 65,
    kAberrationChannels = 66,  // 1 red and green, 2 red and blue, 3 green and blue
    kPixelOffset = 67,
    kEnableGlowAberration = 68,
    kMultiplyRed = 69,
    kMultiplyGreen = 70,
    kMultiplyBlue = 71,
    kShuffleChannels = 72,
    kTintMode = 76,         // 1 "Off", 3 "Monocolor", 4 "Duocolor"
    kColor = 78,
    kColorOuter = 79,
    kSwapColors = 80,
    kToneMapOperation = 85, // 1 "None", 5 "Hable Filmic"

    // Lens dirt
    kLensDirtTexture = 90,
    kLensDirtOpacity = 91,        // %
    kLensDirtInherit = 92,        // % "Inherit Glow Color"
    kLensDirtMatteExposure = 93,  // the matte's gain less 1
    kLensDirtMatteGamma = 94,     // the matte is raised to 1 / this
    kLensDirtRepeatEdges = 95,

    // Quality and output
    kQualityPreset = 100,         // 1 "Draft" ... 6 "Extreme", 8 "Custom"
    kQualityPresetIris = 101,     // 1 "Draft" ... 6 "Extreme"
    kHalfFloat = 102,
    kResolution = 103,            // %
    kBufferExpansionMode = 106,
    kAuxBufferExpansion = 107,
    kViewWithIris = 110,          // the "View" list of "Lens Iris": 1 Final Result, 2 Glow Input, 4 View Iris,
                                  // 6 Lens Dirt Input, 7 Lens Dirt Matte, 8 Lens Dirt Matted
    kView = 111,                  // the "View" list of "Exponential": 1 Final Result, 2 Glow Input,
                                  // 4 Lens Dirt Input, 5 Lens Dirt Matte, 6 Lens Dirt Matted
    kSourceOpacity = 112,         // %
    kUnmult = 113,

    // Deprecated
    kDeprecatedGammaCorrection = 134,
};

// Choices of the Glow Mode and Blend Mode popups.
enum : int { kExponential = 1, kLensIris = 2 };
enum : int { kScreen = 1, kAdd = 2 };

}  // namespace testsupport::param_index
