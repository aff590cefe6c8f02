// Which EGL display the stand-in opens, as a pure function of what the machine offers, so the order can be
// checked without the devices themselves. A machine with a GPU usually has Mesa installed too, and Mesa then
// lists a software device beside the GPU and answers the surfaceless platform with its software renderer:
// taking either first would render on the CPU without a word.
#pragma once

#include <functional>
#include <vector>

namespace cgl_stand_in {

struct DeviceDescription {
    bool software = false;  // the device lists EGL_MESA_device_software
};

struct DisplayCandidate {
    enum Kind { Device, Surfaceless };
    Kind kind = Device;
    int device = -1;  // index into the device list, for Device

    bool operator==(const DisplayCandidate& other) const { return kind == other.kind && device == other.device; }
};

// Hardware devices in the order EGL lists them, then Mesa's surfaceless platform, then the software devices.
std::vector<DisplayCandidate> DisplayOrder(const std::vector<DeviceDescription>& devices);

// Stores in *chosen the first candidate that `opens` accepts and returns true; false when none does.
// `opens` is tried in order and not after the first success.
bool FirstThatOpens(const std::vector<DisplayCandidate>& order,
                    const std::function<bool(const DisplayCandidate&)>& opens, DisplayCandidate* chosen);

}  // namespace cgl_stand_in
