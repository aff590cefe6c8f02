// The embedded GLSL sources: their form, and that each vertex/fragment pairing of the
// program set compiles and links on the renderer at hand.

#include "unit/shader_gl_fixture.h"

#include "Shaders/ShaderSources.h"

#include <string>

namespace {

struct NamedSource {
    const char* name;
    const char* text;
};

const NamedSource kSources[] = {
    {"vert", Shaders::vert},           {"vertIdentity", Shaders::vertIdentity}, {"preProcess", Shaders::preProcess},
    {"downsample", Shaders::downsample}, {"upsample", Shaders::upsample},       {"blurUnified", Shaders::blurUnified},
    {"postProcess", Shaders::postProcess}, {"identity", Shaders::identity},
};

TEST(ShaderSources, CarryTheMarkersAndVersionAndNoLayoutQualifiers)
{
    const std::string head = "\n// begin shader\n#version 330\n";
    const std::string tail = "\n// end shader\n";
    for (const auto& s : kSources) {
        SCOPED_TRACE(s.name);
        const std::string text = s.text;
        ASSERT_GT(text.size(), head.size() + tail.size());
        EXPECT_EQ(text.compare(0, head.size(), head), 0) << "starts: " << text.substr(0, 40);
        EXPECT_EQ(text.compare(text.size() - tail.size(), tail.size(), tail), 0);
        // Attributes, uniforms and outputs are matched by name when a pass is drawn.
        EXPECT_EQ(text.find("layout"), std::string::npos);
        EXPECT_EQ(text.find("#version 330 core"), std::string::npos);
    }
}

class ShaderPairings : public shader_test::GLTest {};

TEST_F(ShaderPairings, EveryPairingOfTheSetCompilesAndLinks)
{
    const struct {
        const char* vertex;
        const char* fragment;
        const char* what;
    } pairings[] = {
        {Shaders::vert, Shaders::preProcess, "vert + preProcess"},
        {Shaders::vertIdentity, Shaders::preProcess, "vertIdentity + preProcess"},
        {Shaders::vertIdentity, Shaders::downsample, "downsample"},
        {Shaders::vertIdentity, Shaders::upsample, "upsample"},
        {Shaders::vertIdentity, Shaders::blurUnified, "blurUnified"},
        {Shaders::vertIdentity, Shaders::postProcess, "postProcess"},
        {Shaders::vertIdentity, Shaders::identity, "identity"},
    };
    for (const auto& p : pairings) {
        std::string log;
        GLuint program = shader_test::BuildProgram(p.vertex, p.fragment, &log);
        EXPECT_NE(program, 0u) << p.what << ": " << log;
        // The quad binds its corners and coordinates by these names.
        EXPECT_GE(glGetAttribLocation(program, "vertex"), 0) << p.what;
        EXPECT_GE(glGetAttribLocation(program, "tex"), 0) << p.what;
        EXPECT_GE(glGetUniformLocation(program, "videoTexture"), 0) << p.what;
        glDeleteProgram(program);
    }
}

}  // namespace
