// Stand-in for the host's "AEGP Iterate Suite": a generic parallel loop. The host calls the function once per
// iteration index, possibly on several of its threads at once, and stops at the first non-zero result.
#pragma once

#include "AEGP_Suites.h"

extern "C" {

// One iteration: the caller's refcon, the host thread running it (0 .. threads - 1), the index i and the total.
typedef A_Err (*AEGP_IterateGenericFunc)(void* refconPV, A_long thread_indexL, A_long i, A_long iterationsL);

// "AEGP Iterate Suite", version 1
#define kAEGPIterateSuite "AEGP Iterate Suite"
#define kAEGPIterateSuiteVersion1 1
typedef struct AEGP_IterateSuite1 {
    A_Err (*AEGP_IterateGeneric)(A_long iterationsL, void* refconPV, AEGP_IterateGenericFunc fn_func);
} AEGP_IterateSuite1;

}  // extern "C"
