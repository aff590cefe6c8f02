// Which EGL display the stand-in opens, as a pure function of what the machine offers, so the order can be
// checked without the devices themselves. A machine with a GPU usually has Mesa installed too, and Mesa then
// lists a software device beside the GPU and answers the surfaceless platform with its software renderer:
// taking either first would render on the CPU without a word. A GPU whose display initialises may still be
// unable to give the effect its context (no OpenGL config, no 3.2 core profile): it must not hide the
// candidates after it.
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

// What it takes for a candidate to open, step by step; each returns false when its step fails. A step is run
// only after the ones before it succeeded for the same candidate.
struct OpeningSteps {
    std::function<bool(const DisplayCandidate&)> initialise;     // get the display and initialise it
    std::function<bool(const DisplayCandidate&)> chooseConfig;   // an OpenGL config for the effect's contexts
    std::function<bool(const DisplayCandidate&)> makeContext;    // make an OpenGL 3.2 core context, destroy it
};

// Stores in *chosen the first candidate for which every step succeeds and returns true; false when none does.
// Candidates are tried in order and none after the first that opens.
bool FirstThatOpens(const std::vector<DisplayCandidate>& order, const OpeningSteps& steps, DisplayCandidate* chosen);

}  // namespace cgl_stand_in
