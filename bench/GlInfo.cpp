#include "bench/GlInfo.h"

#include <GL/gl.h>

#include "CGL.h"

namespace velloran_bench {

GlInfo QueryGlInfo() {
    GlInfo info;
    const CGLPixelFormatAttribute attributes[] = {kCGLPFAOpenGLProfile,
                                                  CGLPixelFormatAttribute(kCGLOGLPVersion_3_2_Core),
                                                  CGLPixelFormatAttribute(0)};
    CGLPixelFormatObj pix = nullptr;
    GLint screens = 0;
    CGLError error = CGLChoosePixelFormat(attributes, &pix, &screens);
    CGLContextObj context = nullptr;
    if (error == kCGLNoError) {
        error = CGLCreateContext(pix, nullptr, &context);
        CGLDestroyPixelFormat(pix);
    }
    if (error == kCGLNoError) error = CGLSetCurrentContext(context);
    if (error != kCGLNoError) {
        info.error = std::string("no OpenGL 3.3 core context: ") + CGLErrorString(error);
    } else {
        if (const GLubyte* r = glGetString(GL_RENDERER)) info.renderer = reinterpret_cast<const char*>(r);
        if (const GLubyte* v = glGetString(GL_VERSION)) info.version = reinterpret_cast<const char*>(v);
        CGLSetCurrentContext(nullptr);
    }
    if (context) CGLDestroyContext(context);
    return info;
}

}  // namespace velloran_bench
