// Per-row work spread over threads, as a host spreads its pixel iteration.
#pragma once

#include <functional>

#include "sdk/AE_Effect.h"

namespace simhost {

// Runs fn(y) for every y in [0, height) on up to `threads` threads (the calling thread being one of them).
// The first non-zero result stops the rows not yet started and is returned; rows already running finish.
PF_Err ParallelRows(A_long height, int threads, const std::function<PF_Err(A_long y)>& fn);

}  // namespace simhost
