#include "gl/GLContext.h"

#include <cstdio>

namespace {

// Nothing but the profile: the effect draws only into its own framebuffers, so it asks for no colour,
// depth or stencil storage of a default surface.
CGLPixelFormatAttribute attributes_default[] = {kCGLPFAOpenGLProfile,
                                                CGLPixelFormatAttribute(kCGLOGLPVersion_3_2_Core),
                                                CGLPixelFormatAttribute(0)};

}  // namespace

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
