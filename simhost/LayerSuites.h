// The effect's place in the composition as the host's suites report it: its layer and the layer's flags
// (collapse, adjustment), the composition and its working-space colour profile with an approximate gamma;
// beside them the colour-parameter and world suites that the settings record uses. Installed on first use.
//
// Faults (host.Faults().FailCall(name, nth)), each failing with PF_Err_INTERNAL_STRUCT_DAMAGED:
// "AEGP_GetEffectLayer", "AEGP_GetLayerFlags", "AEGP_GetLayerParentComp", "AEGP_GetNewWorkingSpaceColorProfile",
// "AEGP_GetColorProfileApproximateGamma", "AEGP_DisposeColorProfile", "PF_GetFloatingPointColorFromColorDef",
// "PF_GetPixelFormat", "PF_NewWorld" (out of memory; SetFailureCode may change it), "PF_DisposeWorld".
// The worlds themselves are kept by the host's world registry (simhost/WorldSuites.h); the layer suite's
// masked bounds, comp time and layer-to-world calls come from the composition (simhost/Composition.h).
#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "sdk/AEGP_Suites.h"
#include "sdk/AE_Effect.h"
#include "simhost/World.h"

namespace simhost {

class SimHost;

class EffectLayer {
public:
    explicit EffectLayer(SimHost& host);  // adds the suites to the host
    EffectLayer(const EffectLayer&) = delete;
    EffectLayer& operator=(const EffectLayer&) = delete;

    // What the host reports. By default the effect sits on an ordinary layer of a composition whose working
    // space has gamma 2.2.
    void SetHasLayer(bool has);
    void SetLayerFlags(AEGP_LayerFlags flags);
    void SetHasComp(bool has);
    void SetHasWorkingSpaceProfile(bool has);
    void SetWorkingSpaceGamma(float gamma);

    int ProfilesAlive() const;  // made and not yet disposed
    int ProfilesMade() const;
    int WorldsAlive() const;    // made by PF_NewWorld and not yet disposed

    // Suite entries.
    A_Err GetEffectLayer(AEGP_LayerH* layer);
    A_Err GetLayerFlags(AEGP_LayerH layer, AEGP_LayerFlags* flags);
    A_Err GetLayerParentComp(AEGP_LayerH layer, AEGP_CompH* comp);
    A_Err NewWorkingSpaceProfile(AEGP_CompH comp, AEGP_ColorProfileP* profile);
    A_Err ProfileGamma(AEGP_ConstColorProfileP profile, A_FpShort* gamma);
    A_Err DisposeProfile(AEGP_ColorProfileP profile);
    PF_Err NewWorld(A_long width, A_long height, PF_Boolean clear, PF_PixelFormat format, PF_EffectWorld* world);
    PF_Err DisposeWorld(PF_EffectWorld* world);

    SimHost& host() { return host_; }

private:
    struct Profile {
        float gamma;
    };
    SimHost& host_;
    mutable std::mutex mutex_;
    bool hasLayer_ = true;
    AEGP_LayerFlags flags_ = AEGP_LayerFlag_NONE;
    bool hasComp_ = true;
    bool hasProfile_ = true;
    float gamma_ = 2.2f;
    std::map<const void*, std::unique_ptr<Profile>> profiles_;
    int profilesMade_ = 0;
};

EffectLayer& EffectLayerOf(SimHost& host);
// The handle AEGP_GetEffectLayer gives for the effect's layer.
AEGP_LayerH EffectLayerHandle();

}  // namespace simhost
