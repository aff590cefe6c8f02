// One draw: its parameters, uniforms and vertex attributes, the full-screen quad, and the binding of
// uniforms and attributes to what a program really declares.
#pragma once

#include <array>
#include <string>
#include <unordered_map>
#include <vector>

#include "gl/GLHeaders.h"
#include "gl/Uniforms.h"
#include "sdk/AE_Effect.h"

// One vertex-attribute source; data start at offset 0 of the buffer and are not normalised.
struct AttributeType {
    GLuint buffer = 0;
    int components = 0;
    GLenum type = 0;
    int stride = 0;
};
using AttributeMap = std::unordered_map<std::string, AttributeType>;

// Positions in GL_Pod::params.
enum GL_PodParam : size_t {
    PodMode = 0,                   // primitive mode
    PodFirst = 1,                  // first vertex
    PodCount = 2,                  // vertex or index count
    PodElementBuffer = 4,          // 0: not indexed
    PodFeedbackBuffer = 5,         // transform-feedback buffer, 0: none
    PodInstances = 6,
    PodFeedbackMode = 7,           // transform-feedback primitive mode
    PodRestartIndex = 8,           // 0: no primitive restart
    PodCullFace = 9,               // 0: no culling
    PodProgram = 10,
};
using GL_PodParams = std::array<GLuint, 11>;

struct GL_Pod {
    GL_PodParams params{};
    UniformMap uniforms;
    AttributeMap attributes;
    std::vector<GLuint> ownedVBOs;  // made for this draw; deleting them falls to its user
};

// Triangle strip over the whole target: positions (x, y, z, w) and texture coordinates (s, t), with
// (0, 0) at clip (-1, -1), GL's bottom-left corner.
extern const std::array<float, 16> quad_vertices;
extern const std::array<float, 8> quad_tex;

// Generates, binds (and leaves bound) and fills one buffer.
GLuint CreateBuffer(const void* data, GLsizeiptr size, GLenum target, GLenum usage);
// Two new buffers (positions "vertex", coordinates "tex" and "texCoordIn"), a copy of the uniforms, and the
// parameters of a four-vertex triangle strip drawn with the program.
GL_Pod CreateQuadFromVertices(PF_InData* in_data, GLuint program, const UniformMap& uniforms,
                              const std::array<float, 16>& vertices, std::array<float, 8> texCoords);
// Binds the attributes the program declares (built-ins "gl_..." aside) from the map into the vertex array.
void SetProgramAttributes(GLuint vao, GLuint program, const AttributeMap& attributes);
// Uses the program and sets every uniform it declares that the map names; textures take units from 0 up.
// GL errors of unfitting values are read and dropped.
void SetProgramUniforms(GLuint program, const UniformMap& uniforms);
// Draws with the parameters into the framebuffer; leaves vertex array, program and framebuffer unbound.
void RenderGeneric(PF_InData* in_data, Vec4i viewport, const GL_PodParams& params, GLuint vao, GLuint framebuffer,
                   GLuint program);
