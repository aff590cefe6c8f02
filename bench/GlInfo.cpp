#include "bench/GlInfo.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>

#include <vector>

namespace velloran_bench {

namespace {

EGLDisplay Initialized(EGLDisplay display) {
    if (display == EGL_NO_DISPLAY) return EGL_NO_DISPLAY;
    EGLint major = 0, minor = 0;
    return eglInitialize(display, &major, &minor) ? display : EGL_NO_DISPLAY;
}

EGLDisplay OpenDisplay() {
    EGLDisplay display = Initialized(eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr));
    if (display != EGL_NO_DISPLAY) return display;
    auto queryDevices = reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
    EGLint count = 0;
    if (!queryDevices || !queryDevices(0, nullptr, &count) || count <= 0) return EGL_NO_DISPLAY;
    std::vector<EGLDeviceEXT> devices(size_t(count), nullptr);
    if (!queryDevices(count, devices.data(), &count)) return EGL_NO_DISPLAY;
    for (EGLint i = 0; i < count; ++i) {
        display = Initialized(eglGetPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[size_t(i)], nullptr));
        if (display != EGL_NO_DISPLAY) return display;
    }
    return EGL_NO_DISPLAY;
}

}  // namespace

GlInfo QueryGlInfo() {
    GlInfo info;
    EGLDisplay display = OpenDisplay();
    if (display == EGL_NO_DISPLAY) {
        info.error = "no EGL display";
        return info;
    }
    if (!eglBindAPI(EGL_OPENGL_API)) {
        info.error = "EGL has no desktop OpenGL";
        eglTerminate(display);
        return info;
    }
    const EGLint configAttributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
    EGLConfig config = nullptr;
    EGLint configs = 0;
    eglChooseConfig(display, configAttributes, &config, 1, &configs);
    const EGLint contextAttributes[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 3,
                                        EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                        EGL_NONE};
    EGLContext context = eglCreateContext(display, configs > 0 ? config : EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT,
                                          contextAttributes);
    if (context == EGL_NO_CONTEXT || !eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
        info.error = "no OpenGL 3.3 core context";
    } else {
        if (const GLubyte* r = glGetString(GL_RENDERER)) info.renderer = reinterpret_cast<const char*>(r);
        if (const GLubyte* v = glGetString(GL_VERSION)) info.version = reinterpret_cast<const char*>(v);
        eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }
    if (context != EGL_NO_CONTEXT) eglDestroyContext(display, context);
    eglTerminate(display);
    return info;
}

}  // namespace velloran_bench
