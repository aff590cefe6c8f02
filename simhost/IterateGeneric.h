// "AEGP Iterate Suite" v1: AEGP_IterateGeneric calls the effect's function for every index from 0 to
// iterations - 1, spread over the host's worker threads; each call is told which of those threads runs it.
//
// Fault name for FaultInjector::FailCall: kIterateGenericFault makes a call fail (PF_Err_INTERNAL_STRUCT_DAMAGED
// by default) before any iteration.
#pragma once

#include "sdk/AEGP_IterateSuite.h"

namespace simhost {

class SimHost;

constexpr const char* kIterateGenericFault = "AEGP_IterateGeneric";

// Serves the suite from this host; called by the host when it is made.
void InstallIterateGenericSuite(SimHost& host);

}  // namespace simhost
