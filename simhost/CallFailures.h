// The code a host call answers with when the fault injector says it must fail. Each call has its own default
// (allocations run out of memory; other calls report a damaged structure) and a test may change it, for
// instance to the user's interrupt: SetFailureCode(host, "PF_NewWorld", PF_Interrupt_CANCEL).
#pragma once

#include <string>

#include "sdk/AE_Effect.h"

namespace simhost {

class SimHost;

void SetFailureCode(SimHost& host, const std::string& call, PF_Err err);
// Asks host.Faults().ShouldFail(call); 0 when the call goes ahead, else its failure code.
PF_Err PlannedFailure(SimHost& host, const std::string& call, PF_Err defaultCode = PF_Err_INTERNAL_STRUCT_DAMAGED);

}  // namespace simhost
