// The quad transform that places the glow source inside the output for the pre-process.
#include <gtest/gtest.h>

#include "render/SmartRender.h"

namespace {

PF_EffectWorld World(int width, int height, int originX, int originY) {
    PF_EffectWorld w{};
    w.width = width;
    w.height = height;
    w.origin_x = originX;
    w.origin_y = originY;
    return w;
}

// The corner (x, y, 0, 1) as the vertex shader transforms it: a row vector times the rows of xform, which the
// shader receives untransposed, i.e. M applied to the column vector.
void Apply(const Matrix44f& xform, float x, float y, float* outX, float* outY) {
    const float v[4] = {x, y, 0.0f, 1.0f};
    float r[4] = {};
    for (int row = 0; row < 4; ++row)
        for (int k = 0; k < 4; ++k) r[row] += xform.m[row * 4 + k] * v[k];
    *outX = r[0] / r[3];
    *outY = r[1] / r[3];
}

TEST(QuadTransform, HalfSizeSourceInTheMiddleOfTheOutput) {
    myParams p;
    PF_EffectWorld source = World(960, 540, 480, 270), output = World(1920, 1080, 0, 0);
    p.glowSourceWorldP = &source;
    p.output_worldP = &output;
    GenVertexMatrices(&p);
    EXPECT_FLOAT_EQ(p.worldScale.x, 0.5f);
    EXPECT_FLOAT_EQ(p.worldScale.y, 0.5f);
    EXPECT_FLOAT_EQ(p.worldOffset.x, 0.5f);
    EXPECT_FLOAT_EQ(p.worldOffset.y, 0.5f);

    struct Case {
        float x, y, expectedX, expectedY;
    };
    // Clip space -0.5 .. 0.5 is output pixels 480 .. 1440 and 270 .. 810.
    const Case corners[] = {{-1, -1, -0.5f, -0.5f}, {1, 1, 0.5f, 0.5f}, {1, -1, 0.5f, -0.5f}, {0, 0, 0, 0}};
    for (const auto& c : corners) {
        float x, y;
        Apply(p.xform, c.x, c.y, &x, &y);
        EXPECT_NEAR(x, c.expectedX, 1e-6) << c.x << ", " << c.y;
        EXPECT_NEAR(y, c.expectedY, 1e-6) << c.x << ", " << c.y;
    }
    // Stored row by row: the first row carries the x scale and the x translation.
    EXPECT_FLOAT_EQ(p.xform.m[0], 0.5f);
    EXPECT_FLOAT_EQ(p.xform.m[3], 0.0f);
    EXPECT_FLOAT_EQ(p.xform.m[12], 0.0f);
}

TEST(QuadTransform, OffsetAndUnevenSizes) {
    myParams p;
    // A 100 x 50 source whose first pixel sits 30 right of and 20 above the output's.
    PF_EffectWorld source = World(100, 50, -10, -20), output = World(200, 100, -40, 0);
    p.glowSourceWorldP = &source;
    p.output_worldP = &output;
    GenVertexMatrices(&p);
    float x, y;
    Apply(p.xform, -1, -1, &x, &y);
    // pixel 30 of 200 is clip -1 + 2 * 30 / 200; row -20 of 100 is clip -1 - 0.4
    EXPECT_NEAR(x, -0.7f, 1e-6);
    EXPECT_NEAR(y, -1.4f, 1e-6);
    Apply(p.xform, 1, 1, &x, &y);
    EXPECT_NEAR(x, 0.3f, 1e-6);   // pixel 130
    EXPECT_NEAR(y, -0.4f, 1e-6);  // row 30
}

TEST(QuadTransform, SourceEqualToOutputIsTheIdentity) {
    myParams p;
    PF_EffectWorld source = World(64, 32, 5, 7), output = World(64, 32, 5, 7);
    p.glowSourceWorldP = &source;
    p.output_worldP = &output;
    GenVertexMatrices(&p);
    for (int i = 0; i < 16; ++i) EXPECT_FLOAT_EQ(p.xform.m[i], (i % 5 == 0) ? 1.0f : 0.0f) << i;
}

}  // namespace
