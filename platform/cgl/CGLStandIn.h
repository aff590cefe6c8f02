// What the EGL-backed stand-in adds to the CGL-shaped API for its own tests: how many contexts are alive
// (created and not yet destroyed) in this process.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

int CGLStandInLiveContextCount(void);

#ifdef __cplusplus
}
#endif
