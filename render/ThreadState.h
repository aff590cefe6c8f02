// Per-thread GL state of the render: each host render thread owns its own GL context, the iris-blur
// library's pipeline object and its own seven programs, built on its first render and torn down when the
// thread ends. The same layout is the effect's global data block.
#pragma once

#include <memory>

#include "gl/GLContext.h"
#include "gl/Program.h"
#include "sdk/AE_Effect.h"

constexpr int kProgramSlotCount = 7;

struct LocalGLStruct {
    CGLContextObj gl_ctx = nullptr;  // owned; null when its creation failed
    void* blur_ctx = nullptr;        // the blur library's pipeline object for gl_ctx; null in the global copy
    Program programs[kProgramSlotCount];
    char glVersion[100] = {};        // filled only in the global copy
    char glRenderer[100] = {};
};

// The global data block lives in the host's global-data handle with this layout.
using GlobalRenderData = LocalGLStruct;

struct tls_ctx_deleter {
    void operator()(LocalGLStruct* record) const;
};

// The calling thread's record; empty until its first successful start.
extern thread_local std::unique_ptr<LocalGLStruct, tls_ctx_deleter> local_render_data;

// Before any GL work of a frame: builds the thread's record on first use (when the global block and its
// context exist) and makes its context current.
void InitThreadLocalRenderData(PF_InData* in_data, PF_OutData* out_data);

// Test seam, never changed by the effect: the calls that build and tear down a thread's record. A test puts
// wrappers here to watch their order and to make one of them fail; the defaults are the real functions.
struct ThreadStateCalls {
    CGLContextObj (*createContext)(CGLContextObj share, CGLPixelFormatAttribute* attributes);
    void (*deleteContext)(CGLContextObj ctx);
    void* (*createPipeline)(void* gl_context);
    void (*deletePipeline)(void* pipeline);
    bool (*buildPrograms)(Program (&programs)[kProgramSlotCount], PF_OutData* out_data);
    void (*releasePrograms)(Program (&programs)[kProgramSlotCount]);
};
// The real calls.
ThreadStateCalls DefaultThreadStateCalls();
// The calls in use; change them only while no thread builds or tears down a record.
ThreadStateCalls& ThreadStateCallsForTesting();
