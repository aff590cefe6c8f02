#pragma once
// Runs one pass of the effect's program set for real on tiny 32-bit float targets, for the
// shader tests: the program of a slot, a PX_FBO2 holding the input, another as the target,
// and RenderQuad2 with a uniform map, as the pass chains draw.

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "gl/glrender.h"
#include "render/ProgramSet.h"
#include "support/TempHome.h"

namespace shader_test {

// An RGB float image, rows from the bottom (GL's texture order), three floats a pixel.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<float> rgb;

    Image() = default;
    Image(int w, int h, float r = 0.f, float g = 0.f, float b = 0.f) : width(w), height(h), rgb(std::size_t(w) * h * 3)
    {
        for (int i = 0; i < w * h; ++i) {
            rgb[i * 3] = r;
            rgb[i * 3 + 1] = g;
            rgb[i * 3 + 2] = b;
        }
    }
    float* at(int x, int y) { return &rgb[(std::size_t(y) * width + x) * 3]; }
    const float* at(int x, int y) const { return &rgb[(std::size_t(y) * width + x) * 3]; }
    void set(int x, int y, float r, float g, float b)
    {
        float* p = at(x, y);
        p[0] = r;
        p[1] = g;
        p[2] = b;
    }
};

// Fixture: a throw-away HOME for the log, a context of the effect's own made current, and the
// program set built in it.
class GLTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Draws slot's program over a new RGB32F target of the given size, reading `input` (held
    // in another RGB32F target with the given wrap mode) as videoTexture, and returns what the
    // target holds. The map is taken by value: RenderQuad2 empties it.
    Image RunPass(ProgramSlot slot, const Image& input, int outWidth, int outHeight, UniformMap uniforms,
                  GLint wrap = GL_MIRRORED_REPEAT);

    std::unique_ptr<testsupport::ScopedHome> home_;
    CGLContextObj context_ = nullptr;
    ProgramSet programs_;
    PF_OutData out_data_ = {};
};

// Makers of the two small vector types, to keep tables short.
inline uniform_t Vec2(float x, float y) { return VEC2(Vec2f{x, y}); }
inline uniform_t Vec3(float x, float y, float z) { return VEC3(Vec3f{x, y, z}); }

}  // namespace shader_test

// Component-wise comparison of a pixel against an expected colour. Besides the absolute
// tolerance each channel may be off by a few float roundings of its magnitude: even at a
// texel centre, linear filtering on the software renderer reproduces a value only to about
// one part in ten million.
#define EXPECT_PIXEL_NEAR(image, x, y, er, eg, eb, tol)                                              \
    do {                                                                                             \
        const float* p_ = (image).at((x), (y));                                                      \
        const double e_[3] = {double(er), double(eg), double(eb)};                                   \
        const char* n_[3] = {"red/r", "green/g", "blue/b"};                                          \
        for (int c_ = 0; c_ < 3; ++c_)                                                               \
            EXPECT_NEAR(p_[c_], e_[c_], double(tol) + 2e-6 * std::fabs(e_[c_]))                      \
                << n_[c_] << " at (" << (x) << ", " << (y) << ")";                                   \
    } while (0)
