#include "bench/HostSetup.h"

// The single-layer services (colour settings and parameters) live in a header whose names clash with the
// composition's, so they are installed from a file of their own.
#include "simhost/LayerSuites.h"
#include "simhost/ParamStore.h"

namespace velloran_bench {

void InstallCompositionServices(simhost::SimHost& host);  // in HostComposition.cpp

void InstallHostServices(simhost::SimHost& host) {
    simhost::Params(host);
    simhost::Layer(host);
    InstallCompositionServices(host);
}

}  // namespace velloran_bench
