// The iris-blur library: convolves a GL framebuffer's image with an aperture ("iris") image.
//
// Use, per thread that owns a GL context:
//   pipeline = CreateIrisPipelineOBJ(context)            once, before the context is made current
//   OstrabelSetStretchRunner(pipeline, runner)           optionally, before its first use
//   per level, with the context current:
//     cache = CreateOstrabelImageCacheGL(in_data, pipeline, 8, iris, 50, 1, source_fbo, w, h, reason, capacity)
//     OstrabelGL(cache, sampling_level, destination_fbo, w, h, radius)
//     OstrabelDisposeBlurCacheGL(cache)
//   DeletePipelineCtx(pipeline)                          once, with the context current
//
// Both handles are opaque. Every function may be called on several threads at once, each thread with its own
// context and pipeline object (which keeps the transform plans of the sizes it met); the library's only global
// state is FFTW's planner, shared with the rest of the process, whose own lock it switches on. It leaves the GL
// state as it found it.
#pragma once

#include "AE_Effect.h"

#define OSTRABEL_API __attribute__((visibility("default")))

extern "C" {

// Makes the pipeline object for a GL context that is not current yet (so it makes no GL call).
// Returns null only when memory runs out. `gl_context` is kept for reference and never dereferenced.
OSTRABEL_API void* CreateIrisPipelineOBJ(void* gl_context);

// Frees the pipeline object and everything it made; its context is current. Null does nothing.
OSTRABEL_API void DeletePipelineCtx(void* pipeline);

// Runs one stretch of the library's work that makes no GL call (its calls into the host, its transforms):
// calls stretch(data) exactly once, on the calling thread, and returns after it. A caller that keeps its
// threads' GL work apart lets go of that lock around it.
typedef void (*OstrabelStretchRunner)(void (*stretch)(void* data), void* data);
// Sets the runner of the pipeline's stretches away from GL (null: they run directly); before the pipeline's
// first use. Null pipeline: does nothing.
OSTRABEL_API void OstrabelSetStretchRunner(void* pipeline, OstrabelStretchRunner runner);

// Copies the weights of the iris world and the image of the source framebuffer (`width` by `height`, read as
// RGBA float) into a new blur cache. The iris world's depth is asked of the host's "PF World Suite" through
// `in_data`, since `bit_depth_hint` is 8 for every depth; 8-bit and 32-bit float worlds are read.
// `reserved_a` and `reserved_b` are accepted for the callers' sake and carry no meaning here.
// On failure: null, and a NUL-terminated reason in `error_buffer`, written within `error_capacity` bytes.
OSTRABEL_API void* CreateOstrabelImageCacheGL(PF_InData* in_data, void* pipeline, int bit_depth_hint,
                                              PF_EffectWorld* iris_world, int reserved_a, int reserved_b,
                                              unsigned int source_framebuffer, int width, int height,
                                              char* error_buffer, int error_capacity);

// Writes the cached source convolved with the iris into the destination framebuffer (a target of the source's
// size). The iris is scaled so that its longer side spans 2 * `radius` pixels and centred; its weights sum to 1.
// It is placed the same way up as the image: the iris world's top row (host row 0) toward the framebuffer's
// row 0, so that with images that hold the picture's top row in GL row 0 a bright point lights the iris
// upright. A radius under half a pixel copies the source. `sampling_level` runs from 1 (finest kernel) to 5
// (coarsest, fastest). A null cache does nothing.
OSTRABEL_API void OstrabelGL(void* cache, int sampling_level, unsigned int destination_framebuffer, int width,
                             int height, float radius);

// Frees a blur cache. Null does nothing.
OSTRABEL_API void OstrabelDisposeBlurCacheGL(void* cache);

}  // extern "C"
