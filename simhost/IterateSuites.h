// The host's pixel-iteration suites, "PF Iterate8 Suite" and "PF iterateFloat Suite" version 1: `iterate`
// visits every pixel of an area of real worlds, spreading the rows over the host's worker threads. The source
// world may be null (the callback then gets a null input pixel and the destination bounds the area).
//
// Fault names for FaultInjector::FailCall: kIterate8Fault / kIterateFloatFault make a call fail with
// PF_Err_INTERNAL_STRUCT_DAMAGED before any pixel; kIterate8Interrupt / kIterateFloatInterrupt make a call
// stop with PF_Interrupt_CANCEL after the first half of the rows, as a user's cancel in mid-iteration would.
#pragma once

#include "sdk/AE_EffectSuites.h"

namespace simhost {

class SimHost;

constexpr const char* kIterate8Fault = "iterate8";
constexpr const char* kIterateFloatFault = "iterateFloat";
constexpr const char* kIterate8Interrupt = "iterate8 interrupt";
constexpr const char* kIterateFloatInterrupt = "iterateFloat interrupt";

// Serves both suites from this host; called by the host when it is made.
void InstallIterateSuites(SimHost& host);

}  // namespace simhost
