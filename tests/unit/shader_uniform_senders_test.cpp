// The uniform senders: exactly the listed entries, each with the maker's tag and the value
// derived from representative settings. No GL is involved.

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <string>

#include "render/UniformSenders.h"

namespace {

std::set<std::string> Names(const UniformMap& map)
{
    std::set<std::string> names;
    for (const auto& entry : map)
        names.insert(entry.first);
    return names;
}

void ExpectInt(const UniformMap& map, const char* name, int value)
{
    SCOPED_TRACE(name);
    auto it = map.find(name);
    ASSERT_NE(it, map.end());
    EXPECT_EQ(it->second.tag, UniformTag_Int);
    EXPECT_EQ(it->second.payload.i[0], value);
}

void ExpectFloats(const UniformMap& map, const char* name, std::initializer_list<float> values)
{
    SCOPED_TRACE(name);
    auto it = map.find(name);
    ASSERT_NE(it, map.end());
    const int tags[] = {UniformTag_Float, UniformTag_Vec2, UniformTag_Vec3, UniformTag_Vec4};
    EXPECT_EQ(it->second.tag, tags[values.size() - 1]);
    int i = 0;
    for (float v : values)
        EXPECT_FLOAT_EQ(it->second.payload.f[i++], v) << "component " << i;
}

TEST(SendPreProcUniforms, SetsTheTwelveEntriesFromTheSettings)
{
    myParams p;
    PF_EffectWorld output = {};
    output.width = 200;
    output.height = 80;
    p.output_worldP = &output;
    p.satBias = -0.25f;
    p.threshold = 0.3f;
    p.thresholdSmooth = 0.05f;
    p.exposure = 2.f;
    p.gammaCorrect = true;
    p.gamma = 2.2f;
    p.blendMode = 1;
    p.view = 2;
    p.aberrationMode = 3;
    p.pixelOffset = 4.f;
    p.simpleExposure = true;
    p.halfFloat = true;

    // An entry of the pass chain survives; one of the same name is replaced.
    UniformMap map;
    map["videoTexture"] = TEX2D(7);
    map["threshold"] = IVEC(9);
    SendPreProcUniforms(map, p);

    EXPECT_EQ(Names(map), (std::set<std::string>{"videoTexture", "satBiasF", "threshold", "thresholdSmooth", "exposure",
                                                 "gammaCorrect", "custom_gammaF", "blendModeE", "viewE",
                                                 "aberration_modeE", "aberration_amountF", "simple_exposureB",
                                                 "halfFloatB"}));
    ExpectInt(map, "halfFloatB", 1);
    EXPECT_EQ(map["videoTexture"].tag, UniformTag_Tex2D);
    ExpectFloats(map, "satBiasF", {-0.25f});
    ExpectFloats(map, "threshold", {0.3f});
    ExpectFloats(map, "thresholdSmooth", {0.05f});
    ExpectFloats(map, "exposure", {2.f});
    ExpectInt(map, "gammaCorrect", 1);
    ExpectFloats(map, "custom_gammaF", {2.2f});
    ExpectInt(map, "blendModeE", 1);
    ExpectInt(map, "viewE", 2);
    ExpectInt(map, "aberration_modeE", 3);
    // 4 output pixels in texture coordinates of a 200 x 80 world.
    ExpectFloats(map, "aberration_amountF", {4.f * (1.f / 200.f), 4.f * (1.f / 80.f)});
    ExpectInt(map, "simple_exposureB", 1);
}

TEST(SendPreProcUniforms, BooleansBecomeZeroAndNoWorldMeansNoShift)
{
    myParams p;
    p.pixelOffset = 4.f;   // no output world: never divided by a missing size
    UniformMap map;
    SendPreProcUniforms(map, p);
    ExpectInt(map, "gammaCorrect", 0);
    ExpectInt(map, "simple_exposureB", 0);
    ExpectFloats(map, "aberration_amountF", {0.f, 0.f});
}

struct BlurSettings {
    myParams p;
    BlurSettings()
    {
        bloomMip level;
        level.width = 100;
        level.height = 50;
        level.tapsX = 3;
        level.tapsY = 5;
        level.strideX = 0.01f;
        level.strideY = 0.02f;
        level.weight = 0.25f;
        p.bloomMips.push_back(bloomMip{});
        p.bloomMips.push_back(level);
        p.debugView = 3;
        p.stepsMultiplier = 0.5f;   // k = 2 pixels a step
        p.channelMultipliers[0] = 0.8f;
        p.channelMultipliers[1] = 1.f;
        p.channelMultipliers[2] = 1.2f;
        p.glowAberration = true;
    }
};

TEST(SendBlurUniforms, WidthAndHeightPassOfALevel)
{
    BlurSettings s;
    const std::set<std::string> names = {"STEPS",   "fadeMultiplier", "bypassB",  "isBlurWidthB",
                                         "isAngleB", "strideX",       "strideY",  "is_glow_aberrationB",
                                         "redMultF", "greenMultF",    "blueMultF"};
    UniformMap width, height;
    SendBlurUniforms(width, s.p, 1, 1);
    SendBlurUniforms(height, s.p, 0, 1);
    EXPECT_EQ(Names(width), names);
    EXPECT_EQ(Names(height), names);

    ExpectFloats(width, "STEPS", {3.f});
    ExpectFloats(height, "STEPS", {5.f});
    ExpectFloats(width, "fadeMultiplier", {0.25f});   // the level's weight, once
    ExpectFloats(height, "fadeMultiplier", {1.f});
    ExpectInt(width, "isBlurWidthB", 1);
    ExpectInt(height, "isBlurWidthB", 0);
    ExpectInt(width, "isAngleB", 0);
    ExpectFloats(width, "strideX", {0.01f});
    ExpectFloats(width, "strideY", {0.f});
    ExpectFloats(height, "strideX", {0.f});
    ExpectFloats(height, "strideY", {0.02f});
    for (const UniformMap* m : {&width, &height}) {
        ExpectInt(*m, "is_glow_aberrationB", 1);
        ExpectFloats(*m, "redMultF", {0.8f});
        ExpectFloats(*m, "greenMultF", {1.f});
        ExpectFloats(*m, "blueMultF", {1.2f});
    }
}

TEST(SendBlurUniforms, DebugViewsBypassOnePass)
{
    const struct {
        int debugView;
        int widthBypass, heightBypass;
    } cases[] = {{1, 0, 1}, {2, 1, 0}, {3, 0, 0}};   // "Blur W", "Blur H", "None"
    for (const auto& c : cases) {
        SCOPED_TRACE(c.debugView);
        BlurSettings s;
        s.p.debugView = c.debugView;
        UniformMap width, height;
        SendBlurUniforms(width, s.p, 1, 0);
        SendBlurUniforms(height, s.p, 0, 0);
        ExpectInt(width, "bypassB", c.widthBypass);
        ExpectInt(height, "bypassB", c.heightBypass);
    }
}

TEST(SendBlurUniforms, AngledStridesAreKPixelsAlongAndAcrossTheAngle)
{
    // k = 1 / 0.5 = 2 level pixels a step on a 100 x 50 level: along the angle in the width
    // pass, a quarter turn further in the height pass.
    const struct {
        float radians;
        const char* what;
        double widthX, widthY, heightX, heightY;
    } cases[] = {
        {0.f, "angle 0", 0.02, 0.0, 0.0, 0.04},
        {0.5235988f, "30 degrees", 0.017320508, 0.02, -0.01, 0.034641016},
        {4.712389f, "270 degrees", 0.0, -0.04, 0.02, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BlurSettings s;
        s.p.enableAngle = true;
        s.p.angleRadians = c.radians;
        UniformMap width, height;
        SendBlurUniforms(width, s.p, 1, 1);
        SendBlurUniforms(height, s.p, 0, 1);
        ExpectInt(width, "isAngleB", 1);
        ExpectInt(height, "isAngleB", 1);
        EXPECT_NEAR(width["strideX"].payload.f[0], c.widthX, 1e-6);
        EXPECT_NEAR(width["strideY"].payload.f[0], c.widthY, 1e-6);
        EXPECT_NEAR(height["strideX"].payload.f[0], c.heightX, 1e-6);
        EXPECT_NEAR(height["strideY"].payload.f[0], c.heightY, 1e-6);
    }
    // At angle 0 the quarter turn 1.5708 (not pi / 2) leaves a tiny negative x step:
    // 2 cos(1.5708) / 100, about -7.3e-8.
    BlurSettings s;
    s.p.enableAngle = true;
    UniformMap height;
    SendBlurUniforms(height, s.p, 0, 1);
    EXPECT_NEAR(height["strideX"].payload.f[0], -7.346e-8, 0.01e-8);
}

TEST(SendBlurUniforms, ALevelOutsideTheChainSetsNothing)
{
    BlurSettings s;
    for (int level : {-1, 2, 100}) {
        UniformMap map;
        map["videoTexture"] = TEX2D(3);
        SendBlurUniforms(map, s.p, 1, level);
        EXPECT_EQ(Names(map), (std::set<std::string>{"videoTexture"})) << "level " << level;
    }
}

// The pyramid's upsample writes half-float targets too: without halfFloatB a level past the largest
// half would reach the level above as infinity.
TEST(SendUpsampleUniforms, SizesAndTheHalfFloatSwitch)
{
    for (bool half : {true, false}) {
        SCOPED_TRACE(half ? "half floats" : "full floats");
        myParams p;
        p.halfFloat = half;
        UniformMap map;
        SendUpsampleUniforms(map, p, Vec2f{60.f, 34.f}, Vec2f{120.f, 67.f});
        EXPECT_EQ(Names(map), (std::set<std::string>{"halfFloatB", "in_res", "out_res"}));
        ExpectInt(map, "halfFloatB", half ? 1 : 0);
        ExpectFloats(map, "in_res", {60.f, 34.f});
        ExpectFloats(map, "out_res", {120.f, 67.f});
    }
}

struct PostSettings {
    myParams p;
    PostSettings()
    {
        p.simpleExposure = true;
        p.gammaCorrect = true;
        p.gamma = 2.4f;
        p.blendMode = 2;
        p.unmult = true;
        p.exposure = 1.5f;
        p.tintStrength = 0.5f;
        p.toneMapMix = 0.75f;
        p.toneMapOperation = 6;
        p.tintColor = PF_PixelFloat{1.f, 0.9f, 0.5f, 0.1f};        // alpha, red, green, blue
        p.tintColorOuter = PF_PixelFloat{1.f, 0.2f, 0.3f, 0.4f};
        p.tintBlendMode = 2;
        p.tintMode = 4;   // Duocolor
    }
};

TEST(SendPostProcUniforms, SetsTheFourteenEntriesFromTheSettings)
{
    PostSettings s;
    UniformMap map;
    SendPostProcUniforms(map, s.p);
    EXPECT_EQ(Names(map), (std::set<std::string>{"simple_exposureB", "gammaCorrect", "custom_gammaF", "blendMode",
                                                 "unmult", "exposure", "tintMix", "clampMixF", "tonemapE",
                                                 "tintColor", "tintMode", "tintMultiB", "tintColorOuter",
                                                 "halfFloatB"}));
    ExpectInt(map, "halfFloatB", 0);
    ExpectInt(map, "simple_exposureB", 1);
    ExpectInt(map, "gammaCorrect", 1);
    ExpectFloats(map, "custom_gammaF", {2.4f});
    ExpectInt(map, "blendMode", 2);
    ExpectInt(map, "unmult", 1);
    ExpectFloats(map, "exposure", {1.5f});
    ExpectFloats(map, "tintMix", {0.5f});
    ExpectFloats(map, "clampMixF", {0.75f});
    ExpectInt(map, "tonemapE", 6);
    ExpectFloats(map, "tintColor", {0.9f, 0.5f, 0.1f});   // red, green, blue; no alpha
    ExpectInt(map, "tintMode", 2);                      // the tint blend mode
    ExpectInt(map, "tintMultiB", 1);
    ExpectFloats(map, "tintColorOuter", {0.2f, 0.3f, 0.4f});
}

TEST(SendPostProcUniforms, OuterColourOnlyForDuocolor)
{
    for (int tintMode : {1, 3}) {   // Off, Monocolor
        SCOPED_TRACE(tintMode);
        PostSettings s;
        s.p.tintMode = tintMode;
        UniformMap map;
        SendPostProcUniforms(map, s.p);
        ExpectInt(map, "tintMultiB", 0);
        ExpectFloats(map, "tintColorOuter", {0.f, 0.f, 0.f});
        ExpectFloats(map, "tintColor", {0.9f, 0.5f, 0.1f});
    }
}

}  // namespace
