// Render targets on a real context: creation in its three checked steps, refusals, clearing, accessors,
// deletion and re-creation.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "gl_fixtures.h"

namespace {

std::string StopCapturingStderr() {
    std::fflush(stderr);
    return testing::internal::GetCapturedStderr();
}

GLint Binding(GLenum which) {
    GLint name = -1;
    glGetIntegerv(which, &name);
    return name;
}

using RenderTarget = GLTest;

TEST_F(RenderTarget, CreatedTargetIsClearedUnboundAndOfTheRightImageType) {
    const struct {
        GLint format;
        GLint imageType;
    } cases[] = {
        {GL_RGB32F, GL_FLOAT}, {GL_RGB16F, GL_HALF_FLOAT}, {GL_RGBA16F, GL_HALF_FLOAT}, {GL_RGBA8, GL_HALF_FLOAT}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        PX_FBO2 target;
        ASSERT_EQ(target.CreateTextureFBO2(nullptr, 5, 3, GL_CLAMP_TO_EDGE, c.format), PF_Err_NONE);
        EXPECT_EQ(target.m_imageType, c.imageType);
        EXPECT_NE(target.m_FBO_ID, 0u);
        EXPECT_EQ(target.m_colorBuffer.width, 5u);
        EXPECT_EQ(target.m_colorBuffer.height, 3u);
        EXPECT_EQ(target.m_colorBuffer.depth, 1u);
        EXPECT_EQ(target.m_colorBuffer.internalFormat, uint32_t(c.format));
        EXPECT_TRUE(glIsTexture(target.m_colorBuffer.ID));
        EXPECT_EQ(Binding(GL_FRAMEBUFFER_BINDING), 0);
        EXPECT_EQ(Binding(GL_TEXTURE_BINDING_2D), 0);

        GLint wrap = 0;
        glBindTexture(GL_TEXTURE_2D, target.m_colorBuffer.ID);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &wrap);
        glBindTexture(GL_TEXTURE_2D, 0);
        EXPECT_EQ(wrap, GL_CLAMP_TO_EDGE);

        const std::vector<float> pixels = ReadRGBA(target.m_FBO_ID, 5, 3);
        for (size_t i = 0; i < pixels.size(); i += 4) {
            EXPECT_EQ(pixels[i], 0.f);
            EXPECT_EQ(pixels[i + 1], 0.f);
            EXPECT_EQ(pixels[i + 2], 0.f);
        }
    }
    EXPECT_EQ(LogText(), "");
}

TEST_F(RenderTarget, SecondCreationIsRefusedAndLeavesTheFirstIntact) {
    PX_FBO2 target;
    ASSERT_EQ(target.CreateTextureFBO2(nullptr, 4, 4, GL_CLAMP_TO_EDGE, GL_RGB16F), PF_Err_NONE);
    const PX_TextureInfo first = target.m_colorBuffer;
    const GLuint framebuffer = target.m_FBO_ID;

    EXPECT_EQ(target.CreateTextureFBO2(nullptr, 8, 2, GL_REPEAT, GL_RGB32F), PF_Err_INVALID_CALLBACK);
    EXPECT_EQ(target.m_colorBuffer.ID, first.ID);
    EXPECT_EQ(target.m_colorBuffer.width, 4u);
    EXPECT_EQ(target.m_colorBuffer.internalFormat, uint32_t(GL_RGB16F));
    EXPECT_EQ(target.m_FBO_ID, framebuffer);
    EXPECT_TRUE(glIsTexture(first.ID));
    EXPECT_TRUE(glIsFramebuffer(framebuffer));
    // The requested values take the new arguments.
    EXPECT_EQ(target.m_widthLu, 8u);
    EXPECT_EQ(target.m_internalFormat, GL_RGB32F);
    EXPECT_EQ(target.m_imageType, GL_FLOAT);
    EXPECT_EQ(CountOccurrences(LogText(), "CreateTextureRenderBuffer2 error: m_m_colorBuffer.ID already initialised"), 1);

    // The framebuffer step refuses on its own as well.
    target.m_colorBuffer.ID = 0;
    EXPECT_EQ(target.CreateFBO2(), PF_Err_INVALID_CALLBACK);
    EXPECT_EQ(target.m_FBO_ID, framebuffer);
    EXPECT_NE(LogText().find("CreateFBO2 error: m_FBO_ID already initialised"), std::string::npos);
    target.m_colorBuffer.ID = first.ID;
}

TEST_F(RenderTarget, RefusedSizeFailsAtTheTextureDefinition) {
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    const unsigned width = unsigned(maxSize) + 1;
    PX_FBO2 target;
    testing::internal::CaptureStderr();
    EXPECT_EQ(target.CreateTextureFBO2(nullptr, width, 1, GL_CLAMP_TO_EDGE, GL_RGB16F), PF_Err_OUT_OF_MEMORY);
    const std::string printed = StopCapturingStderr();

    const std::string call = "glTexImage2D(GL_TEXTURE_2D, 0, m_internalFormat, m_widthLu, m_heightLu, 0, GL_RGB, m_imageType, NULL)";
    EXPECT_EQ(Lines(printed).size(), 1u) << printed;
    EXPECT_NE(printed.find("in operation " + call + ": 2\n"), std::string::npos) << printed;
    const std::string log = LogText();
    EXPECT_EQ(CountOccurrences(log, "OpenGL error occurred in "), 1);
    EXPECT_NE(log.find("OpenGL error occurred in CreateTextureRenderBuffer: dims: " + std::to_string(width) +
                       ",1, m_internalFormat: 34843, m_imageType: 5131: "),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(call + ": GL_INVALID_VALUE\n"), std::string::npos) << log;
    EXPECT_EQ(target.m_colorBuffer.ID, 0u);
    EXPECT_EQ(target.m_FBO_ID, 0u);
    EXPECT_EQ(Binding(GL_TEXTURE_BINDING_2D), 0);
}

TEST_F(RenderTarget, FramebufferWithoutTextureIsIncomplete) {
    PX_FBO2 target;
    EXPECT_EQ(target.CreateFBO2(), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(target.m_FBO_ID, 0u);
    // The creation left its framebuffer bound; deleting it is what brings the binding back to 0.
    EXPECT_EQ(Binding(GL_FRAMEBUFFER_BINDING), 0) << "the incomplete framebuffer is deleted";
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    EXPECT_NE(LogText().find("OpenGL error occurred in Framebuffer Error - "
                             "GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENTCode: 36055\n: "),
              std::string::npos)
        << LogText();
}

TEST_F(RenderTarget, FailedAttachmentFailsTheCreationWhateverIsBound) {
    // A complete framebuffer bound beforehand must not make the failed one pass.
    PX_FBO2 other;
    ASSERT_EQ(other.CreateTextureFBO2(nullptr, 2, 2, GL_CLAMP_TO_EDGE, GL_RGB16F), PF_Err_NONE);
    const GLuint notATexture = 0x7FFFFF;  // never generated
    ASSERT_FALSE(glIsTexture(notATexture));

    PX_FBO2 target;
    target.m_colorBuffer.ID = notATexture;
    glBindFramebuffer(GL_FRAMEBUFFER, other.m_FBO_ID);
    testing::internal::CaptureStderr();
    EXPECT_EQ(target.CreateFBO2(), PF_Err_OUT_OF_MEMORY);
    const std::string printed = StopCapturingStderr();
    EXPECT_EQ(target.m_FBO_ID, 0u);
    EXPECT_NE(printed.find("glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, "
                           "m_colorBuffer.ID, 0)"),
              std::string::npos)
        << printed;
    EXPECT_NE(LogText().find("OpenGL error occurred in CreateFBO2: "), std::string::npos) << LogText();
    target.m_colorBuffer.ID = 0;
}

TEST_F(RenderTarget, DeletedTargetHasNoNamesAndCanBeCreatedAgain) {
    PX_FBO2 target;
    ASSERT_EQ(target.CreateTextureFBO2(nullptr, 3, 3, GL_CLAMP_TO_EDGE, GL_RGB16F), PF_Err_NONE);
    const GLuint texture = target.GetTAO();
    const GLuint framebuffer = target.GetFBO();
    target.DeleteGenericFBO();
    EXPECT_FALSE(glIsTexture(texture));
    EXPECT_FALSE(glIsFramebuffer(framebuffer));
    EXPECT_EQ(target.m_widthLu, 3u) << "sizes and formats stay";
    EXPECT_EQ(LogText(), "");

    EXPECT_EQ(target.GetTAO(), 0u);
    EXPECT_EQ(target.GetFBO(), 0u);
    const std::string log = LogText();
    EXPECT_NE(log.find("GetTAO called but no valid m_colorBuffer"), std::string::npos);
    EXPECT_NE(log.find("GetFBO called but no valid m_FBO_ID"), std::string::npos);

    EXPECT_EQ(target.CreateTextureFBO2(nullptr, 2, 2, GL_CLAMP_TO_EDGE, GL_RGB32F), PF_Err_NONE);
    EXPECT_TRUE(glIsTexture(target.GetTAO()));
}

TEST_F(RenderTarget, DestructionDeletesWhatTheTargetOwnsAndMovedTargetsKeepTheirObjects) {
    GLuint texture = 0, framebuffer = 0;
    {
        std::vector<PX_FBO2> targets(1);
        ASSERT_EQ(targets[0].CreateTextureFBO2(nullptr, 2, 2, GL_CLAMP_TO_EDGE, GL_RGB16F), PF_Err_NONE);
        texture = targets[0].m_colorBuffer.ID;
        framebuffer = targets[0].m_FBO_ID;
        targets.resize(8);  // moves the first target into new storage and destroys the old one
        EXPECT_EQ(targets[0].m_colorBuffer.ID, texture);
        EXPECT_TRUE(glIsTexture(texture));
        EXPECT_TRUE(glIsFramebuffer(framebuffer));
    }
    EXPECT_FALSE(glIsTexture(texture));
    EXPECT_FALSE(glIsFramebuffer(framebuffer));
    EXPECT_EQ(LogText(), "") << "destroying empty targets makes harmless deletions";
}

TEST_F(RenderTarget, ClearingReturnsADrawnTargetToTransparentBlack) {
    PX_FBO2 target;
    ASSERT_EQ(target.CreateTextureFBO2(nullptr, 2, 2, GL_CLAMP_TO_EDGE, GL_RGB32F), PF_Err_NONE);
    glBindFramebuffer(GL_FRAMEBUFFER, target.m_FBO_ID);
    glClearColor(0.25f, 0.5f, 0.75f, 1.f);
    glColorMask(GL_TRUE, GL_FALSE, GL_TRUE, GL_TRUE);
    glClear(GL_COLOR_BUFFER_BIT);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    EXPECT_EQ(ReadRGBA(target.m_FBO_ID, 2, 2)[0], 0.25f);

    EXPECT_EQ(target.ClearFBO2(), PF_Err_NONE);
    const std::vector<float> pixels = ReadRGBA(target.m_FBO_ID, 2, 2);
    for (size_t i = 0; i < pixels.size(); i += 4) {
        EXPECT_EQ(pixels[i], 0.f);
        EXPECT_EQ(pixels[i + 1], 0.f) << "the colour mask is opened again before clearing";
        EXPECT_EQ(pixels[i + 2], 0.f);
    }
    EXPECT_EQ(Binding(GL_FRAMEBUFFER_BINDING), 0);
}

// An error left pending by earlier GL work is drained first, never blamed on the clearing.
TEST_F(RenderTarget, ClearingDrainsErrorsLeftByEarlierWork) {
    PX_FBO2 target;
    ASSERT_EQ(target.CreateTextureFBO2(nullptr, 2, 2, GL_CLAMP_TO_EDGE, GL_RGB32F), PF_Err_NONE);
    glBindFramebuffer(GL_FRAMEBUFFER, target.m_FBO_ID);
    glClearColor(0.25f, 0.5f, 0.75f, 1.f);
    glClear(GL_COLOR_BUFFER_BIT);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glEnable(GLenum(0xFFFF));  // GL_INVALID_ENUM, left pending
    glEnable(GLenum(0xFFFE));

    EXPECT_EQ(target.ClearFBO2(), PF_Err_NONE);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    EXPECT_EQ(LogText(), "");
    const std::vector<float> pixels = ReadRGBA(target.m_FBO_ID, 2, 2);
    for (size_t i = 0; i < pixels.size(); i += 4) {
        EXPECT_EQ(pixels[i], 0.f) << i / 4;
        EXPECT_EQ(pixels[i + 2], 0.f) << i / 4;
    }
}

// A framebuffer name that is not one fails the clearing at its first call, which is logged; no later call is
// made, so the clear colour stays as it was, and no error is left behind.
TEST_F(RenderTarget, ClearingAFramebufferThatIsNotThereFailsAtTheBinding) {
    PX_FBO2 target;
    target.m_FBO_ID = 0x7FFFF0;  // never generated
    ASSERT_FALSE(glIsFramebuffer(target.m_FBO_ID));
    glClearColor(0.5f, 0.5f, 0.5f, 0.5f);
    testing::internal::CaptureStderr();
    EXPECT_EQ(target.ClearFBO2(), PF_Err_INVALID_CALLBACK);
    const std::string printed = StopCapturingStderr();
    EXPECT_NE(printed.find("glBindFramebuffer(GL_FRAMEBUFFER, m_FBO_ID)"), std::string::npos) << printed;
    const std::string log = LogText();
    EXPECT_EQ(CountOccurrences(log, "OpenGL error occurred in ClearFBO: "), 1) << log;
    EXPECT_NE(log.find("in operation glBindFramebuffer(GL_FRAMEBUFFER, m_FBO_ID): GL_INVALID_OPERATION"),
              std::string::npos)
        << log;
    GLfloat clear[4] = {};
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_EQ(clear[0], 0.5f) << "the sequence stopped at the failed binding";
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    target.m_FBO_ID = 0;
}

}  // namespace
