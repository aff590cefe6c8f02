#include "simhost/Composition.h"

#include <cmath>
#include <stdexcept>

#include "simhost/CallFailures.h"
#include "simhost/SimHost.h"

namespace simhost {

namespace {

Composition* CompOf(PF_ProgPtr effect_ref) {
    SimHost* host = SimHost::FromRef(effect_ref);
    return host ? &Comp(*host) : nullptr;
}
Composition* ActiveComp() {
    SimHost* host = SimHost::Active();
    return host ? &Comp(*host) : nullptr;
}

A_Err GetEffectLayer(PF_ProgPtr effect_ref, AEGP_LayerH* layer) {
    Composition* comp = CompOf(effect_ref);
    return comp ? comp->GetEffectLayer(layer) : A_Err(PF_Err_BAD_CALLBACK_PARAM);
}
A_Err GetLayerFlags(AEGP_LayerH layer, AEGP_LayerFlags* flags) {
    Composition* comp = ActiveComp();
    return comp ? comp->GetLayerFlags(layer, flags) : A_Err(PF_Err_BAD_CALLBACK_PARAM);
}
A_Err GetLayerParentComp(AEGP_LayerH layer, AEGP_CompH* parent) {
    Composition* comp = ActiveComp();
    return comp ? comp->GetLayerParentComp(layer, parent) : A_Err(PF_Err_BAD_CALLBACK_PARAM);
}
A_Err GetLayerMaskedBounds(AEGP_LayerH layer, AEGP_LTimeMode mode, const A_Time* time, A_FloatRect* bounds) {
    Composition* comp = ActiveComp();
    return comp ? comp->GetLayerMaskedBounds(layer, mode, time, bounds) : A_Err(PF_Err_BAD_CALLBACK_PARAM);
}
A_Err ConvertLayerToCompTime(AEGP_LayerH layer, const A_Time* layer_time, A_Time* comp_time) {
    Composition* comp = ActiveComp();
    return comp ? comp->ConvertLayerToCompTime(layer, layer_time, comp_time) : A_Err(PF_Err_BAD_CALLBACK_PARAM);
}
A_Err GetLayerToWorldXform(AEGP_LayerH layer, const A_Time* comp_time, A_Matrix4* transform) {
    Composition* comp = ActiveComp();
    return comp ? comp->GetLayerToWorldXform(layer, comp_time, transform) : A_Err(PF_Err_BAD_CALLBACK_PARAM);
}

const AEGP_PFInterfaceSuite1 kPFInterfaceSuite1 = {GetEffectLayer};
const AEGP_LayerSuite13 kLayerSuite13 = {GetLayerFlags, GetLayerParentComp, GetLayerMaskedBounds,
                                         ConvertLayerToCompTime, GetLayerToWorldXform};

}  // namespace

Composition::Composition(SimHost& host) : host_(host) {
    host.AddSuite(kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1, &kPFInterfaceSuite1);
    host.AddSuite(kAEGPLayerSuite, kAEGPLayerSuiteVersion13, &kLayerSuite13);
}

Composition& Comp(SimHost& host) { return host.Service<Composition>(); }

LayerId Composition::AddLayer(SimWorld pixels, A_long x, A_long y, const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    Layer layer;
    layer.id = LayerId(layers_.size()) + 1;
    layer.name = name.empty() ? "Layer " + std::to_string(layer.id) : name;
    layer.pixels = std::move(pixels);
    layer.x = x;
    layer.y = y;
    layers_.push_back(std::move(layer));
    if (!input_) input_ = layers_.back().id;
    return layers_.back().id;
}

Layer* Composition::Mutable(LayerId id) {
    if (id < 1 || id > LayerId(layers_.size())) return nullptr;
    return &layers_[size_t(id - 1)];
}

const Layer* Composition::Find(LayerId id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return const_cast<Composition*>(this)->Mutable(id);
}

void Composition::SetInputLayer(LayerId id) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (id && !Mutable(id)) throw std::invalid_argument("Composition: no layer " + std::to_string(id));
    input_ = id;
}

LayerId Composition::InputLayer() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return input_;
}

void Composition::SetLayerParam(PF_ParamIndex index, LayerId id) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (id && !Mutable(id)) throw std::invalid_argument("Composition: no layer " + std::to_string(id));
    if (index == 0) {
        input_ = id;
        return;
    }
    layerParams_[index] = id;
}

LayerId Composition::LayerForParam(PF_ParamIndex index) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index == 0) return input_;
    auto it = layerParams_.find(index);
    return it == layerParams_.end() ? 0 : it->second;
}

void Composition::SetLayerFlags(LayerId id, AEGP_LayerFlags flags) {
    std::lock_guard<std::mutex> lock(mutex_);
    Layer* layer = Mutable(id);
    if (!layer) throw std::invalid_argument("Composition: no layer " + std::to_string(id));
    layer->flags = flags;
}

void Composition::SetLayerStart(LayerId id, A_Time start) {
    std::lock_guard<std::mutex> lock(mutex_);
    Layer* layer = Mutable(id);
    if (!layer || start.scale == 0) throw std::invalid_argument("Composition: bad layer or start time");
    layer->start = start;
}

void Composition::MoveLayer(LayerId id, A_long x, A_long y) {
    std::lock_guard<std::mutex> lock(mutex_);
    Layer* layer = Mutable(id);
    if (!layer) throw std::invalid_argument("Composition: no layer " + std::to_string(id));
    layer->x = x;
    layer->y = y;
}

std::vector<LayerQuery> Composition::Queries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queries_;
}

AEGP_LayerH Composition::Handle(const Layer* layer) {
    return reinterpret_cast<AEGP_LayerH>(const_cast<Layer*>(layer));
}

Layer* Composition::FromHandle(AEGP_LayerH h) {
    for (Layer& layer : layers_)
        if (Handle(&layer) == h) return &layer;
    return nullptr;
}

void Composition::Record(const char* call, const Layer& layer, const A_Time& time) {
    queries_.push_back(LayerQuery{call, layer.id, time});
}

A_Err Composition::GetEffectLayer(AEGP_LayerH* layer) {
    if (!layer) return PF_Err_BAD_CALLBACK_PARAM;
    *layer = nullptr;
    if (PF_Err err = PlannedFailure(host_, "AEGP_GetEffectLayer")) return err;
    std::lock_guard<std::mutex> lock(mutex_);
    if (Layer* input = Mutable(input_)) *layer = Handle(input);
    return PF_Err_NONE;
}

A_Err Composition::GetLayerFlags(AEGP_LayerH h, AEGP_LayerFlags* flags) {
    if (!flags) return PF_Err_BAD_CALLBACK_PARAM;
    if (PF_Err err = PlannedFailure(host_, "AEGP_GetLayerFlags")) return err;
    std::lock_guard<std::mutex> lock(mutex_);
    Layer* layer = FromHandle(h);
    if (!layer) return PF_Err_BAD_CALLBACK_PARAM;
    *flags = layer->flags;
    return PF_Err_NONE;
}

A_Err Composition::GetLayerParentComp(AEGP_LayerH h, AEGP_CompH* parent) {
    if (!parent) return PF_Err_BAD_CALLBACK_PARAM;
    *parent = nullptr;
    if (PF_Err err = PlannedFailure(host_, "AEGP_GetLayerParentComp")) return err;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!FromHandle(h)) return PF_Err_BAD_CALLBACK_PARAM;
    *parent = reinterpret_cast<AEGP_CompH>(this);
    return PF_Err_NONE;
}

A_Err Composition::GetLayerMaskedBounds(AEGP_LayerH h, AEGP_LTimeMode, const A_Time* time, A_FloatRect* bounds) {
    if (!time || !bounds) return PF_Err_BAD_CALLBACK_PARAM;
    if (PF_Err err = PlannedFailure(host_, "AEGP_GetLayerMaskedBounds")) return err;
    std::lock_guard<std::mutex> lock(mutex_);
    Layer* layer = FromHandle(h);
    if (!layer) return PF_Err_BAD_CALLBACK_PARAM;
    Record("AEGP_GetLayerMaskedBounds", *layer, *time);
    // The composition's layers have no masks: the bounds are the layer's own pixels.
    *bounds = A_FloatRect{0, 0, double(layer->pixels.width()), double(layer->pixels.height())};
    return PF_Err_NONE;
}

A_Err Composition::ConvertLayerToCompTime(AEGP_LayerH h, const A_Time* layer_time, A_Time* comp_time) {
    if (!layer_time || !comp_time || layer_time->scale == 0) return PF_Err_BAD_CALLBACK_PARAM;
    if (PF_Err err = PlannedFailure(host_, "AEGP_ConvertLayerToCompTime")) return err;
    std::lock_guard<std::mutex> lock(mutex_);
    Layer* layer = FromHandle(h);
    if (!layer) return PF_Err_BAD_CALLBACK_PARAM;
    Record("AEGP_ConvertLayerToCompTime", *layer, *layer_time);
    // In the layer time's own scale; a start between two of its ticks rounds to the nearest.
    const double startTicks = double(layer->start.value) * layer_time->scale / layer->start.scale;
    *comp_time = A_Time{layer_time->value + A_long(std::lround(startTicks)), layer_time->scale};
    return PF_Err_NONE;
}

A_Err Composition::GetLayerToWorldXform(AEGP_LayerH h, const A_Time* comp_time, A_Matrix4* transform) {
    if (!comp_time || !transform) return PF_Err_BAD_CALLBACK_PARAM;
    if (PF_Err err = PlannedFailure(host_, "AEGP_GetLayerToWorldXform")) return err;
    std::lock_guard<std::mutex> lock(mutex_);
    Layer* layer = FromHandle(h);
    if (!layer) return PF_Err_BAD_CALLBACK_PARAM;
    Record("AEGP_GetLayerToWorldXform", *layer, *comp_time);
    *transform = A_Matrix4{};
    for (int i = 0; i < 4; ++i) transform->mat[i][i] = 1;
    transform->mat[3][0] = layer->x;
    transform->mat[3][1] = layer->y;
    return PF_Err_NONE;
}

}  // namespace simhost
