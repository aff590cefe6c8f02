// Stand-in for the host's basic suite: suites are acquired and released by name and version.
#pragma once

#include "AE_Effect.h"

extern "C" {

typedef A_long SPErr;
enum : A_long { kSPNoError = 0, kSPSuiteNotFoundError = 1 };

typedef struct SPBasicSuite {
    SPErr (*AcquireSuite)(const char* name, A_long version, const void** suite);
    SPErr (*ReleaseSuite)(const char* name, A_long version);
    A_Boolean (*IsEqual)(const char* token1, const char* token2);
    SPErr (*AllocateBlock)(size_t size, void** block);
    SPErr (*FreeBlock)(void* block);
    SPErr (*ReallocateBlock)(void* block, size_t new_size, void** new_block);
    SPErr (*Undefined)(void);
} SPBasicSuite;

}  // extern "C"
