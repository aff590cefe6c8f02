#include "gl/GLContext.h"

#include <strings.h>

#include <atomic>
#include <cctype>
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
// commands, and every make-current (which flushes), holds this lock. A thread lets go of it (GLWorkPause)
// whenever it waits on the host or works on the CPU alone, with its own GL work settled: its context's scenes
// are then idle, so another thread's walk finds nothing being written.
std::mutex& GLWork() {
    static std::mutex work;
    return work;
}

// Until the renderer is known the lock is taken: it is only a cost where the race cannot happen.
std::atomic<bool>& GLWorkLocked() {
    static std::atomic<bool> locked{true};
    return locked;
}

// Whether this thread holds GLWork() now: what a GLWorkPause lets go of and takes back.
thread_local bool tHoldsGLWork = false;

bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

// Whether `word` stands in `text` as a whole word, letters compared without case.
bool HasWord(const char* text, const char* word) {
    const size_t n = std::strlen(word);
    for (const char* at = text; *at; ++at) {
        if (at != text && IsWordChar(at[-1])) continue;
        if (strncasecmp(at, word, n) == 0 && !IsWordChar(at[n])) return true;
    }
    return false;
}

}  // namespace

bool RendererNeedsGLWorkLock(const char* renderer) {
    // An unknown renderer keeps the lock.
    if (!renderer || !*renderer) return true;
    // The races live in Mesa's software rasterisers, llvmpipe and softpipe, and the old swrast. A layered
    // driver names the device it runs on (zink "zink Vulkan 1.3(llvmpipe (LLVM 15.0.6, 256 bits))", virgl
    // "virgl (llvmpipe (...))", old Mesa "Gallium 0.4 on llvmpipe"): lavapipe, Mesa's software Vulkan driver,
    // names itself llvmpipe as it rasterises with it. So the words are looked for anywhere in the name, not
    // at its start; "LLVM" alone is no sign, as GPU drivers name their compiler too. The vendor string tells
    // nothing more: llvmpipe reports "Mesa", "Mesa/X.org" or "VMware, Inc.", as Mesa's GPU drivers and a
    // VMware virtual GPU do.
    static const char* const software[] = {"llvmpipe", "softpipe", "lavapipe", "swrast", "Software Rasterizer"};
    for (const char* word : software)
        if (HasWord(renderer, word)) return true;
    return false;
}

void NoteGLRenderer(const char* renderer) { GLWorkLocked().store(RendererNeedsGLWorkLock(renderer)); }

bool GLWorkKeptApart() { return GLWorkLocked().load(); }

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

GLWorkLock LockGLWork() {
    if (!GLWorkLocked().load()) return GLWorkLock();
    GLWork().lock();
    tHoldsGLWork = true;
    return GLWorkLock(true);
}

GLWorkLock::~GLWorkLock() {
    if (!owns_) return;
    tHoldsGLWork = false;
    GLWork().unlock();
}

GLWorkPause::GLWorkPause() : resume_(tHoldsGLWork) {
    if (!resume_) return;
    tHoldsGLWork = false;
    GLWork().unlock();
}

GLWorkPause::~GLWorkPause() {
    if (!resume_) return;
    GLWork().lock();
    tHoldsGLWork = true;
}

extern "C" void RunAwayFromGLWork(void (*stretch)(void* data), void* data) {
    const GLWorkPause pause;
    stretch(data);
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
