#include "simhost/Composition.h"

#include <cmath>
#include <stdexcept>

#include "simhost/CallFailures.h"
#include "simhost/LayerSuites.h"
#include "simhost/ParamStore.h"
#include "simhost/SimHost.h"

namespace simhost {

namespace {

Composition* ActiveComp() {
    SimHost* host = SimHost::Active();
    return host ? &Comp(*host) : nullptr;
}

}  // namespace

A_Err CompositionLayerMaskedBounds(AEGP_LayerH layer, AEGP_LTimeMode mode, const A_Time* time, A_FloatRect* bounds) {
    Composition* comp = ActiveComp();
    return comp ? comp->GetLayerMaskedBounds(layer, mode, time, bounds) : A_Err(PF_Err_BAD_CALLBACK_PARAM);
}
A_Err CompositionLayerToCompTime(AEGP_LayerH layer, const A_Time* layer_time, A_Time* comp_time) {
    Composition* comp = ActiveComp();
    return comp ? comp->ConvertLayerToCompTime(layer, layer_time, comp_time) : A_Err(PF_Err_BAD_CALLBACK_PARAM);
}
A_Err CompositionLayerToWorldXform(AEGP_LayerH layer, const A_Time* comp_time, A_Matrix4* transform) {
    Composition* comp = ActiveComp();
    return comp ? comp->GetLayerToWorldXform(layer, comp_time, transform) : A_Err(PF_Err_BAD_CALLBACK_PARAM);
}

Composition::Composition(SimHost& host) : host_(host) { EffectLayerOf(host); }

Composition& Comp(SimHost& host) { return host.Service<Composition>(); }

LayerId Composition::AddLayer(SimWorld pixels, A_long x, A_long y, const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    CompLayer layer;
    layer.id = LayerId(layers_.size()) + 1;
    layer.name = name.empty() ? "Layer " + std::to_string(layer.id) : name;
    layer.pixels = std::move(pixels);
    layer.x = x;
    layer.y = y;
    layers_.push_back(std::move(layer));
    if (!input_) input_ = layers_.back().id;
    return layers_.back().id;
}

CompLayer* Composition::Mutable(LayerId id) {
    if (id < 1 || id > LayerId(layers_.size())) return nullptr;
    return &layers_[size_t(id - 1)];
}

const CompLayer* Composition::Find(LayerId id) const {
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
    // A parameter nobody chose a layer for holds its default, as on a real host: the effect's own layer
    // where the effect asked for that (PF_LayerDefault_MYSELF), else none.
    bool defaultsToOwnLayer = false;
    if (index > 0) {
        if (const ParamStore* params = host_.FindService<ParamStore>()) {
            const std::vector<ParamDefinition> defs = params->Definitions();
            defaultsToOwnLayer = size_t(index) < defs.size() && defs[size_t(index)].def.param_type == PF_Param_LAYER &&
                                 defs[size_t(index)].def.u.ld.dephault == PF_LayerDefault_MYSELF;
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (index == 0) return input_;
    auto it = layerParams_.find(index);
    if (it != layerParams_.end()) return it->second;
    return defaultsToOwnLayer ? input_ : 0;
}

void Composition::SetLayerStart(LayerId id, A_Time start) {
    std::lock_guard<std::mutex> lock(mutex_);
    CompLayer* layer = Mutable(id);
    if (!layer || start.scale == 0) throw std::invalid_argument("Composition: bad layer or start time");
    layer->start = start;
}

void Composition::SetLayerBounds(LayerId id, PF_LRect bounds) {
    std::lock_guard<std::mutex> lock(mutex_);
    CompLayer* layer = Mutable(id);
    if (!layer || bounds.right <= bounds.left || bounds.bottom <= bounds.top)
        throw std::invalid_argument("Composition: bad layer or empty bounds");
    layer->bounds = bounds;
}

void Composition::MoveLayer(LayerId id, A_long x, A_long y) {
    std::lock_guard<std::mutex> lock(mutex_);
    CompLayer* layer = Mutable(id);
    if (!layer) throw std::invalid_argument("Composition: no layer " + std::to_string(id));
    layer->x = x;
    layer->y = y;
}

std::vector<LayerQuery> Composition::Queries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queries_;
}

CompLayer* Composition::FromHandle(AEGP_LayerH h) {
    return h && h == EffectLayerHandle() ? Mutable(input_) : nullptr;
}

void Composition::Record(const char* call, const CompLayer& layer, const A_Time& time) {
    queries_.push_back(LayerQuery{call, layer.id, time});
}

A_Err Composition::GetLayerMaskedBounds(AEGP_LayerH h, AEGP_LTimeMode, const A_Time* time, A_FloatRect* bounds) {
    if (!time || !bounds) return PF_Err_BAD_CALLBACK_PARAM;
    if (PF_Err err = PlannedFailure(host_, "AEGP_GetLayerMaskedBounds")) return err;
    std::lock_guard<std::mutex> lock(mutex_);
    CompLayer* layer = FromHandle(h);
    if (!layer) return PF_Err_BAD_CALLBACK_PARAM;
    Record("AEGP_GetLayerMaskedBounds", *layer, *time);
    // The composition's layers have no masks: the bounds are the layer's own rectangle.
    const PF_LRect own = layer->Bounds();
    *bounds = A_FloatRect{0, 0, double(own.right - own.left), double(own.bottom - own.top)};
    return PF_Err_NONE;
}

A_Err Composition::ConvertLayerToCompTime(AEGP_LayerH h, const A_Time* layer_time, A_Time* comp_time) {
    if (!layer_time || !comp_time || layer_time->scale == 0) return PF_Err_BAD_CALLBACK_PARAM;
    if (PF_Err err = PlannedFailure(host_, "AEGP_ConvertLayerToCompTime")) return err;
    std::lock_guard<std::mutex> lock(mutex_);
    CompLayer* layer = FromHandle(h);
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
    CompLayer* layer = FromHandle(h);
    if (!layer) return PF_Err_BAD_CALLBACK_PARAM;
    Record("AEGP_GetLayerToWorldXform", *layer, *comp_time);
    *transform = A_Matrix4{};
    for (int i = 0; i < 4; ++i) transform->mat[i][i] = 1;
    transform->mat[3][0] = layer->OriginX();
    transform->mat[3][1] = layer->OriginY();
    return PF_Err_NONE;
}

}  // namespace simhost
