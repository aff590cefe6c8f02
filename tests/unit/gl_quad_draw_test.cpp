// Uniform binding and full-screen quad draws into real targets.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "gl_fixtures.h"

namespace {

const char kVertex[] = R"(#version 330
in vec3 vertex;
in vec2 tex;
out vec2 texCoord;
void main() { texCoord = tex; gl_Position = vec4(vertex, 1.0); }
)";

// Every uniform type a map can carry, each used so that the driver keeps it active.
const char kAllTypesFragment[] = R"(#version 330
uniform uint uintU;
uniform int intU;
uniform ivec2 ivec2U;
uniform ivec3 ivec3U;
uniform ivec4 ivec4U;
uniform float floatU;
uniform vec2 vec2U;
uniform vec3 vec3U;
uniform vec4 vec4U;
uniform mat4 mat4U;
uniform sampler2D videoTexture;
uniform sampler1D lineTexture;
out vec4 color;
void main() {
    float s = float(uintU) + float(intU) + float(ivec2U.y) + float(ivec3U.z) + float(ivec4U.w) + floatU + vec2U.y
            + vec3U.z + vec4U.w + mat4U[3][2] + texture(videoTexture, vec2(0.5)).r + texture(lineTexture, 0.5).r;
    color = vec4(s);
}
)";

const char kColorFragment[] = R"(#version 330
uniform vec4 fillColor;
out vec4 color;
void main() { color = fillColor; }
)";

const char kTexCoordFragment[] = R"(#version 330
in vec2 texCoord;
out vec4 color;
void main() { color = vec4(texCoord, 0.0, 1.0); }
)";

const char kSampleFragment[] = R"(#version 330
in vec2 texCoord;
uniform sampler2D videoTexture;
out vec4 color;
void main() { color = texture(videoTexture, texCoord); }
)";

class QuadDraw : public GLTest {
protected:
    GLuint Build(const char* fragment) {
        PF_OutData out{};
        programs_.emplace_back();
        EXPECT_TRUE(programs_.back().InitInternal(kVertex, fragment, &out, 0)) << out.return_msg;
        return programs_.back().id;
    }
    static GLuint Texture(GLenum target, int width, int height, const std::vector<float>& rgb) {
        GLuint texture = 0;
        glGenTextures(1, &texture);
        glBindTexture(target, texture);
        glTexParameteri(target, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(target, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        if (target == GL_TEXTURE_1D) glTexImage1D(target, 0, GL_RGB32F, width, 0, GL_RGB, GL_FLOAT, rgb.data());
        else glTexImage2D(target, 0, GL_RGB32F, width, height, 0, GL_RGB, GL_FLOAT, rgb.data());
        glBindTexture(target, 0);
        return texture;
    }
    std::vector<Program> programs_;
};

TEST_F(QuadDraw, UniformsAreSetByNameWithTheirTypes) {
    const GLuint program = Build(kAllTypesFragment);
    const GLuint picture = Texture(GL_TEXTURE_2D, 1, 1, {1.f, 2.f, 3.f});
    const GLuint line = Texture(GL_TEXTURE_1D, 1, 1, {4.f, 5.f, 6.f});
    Matrix44f matrix{};
    for (int i = 0; i < 16; ++i) matrix.m[i] = float(i) + 0.5f;

    UniformMap uniforms;
    uniforms["uintU"] = UIVEC(4000000000u);
    uniforms["intU"] = IVEC(-7);
    uniforms["ivec2U"] = IVEC2({1, -2});
    uniforms["ivec3U"] = IVEC3({3, 4, -5});
    uniforms["ivec4U"] = IVEC4({6, 7, 8, -9});
    uniforms["floatU"] = VEC(0.25f);
    uniforms["vec2U"] = VEC2({1.5f, -2.5f});
    uniforms["vec3U"] = VEC3({3.5f, 4.5f, -5.5f});
    uniforms["vec4U"] = VEC4({6.5f, 7.5f, 8.5f, -9.5f});
    uniforms["mat4U"] = MAT44(matrix);
    uniforms["videoTexture"] = TEX2D(picture);
    uniforms["lineTexture"] = TEX1D(line);
    uniforms["notDeclaredAnywhere"] = VEC(1.f);
    SetProgramUniforms(program, uniforms);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));

    auto location = [&](const char* name) { return glGetUniformLocation(program, name); };
    GLuint u = 0;
    glGetUniformuiv(program, location("uintU"), &u);
    EXPECT_EQ(u, 4000000000u);
    const struct {
        const char* name;
        std::vector<GLint> expected;
    } ints[] = {{"intU", {-7}}, {"ivec2U", {1, -2}}, {"ivec3U", {3, 4, -5}}, {"ivec4U", {6, 7, 8, -9}}};
    for (const auto& c : ints) {
        std::vector<GLint> got(4, 99);
        glGetUniformiv(program, location(c.name), got.data());
        got.resize(c.expected.size());
        EXPECT_EQ(got, c.expected) << c.name;
    }
    const struct {
        const char* name;
        std::vector<GLfloat> expected;
    } floats[] = {{"floatU", {0.25f}},
                  {"vec2U", {1.5f, -2.5f}},
                  {"vec3U", {3.5f, 4.5f, -5.5f}},
                  {"vec4U", {6.5f, 7.5f, 8.5f, -9.5f}},
                  {"mat4U", std::vector<GLfloat>(matrix.m, matrix.m + 16)}};
    for (const auto& c : floats) {
        std::vector<GLfloat> got(16, 99.f);
        glGetUniformfv(program, location(c.name), got.data());
        got.resize(c.expected.size());
        EXPECT_EQ(got, c.expected) << c.name;
    }

    // Two textures take units 0 and 1 (in either order); each sampler names the unit its texture is on.
    std::set<GLint> units;
    const struct {
        const char* name;
        GLenum binding;
        GLuint texture;
    } samplers[] = {{"videoTexture", GL_TEXTURE_BINDING_2D, picture}, {"lineTexture", GL_TEXTURE_BINDING_1D, line}};
    for (const auto& s : samplers) {
        GLint unit = -1;
        glGetUniformiv(program, location(s.name), &unit);
        units.insert(unit);
        glActiveTexture(GL_TEXTURE0 + GLenum(unit));
        GLint bound = 0;
        glGetIntegerv(s.binding, &bound);
        EXPECT_EQ(GLuint(bound), s.texture) << s.name;
    }
    EXPECT_EQ(units, (std::set<GLint>{0, 1}));
    GLint current = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    EXPECT_EQ(GLuint(current), program);
    glActiveTexture(GL_TEXTURE0);
    glDeleteTextures(1, &picture);
    glDeleteTextures(1, &line);
}

TEST_F(QuadDraw, ValueOfTheWrongTypeIsDroppedWithoutATrace) {
    const GLuint program = Build(kAllTypesFragment);
    UniformMap uniforms{{"intU", IVEC(3)}};
    SetProgramUniforms(program, uniforms);
    uniforms = {{"intU", VEC(8.5f)}, {"floatU", VEC(2.f)}};
    SetProgramUniforms(program, uniforms);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    GLint i = 0;
    glGetUniformiv(program, glGetUniformLocation(program, "intU"), &i);
    EXPECT_EQ(i, 3);
    GLfloat f = 0;
    glGetUniformfv(program, glGetUniformLocation(program, "floatU"), &f);
    EXPECT_EQ(f, 2.f) << "the other entries are still set";
}

TEST_F(QuadDraw, QuadFillsTheWholeTargetAndEmptiesTheMap) {
    const GLuint program = Build(kColorFragment);
    PX_FBO2 target;
    ASSERT_EQ(target.CreateTextureFBO2(nullptr, 7, 5, GL_CLAMP_TO_EDGE, GL_RGB32F), PF_Err_NONE);
    UniformMap uniforms{{"fillColor", VEC4({0.25f, 2.5f, -1.f, 1.f})}, {"unusedName", IVEC(1)}};
    EXPECT_EQ(target.RenderQuad2(program, uniforms), PF_Err_NONE);
    EXPECT_TRUE(uniforms.empty());
    const std::vector<float> pixels = ReadRGBA(target.m_FBO_ID, 7, 5);
    for (size_t i = 0; i < pixels.size(); i += 4) {
        ASSERT_EQ(pixels[i], 0.25f) << i / 4;
        ASSERT_EQ(pixels[i + 1], 2.5f) << i / 4;
        ASSERT_EQ(pixels[i + 2], -1.f) << i / 4;
    }
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    GLint binding = -1;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &binding);
    EXPECT_EQ(binding, 0);
    glGetIntegerv(GL_CURRENT_PROGRAM, &binding);
    EXPECT_EQ(binding, 0);
    glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &binding);
    EXPECT_EQ(binding, 0);
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &binding);
    EXPECT_EQ(binding, 0);
}

// An error left pending by earlier GL work shows up at the vertex array's making; the array was made, so the
// draw goes on and fills the target.
TEST_F(QuadDraw, DrawGoesOnPastAnErrorLeftPendingByEarlierWork) {
    const GLuint program = Build(kColorFragment);
    PX_FBO2 target;
    ASSERT_EQ(target.CreateTextureFBO2(nullptr, 3, 2, GL_CLAMP_TO_EDGE, GL_RGB32F), PF_Err_NONE);
    glEnable(GLenum(0xFFFF));  // GL_INVALID_ENUM, left pending
    UniformMap uniforms{{"fillColor", VEC4({0.5f, 1.5f, 3.f, 1.f})}};
    testing::internal::CaptureStderr();
    EXPECT_EQ(target.RenderQuad2(program, uniforms), PF_Err_NONE);
    testing::internal::GetCapturedStderr();
    const std::vector<float> pixels = ReadRGBA(target.m_FBO_ID, 3, 2);
    for (size_t i = 0; i < pixels.size(); i += 4) {
        ASSERT_EQ(pixels[i], 0.5f) << i / 4;
        ASSERT_EQ(pixels[i + 1], 1.5f) << i / 4;
        ASSERT_EQ(pixels[i + 2], 3.f) << i / 4;
    }
    EXPECT_EQ(LogText().find("OpenGL error occurred in RenderPOD2"), std::string::npos) << LogText();
}

TEST_F(QuadDraw, TextureCoordinatesRunFromZeroToOneFromTheBottomLeft) {
    const GLuint program = Build(kTexCoordFragment);
    PX_FBO2 target;
    ASSERT_EQ(target.CreateTextureFBO2(nullptr, 4, 2, GL_CLAMP_TO_EDGE, GL_RGB32F), PF_Err_NONE);
    UniformMap none;
    ASSERT_EQ(target.RenderQuad2(program, none), PF_Err_NONE);
    const std::vector<float> pixels = ReadRGBA(target.m_FBO_ID, 4, 2);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 4; ++x) {
            const size_t i = size_t(y * 4 + x) * 4;
            EXPECT_FLOAT_EQ(pixels[i], (x + 0.5f) / 4.f) << x << "," << y;
            EXPECT_FLOAT_EQ(pixels[i + 1], (y + 0.5f) / 2.f) << x << "," << y;
        }
    }
}

TEST_F(QuadDraw, OneTextureIsSampledFromUnitZero) {
    const GLuint program = Build(kSampleFragment);
    const std::vector<float> rgb = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f, 0.9f, 1.f, 1.5f, 2.f};
    const GLuint picture = Texture(GL_TEXTURE_2D, 2, 2, rgb);
    // Leave another unit active, as earlier GL work might.
    glActiveTexture(GL_TEXTURE3);
    PX_FBO2 target;
    ASSERT_EQ(target.CreateTextureFBO2(nullptr, 2, 2, GL_CLAMP_TO_EDGE, GL_RGB32F), PF_Err_NONE);
    UniformMap uniforms{{"videoTexture", TEX2D(picture)}};
    ASSERT_EQ(target.RenderQuad2(program, uniforms), PF_Err_NONE);
    GLint unit = -1;
    glGetUniformiv(program, glGetUniformLocation(program, "videoTexture"), &unit);
    EXPECT_EQ(unit, 0);
    const std::vector<float> pixels = ReadRGBA(target.m_FBO_ID, 2, 2);
    for (size_t p = 0; p < 4; ++p) {
        for (size_t c = 0; c < 3; ++c) EXPECT_FLOAT_EQ(pixels[p * 4 + c], rgb[p * 3 + c]) << p << "," << c;
    }
    glDeleteTextures(1, &picture);
}

TEST_F(QuadDraw, ProgramZeroDrawsNothingAndLeavesNoErrorBehind) {
    PX_FBO2 target;
    ASSERT_EQ(target.CreateTextureFBO2(nullptr, 3, 3, GL_CLAMP_TO_EDGE, GL_RGB32F), PF_Err_NONE);
    UniformMap uniforms{{"fillColor", VEC4({1.f, 1.f, 1.f, 1.f})}};
    testing::internal::CaptureStderr();
    EXPECT_EQ(target.RenderQuad2(0, uniforms), PF_Err_NONE);
    EXPECT_TRUE(uniforms.empty());
    // A second draw would report an error left pending by the first at its vertex-array check.
    UniformMap again;
    EXPECT_EQ(target.RenderQuad2(0, again), PF_Err_NONE);
    std::fflush(stderr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    const std::vector<float> pixels = ReadRGBA(target.m_FBO_ID, 3, 3);
    for (size_t i = 0; i < pixels.size(); i += 4) EXPECT_EQ(pixels[i], 0.f);
    EXPECT_EQ(LogText(), "");
}

}  // namespace
