#include "unit/shader_gl_fixture.h"

namespace shader_test {

void GLTest::SetUp()
{
    home_ = std::make_unique<testsupport::ScopedHome>();
    context_ = CreateContext(nullptr, nullptr);
    ASSERT_TRUE(IsContextValid(context_)) << "no GL context";
    ASSERT_EQ(SetCurrentContext(context_), 0);
    ASSERT_TRUE(InitReleasePrograms(programs_, &out_data_)) << out_data_.return_msg;
}

void GLTest::TearDown()
{
    if (!context_)
        return;
    ReleasePrograms(programs_);
    SetCurrentContext(nullptr);
    DeleteContext(context_);
}

Image GLTest::RunPass(ProgramSlot slot, const Image& input, int outWidth, int outHeight, UniformMap uniforms,
                      GLint wrap)
{
    PX_FBO2 source;
    EXPECT_EQ(source.CreateTextureFBO2(nullptr, unsigned(input.width), unsigned(input.height), wrap, GL_RGB32F), 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glBindTexture(GL_TEXTURE_2D, source.GetTAO());
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, input.width, input.height, GL_RGB, GL_FLOAT, input.rgb.data());
    glBindTexture(GL_TEXTURE_2D, 0);

    PX_FBO2 target;
    EXPECT_EQ(target.CreateTextureFBO2(nullptr, unsigned(outWidth), unsigned(outHeight), wrap, GL_RGB32F), 0);
    uniforms["videoTexture"] = TEX2D(source.GetTAO());
    EXPECT_EQ(target.RenderQuad2(ProgramId(programs_, slot), uniforms), 0);

    Image out(outWidth, outHeight);
    glBindFramebuffer(GL_FRAMEBUFFER, target.GetFBO());
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, outWidth, outHeight, GL_RGB, GL_FLOAT, out.rgb.data());
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    return out;
}

}  // namespace shader_test
