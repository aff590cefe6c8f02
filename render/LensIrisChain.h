// The "Lens Iris" chain's buffer plan and its calls into the iris-blur library. The chain itself is declared
// in render/PassChains.h.
#pragma once

#include <vector>

#include "Ostrabel.h"
#include "render/GlowLevels.h"

// Which buffer each iteration is convolved from, and the buffers to make.
struct IrisBufferPlan {
    int res = 0;                   // the most buffers the output's size allows (at least 1)
    std::vector<int> bufIdx;       // one entry per iteration, each below buffers.size()
    std::vector<bloomMip> buffers; // scale 0.5^k, width and height of buffer k (no other field is set)
};

// The plan of a W by H output with `iterations` iterations (taken as at least 1) at the iris quality preset
// `quality`. Buffer k is half of buffer k - 1, as many as safe = floor(log2(min(W, H) / 20)) allows, at most 5
// and at most the iterations; later iterations use smaller buffers, at a pace set by the preset. An output
// too small for even one halving (shorter side under 40 pixels) gets one full-size buffer.
IrisBufferPlan PlanIrisBuffers(int W, int H, int iterations, int quality);

// Test seam, never changed by the effect: the three per-iteration calls into the blur library. A test puts
// wrappers here to watch the arguments; the defaults are the library's functions.
struct IrisBlurCalls {
    decltype(&CreateOstrabelImageCacheGL) createCache;
    decltype(&OstrabelGL) blur;
    decltype(&OstrabelDisposeBlurCacheGL) dispose;
};
IrisBlurCalls DefaultIrisBlurCalls();
// The calls in use; change them only while no frame renders.
IrisBlurCalls& IrisBlurCallsForTesting();
