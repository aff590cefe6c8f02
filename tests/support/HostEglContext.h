// A context made straight over EGL, outside the CGL stand-in, on the display the stand-in chose (on a machine
// with a GPU, the GPU): the way a host application makes its own, for tests that check the effect leaves it
// current and leaves the thread's bound client API as it was; and a plain OpenGL 3.3 core context for tests
// of code that takes the GL context it is called on.
#pragma once

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include "CGLStandIn.h"

namespace testsupport {

class HostEglContext {
public:
    enum class Profile {
        Default,  // EGL_OPENGL_ES_API: OpenGL ES 3; EGL_OPENGL_API: a compatibility context
        Core33,   // with EGL_OPENGL_API: OpenGL 3.3 core, as the effect's own contexts are
    };

    // Made current on the calling thread; `made()` says whether that worked.
    explicit HostEglContext(EGLenum api, Profile profile = Profile::Default) : api_(api) {
        display_ = static_cast<EGLDisplay>(CGLStandInDisplay());
        if (display_ == EGL_NO_DISPLAY || !eglBindAPI(api)) return;
        const EGLint configAttributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE,
                                           api == EGL_OPENGL_API ? EGL_OPENGL_BIT : EGL_OPENGL_ES3_BIT,
                                           EGL_NONE};
        EGLConfig config = nullptr;
        EGLint count = 0;
        if (!eglChooseConfig(display_, configAttributes, &config, 1, &count) || count < 1) return;
        const EGLint esAttributes[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_NONE};
        const EGLint coreAttributes[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 3,
                                         EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                         EGL_NONE};
        const EGLint* contextAttributes = api != EGL_OPENGL_API       ? esAttributes
                                          : profile == Profile::Core33 ? coreAttributes
                                                                       : nullptr;
        context_ = eglCreateContext(display_, config, EGL_NO_CONTEXT, contextAttributes);
        if (context_ != EGL_NO_CONTEXT && !eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_)) {
            eglDestroyContext(display_, context_);
            context_ = EGL_NO_CONTEXT;
        }
    }
    // Releases the context if it is still current on this thread and destroys it. The display stays: it is the
    // stand-in's, for the whole process.
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
