// Named uniform values as the passes hand them to a draw: a tag and a payload, made by one maker per tag.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "gl/GLHeaders.h"

struct Vec2i { int32_t x, y; };
struct Vec3i { int32_t x, y, z; };
struct Vec4i { int32_t x, y, z, w; };
struct Vec2f { float x, y; };
struct Vec3f { float x, y, z; };
struct Vec4f { float x, y, z, w; };
struct Matrix44f { float m[16]; };  // handed to GL in this order, not transposed

enum UniformTag : int {
    UniformTag_UInt = 0,
    UniformTag_Int = 1,
    UniformTag_IVec2 = 2,
    UniformTag_IVec3 = 3,
    UniformTag_IVec4 = 4,
    UniformTag_Float = 5,
    UniformTag_Vec2 = 6,
    UniformTag_Vec3 = 7,
    UniformTag_Vec4 = 8,
    UniformTag_Mat44 = 9,
    UniformTag_Tex1D = 10,
    UniformTag_Tex2D = 11,
};

struct uniform_t {
    int tag = UniformTag_UInt;
    union Payload {
        GLuint u;
        GLint i[4];
        GLfloat f[16];
        GLuint texture;
        unsigned char bytes[64];
    } payload{};
};
static_assert(sizeof(uniform_t::Payload) == 64, "the payload holds sixteen floats");

uniform_t UIVEC(unsigned int value);
uniform_t IVEC(int value);
uniform_t IVEC2(Vec2i value);
uniform_t IVEC3(Vec3i value);
uniform_t IVEC4(Vec4i value);
uniform_t VEC(float value);
uniform_t VEC2(Vec2f value);
uniform_t VEC3(Vec3f value);
uniform_t VEC4(Vec4f value);
uniform_t MAT44(const Matrix44f& value);
uniform_t TEX1D(unsigned int texture);
uniform_t TEX2D(unsigned int texture);

// Uniform name exactly as the shader declares it -> value. Names a program does not declare are ignored.
using UniformMap = std::unordered_map<std::string, uniform_t>;
