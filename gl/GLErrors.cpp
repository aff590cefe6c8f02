#include "gl/GLErrors.h"

#include <cstdio>

#include "host/Messages.h"

namespace {

const char* OrEmpty(const char* text) { return text ? text : ""; }

}  // namespace

GLErrorCode MapGLError(GLenum raw) {
    switch (raw) {
        case GL_NO_ERROR: return GLErrorCode::NoError;
        case GL_INVALID_ENUM: return GLErrorCode::InvalidEnum;
        case GL_INVALID_VALUE: return GLErrorCode::InvalidValue;
        case GL_INVALID_OPERATION: return GLErrorCode::InvalidOperation;
        case GL_OUT_OF_MEMORY: return GLErrorCode::OutOfMemory;
        case GL_INVALID_FRAMEBUFFER_OPERATION: return GLErrorCode::InvalidFramebufferOperation;
        default: return GLErrorCode::Unknown;
    }
}

const char* GLErrorCodeToString(GLErrorCode code) {
    switch (static_cast<unsigned>(code)) {
        case 0: return "GL_NO_ERROR";
        case 1: return "GL_INVALID_ENUM";
        case 2: return "GL_INVALID_VALUE";
        case 3: return "GL_INVALID_OPERATION";
        case 4: return "GL_OUT_OF_MEMORY";
        case 5: return "GL_INVALID_FRAMEBUFFER_OPERATION";
        case 6: return "GL_UNKNOWN_ERROR";
        default: return "UNRECOGNIZED_ERROR";
    }
}

GLErrorInfo checkGLError(const char* file, int line, const char* operation) {
    GLErrorInfo info;
    info.code = MapGLError(glGetError());
    info.file = file;
    info.line = line;
    info.operation = operation;
    return info;
}

void Log_GL_Err(const std::string& where, const GLErrorInfo& info, PF_InData* in_data) {
    LogError("OpenGL error occurred in " + where + ": " + OrEmpty(info.file) + " at line " +
                 std::to_string(info.line) + " in operation " + OrEmpty(info.operation) + ": " +
                 GLErrorCodeToString(info.code) + "\n",
             in_data);
}

GLenum clearExistingGLErrors(const std::string& /*where*/) {
    GLenum error = glGetError();
    while (error != GL_NO_ERROR) error = glGetError();
    return error;
}

void PrintGLError(const GLErrorInfo& info) {
    std::fprintf(stderr, "OpenGL Error in %s at line %d in operation %s: %d\n", OrEmpty(info.file), info.line,
                 OrEmpty(info.operation), static_cast<int>(info.code));
    std::fflush(stderr);
}

GLStoppingSequence::GLStoppingSequence(bool drainPending) {
    if (drainPending) clearExistingGLErrors("GLStoppingSequence");
}

void GLStoppingSequence::Record(const GLErrorInfo& info) {
    info_ = info;
    if (info.code == GLErrorCode::NoError) return;
    failed_ = true;
    PrintGLError(info);
}

GLCollectingSequence::GLCollectingSequence() { clearExistingGLErrors("GLCollectingSequence"); }

void GLCollectingSequence::Record(const GLErrorInfo& info) {
    if (info.code == GLErrorCode::NoError || failed_) return;
    first_ = info;
    failed_ = true;
}

void GLCollectingSequence::LogFirstFailure(const std::string& where, PF_InData* in_data) const {
    if (failed_) Log_GL_Err(where, first_, in_data);
}
