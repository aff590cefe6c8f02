// CGL-shaped context API over EGL. One EGL display serves the process: the first hardware EGL device that can
// make the effect's context, else Mesa's surfaceless platform, else Mesa's software device (DisplayChoice.h
// says why).
// Contexts are made current without a surface; the effect draws only into its own framebuffers.
//
// The thread's EGL state from before a stand-in context was made current (a host's own context, its
// surfaces, the bound client API) is not ours: it is put back when the thread leaves our contexts.
#include "CGL.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "CGLStandIn.h"
#include "DisplayChoice.h"

namespace {

constexpr uint32_t kContextMagic = 0x43474c43;      // "CGLC"
constexpr uint32_t kPixelFormatMagic = 0x43474c50;  // "CGLP"

std::atomic<int> liveContexts{0};
std::atomic<int> failingCreations{0};  // test only: creations still to fail

// Takes one planned failure, if any is left.
bool TakePlannedFailure() {
    int left = failingCreations.load(std::memory_order_relaxed);
    while (left > 0 && !failingCreations.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) {
    }
    return left > 0;
}

}  // namespace

struct _CGLPixelFormatObject {
    uint32_t magic = kPixelFormatMagic;
    EGLConfig config = nullptr;
    std::vector<EGLint> contextAttributes;  // EGL_NONE-terminated
};

struct _CGLContextObject {
    uint32_t magic = kContextMagic;
    std::atomic<int> references{1};
    EGLContext egl = EGL_NO_CONTEXT;
};

namespace {

EGLDisplay InitializedDisplay(EGLDisplay display) {
    if (display == EGL_NO_DISPLAY) return EGL_NO_DISPLAY;
    EGLint major = 0, minor = 0;
    if (!eglInitialize(display, &major, &minor)) return EGL_NO_DISPLAY;
    // Display lists are per process and may be shared with other users of EGL: never terminated here, since
    // terminating would pull the display from under contexts that someone still holds.
    return display;
}

bool ListsExtension(const char* extensions, const char* name) {
    if (!extensions) return false;
    const size_t length = std::strlen(name);
    for (const char* at = std::strstr(extensions, name); at; at = std::strstr(at + length, name)) {
        const bool starts = at == extensions || at[-1] == ' ';
        const bool ends = at[length] == '\0' || at[length] == ' ';
        if (starts && ends) return true;
    }
    return false;
}

std::vector<EGLDeviceEXT> Devices() {
    auto queryDevices = reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
    EGLint count = 0;
    if (!queryDevices || !queryDevices(0, nullptr, &count) || count <= 0) return {};
    std::vector<EGLDeviceEXT> devices(static_cast<size_t>(count));
    if (!queryDevices(count, devices.data(), &count)) return {};
    devices.resize(static_cast<size_t>(count));
    return devices;
}

// Configs that back a pixel buffer and render OpenGL, with at least the given sizes. Contexts are made current
// without a surface, but surfaceless drivers list only configs that could back a pixel buffer.
bool ChooseConfig(EGLDisplay display, EGLint channelBits, EGLint alphaBits, EGLint depthBits, EGLint stencilBits,
                  EGLConfig* config, EGLint* error) {
    const EGLint configAttributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT,
                                       EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                       EGL_RED_SIZE, channelBits,
                                       EGL_GREEN_SIZE, channelBits,
                                       EGL_BLUE_SIZE, channelBits,
                                       EGL_ALPHA_SIZE, alphaBits,
                                       EGL_DEPTH_SIZE, depthBits,
                                       EGL_STENCIL_SIZE, stencilBits,
                                       EGL_NONE};
    EGLint found = 0;
    *error = EGL_SUCCESS;
    if (!eglChooseConfig(display, configAttributes, config, 1, &found)) {
        *error = eglGetError();
        return false;
    }
    if (found < 1) *error = EGL_BAD_CONFIG;
    return found >= 1;
}

// The effect's "#version 330" shaders rely on the 3.2 core request giving a 3.3 context.
std::vector<EGLint> CoreContextAttributes() {
    return {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 3, EGL_CONTEXT_OPENGL_PROFILE_MASK,
            EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT, EGL_NONE};
}

EGLDisplay OpenDisplay() {
    const std::vector<EGLDeviceEXT> devices = Devices();
    auto queryDeviceString =
        reinterpret_cast<PFNEGLQUERYDEVICESTRINGEXTPROC>(eglGetProcAddress("eglQueryDeviceStringEXT"));
    std::vector<cgl_stand_in::DeviceDescription> descriptions(devices.size());
    for (size_t i = 0; i < devices.size(); ++i) {
        descriptions[i].software = queryDeviceString &&
                                   ListsExtension(queryDeviceString(devices[i], EGL_EXTENSIONS), "EGL_MESA_device_software");
    }
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLConfig config = nullptr;
    cgl_stand_in::OpeningSteps steps;
    steps.initialise = [&](const cgl_stand_in::DisplayCandidate& candidate) {
        display = candidate.kind == cgl_stand_in::DisplayCandidate::Surfaceless
                      ? eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr)
                      : eglGetPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[size_t(candidate.device)], nullptr);
        display = InitializedDisplay(display);
        return display != EGL_NO_DISPLAY;
    };
    steps.chooseConfig = [&](const cgl_stand_in::DisplayCandidate&) {
        EGLint error = EGL_SUCCESS;
        return ChooseConfig(display, 0, 0, 0, 0, &config, &error);
    };
    steps.makeContext = [&](const cgl_stand_in::DisplayCandidate&) {
        // Creation follows the bound API; the caller's binding is given back.
        const EGLenum callersAPI = eglQueryAPI();
        const std::vector<EGLint> attributes = CoreContextAttributes();
        EGLContext context = EGL_NO_CONTEXT;
        if (eglBindAPI(EGL_OPENGL_API)) context = eglCreateContext(display, config, EGL_NO_CONTEXT, attributes.data());
        if (context != EGL_NO_CONTEXT) eglDestroyContext(display, context);
        eglBindAPI(callersAPI);
        return context != EGL_NO_CONTEXT;
    };
    cgl_stand_in::DisplayCandidate chosen;
    if (!cgl_stand_in::FirstThatOpens(cgl_stand_in::DisplayOrder(descriptions), steps, &chosen))
        return EGL_NO_DISPLAY;
    return display;
}

EGLDisplay Display() {
    static std::once_flag once;
    static EGLDisplay display = EGL_NO_DISPLAY;
    std::call_once(once, [] { display = OpenDisplay(); });
    return display;
}

// The bound API is per thread in EGL; a thread that never bound it would create or bind OpenGL ES contexts.
bool BindOpenGL() { return eglBindAPI(EGL_OPENGL_API) == EGL_TRUE; }

CGLError FromEGLError(EGLint error) {
    switch (error) {
        case EGL_SUCCESS: return kCGLNoError;
        case EGL_BAD_ATTRIBUTE: return kCGLBadAttribute;
        case EGL_BAD_CONFIG: return kCGLBadPixelFormat;
        case EGL_BAD_CONTEXT: return kCGLBadContext;
        case EGL_BAD_DISPLAY:
        case EGL_NOT_INITIALIZED: return kCGLBadDisplay;
        case EGL_BAD_MATCH: return kCGLBadMatch;
        case EGL_BAD_ALLOC: return kCGLBadAlloc;
        default: return kCGLBadState;
    }
}

bool IsContext(CGLContextObj ctx) { return ctx && ctx->magic == kContextMagic; }

void DropReference(CGLContextObj ctx) {
    if (ctx->references.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    // The last reference: no thread has it current (being current holds a reference), so EGL really
    // destroys it here instead of postponing the destruction.
    eglDestroyContext(Display(), ctx->egl);
    ctx->magic = 0;
    delete ctx;
    liveContexts.fetch_sub(1, std::memory_order_relaxed);
}

// The calling thread's current context and the reference that being current holds. A thread that ends with
// a context current gives it up, so the context does not outlive every user.
//
// The record is a plain pointer, never destroyed, because other thread-local objects (the effect's per-thread
// render record) may make a context current from their own destructors, before or after anything of ours is
// torn down: the order of thread-local destructors is the reverse of first use on that thread, which no
// library controls. The release at the thread's end is done by a thread-local guard, made on the first
// make-current; a context made current after that guard has run gets a second guard, made right then, whose
// destructor runs after the one making it current, still among the thread-local destructors and so before
// EGL's own per-thread state goes. A thread-specific key is the last resort for anything later still.
thread_local CGLContextObj currentContext = nullptr;
thread_local bool firstGuardDone = false;
thread_local bool lateGuardDone = false;

// What the thread had before one of our contexts became current: held from then until the thread leaves our
// contexts. Plain pointers and enums, so the record needs no destructor at thread end.
struct OutsideState {
    bool held;
    EGLenum api;
    EGLDisplay display;
    EGLSurface draw, read;
    EGLContext context;
};
thread_local OutsideState outside{};

void SaveOutside() {
    outside.api = eglQueryAPI();
    outside.context = eglGetCurrentContext();
    outside.display = eglGetCurrentDisplay();
    outside.draw = eglGetCurrentSurface(EGL_DRAW);
    outside.read = eglGetCurrentSurface(EGL_READ);
    outside.held = true;
}

// Releases our context on the calling thread. Releasing acts on the context of the bound API, and the
// thread's API may have been switched since ours was made current, so OpenGL is bound first.
void ReleaseOurs() {
    BindOpenGL();
    eglMakeCurrent(Display(), EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
}

// Puts back what SaveOutside found; `withContext` false gives back only the bound API.
void RestoreOutside(bool withContext) {
    if (!outside.held) return;
    outside.held = false;
    if (withContext && outside.context != EGL_NO_CONTEXT) {
        eglBindAPI(outside.api);
        eglMakeCurrent(outside.display, outside.draw, outside.read, outside.context);
    }
    eglBindAPI(outside.api);
}

void ReleaseAtThreadEnd(void* /*keyValue*/);

pthread_key_t ThreadEndKey() {
    static const pthread_key_t key = [] {
        pthread_key_t k{};
        pthread_key_create(&k, ReleaseAtThreadEnd);
        return k;
    }();
    return key;
}

// The key's value mirrors the record, so its destructor runs exactly when a context is still current.
void SetCurrentRecord(CGLContextObj ctx) {
    currentContext = ctx;
    pthread_setspecific(ThreadEndKey(), ctx);
}

void ReleaseAtThreadEnd(void*) {
    CGLContextObj ctx = currentContext;
    if (!ctx) return;
    SetCurrentRecord(nullptr);
    ReleaseOurs();
    DropReference(ctx);
    // A caller's context is not made current again on a thread that is ending: it would stay bound to a
    // thread that no longer runs, and no other thread could make it current.
    RestoreOutside(false);
}

struct ThreadEndGuard {
    bool* done;
    ~ThreadEndGuard() {
        *done = true;
        ReleaseAtThreadEnd(nullptr);
    }
};

// Called whenever a context becomes current. The guards are local to this function so that each is made
// only when first reached (thread-locals of a whole file may all be made at once); touching one after its
// destruction would be undefined, hence the flags.
void ArmThreadEndGuard() {
    if (!firstGuardDone) {
        static thread_local ThreadEndGuard first{&firstGuardDone};
        static_cast<void>(first);
    } else if (!lateGuardDone) {
        static thread_local ThreadEndGuard late{&lateGuardDone};
        static_cast<void>(late);
    }
}

}  // namespace

extern "C" {

CGLError CGLChoosePixelFormat(const CGLPixelFormatAttribute* attribs, CGLPixelFormatObj* pix, GLint* npix) {
    if (pix) *pix = nullptr;
    if (npix) *npix = 0;
    if (!attribs || !pix || !npix) return kCGLBadAddress;

    int profile = kCGLOGLPVersion_Legacy;
    EGLint colorBits = 0, alphaBits = 0, depthBits = 0, stencilBits = 0;
    for (const CGLPixelFormatAttribute* a = attribs; *a != 0; ++a) {
        switch (*a) {
            case kCGLPFAAllRenderers:
            case kCGLPFADoubleBuffer:
            case kCGLPFANoRecovery:
            case kCGLPFAAccelerated:
                break;  // every EGL config here is a renderer of its own; nothing to choose
            case kCGLPFAColorSize:
            case kCGLPFAAlphaSize:
            case kCGLPFADepthSize:
            case kCGLPFAStencilSize:
            case kCGLPFAOpenGLProfile: {
                // A value follows its attribute and is never read as the list's end, even when it is 0.
                const CGLPixelFormatAttribute attribute = *a;
                const int value = static_cast<int>(*++a);
                if (attribute == kCGLPFAOpenGLProfile) profile = value;
                if (attribute == kCGLPFAColorSize) colorBits = value;
                if (attribute == kCGLPFAAlphaSize) alphaBits = value;
                if (attribute == kCGLPFADepthSize) depthBits = value;
                if (attribute == kCGLPFAStencilSize) stencilBits = value;
                break;
            }
            default:
                return kCGLBadAttribute;
        }
    }

    std::vector<EGLint> contextAttributes;
    switch (profile) {
        case kCGLOGLPVersion_Legacy:
            contextAttributes = {EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT};
            break;
        case kCGLOGLPVersion_3_2_Core:
            contextAttributes = CoreContextAttributes();
            contextAttributes.pop_back();  // the list's end is added below
            break;
        case kCGLOGLPVersion_GL4_Core:
            contextAttributes = {EGL_CONTEXT_MAJOR_VERSION, 4, EGL_CONTEXT_MINOR_VERSION, 1,
                                 EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT};
            break;
        default:
            return kCGLBadValue;
    }
    contextAttributes.push_back(EGL_NONE);

    const EGLDisplay display = Display();
    if (display == EGL_NO_DISPLAY) return kCGLBadDisplay;

    EGLConfig config = nullptr;
    EGLint error = EGL_SUCCESS;
    if (!ChooseConfig(display, colorBits / 3, alphaBits, depthBits, stencilBits, &config, &error))
        return FromEGLError(error);  // no matching config: EGL_BAD_CONFIG, a bad pixel format

    auto* format = new _CGLPixelFormatObject;
    format->config = config;
    format->contextAttributes = std::move(contextAttributes);
    *pix = format;
    *npix = 1;
    return kCGLNoError;
}

CGLError CGLDestroyPixelFormat(CGLPixelFormatObj pix) {
    if (!pix || pix->magic != kPixelFormatMagic) return kCGLBadPixelFormat;
    pix->magic = 0;
    delete pix;
    return kCGLNoError;
}

CGLError CGLCreateContext(CGLPixelFormatObj pix, CGLContextObj share, CGLContextObj* ctx) {
    if (!ctx) return kCGLBadAddress;
    *ctx = nullptr;
    if (!pix || pix->magic != kPixelFormatMagic) return kCGLBadPixelFormat;
    if (share && !IsContext(share)) return kCGLBadContext;
    if (TakePlannedFailure()) return kCGLBadAlloc;
    const EGLDisplay display = Display();
    if (display == EGL_NO_DISPLAY) return kCGLBadDisplay;
    // Creation follows the bound API; the caller's binding is given back whatever happens.
    const EGLenum callersAPI = eglQueryAPI();
    if (!BindOpenGL()) return FromEGLError(eglGetError());
    const EGLContext egl = eglCreateContext(display, pix->config, share ? share->egl : EGL_NO_CONTEXT,
                                            pix->contextAttributes.data());
    const EGLint error = eglGetError();
    eglBindAPI(callersAPI);
    if (egl == EGL_NO_CONTEXT) return FromEGLError(error);
    auto* context = new _CGLContextObject;
    context->egl = egl;
    liveContexts.fetch_add(1, std::memory_order_relaxed);
    *ctx = context;
    return kCGLNoError;
}

CGLContextObj CGLRetainContext(CGLContextObj ctx) {
    if (!IsContext(ctx)) return nullptr;
    ctx->references.fetch_add(1, std::memory_order_relaxed);
    return ctx;
}

void CGLReleaseContext(CGLContextObj ctx) {
    if (IsContext(ctx)) DropReference(ctx);
}

CGLError CGLDestroyContext(CGLContextObj ctx) {
    if (!IsContext(ctx)) return kCGLBadContext;
    DropReference(ctx);
    return kCGLNoError;
}

CGLError CGLSetCurrentContext(CGLContextObj ctx) {
    if (ctx && !IsContext(ctx)) return kCGLBadContext;
    // Nothing of ours is current: whatever EGL has on this thread belongs to someone else and stays.
    if (!ctx && !currentContext) return kCGLNoError;
    const EGLDisplay display = Display();
    if (display == EGL_NO_DISPLAY) return kCGLBadDisplay;
    if (!ctx) {
        ReleaseOurs();
        RestoreOutside(true);
    } else {
        if (!currentContext) SaveOutside();
        if (!BindOpenGL() || !eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, ctx->egl)) {
            const EGLint error = eglGetError();
            // The caller's context is still current when ours could not be; only the binding needs undoing.
            if (!currentContext) RestoreOutside(false);
            return FromEGLError(error);
        }
    }
    // The new context's reference is taken before the old one is dropped, so making the same context
    // current again never destroys it on the way.
    if (ctx) {
        CGLRetainContext(ctx);
        ArmThreadEndGuard();
    }
    CGLContextObj previous = currentContext;
    SetCurrentRecord(ctx);
    if (previous) DropReference(previous);
    return kCGLNoError;
}

CGLContextObj CGLGetCurrentContext(void) { return currentContext; }

const char* CGLErrorString(CGLError error) {
    switch (error) {
        case kCGLNoError: return "no error";
        case kCGLBadAttribute: return "invalid pixel format attribute";
        case kCGLBadPixelFormat: return "invalid pixel format";
        case kCGLBadContext: return "invalid context";
        case kCGLBadDisplay: return "invalid display";
        case kCGLBadState: return "invalid context state";
        case kCGLBadValue: return "invalid numerical value";
        case kCGLBadMatch: return "invalid share context";
        case kCGLBadAddress: return "invalid address";
        case kCGLBadAlloc: return "invalid memory allocation";
    }
    return "unknown error";
}

}  // extern "C"

namespace {

// What a context made as the effect makes its own reports, asked once: tools show the renderer and refuse
// frames larger than its textures before a render is tried; the benchmark prints the renderer and version.
struct RendererFacts {
    std::string renderer, version;
    GLint maxTextureSize = 0;
    CGLError failure = kCGLNoError;  // of the step that left no context current, if one did
};

const RendererFacts& Facts() {
    static const RendererFacts facts = [] {
        RendererFacts f;
        const CGLPixelFormatAttribute attributes[] = {kCGLPFAOpenGLProfile,
                                                      CGLPixelFormatAttribute(kCGLOGLPVersion_3_2_Core),
                                                      CGLPixelFormatAttribute(0)};
        CGLPixelFormatObj pix = nullptr;
        GLint screens = 0;
        f.failure = CGLChoosePixelFormat(attributes, &pix, &screens);
        if (f.failure != kCGLNoError) return f;
        CGLContextObj ctx = nullptr;
        f.failure = CGLCreateContext(pix, nullptr, &ctx);
        CGLDestroyPixelFormat(pix);
        if (f.failure != kCGLNoError) return f;
        const CGLContextObj callers = CGLGetCurrentContext();
        f.failure = CGLSetCurrentContext(ctx);
        if (f.failure == kCGLNoError) {
            if (const GLubyte* text = glGetString(GL_RENDERER)) f.renderer = reinterpret_cast<const char*>(text);
            if (const GLubyte* text = glGetString(GL_VERSION)) f.version = reinterpret_cast<const char*>(text);
            GLint largest = 0;
            glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
            if (glGetError() == GL_NO_ERROR && largest > 0) f.maxTextureSize = largest;
            CGLSetCurrentContext(callers);
        }
        CGLDestroyContext(ctx);
        return f;
    }();
    return facts;
}

}  // namespace

extern "C" {

void* CGLStandInDisplay(void) { return Display(); }

const char* CGLStandInRenderer(void) { return Facts().renderer.c_str(); }

const char* CGLStandInVersion(void) { return Facts().version.c_str(); }

const char* CGLStandInContextFailure(void) {
    return Facts().failure == kCGLNoError ? "" : CGLErrorString(Facts().failure);
}

int CGLStandInMaxTextureSize(void) { return int(Facts().maxTextureSize); }

int CGLStandInLiveContextCount(void) { return liveContexts.load(std::memory_order_relaxed); }

void CGLStandInFailContextCreations(int count) {
    failingCreations.store(count > 0 ? count : 0, std::memory_order_relaxed);
}

}  // extern "C"
