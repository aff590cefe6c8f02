// A context the way a host application makes its own, straight over EGL and outside the CGL stand-in, for
// tests that check the effect leaves it current and leaves the thread's bound client API as it was.
#pragma once

#include <EGL/egl.h>
#include <EGL/eglext.h>

namespace testsupport {

class HostEglContext {
public:
    // api: EGL_OPENGL_ES_API (an OpenGL ES 3 context) or EGL_OPENGL_API (a compatibility GL context).
    explicit HostEglContext(EGLenum api) : api_(api) {
        display_ = eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (display_ == EGL_NO_DISPLAY || !eglInitialize(display_, nullptr, nullptr) || !eglBindAPI(api)) return;
        const EGLint configAttributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE,
                                           api == EGL_OPENGL_API ? EGL_OPENGL_BIT : EGL_OPENGL_ES3_BIT,
                                           EGL_NONE};
        EGLConfig config = nullptr;
        EGLint count = 0;
        if (!eglChooseConfig(display_, configAttributes, &config, 1, &count) || count < 1) return;
        const EGLint esAttributes[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_NONE};
        context_ = eglCreateContext(display_, config, EGL_NO_CONTEXT, api == EGL_OPENGL_API ? nullptr : esAttributes);
        if (context_ != EGL_NO_CONTEXT && !eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_)) {
            eglDestroyContext(display_, context_);
            context_ = EGL_NO_CONTEXT;
        }
    }
    ~HostEglContext() {
        if (context_ == EGL_NO_CONTEXT) return;
        eglBindAPI(api_);
        if (eglGetCurrentContext() == context_) eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglDestroyContext(display_, context_);
        eglBindAPI(EGL_OPENGL_API);
    }
    HostEglContext(const HostEglContext&) = delete;
    HostEglContext& operator=(const HostEglContext&) = delete;

    bool made() const { return context_ != EGL_NO_CONTEXT; }
    EGLContext context() const { return context_; }
    EGLenum api() const { return api_; }

private:
    EGLenum api_;
    EGLDisplay display_ = EGL_NO_DISPLAY;
    EGLContext context_ = EGL_NO_CONTEXT;
};

}  // namespace testsupport
