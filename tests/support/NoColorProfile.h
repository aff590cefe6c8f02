// A colour-settings suite for frame tests that answers "no working-space profile": the effect then renders
// without the working space's gamma, so expected values follow from the parameters alone.
#pragma once

#include "sdk/AEGP_Suites.h"

namespace testsupport {

inline A_Err NoProfile(AEGP_PluginID, AEGP_CompH, AEGP_ColorProfileP* profile) {
    *profile = nullptr;
    return PF_Err_NONE;
}
inline A_Err NoGamma(AEGP_ConstColorProfileP, A_FpShort* gamma) {
    *gamma = 0;
    return PF_Err_NONE;
}
inline A_Err NoDispose(AEGP_ColorProfileP) { return PF_Err_NONE; }
inline const PF_ColorSettingsSuite3 kNoProfileSuite = {NoProfile, NoGamma, NoDispose};

}  // namespace testsupport
