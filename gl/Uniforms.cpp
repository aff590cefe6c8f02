#include "gl/Uniforms.h"

#include <cstring>

namespace {

uniform_t Tagged(int tag) {
    uniform_t value;
    value.tag = tag;
    return value;
}

}  // namespace

uniform_t UIVEC(unsigned int value) {
    uniform_t u = Tagged(UniformTag_UInt);
    u.payload.u = value;
    return u;
}

uniform_t IVEC(int value) {
    uniform_t u = Tagged(UniformTag_Int);
    u.payload.i[0] = value;
    return u;
}

uniform_t IVEC2(Vec2i value) {
    uniform_t u = Tagged(UniformTag_IVec2);
    u.payload.i[0] = value.x;
    u.payload.i[1] = value.y;
    return u;
}

uniform_t IVEC3(Vec3i value) {
    uniform_t u = Tagged(UniformTag_IVec3);
    u.payload.i[0] = value.x;
    u.payload.i[1] = value.y;
    u.payload.i[2] = value.z;
    return u;
}

uniform_t IVEC4(Vec4i value) {
    uniform_t u = Tagged(UniformTag_IVec4);
    u.payload.i[0] = value.x;
    u.payload.i[1] = value.y;
    u.payload.i[2] = value.z;
    u.payload.i[3] = value.w;
    return u;
}

uniform_t VEC(float value) {
    uniform_t u = Tagged(UniformTag_Float);
    u.payload.f[0] = value;
    return u;
}

uniform_t VEC2(Vec2f value) {
    uniform_t u = Tagged(UniformTag_Vec2);
    u.payload.f[0] = value.x;
    u.payload.f[1] = value.y;
    return u;
}

uniform_t VEC3(Vec3f value) {
    uniform_t u = Tagged(UniformTag_Vec3);
    u.payload.f[0] = value.x;
    u.payload.f[1] = value.y;
    u.payload.f[2] = value.z;
    return u;
}

uniform_t VEC4(Vec4f value) {
    uniform_t u = Tagged(UniformTag_Vec4);
    u.payload.f[0] = value.x;
    u.payload.f[1] = value.y;
    u.payload.f[2] = value.z;
    u.payload.f[3] = value.w;
    return u;
}

uniform_t MAT44(const Matrix44f& value) {
    uniform_t u = Tagged(UniformTag_Mat44);
    std::memcpy(u.payload.f, value.m, sizeof value.m);
    return u;
}

uniform_t TEX1D(unsigned int texture) {
    uniform_t u = Tagged(UniformTag_Tex1D);
    u.payload.texture = texture;
    return u;
}

uniform_t TEX2D(unsigned int texture) {
    uniform_t u = Tagged(UniformTag_Tex2D);
    u.payload.texture = texture;
    return u;
}
