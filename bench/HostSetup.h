// The services a host application has in place before it sends an effect its first command.
#pragma once

#include "simhost/SimHost.h"

namespace velloran_bench {

// Parameters, the effect's layer in its composition with the colour settings, and the worlds with fill, copy
// and transfers (the iteration suites come with the host itself).
void InstallHostServices(simhost::SimHost& host);

}  // namespace velloran_bench
