// The CGL-shaped context API the effect is written against, implemented over EGL (cgl_egl.cpp).
// Only what the effect uses is declared: pixel formats, contexts with a reference count, the calling
// thread's current context and error texts. Numeric values of attributes and versions are the ones the
// effect passes; the error numbering is this stand-in's own.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

typedef int GLint;

typedef struct _CGLContextObject* CGLContextObj;
typedef struct _CGLPixelFormatObject* CGLPixelFormatObj;

// Attribute lists are zero-terminated; attributes marked "value" are followed by their value.
typedef enum _CGLPixelFormatAttribute {
    kCGLPFAAllRenderers = 1,
    kCGLPFADoubleBuffer = 5,
    kCGLPFAColorSize = 8,      // value: bits of colour, alpha excluded
    kCGLPFAAlphaSize = 11,     // value
    kCGLPFADepthSize = 12,     // value
    kCGLPFAStencilSize = 13,   // value
    kCGLPFANoRecovery = 72,
    kCGLPFAAccelerated = 73,
    kCGLPFAOpenGLProfile = 99, // value: one of CGLOpenGLProfile
    // Values share the list with the attributes (a profile such as 0x3200 among them), so the type must
    // hold any int.
    kCGLPFAValueRange = 0x7fffffff,
} CGLPixelFormatAttribute;

typedef enum _CGLOpenGLProfile {
    kCGLOGLPVersion_Legacy = 0x1000,
    kCGLOGLPVersion_3_2_Core = 0x3200,
    kCGLOGLPVersion_GL3_Core = 0x3200,
    kCGLOGLPVersion_GL4_Core = 0x4100,
} CGLOpenGLProfile;

typedef enum _CGLError {
    kCGLNoError = 0,
    kCGLBadAttribute = 10000,
    kCGLBadPixelFormat = 10002,
    kCGLBadContext = 10004,
    kCGLBadDisplay = 10006,
    kCGLBadState = 10007,
    kCGLBadValue = 10008,
    kCGLBadMatch = 10009,
    kCGLBadAddress = 10014,
    kCGLBadAlloc = 10016,
} CGLError;

// Chooses a format from the attribute list. On success *pix is a new pixel format and *npix 1 (the number
// of virtual screens); on failure *pix is null and *npix 0.
CGLError CGLChoosePixelFormat(const CGLPixelFormatAttribute* attribs, CGLPixelFormatObj* pix, GLint* npix);
CGLError CGLDestroyPixelFormat(CGLPixelFormatObj pix);

// Creates a context holding one reference; share (may be null) names a context whose objects it shares.
// On failure *ctx is left null.
CGLError CGLCreateContext(CGLPixelFormatObj pix, CGLContextObj share, CGLContextObj* ctx);
// Adds a reference and returns ctx (null stays null).
CGLContextObj CGLRetainContext(CGLContextObj ctx);
// Drops a reference; the last one destroys the context.
void CGLReleaseContext(CGLContextObj ctx);
// Drops the creation's reference, as a release does.
CGLError CGLDestroyContext(CGLContextObj ctx);

// Being current on a thread holds a reference of its own, so a context stays alive while any thread
// has it current. Null detaches the calling thread.
CGLError CGLSetCurrentContext(CGLContextObj ctx);
CGLContextObj CGLGetCurrentContext(void);

const char* CGLErrorString(CGLError error);

#ifdef __cplusplus
}
#endif
