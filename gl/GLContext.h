// The effect's GL context interface: the only place where contexts are made and destroyed. Exported by
// name with C linkage so that a host or a helper library can find them.
#pragma once

#include <mutex>

#include "CGL.h"

#define VELLORAN_GL_EXPORT extern "C" __attribute__((visibility("default")))

// Chooses a pixel format from the zero-terminated attribute list (null: a 3.2 core profile), creates a
// context sharing objects with share (null: none) and returns it retained; null on failure. Failing CGL
// steps are printed on standard output as "<virtual screens> - <reason>".
VELLORAN_GL_EXPORT CGLContextObj CreateContext(CGLContextObj share, CGLPixelFormatAttribute* attributes);
// Drops both references CreateContext gave; null does nothing.
VELLORAN_GL_EXPORT void DeleteContext(CGLContextObj ctx);
// 0 on success; null detaches the calling thread from any context.
VELLORAN_GL_EXPORT int SetCurrentContext(CGLContextObj ctx);
VELLORAN_GL_EXPORT CGLContextObj GetCurrentContext();
// True exactly when ctx is not null.
VELLORAN_GL_EXPORT bool IsContextValid(CGLContextObj ctx);

// Held by a thread for as long as it issues GL commands on any of the effect's contexts, or makes, makes
// current or destroys one; GLContext.cpp says which fault it keeps away. Not recursive: a thread that holds it
// never asks for it again. On renderers that need it (Mesa's software ones, or one not yet known), that is;
// elsewhere the lock returned holds nothing. Movable, never copied; released when it dies.
class GLWorkLock {
public:
    GLWorkLock() = default;  // holds nothing
    GLWorkLock(GLWorkLock&& other) noexcept : owns_(other.owns_) { other.owns_ = false; }
    GLWorkLock& operator=(GLWorkLock&&) = delete;
    GLWorkLock(const GLWorkLock&) = delete;
    GLWorkLock& operator=(const GLWorkLock&) = delete;
    ~GLWorkLock();
    bool owns_lock() const { return owns_; }

private:
    friend GLWorkLock LockGLWork();
    explicit GLWorkLock(bool owns) : owns_(owns) {}
    bool owns_ = false;
};
GLWorkLock LockGLWork();

// Lets go of the GL work lock for as long as it lives, where the calling thread holds it, and takes it back at
// its end; elsewhere it does nothing. The effect never waits on the host, nor spends a CPU-only stretch, with
// the lock held: a host whose calls need another render thread's GL work done would otherwise wait for ever.
// The GL work before it must have been settled (SettleGLWork), and none is issued until it ends.
class GLWorkPause {
public:
    GLWorkPause();
    ~GLWorkPause();
    GLWorkPause(const GLWorkPause&) = delete;
    GLWorkPause& operator=(const GLWorkPause&) = delete;

private:
    bool resume_ = false;
};

// Whether a renderer, as GL_RENDERER names it, needs GL work kept from overlapping and settled.
bool RendererNeedsGLWorkLock(const char* renderer);
// Tells LockGLWork and SettleGLWork which renderer the effect's contexts run on.
void NoteGLRenderer(const char* renderer);
// Whether the renderer last noted (or none yet) keeps GL work apart.
bool GLWorkKeptApart();
// Waits until the current context has finished every command given so far, on the renderers that need GL
// work kept apart (as LockGLWork); elsewhere it does nothing. Called after each piece of GL work that fills
// one of the software rasteriser's scenes; GLContext.cpp says which fault it keeps away.
void SettleGLWork();
// Runs stretch(data) under a GLWorkPause: how the blur library's work away from GL (its calls into the host,
// its transforms) lets other render threads' GL work go on.
extern "C" void RunAwayFromGLWork(void (*stretch)(void* data), void* data);
