#pragma once
// Runs one shader pass for real on tiny 32-bit float textures, for the shader tests.
//
// Each test thread gets its own 3.3 core context from surfaceless EGL (the software renderer
// here). The display is never terminated: other tests in the process may hold contexts on it.

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <map>
#include <string>
#include <vector>

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

// Makes a GL 3.3 core context current on the calling thread (once per thread). Returns
// false, with the reason in *why, when EGL cannot provide one.
bool EnsureContext(std::string* why);

// A uniform value for a raw pass: ints or floats, by count.
struct RawUniform {
    bool isInt = false;
    int count = 1;
    float f[16] = {};
    int i[4] = {};
};
using RawUniforms = std::map<std::string, RawUniform>;
RawUniform Int(int v);
RawUniform Float(float v);
RawUniform Float2(float x, float y);
RawUniform Float3(float x, float y, float z);

// Compiles and links one vertex/fragment pair; 0 and the driver log in *log on failure.
GLuint BuildProgram(const char* vertexSource, const char* fragmentSource, std::string* log);

// Draws the full-target quad with the program into a fresh RGB32F target of the given size,
// reading `input` as videoTexture with linear filtering and the given wrap mode, and
// returns what the target holds.
Image RunPass(GLuint program, const Image& input, int outWidth, int outHeight, const RawUniforms& uniforms,
              GLint wrap = GL_MIRRORED_REPEAT);

// Fixture: a current context. A machine without one fails the test rather than skipping it,
// since every pass test would otherwise pass without having run.
class GLTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why;
        ASSERT_TRUE(EnsureContext(&why)) << "no GL context: " << why;
    }
};

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
