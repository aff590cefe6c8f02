// What the EGL-backed stand-in adds to the CGL-shaped API: the display and renderer its contexts get, for tools
// to show and for tests to make their own contexts on; and for tests, how many contexts are alive (created and
// not yet destroyed) in this process, and a way to make context creation fail.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// The EGLDisplay the stand-in chose for this process, initialised and never terminated, so that code beside
// the effect (a host's own contexts, tests) runs on the same device; EGL_NO_DISPLAY when none opens. Chosen
// once per process.
void* CGLStandInDisplay(void);
// GL_RENDERER of a context made as the effect makes its own, on the display this process uses; empty when
// no context can be made. Asked once per process; the calling thread's current context is left as it was.
const char* CGLStandInRenderer(void);
// GL_VERSION of that context; empty when none can be made. Asked together with the renderer.
const char* CGLStandInVersion(void);
// Why no such context could be made (CGLErrorString of the step that failed); empty when one was made.
const char* CGLStandInContextFailure(void);
// GL_MAX_TEXTURE_SIZE of such a context: the widest and tallest texture, so the largest frame, the renderer
// takes; 0 when no context can be made. Asked together with the renderer, once per process.
int CGLStandInMaxTextureSize(void);

int CGLStandInLiveContextCount(void);
// Test only: the next `count` calls of CGLCreateContext, from any thread, fail with kCGLBadAlloc as a driver
// out of memory would; 0 ends a plan not used up.
void CGLStandInFailContextCreations(int count);

#ifdef __cplusplus
}
#endif
