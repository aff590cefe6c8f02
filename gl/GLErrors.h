// Checked GL calls: every call of a sequence that builds, clears or deletes GL objects is followed by a
// capture of the GL error state with the call's source file, line and text.
//
//   GLStoppingSequence seq;                       // drains errors left by earlier GL work
//   GL_CHECKED(seq, glGenTextures(1, &texID));   // skipped once an earlier call of seq failed
//   if (seq.failed()) Log_GL_Err("where", seq.info(), in_data);
//
// A stopping sequence writes its failure to standard error at once and makes no further call; a
// collecting sequence makes every call and keeps only the first failure for the log.
#pragma once

#include <string>

#include "gl/GLHeaders.h"
#include "sdk/AE_Effect.h"

enum class GLErrorCode : int {
    NoError = 0,
    InvalidEnum = 1,
    InvalidValue = 2,
    InvalidOperation = 3,
    OutOfMemory = 4,
    InvalidFramebufferOperation = 5,
    Unknown = 6,  // stack overflow and underflow, and any value GL adds later
};

struct GLErrorInfo {
    GLErrorCode code = GLErrorCode::NoError;
    const char* file = nullptr;       // static text, not copied
    int line = 0;
    const char* operation = nullptr;  // the call as written, static text
};

GLErrorCode MapGLError(GLenum raw);
// "GL_NO_ERROR" ... "GL_UNKNOWN_ERROR"; "UNRECOGNIZED_ERROR" for any value the mapping never produces.
const char* GLErrorCodeToString(GLErrorCode code);

// Reads one GL error (GL keeps any further pending flags) and records it with the given place.
GLErrorInfo checkGLError(const char* file, int line, const char* operation);

// "OpenGL error occurred in <where>: <file> at line <line> in operation <operation>: <name>\n" into the log.
void Log_GL_Err(const std::string& where, const GLErrorInfo& info, PF_InData* in_data);

// Reads GL errors until none is left, so that a sequence is never blamed for earlier work. Returns the last
// value read, which is always 0.
GLenum clearExistingGLErrors(const std::string& where);

// "OpenGL Error in <file> at line <line> in operation <operation>: <code as a number>\n" on standard error.
void PrintGLError(const GLErrorInfo& info);

class GLStoppingSequence {
public:
    // drainPending false: errors left pending by earlier work are reported by the first check.
    explicit GLStoppingSequence(bool drainPending = true);
    bool ShouldRun() const { return !failed_; }
    void Record(const GLErrorInfo& info);
    bool failed() const { return failed_; }
    // The last check made: the failing one after a failure, else the last successful one (or a zero record).
    const GLErrorInfo& info() const { return info_; }

private:
    GLErrorInfo info_;
    bool failed_ = false;
};

class GLCollectingSequence {
public:
    GLCollectingSequence();
    bool ShouldRun() const { return true; }
    void Record(const GLErrorInfo& info);
    bool failed() const { return failed_; }
    const GLErrorInfo& firstFailure() const { return first_; }
    // Logs the first failure, when there was one.
    void LogFirstFailure(const std::string& where, PF_InData* in_data) const;

private:
    GLErrorInfo first_;
    bool failed_ = false;
};

// Makes the call unless the sequence has stopped, then records the check with the call's text.
#define GL_CHECKED(sequence, call) GL_CHECKED_AS(sequence, #call, call)
// The same with the operation text given, for a call whose logged text differs from its source.
#define GL_CHECKED_AS(sequence, text, call)                                 \
    do {                                                                    \
        if ((sequence).ShouldRun()) {                                       \
            call;                                                           \
            (sequence).Record(checkGLError(__FILE__, __LINE__, text));      \
        }                                                                   \
    } while (0)
