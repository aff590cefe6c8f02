#include "simhost/Composition.h"
#include "simhost/IterateSuites.h"
#include "simhost/SimHost.h"
#include "simhost/TransferRect.h"
#include "simhost/WorldSuites.h"

namespace velloran_bench {

void InstallCompositionServices(simhost::SimHost& host) {
    simhost::Comp(host);
    simhost::Worlds(host);
    simhost::InstallIterateSuites(host);
    simhost::InstallWorldTransformSuite(host);
}

}  // namespace velloran_bench
