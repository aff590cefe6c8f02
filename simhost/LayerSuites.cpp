#include "simhost/LayerSuites.h"

#include "sdk/AE_EffectSuites.h"
#include "simhost/CallFailures.h"
#include "simhost/Composition.h"
#include "simhost/EffectControls.h"
#include "simhost/SimHost.h"
#include "simhost/WorldSuites.h"

namespace simhost {

namespace {

// The layer and composition handles are the host object's own address plus a tag: only their identity matters.
char gLayerTag;
char gCompTag;
AEGP_LayerH TheLayer() { return reinterpret_cast<AEGP_LayerH>(&gLayerTag); }
AEGP_CompH TheComp() { return reinterpret_cast<AEGP_CompH>(&gCompTag); }

}  // namespace

AEGP_LayerH EffectLayerHandle() { return TheLayer(); }

namespace {

EffectLayer* Active() {
    SimHost* host = SimHost::Active();
    return host ? host->FindService<EffectLayer>() : nullptr;
}

bool Fails(const char* call) {
    SimHost* host = SimHost::Active();
    return host && host->Faults().ShouldFail(call);
}

constexpr A_Err kFault = PF_Err_INTERNAL_STRUCT_DAMAGED;

A_Err GetEffectLayer(PF_ProgPtr effect_ref, AEGP_LayerH* layer) {
    EffectLayer* l = Active();
    if (!l || !layer || !SimHost::FromRef(effect_ref)) return PF_Err_BAD_CALLBACK_PARAM;
    return l->GetEffectLayer(layer);
}
A_Err GetLayerFlags(AEGP_LayerH layer, AEGP_LayerFlags* flags) {
    EffectLayer* l = Active();
    return l && flags ? l->GetLayerFlags(layer, flags) : PF_Err_BAD_CALLBACK_PARAM;
}
A_Err GetLayerParentComp(AEGP_LayerH layer, AEGP_CompH* comp) {
    EffectLayer* l = Active();
    return l && comp ? l->GetLayerParentComp(layer, comp) : PF_Err_BAD_CALLBACK_PARAM;
}
A_Err GetNewWorkingSpaceColorProfile(AEGP_PluginID, AEGP_CompH comp, AEGP_ColorProfileP* profile) {
    EffectLayer* l = Active();
    return l && profile ? l->NewWorkingSpaceProfile(comp, profile) : PF_Err_BAD_CALLBACK_PARAM;
}
A_Err GetColorProfileApproximateGamma(AEGP_ConstColorProfileP profile, A_FpShort* gamma) {
    EffectLayer* l = Active();
    return l && gamma ? l->ProfileGamma(profile, gamma) : PF_Err_BAD_CALLBACK_PARAM;
}
A_Err DisposeColorProfile(AEGP_ColorProfileP profile) {
    EffectLayer* l = Active();
    return l ? l->DisposeProfile(profile) : PF_Err_BAD_CALLBACK_PARAM;
}

PF_Err GetFloatingPointColorFromColorDef(PF_ProgPtr effect_ref, const PF_ParamDef* def, PF_PixelFloat* color) {
    if (!SimHost::FromRef(effect_ref) || !def || !color || def->param_type != PF_Param_COLOR)
        return PF_Err_BAD_CALLBACK_PARAM;
    if (Fails("PF_GetFloatingPointColorFromColorDef")) return kFault;
    const PF_Pixel& p = def->u.cd.value;
    color->alpha = p.alpha / 255.0f;
    color->red = p.red / 255.0f;
    color->green = p.green / 255.0f;
    color->blue = p.blue / 255.0f;
    return PF_Err_NONE;
}

PF_Err GetPixelFormat(const PF_EffectWorld* world, PF_PixelFormat* format) {
    if (!world || !format) return PF_Err_BAD_CALLBACK_PARAM;
    if (Fails("PF_GetPixelFormat")) return kFault;
    *format = PixelFormatOf(DepthOfWorld(*world));
    return PF_Err_NONE;
}

PF_Err NewWorld(PF_ProgPtr effect_ref, A_long width, A_long height, PF_Boolean clear, PF_PixelFormat format,
                PF_EffectWorld* world) {
    EffectLayer* l = Active();
    if (!l || !world || !SimHost::FromRef(effect_ref)) return PF_Err_BAD_CALLBACK_PARAM;
    return l->NewWorld(width, height, clear, format, world);
}

PF_Err DisposeWorld(PF_ProgPtr effect_ref, PF_EffectWorld* world) {
    EffectLayer* l = Active();
    if (!l || !world || !SimHost::FromRef(effect_ref)) return PF_Err_BAD_CALLBACK_PARAM;
    return l->DisposeWorld(world);
}

const AEGP_PFInterfaceSuite1 kPFInterfaceSuite1 = {GetEffectLayer, HostGetNewEffectForEffect};
const AEGP_LayerSuite13 kLayerSuite13 = {GetLayerFlags, GetLayerParentComp, CompositionLayerMaskedBounds,
                                         CompositionLayerToCompTime, CompositionLayerToWorldXform, HostGetLayerFromLayerID};
const PF_ColorSettingsSuite3 kColorSettingsSuite3 = {GetNewWorkingSpaceColorProfile, GetColorProfileApproximateGamma,
                                                     DisposeColorProfile};
const PF_ColorParamSuite1 kColorParamSuite1 = {GetFloatingPointColorFromColorDef};
const PF_WorldSuite2 kWorldSuite2 = {NewWorld, DisposeWorld, GetPixelFormat};

}  // namespace

EffectLayer::EffectLayer(SimHost& host) : host_(host) {
    host.AddSuite(kAEGPPFInterfaceSuite, 1, &kPFInterfaceSuite1);
    host.AddSuite(kAEGPLayerSuite, 13, &kLayerSuite13);
    host.AddSuite(kPFColorSettingsSuite, 3, &kColorSettingsSuite3);
    host.AddSuite(kPFColorParamSuite, 1, &kColorParamSuite1);
    host.AddSuite(kPFWorldSuite, 2, &kWorldSuite2);
}

void EffectLayer::SetHasLayer(bool has) {
    std::lock_guard<std::mutex> lock(mutex_);
    hasLayer_ = has;
}
void EffectLayer::SetLayerFlags(AEGP_LayerFlags flags) {
    std::lock_guard<std::mutex> lock(mutex_);
    flags_ = flags;
}
void EffectLayer::SetHasComp(bool has) {
    std::lock_guard<std::mutex> lock(mutex_);
    hasComp_ = has;
}
void EffectLayer::SetHasWorkingSpaceProfile(bool has) {
    std::lock_guard<std::mutex> lock(mutex_);
    hasProfile_ = has;
}
void EffectLayer::SetWorkingSpaceGamma(float gamma) {
    std::lock_guard<std::mutex> lock(mutex_);
    gamma_ = gamma;
}
int EffectLayer::ProfilesAlive() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return int(profiles_.size());
}
int EffectLayer::ProfilesMade() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return profilesMade_;
}
int EffectLayer::WorldsAlive() const { return Worlds(host_).Alive(); }

A_Err EffectLayer::GetEffectLayer(AEGP_LayerH* layer) {
    if (host_.Faults().ShouldFail("AEGP_GetEffectLayer")) return kFault;
    std::lock_guard<std::mutex> lock(mutex_);
    *layer = hasLayer_ ? TheLayer() : nullptr;
    return PF_Err_NONE;
}

A_Err EffectLayer::GetLayerFlags(AEGP_LayerH layer, AEGP_LayerFlags* flags) {
    if (layer != TheLayer()) return PF_Err_BAD_CALLBACK_PARAM;
    if (host_.Faults().ShouldFail("AEGP_GetLayerFlags")) return kFault;
    std::lock_guard<std::mutex> lock(mutex_);
    *flags = flags_;
    return PF_Err_NONE;
}

A_Err EffectLayer::GetLayerParentComp(AEGP_LayerH layer, AEGP_CompH* comp) {
    if (layer != TheLayer()) return PF_Err_BAD_CALLBACK_PARAM;
    if (host_.Faults().ShouldFail("AEGP_GetLayerParentComp")) return kFault;
    std::lock_guard<std::mutex> lock(mutex_);
    *comp = hasComp_ ? TheComp() : nullptr;
    return PF_Err_NONE;
}

A_Err EffectLayer::NewWorkingSpaceProfile(AEGP_CompH comp, AEGP_ColorProfileP* profile) {
    if (comp != TheComp()) return PF_Err_BAD_CALLBACK_PARAM;
    if (host_.Faults().ShouldFail("AEGP_GetNewWorkingSpaceColorProfile")) return kFault;
    std::lock_guard<std::mutex> lock(mutex_);
    *profile = nullptr;
    if (!hasProfile_) return PF_Err_NONE;
    auto made = std::make_unique<Profile>(Profile{gamma_});
    *profile = reinterpret_cast<AEGP_ColorProfileP>(made.get());
    profiles_[made.get()] = std::move(made);
    ++profilesMade_;
    return PF_Err_NONE;
}

A_Err EffectLayer::ProfileGamma(AEGP_ConstColorProfileP profile, A_FpShort* gamma) {
    if (host_.Faults().ShouldFail("AEGP_GetColorProfileApproximateGamma")) return kFault;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = profiles_.find(profile);
    if (it == profiles_.end()) return PF_Err_BAD_CALLBACK_PARAM;
    *gamma = it->second->gamma;
    return PF_Err_NONE;
}

A_Err EffectLayer::DisposeProfile(AEGP_ColorProfileP profile) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = profiles_.find(profile);
    if (it == profiles_.end()) return PF_Err_BAD_CALLBACK_PARAM;
    profiles_.erase(it);  // disposed even when the call then reports a failure, as the host frees it first
    return host_.Faults().ShouldFail("AEGP_DisposeColorProfile") ? kFault : PF_Err_NONE;
}

// One registry of host-made worlds for the whole host, which tracks them per frame (simhost/WorldSuites.h).
PF_Err EffectLayer::NewWorld(A_long width, A_long height, PF_Boolean clear, PF_PixelFormat format,
                             PF_EffectWorld* world) {
    if (PF_Err err = PlannedFailure(host_, "PF_NewWorld", PF_Err_OUT_OF_MEMORY)) return err;
    return Worlds(host_).New(width, height, clear != 0, format, world, CurrentFrameOnThisThread());
}

PF_Err EffectLayer::DisposeWorld(PF_EffectWorld* world) {
    if (PF_Err err = PlannedFailure(host_, "PF_DisposeWorld")) return err;
    const PF_Err err = Worlds(host_).Dispose(world);
    if (!err) *world = PF_EffectWorld{};
    return err;
}

EffectLayer& EffectLayerOf(SimHost& host) { return host.Service<EffectLayer>(); }

}  // namespace simhost
