#include "bench/HostSetup.h"

#include "simhost/Composition.h"
#include "simhost/LayerSuites.h"
#include "simhost/ParamStore.h"
#include "simhost/WorldSuites.h"

namespace velloran_bench {

void InstallHostServices(simhost::SimHost& host) {
    simhost::Params(host);
    simhost::EffectLayerOf(host);
    simhost::Comp(host);
    simhost::Worlds(host);  // with fill, copy and the transfer suite
}

}  // namespace velloran_bench
