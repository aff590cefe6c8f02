#include "gl/glrender.h"

#include <string>
#include <utility>

#include "host/Messages.h"

namespace {

std::string FramebufferStatusName(GLenum status) {
    switch (status) {
        case 0x8219: return "GL_FRAMEBUFFER_UNDEFINED";
        case 0x8CD6: return "GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT";
        case 0x8CD7: return "GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT";
        case 0x8CDB: return "GL_FRAMEBUFFER_INCOMPLETE_DRAW_BUFFER";
        case 0x8CDC: return "GL_FRAMEBUFFER_INCOMPLETE_READ_BUFFER";
        case 0x8CDD: return "GL_FRAMEBUFFER_UNSUPPORTED";
        case 0x8D56: return "GL_FRAMEBUFFER_INCOMPLETE_MULTISAMPLE";
        case 0x8DA8: return "GL_FRAMEBUFFER_INCOMPLETE_LAYER_TARGETS";
        default: return "";
    }
}

}  // namespace

PX_FBO2::~PX_FBO2() {
    GLCollectingSequence seq;
    GL_CHECKED(seq, glDeleteTextures(1, &m_colorBuffer.ID));
    GL_CHECKED(seq, glDeleteFramebuffers(1, &m_FBO_ID));
    seq.LogFirstFailure("~PX_FBO()", in_data);
}

PX_FBO2::PX_FBO2(PX_FBO2&& other) noexcept
    : m_FBO_ID(std::exchange(other.m_FBO_ID, 0)),
      m_colorBuffer(std::exchange(other.m_colorBuffer, PX_TextureInfo{})),
      in_data(other.in_data),
      m_widthLu(other.m_widthLu),
      m_heightLu(other.m_heightLu),
      m_internalFormat(other.m_internalFormat),
      m_imageType(other.m_imageType),
      m_edgeBehaviour(other.m_edgeBehaviour) {}

PX_FBO2& PX_FBO2::operator=(PX_FBO2&& other) noexcept {
    if (this != &other) {
        if (m_FBO_ID != 0 || m_colorBuffer.ID != 0) DeleteGenericFBO();
        m_FBO_ID = std::exchange(other.m_FBO_ID, 0);
        m_colorBuffer = std::exchange(other.m_colorBuffer, PX_TextureInfo{});
        in_data = other.in_data;
        m_widthLu = other.m_widthLu;
        m_heightLu = other.m_heightLu;
        m_internalFormat = other.m_internalFormat;
        m_imageType = other.m_imageType;
        m_edgeBehaviour = other.m_edgeBehaviour;
    }
    return *this;
}

PF_Err PX_FBO2::CreateTextureFBO2(PF_InData* in_dataP, unsigned width, unsigned height, int edgeBehaviour,
                                  int internalFormat) {
    in_data = in_dataP;
    m_widthLu = width;
    m_heightLu = height;
    m_edgeBehaviour = edgeBehaviour;
    m_internalFormat = internalFormat;
    m_imageType = internalFormat == GL_RGB32F ? GL_FLOAT : GL_HALF_FLOAT;

    PF_Err err = CreateTextureRenderBuffer2();
    if (err) return err;
    err = CreateFBO2();
    if (err) return err;
    return ClearFBO2();
}

PF_Err PX_FBO2::CreateTextureRenderBuffer2() {
    clearExistingGLErrors("CreateTextureRenderBuffer2");
    if (m_colorBuffer.ID != 0) {
        LogError("CreateTextureRenderBuffer2 error: m_m_colorBuffer.ID already initialised", in_data);
        return PF_Err_INVALID_CALLBACK;
    }

    GLuint texID = 0;
    const GLint magFilter = GL_LINEAR;
    const GLint minFilter = GL_LINEAR;
    GLStoppingSequence seq(false);  // drained above
    GL_CHECKED(seq, glGenTextures(1, &texID));
    GL_CHECKED(seq, glBindTexture(GL_TEXTURE_2D, texID));
    GL_CHECKED(seq, glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, m_edgeBehaviour));
    GL_CHECKED(seq, glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, m_edgeBehaviour));
    GL_CHECKED(seq, glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, magFilter));
    GL_CHECKED(seq, glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, minFilter));
    GL_CHECKED(seq, glTexImage2D(GL_TEXTURE_2D, 0, m_internalFormat, m_widthLu, m_heightLu, 0, GL_RGB, m_imageType, NULL));
    GL_CHECKED(seq, glBindTexture(GL_TEXTURE_2D, 0));

    if (seq.failed()) {
        glDeleteTextures(1, &texID);
        Log_GL_Err("CreateTextureRenderBuffer: dims: " + std::to_string(m_widthLu) + "," +
                       std::to_string(m_heightLu) + ", m_internalFormat: " + std::to_string(m_internalFormat) +
                       ", m_imageType: " + std::to_string(m_imageType),
                   seq.info(), in_data);
        return PF_Err_OUT_OF_MEMORY;
    }
    m_colorBuffer = {m_widthLu, m_heightLu, 1, uint32_t(m_internalFormat), texID};
    return PF_Err_NONE;
}

PF_Err PX_FBO2::CreateFBO2() {
    GLStoppingSequence seq;
    if (m_FBO_ID != 0) {
        LogError("CreateFBO2 error: m_FBO_ID already initialised", in_data);
        return PF_Err_INVALID_CALLBACK;
    }
    GL_CHECKED(seq, glGenFramebuffers(1, &m_FBO_ID));
    GL_CHECKED(seq, glBindFramebuffer(GL_FRAMEBUFFER, m_FBO_ID));
    if (m_colorBuffer.ID != 0) {
        GL_CHECKED(seq, glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, m_colorBuffer.ID, 0));
    }

    // After a failed call the binding may still name an earlier framebuffer, whose completeness says
    // nothing about this one: a failed call fails the creation by itself.
    if (seq.failed()) {
        Log_GL_Err("CreateFBO2", seq.info(), in_data);
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glDeleteFramebuffers(1, &m_FBO_ID);
        m_FBO_ID = 0;
        return PF_Err_OUT_OF_MEMORY;
    }
    const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    if (status == GL_FRAMEBUFFER_COMPLETE) return PF_Err_NONE;

    Log_GL_Err("Framebuffer Error - " + FramebufferStatusName(status) + "Code: " + std::to_string(status) + "\n",
               seq.info(), in_data);
    glDeleteFramebuffers(1, &m_FBO_ID);
    m_FBO_ID = 0;
    return PF_Err_OUT_OF_MEMORY;
}

PF_Err PX_FBO2::ClearFBO2() {
    GLStoppingSequence seq;
    GL_CHECKED(seq, glBindFramebuffer(GL_FRAMEBUFFER, m_FBO_ID));
    GL_CHECKED(seq, glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE));
    GL_CHECKED(seq, glClearColor(0., 0., 0., 0.));
    GL_CHECKED(seq, glClear(GL_COLOR_BUFFER_BIT));
    SettleGLWork();
    GL_CHECKED_AS(seq, "glBindFramebuffer(GL_FRAMEBUFFER, NULL)", glBindFramebuffer(GL_FRAMEBUFFER, 0));
    if (seq.failed()) {
        Log_GL_Err("ClearFBO", seq.info(), in_data);
        return PF_Err_INVALID_CALLBACK;
    }
    return PF_Err_NONE;
}

GLuint PX_FBO2::GetFBO() {
    if (m_FBO_ID == 0) LogError("GetFBO called but no valid m_FBO_ID", in_data);
    return m_FBO_ID;
}

GLuint PX_FBO2::GetTAO() {
    if (m_colorBuffer.ID == 0) LogError("GetTAO called but no valid m_colorBuffer", in_data);
    return m_colorBuffer.ID;
}

void PX_FBO2::DeleteGenericFBO() {
    GLCollectingSequence seq;
    GL_CHECKED(seq, glDeleteTextures(1, &m_colorBuffer.ID));
    GL_CHECKED(seq, glDeleteFramebuffers(1, &m_FBO_ID));
    m_colorBuffer.ID = 0;
    m_FBO_ID = 0;
    seq.LogFirstFailure("DeleteGenericFBO()", in_data);
}

PF_Err PX_FBO2::RenderPOD2(Vec4i viewport, GL_Pod& pod) {
    GLuint vao = 0;
    // No drain: an error left pending by earlier GL work is reported here.
    GLStoppingSequence seq(false);
    GL_CHECKED(seq, glGenVertexArrays(1, &vao));
    if (seq.failed() && vao == 0) {
        Log_GL_Err("RenderPOD2", seq.info(), in_data);
        return PF_Err_INVALID_CALLBACK;
    }
    const GLuint program = pod.params[PodProgram];
    SetProgramAttributes(vao, program, pod.attributes);
    SetProgramUniforms(program, pod.uniforms);
    RenderGeneric(in_data, viewport, pod.params, vao, m_FBO_ID, program);
    glDeleteVertexArrays(1, &vao);
    return PF_Err_NONE;
}

PF_Err PX_FBO2::RenderQuad2(GLuint program, UniformMap& uniforms) {
    GL_Pod quadPod = CreateQuadFromVertices(in_data, program, uniforms, quad_vertices, quad_tex);
    PF_Err err = PF_Err_NONE;
    if (quadPod.ownedVBOs.size() != 2) {
        LogError("quadPod.ownedVBOs.size() != 2", in_data);
        err = PF_Err_OUT_OF_MEMORY;
    } else if (quadPod.ownedVBOs[0] == 0 || quadPod.ownedVBOs[1] == 0) {
        LogError("quadPod.ownedVBOs invalid ID", in_data);
        err = PF_Err_OUT_OF_MEMORY;
    } else {
        err = RenderPOD2({0, 0, GLint(m_colorBuffer.width), GLint(m_colorBuffer.height)}, quadPod);
    }
    glDeleteBuffers(GLsizei(quadPod.ownedVBOs.size()), quadPod.ownedVBOs.data());
    uniforms.clear();
    return err;
}
