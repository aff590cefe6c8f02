#include "gl/GLContext.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "gl/GLHeaders.h"

namespace {

// Nothing but the profile: the effect draws only into its own framebuffers, so it asks for no colour,
// depth or stencil storage of a default surface.
CGLPixelFormatAttribute attributes_default[] = {kCGLPFAOpenGLProfile,
                                                CGLPixelFormatAttribute(kCGLOGLPVersion_3_2_Core),
                                                CGLPixelFormatAttribute(0)};

// All of the effect's contexts live on one display, and so on one screen of Mesa's llvmpipe; sharing no
// objects does not keep them apart there. Whenever a context maps a texture for the CPU (an upload, a
// read-back), copies one (a same-size blit) or binds one for sampling, llvmpipe_flush_resource walks every
// context of the screen and reads its binning state: the target it draws to and the lists of textures its
// scenes hold. The thread that owns that other context writes the same state with no lock, and at the end of
// a scene frees the blocks those lists live in. A walk that meets such a free reads freed memory: the process
// dies with SIGSEGV in lp_scene_is_resource_referenced, under glTexSubImage2D, glBlitFramebuffer or
// glReadPixels on one render thread while another renders. llvmpipe's own lock guards only the list of
// contexts, so the effect keeps GL work on two of its contexts from overlapping: every stretch of GL
// commands, and every make-current (which flushes), holds this lock.
std::mutex& GLWork() {
    static std::mutex work;
    return work;
}

// Until the renderer is known the lock is taken: it is only a cost where the race cannot happen.
std::atomic<bool>& GLWorkLocked() {
    static std::atomic<bool> locked{true};
    return locked;
}

}  // namespace

bool RendererNeedsGLWorkLock(const char* renderer) {
    // The race lives in Mesa's software rasterisers; a GPU driver keeps its contexts' state apart. An
    // unknown renderer keeps the lock.
    if (!renderer || !*renderer) return true;
    return std::strncmp(renderer, "llvmpipe", 8) == 0 || std::strncmp(renderer, "softpipe", 8) == 0;
}

void NoteGLRenderer(const char* renderer) { GLWorkLocked().store(RendererNeedsGLWorkLock(renderer)); }

// llvmpipe also races with itself, inside one context. Each of its rasteriser threads signals a scene's fence
// by taking the fence's mutex, counting itself in, waking any waiter and unlocking. The context's own thread
// reads that count without the mutex, when it looks for a scene to reuse and when glFinish finds the work
// already done, and once the count is full it may drop the fence and free it while the last rasteriser
// thread is still inside the signal: its wake-up and unlock then write into freed memory, and the heap breaks
// wherever that block is handed out next. The process dies later and far from the cause, in malloc under a
// draw, an upload or a blit. A rasteriser thread preempted in that window (a loaded machine, many render
// threads) is all it takes, with one render thread as with eight. glWaitSync is the one wait llvmpipe serves
// by taking the fence's mutex, so it cannot return before that thread has let go; and as the rasteriser
// finishes its scenes in order, no fence the context drops afterwards is still being signalled. So after each
// piece of GL work that fills a scene (a clear, a draw, a blit, an upload, a read-back) the effect settles it
// that way. Each pass reads the one before, so little overlap is lost.
void SettleGLWork() {
    if (!GLWorkLocked().load()) return;
    const GLsync fence = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    if (!fence) return;
    glWaitSync(fence, 0, GL_TIMEOUT_IGNORED);
    glDeleteSync(fence);
}

std::unique_lock<std::mutex> LockGLWork() {
    if (GLWorkLocked().load()) return std::unique_lock<std::mutex>(GLWork());
    return std::unique_lock<std::mutex>(GLWork(), std::defer_lock);
}

VELLORAN_GL_EXPORT CGLContextObj CreateContext(CGLContextObj share, CGLPixelFormatAttribute* attributes) {
    CGLPixelFormatObj pixelFormat = nullptr;
    GLint virtualScreens = 0;
    CGLError error = CGLChoosePixelFormat(attributes ? attributes : attributes_default, &pixelFormat,
                                          &virtualScreens);
    if (error != kCGLNoError) std::printf("%i - %s\n", virtualScreens, CGLErrorString(error));

    CGLContextObj context = nullptr;
    error = CGLCreateContext(pixelFormat, share, &context);
    if (error != kCGLNoError) std::printf("%i - %s\n", virtualScreens, CGLErrorString(error));
    // The context keeps what it needs of the format; the format object itself would otherwise leak.
    if (pixelFormat) CGLDestroyPixelFormat(pixelFormat);
    return CGLRetainContext(context);
}

VELLORAN_GL_EXPORT void DeleteContext(CGLContextObj ctx) {
    if (!ctx) return;
    // A context current on this thread is kept alive by being current (EGL postpones destroying it), so
    // the thread lets go of it first; only then do the release and the destroy free it.
    if (CGLGetCurrentContext() == ctx) CGLSetCurrentContext(nullptr);
    CGLReleaseContext(ctx);
    const CGLError error = CGLDestroyContext(ctx);
    if (error != kCGLNoError) std::printf("Destroy CTX Failed-%s\n", CGLErrorString(error));
}

VELLORAN_GL_EXPORT int SetCurrentContext(CGLContextObj ctx) {
    const CGLError error = CGLSetCurrentContext(ctx);
    if (error != kCGLNoError) {
        std::printf("Cannot Set CTX - %s\n", CGLErrorString(error));
        return 1;
    }
    return 0;
}

VELLORAN_GL_EXPORT CGLContextObj GetCurrentContext() { return CGLGetCurrentContext(); }

VELLORAN_GL_EXPORT bool IsContextValid(CGLContextObj ctx) { return ctx != nullptr; }
