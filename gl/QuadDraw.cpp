#include "gl/QuadDraw.h"

#include "gl/GLContext.h"

#include <cstring>

namespace {

// Active names are read into buffers of this size: up to 31 characters come back whole.
constexpr GLsizei kNameBufferSize = 32;

void SetUniform(GLint location, const uniform_t& value, GLint* textureUnit) {
    const uniform_t::Payload& p = value.payload;
    switch (value.tag) {
        case UniformTag_UInt: glUniform1ui(location, p.u); break;
        case UniformTag_Int: glUniform1i(location, p.i[0]); break;
        case UniformTag_IVec2: glUniform2i(location, p.i[0], p.i[1]); break;
        case UniformTag_IVec3: glUniform3i(location, p.i[0], p.i[1], p.i[2]); break;
        case UniformTag_IVec4: glUniform4i(location, p.i[0], p.i[1], p.i[2], p.i[3]); break;
        case UniformTag_Float: glUniform1f(location, p.f[0]); break;
        case UniformTag_Vec2: glUniform2f(location, p.f[0], p.f[1]); break;
        case UniformTag_Vec3: glUniform3f(location, p.f[0], p.f[1], p.f[2]); break;
        case UniformTag_Vec4: glUniform4f(location, p.f[0], p.f[1], p.f[2], p.f[3]); break;
        case UniformTag_Mat44: glUniformMatrix4fv(location, 1, GL_FALSE, p.f); break;
        case UniformTag_Tex1D:
        case UniformTag_Tex2D:
            glActiveTexture(GL_TEXTURE0 + GLenum(*textureUnit));
            glBindTexture(value.tag == UniformTag_Tex1D ? GL_TEXTURE_1D : GL_TEXTURE_2D, p.texture);
            glUniform1i(location, *textureUnit);
            ++*textureUnit;
            break;
        default: break;
    }
}

}  // namespace

const std::array<float, 16> quad_vertices = {
    -1.f, -1.f, 0.f, 1.f,
     1.f, -1.f, 0.f, 1.f,
    -1.f,  1.f, 0.f, 1.f,
     1.f,  1.f, 0.f, 1.f,
};
const std::array<float, 8> quad_tex = {
    0.f, 0.f,
    1.f, 0.f,
    0.f, 1.f,
    1.f, 1.f,
};

GLuint CreateBuffer(const void* data, GLsizeiptr size, GLenum target, GLenum usage) {
    GLuint buffer = 0;
    glGenBuffers(1, &buffer);
    glBindBuffer(target, buffer);
    glBufferData(target, size, data, usage);
    return buffer;
}

GL_Pod CreateQuadFromVertices(PF_InData* /*in_data*/, GLuint program, const UniformMap& uniforms,
                              const std::array<float, 16>& vertices, std::array<float, 8> texCoords) {
    GL_Pod pod;
    pod.params[PodMode] = GL_TRIANGLE_STRIP;
    pod.params[PodCount] = 4;
    pod.params[PodInstances] = 1;
    pod.params[PodProgram] = program;
    pod.ownedVBOs.push_back(CreateBuffer(vertices.data(), sizeof(float) * vertices.size(), GL_ARRAY_BUFFER,
                                         GL_STATIC_DRAW));
    pod.ownedVBOs.push_back(CreateBuffer(texCoords.data(), sizeof(float) * texCoords.size(), GL_ARRAY_BUFFER,
                                         GL_STATIC_DRAW));
    pod.uniforms = uniforms;
    pod.attributes["vertex"] = {pod.ownedVBOs[0], 4, GL_FLOAT, 16};
    pod.attributes["tex"] = {pod.ownedVBOs[1], 2, GL_FLOAT, 8};
    pod.attributes["texCoordIn"] = pod.attributes["tex"];
    return pod;
}

void SetProgramAttributes(GLuint vao, GLuint program, const AttributeMap& attributes) {
    GLint count = 0;
    glGetProgramiv(program, GL_ACTIVE_ATTRIBUTES, &count);
    glGetError();

    std::unordered_map<std::string, GLint> locations;
    for (GLint i = 0; i < count; ++i) {
        char name[kNameBufferSize] = {};
        GLint size = 0;
        GLenum type = 0;
        glGetActiveAttrib(program, GLuint(i), kNameBufferSize, nullptr, &size, &type, name);
        if (std::strncmp(name, "gl_", 3) == 0) continue;
        const GLint location = glGetAttribLocation(program, name);
        if (location != -1) locations[name] = location;
        glGetError();
    }

    glBindVertexArray(vao);
    for (const auto& [name, location] : locations) {
        const auto found = attributes.find(name);
        if (found == attributes.end()) continue;
        const AttributeType& source = found->second;
        glBindBuffer(GL_ARRAY_BUFFER, source.buffer);
        glGetError();
        glVertexAttribPointer(GLuint(location), source.components, source.type, GL_FALSE, source.stride, nullptr);
        glEnableVertexAttribArray(GLuint(location));
        glGetError();
    }
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindVertexArray(0);
}

void SetProgramUniforms(GLuint program, const UniformMap& uniforms) {
    GLint count = 0;
    glGetProgramiv(program, GL_ACTIVE_UNIFORMS, &count);
    // Program 0 (a slot that failed to build) is no program: the query's error is dropped here, or the
    // next checked sequence that does not drain would be blamed for it.
    glGetError();

    std::unordered_map<std::string, GLint> locations;
    for (GLint i = 0; i < count; ++i) {
        char name[kNameBufferSize] = {};
        GLint size = 0;
        GLenum type = 0;
        glGetActiveUniform(program, GLuint(i), kNameBufferSize, nullptr, &size, &type, name);
        locations[name] = glGetUniformLocation(program, name);
    }

    glUseProgram(program);
    GLint textureUnit = 0;
    for (const auto& [name, location] : locations) {
        const auto found = uniforms.find(name);
        if (found == uniforms.end()) continue;
        SetUniform(location, found->second, &textureUnit);
        // A value whose tag does not fit the declared type is refused by GL and thereby ignored.
        glGetError();
    }
}

void RenderGeneric(PF_InData* /*in_data*/, Vec4i viewport, const GL_PodParams& params, GLuint vao,
                   GLuint framebuffer, GLuint program) {
    if (params[PodCullFace] != 0) {
        glEnable(GL_CULL_FACE);
        glCullFace(params[PodCullFace]);
    }
    if (params[PodRestartIndex] != 0) {
        glEnable(GL_PRIMITIVE_RESTART);
        glPrimitiveRestartIndex(params[PodRestartIndex]);
    }
    glViewport(viewport.x, viewport.y, viewport.z, viewport.w);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glUseProgram(program);
    glBindVertexArray(vao);

    const bool feedback = params[PodFeedbackBuffer] != 0;
    if (feedback) {
        glEnable(GL_RASTERIZER_DISCARD);
        glBindBufferBase(GL_TRANSFORM_FEEDBACK_BUFFER, 0, params[PodFeedbackBuffer]);
        glBeginTransformFeedback(params[PodFeedbackMode]);
    }
    if (params[PodElementBuffer] != 0) {
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, params[PodElementBuffer]);
        glDrawElementsInstanced(params[PodMode], GLsizei(params[PodCount]), GL_UNSIGNED_INT, nullptr,
                                GLsizei(params[PodInstances]));
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    } else {
        glDrawArraysInstanced(params[PodMode], GLint(params[PodFirst]), GLsizei(params[PodCount]),
                              GLsizei(params[PodInstances]));
    }
    if (feedback) {
        glEndTransformFeedback();
        glDisable(GL_RASTERIZER_DISCARD);
        // Transform-feedback objects (and binding one) need GL 4.0; a 3.3 core context has only the
        // default feedback state, which ending the feedback has already restored.
    }
    SettleGLWork();

    if (params[PodRestartIndex] != 0) glDisable(GL_PRIMITIVE_RESTART);
    if (params[PodCullFace] != 0) glDisable(GL_CULL_FACE);
    glBindVertexArray(0);
    glUseProgram(0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}
