// The services a host application has in place before it sends an effect its first command.
#pragma once

#include "simhost/SimHost.h"

namespace velloran_bench {

// Parameters, the effect's layer and its composition, worlds, iteration and transfer services. The
// composition's layer suites are installed after the single-layer ones, so that the effect's layer is the
// composition's input layer.
void InstallHostServices(simhost::SimHost& host);

}  // namespace velloran_bench
