// Preloaded into a test's child process. Every fourth time one of Mesa's llvmpipe rasteriser threads broadcasts
// a condition variable (as it does when it signals a finished scene's fence, still holding the fence's mutex),
// it first pauses for half a millisecond. A loaded machine opens the same window by preempting the thread
// there; the pause makes it wide enough to hit within seconds. Other threads, and other renderers' threads,
// go through untouched.
//
// Whether the window is hit still depends on the machine, so the library also watches for the cause itself:
// it stands in front of the GL calls that fill one of the rasteriser's scenes (a clear, a draw, a blit, an
// upload, a read-back) and of glWaitSync, and counts each such call that a thread makes while its previous
// one has not been waited for since. Calls made inside the blur library are left to it: it may issue several
// in one call, which the effect settles as a whole, so only the calls made elsewhere are checked. At the
// process's end it writes its counts into the file VELLORAN_LAG_REPORT names, as one line:
//   renderer=<GL_RENDERER> pieces=<scene-filling calls> waits=<glWaitSync calls> unsettled=<calls checked and
//   found with the previous piece not waited for>
#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

#include <GL/glcorearb.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

template <class Function>
Function Real(const char* name) {
    void* symbol = dlsym(RTLD_NEXT, name);
    if (!symbol) {
        std::fprintf(stderr, "rasteriser_lag: no %s after this library\n", name);
        std::abort();
    }
    return reinterpret_cast<Function>(symbol);
}

using Broadcast = int (*)(pthread_cond_t*);

bool OnRasteriserThread() {
    char name[16] = {};
    return pthread_getname_np(pthread_self(), name, sizeof name) == 0 && std::strncmp(name, "llvmpipe", 8) == 0;
}

std::atomic<long> gPieces{0}, gWaits{0}, gUnsettled{0};
char gRenderer[256] = {};
std::atomic<bool> gRendererKnown{false};
// A scene-filling call of this thread not waited for yet.
thread_local bool tPending = false;

// Whether the code at `address` lies in the blur library.
bool InBlurLibrary(const void* address) {
    Dl_info info{};
    return dladdr(address, &info) != 0 && info.dli_fname && std::strstr(info.dli_fname, "OstrabelSDK") != nullptr;
}

void NoteRenderer() {
    if (gRendererKnown.exchange(true)) return;
    static const auto getString = Real<PFNGLGETSTRINGPROC>("glGetString");
    const GLubyte* renderer = getString(GL_RENDERER);
    if (renderer) std::snprintf(gRenderer, sizeof gRenderer, "%s", reinterpret_cast<const char*>(renderer));
}

// Before a scene-filling call (or a glFinish, checked only) made from `caller`.
void BeforePiece(const void* caller, bool fills) {
    NoteRenderer();
    if (tPending && !InBlurLibrary(caller)) ++gUnsettled;
    if (fills) {
        ++gPieces;
        tPending = true;
    }
}

__attribute__((destructor)) void WriteReport() {
    const char* path = std::getenv("VELLORAN_LAG_REPORT");
    if (!path) return;
    if (FILE* file = std::fopen(path, "w")) {
        std::fprintf(file, "renderer=%s pieces=%ld waits=%ld unsettled=%ld\n", gRenderer, gPieces.load(),
                     gWaits.load(), gUnsettled.load());
        std::fclose(file);
    }
}

}  // namespace

#define VISIBLE extern "C" __attribute__((visibility("default")))

VISIBLE int pthread_cond_broadcast(pthread_cond_t* cond) {
    static const Broadcast real = Real<Broadcast>("pthread_cond_broadcast");
    thread_local unsigned calls = 0;
    if (OnRasteriserThread() && ++calls % 4 == 0) usleep(500);
    return real(cond);
}

VISIBLE void glWaitSync(GLsync sync, GLbitfield flags, GLuint64 timeout) {
    static const auto real = Real<PFNGLWAITSYNCPROC>("glWaitSync");
    real(sync, flags, timeout);
    ++gWaits;
    tPending = false;
}

VISIBLE void glFinish() {
    static const auto real = Real<PFNGLFINISHPROC>("glFinish");
    BeforePiece(__builtin_return_address(0), false);
    real();
}

VISIBLE void glClear(GLbitfield mask) {
    static const auto real = Real<PFNGLCLEARPROC>("glClear");
    BeforePiece(__builtin_return_address(0), true);
    real(mask);
}

VISIBLE void glDrawArraysInstanced(GLenum mode, GLint first, GLsizei count, GLsizei instances) {
    static const auto real = Real<PFNGLDRAWARRAYSINSTANCEDPROC>("glDrawArraysInstanced");
    BeforePiece(__builtin_return_address(0), true);
    real(mode, first, count, instances);
}

VISIBLE void glDrawElementsInstanced(GLenum mode, GLsizei count, GLenum type, const void* indices,
                                     GLsizei instances) {
    static const auto real = Real<PFNGLDRAWELEMENTSINSTANCEDPROC>("glDrawElementsInstanced");
    BeforePiece(__builtin_return_address(0), true);
    real(mode, count, type, indices, instances);
}

VISIBLE void glBlitFramebuffer(GLint srcX0, GLint srcY0, GLint srcX1, GLint srcY1, GLint dstX0, GLint dstY0,
                               GLint dstX1, GLint dstY1, GLbitfield mask, GLenum filter) {
    static const auto real = Real<PFNGLBLITFRAMEBUFFERPROC>("glBlitFramebuffer");
    BeforePiece(__builtin_return_address(0), true);
    real(srcX0, srcY0, srcX1, srcY1, dstX0, dstY0, dstX1, dstY1, mask, filter);
}

VISIBLE void glTexSubImage2D(GLenum target, GLint level, GLint x, GLint y, GLsizei width, GLsizei height,
                             GLenum format, GLenum type, const void* pixels) {
    static const auto real = Real<PFNGLTEXSUBIMAGE2DPROC>("glTexSubImage2D");
    BeforePiece(__builtin_return_address(0), true);
    real(target, level, x, y, width, height, format, type, pixels);
}

VISIBLE void glReadPixels(GLint x, GLint y, GLsizei width, GLsizei height, GLenum format, GLenum type,
                          void* pixels) {
    static const auto real = Real<PFNGLREADPIXELSPROC>("glReadPixels");
    BeforePiece(__builtin_return_address(0), true);
    real(x, y, width, height, format, type, pixels);
}
