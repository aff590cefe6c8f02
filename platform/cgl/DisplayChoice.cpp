#include "DisplayChoice.h"

namespace cgl_stand_in {

std::vector<DisplayCandidate> DisplayOrder(const std::vector<DeviceDescription>& devices) {
    std::vector<DisplayCandidate> order;
    for (size_t i = 0; i < devices.size(); ++i)
        if (!devices[i].software) order.push_back({DisplayCandidate::Device, int(i)});
    // Mesa's surfaceless platform picks a render node itself when it can, so it comes before the plain
    // software device; where Mesa is all there is, both give the same renderer.
    order.push_back({DisplayCandidate::Surfaceless, -1});
    for (size_t i = 0; i < devices.size(); ++i)
        if (devices[i].software) order.push_back({DisplayCandidate::Device, int(i)});
    return order;
}

bool FirstThatOpens(const std::vector<DisplayCandidate>& order, const OpeningSteps& steps, DisplayCandidate* chosen) {
    for (const DisplayCandidate& candidate : order) {
        if (steps.initialise(candidate) && steps.chooseConfig(candidate) && steps.makeContext(candidate)) {
            *chosen = candidate;
            return true;
        }
    }
    return false;
}

}  // namespace cgl_stand_in
