#include "unit/shader_gl_fixture.h"

#include <cstring>

namespace shader_test {

namespace {

EGLDisplay SharedDisplay(std::string* why)
{
    // One display for the process, initialised once; never terminated.
    static EGLDisplay display = [] {
        auto getPlatformDisplay =
            reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
        EGLDisplay d = EGL_NO_DISPLAY;
        if (getPlatformDisplay)
            d = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (d != EGL_NO_DISPLAY && !eglInitialize(d, nullptr, nullptr))
            d = EGL_NO_DISPLAY;
        return d;
    }();
    if (display == EGL_NO_DISPLAY && why)
        *why = "no surfaceless EGL display";
    return display;
}

}  // namespace

bool EnsureContext(std::string* why)
{
    thread_local EGLContext context = EGL_NO_CONTEXT;
    if (context != EGL_NO_CONTEXT)
        return eglGetCurrentContext() == context || eglMakeCurrent(SharedDisplay(why), EGL_NO_SURFACE, EGL_NO_SURFACE, context);

    EGLDisplay display = SharedDisplay(why);
    if (display == EGL_NO_DISPLAY)
        return false;
    // The API choice is per thread.
    if (!eglBindAPI(EGL_OPENGL_API)) {
        *why = "eglBindAPI(EGL_OPENGL_API) failed";
        return false;
    }
    const EGLint configAttributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
    EGLConfig config = nullptr;
    EGLint count = 0;
    if (!eglChooseConfig(display, configAttributes, &config, 1, &count) || count < 1) {
        *why = "no EGL config for desktop GL";
        return false;
    }
    const EGLint contextAttributes[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 3,
                                        EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT, EGL_NONE};
    EGLContext created = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttributes);
    if (created == EGL_NO_CONTEXT) {
        *why = "eglCreateContext for 3.3 core failed";
        return false;
    }
    if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, created)) {
        eglDestroyContext(display, created);
        *why = "eglMakeCurrent without a surface failed";
        return false;
    }
    context = created;
    return true;
}

RawUniform Int(int v)
{
    RawUniform u;
    u.isInt = true;
    u.i[0] = v;
    return u;
}

RawUniform Float(float v)
{
    RawUniform u;
    u.f[0] = v;
    return u;
}

RawUniform Float2(float x, float y)
{
    RawUniform u = Float(x);
    u.count = 2;
    u.f[1] = y;
    return u;
}

RawUniform Float3(float x, float y, float z)
{
    RawUniform u = Float2(x, y);
    u.count = 3;
    u.f[2] = z;
    return u;
}

namespace {

GLuint CompileStage(GLenum type, const char* source, std::string* log)
{
    GLuint shader = glCreateShader(type);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char buffer[2048] = {};
        glGetShaderInfoLog(shader, sizeof buffer, nullptr, buffer);
        *log = buffer;
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

}  // namespace

GLuint BuildProgram(const char* vertexSource, const char* fragmentSource, std::string* log)
{
    GLuint vs = CompileStage(GL_VERTEX_SHADER, vertexSource, log);
    if (!vs)
        return 0;
    GLuint fs = CompileStage(GL_FRAGMENT_SHADER, fragmentSource, log);
    if (!fs) {
        glDeleteShader(vs);
        return 0;
    }
    GLuint program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    glLinkProgram(program);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint ok = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (!ok) {
        char buffer[2048] = {};
        glGetProgramInfoLog(program, sizeof buffer, nullptr, buffer);
        *log = buffer;
        glDeleteProgram(program);
        return 0;
    }
    return program;
}

Image RunPass(GLuint program, const Image& input, int outWidth, int outHeight, const RawUniforms& uniforms, GLint wrap)
{
    GLuint textures[2] = {};
    glGenTextures(2, textures);
    for (int t = 0; t < 2; ++t) {
        glBindTexture(GL_TEXTURE_2D, textures[t]);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glBindTexture(GL_TEXTURE_2D, textures[0]);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB32F, input.width, input.height, 0, GL_RGB, GL_FLOAT, input.rgb.data());
    glBindTexture(GL_TEXTURE_2D, textures[1]);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB32F, outWidth, outHeight, 0, GL_RGB, GL_FLOAT, nullptr);

    GLuint framebuffer = 0;
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, textures[1], 0);
    EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), GLenum(GL_FRAMEBUFFER_COMPLETE));

    // The full-target quad as a triangle strip: four-component corners, (0, 0) to (1, 1).
    const float corners[16] = {-1, -1, 0, 1, 1, -1, 0, 1, -1, 1, 0, 1, 1, 1, 0, 1};
    const float coordinates[8] = {0, 0, 1, 0, 0, 1, 1, 1};
    GLuint vertexArray = 0;
    GLuint buffers[2] = {};
    glGenVertexArrays(1, &vertexArray);
    glBindVertexArray(vertexArray);
    glGenBuffers(2, buffers);
    glUseProgram(program);
    const struct { const char* name; GLuint buffer; const float* data; std::size_t bytes; int components; } attributes[] = {
        {"vertex", buffers[0], corners, sizeof corners, 4}, {"tex", buffers[1], coordinates, sizeof coordinates, 2}};
    for (const auto& a : attributes) {
        glBindBuffer(GL_ARRAY_BUFFER, a.buffer);
        glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(a.bytes), a.data, GL_STATIC_DRAW);
        GLint location = glGetAttribLocation(program, a.name);
        if (location >= 0) {
            glVertexAttribPointer(GLuint(location), a.components, GL_FLOAT, GL_FALSE, a.components * 4, nullptr);
            glEnableVertexAttribArray(GLuint(location));
        }
    }

    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, textures[0]);
    glUniform1i(glGetUniformLocation(program, "videoTexture"), 0);
    for (const auto& [name, u] : uniforms) {
        // A name the program does not declare (or optimised away) has location -1 and is
        // ignored by GL, as the effect's own binding ignores it.
        GLint location = glGetUniformLocation(program, name.c_str());
        if (u.isInt)
            glUniform1i(location, u.i[0]);
        else if (u.count == 1)
            glUniform1f(location, u.f[0]);
        else if (u.count == 2)
            glUniform2f(location, u.f[0], u.f[1]);
        else if (u.count == 3)
            glUniform3f(location, u.f[0], u.f[1], u.f[2]);
        else
            glUniformMatrix4fv(location, 1, GL_FALSE, u.f);
    }

    glViewport(0, 0, outWidth, outHeight);
    glDisable(GL_BLEND);
    glClearColor(0.f, 0.f, 0.f, 0.f);
    glClear(GL_COLOR_BUFFER_BIT);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);

    Image out(outWidth, outHeight);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, outWidth, outHeight, GL_RGB, GL_FLOAT, out.rgb.data());
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));

    glBindVertexArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glUseProgram(0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteVertexArrays(1, &vertexArray);
    glDeleteBuffers(2, buffers);
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteTextures(2, textures);
    return out;
}

}  // namespace shader_test
