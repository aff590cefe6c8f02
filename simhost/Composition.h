// The composition the effect lives in: its input layer (the layer the effect is applied to) and any number of
// other layers, each a world of its own size and depth (8-bit or 32-bit float) at a position in the
// composition, in full-resolution composition pixels. The effect's layer parameters choose layers by index
// (the parameter's value is a layer id); parameter 0 is always the input layer.
//
// The effect reaches the layers through the smart render protocol (simhost/SmartRender.h), where every layer is
// placed in the input layer's coordinates: a layer at (x, y) in the composition lies at
// (x - input x, y - input y), divided by the frame's downsample factor.
//
// The composition also serves the AEGP layer calls of the effect: "AEGP PF Interface Suite" v1
// (AEGP_GetEffectLayer: the input layer) and "AEGP Layer Suite" v13 (flags, parent composition, masked bounds:
// the layer's own rectangle; layer-to-comp time: layer time plus the layer's start time; layer-to-world
// transform: the translation to the layer's position). Each call asks the fault injector under its own name.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sdk/AEGP_Suites.h"
#include "sdk/AE_Effect.h"
#include "simhost/World.h"

namespace simhost {

class SimHost;

typedef A_long LayerId;  // 1 and up; 0 means "no layer"

struct Layer {
    LayerId id = 0;
    std::string name;
    SimWorld pixels;      // full resolution, straight colour, 8-bit or 32-bit float
    A_long x = 0, y = 0;  // top-left corner in the composition
    AEGP_LayerFlags flags = AEGP_LayerFlag_NONE;
    A_Time start{0, 1};   // comp time at which the layer's own time 0 falls
};

// One AEGP layer call as the host received it.
struct LayerQuery {
    std::string call;  // "AEGP_GetLayerMaskedBounds", "AEGP_ConvertLayerToCompTime", "AEGP_GetLayerToWorldXform"
    LayerId layer = 0;
    A_Time time{0, 1};
};

class Composition {
public:
    explicit Composition(SimHost& host);  // installs the layer suites
    Composition(const Composition&) = delete;
    Composition& operator=(const Composition&) = delete;

    // Adds a layer and returns its id. The first layer added becomes the input layer unless one is chosen.
    LayerId AddLayer(SimWorld pixels, A_long x = 0, A_long y = 0, const std::string& name = "");
    void SetInputLayer(LayerId id);
    LayerId InputLayer() const;
    // The layer a layer parameter chooses (0: none). Throws std::invalid_argument for an unknown layer.
    void SetLayerParam(PF_ParamIndex index, LayerId id);
    LayerId LayerForParam(PF_ParamIndex index) const;

    void SetLayerFlags(LayerId id, AEGP_LayerFlags flags);
    void SetLayerStart(LayerId id, A_Time start);
    void MoveLayer(LayerId id, A_long x, A_long y);

    // The layer, or null. The pointer stays valid for the composition's life.
    const Layer* Find(LayerId id) const;
    std::vector<LayerQuery> Queries() const;

    // Entry points of the layer suites.
    A_Err GetEffectLayer(AEGP_LayerH* layer);
    A_Err GetLayerFlags(AEGP_LayerH layer, AEGP_LayerFlags* flags);
    A_Err GetLayerParentComp(AEGP_LayerH layer, AEGP_CompH* comp);
    A_Err GetLayerMaskedBounds(AEGP_LayerH layer, AEGP_LTimeMode mode, const A_Time* time, A_FloatRect* bounds);
    A_Err ConvertLayerToCompTime(AEGP_LayerH layer, const A_Time* layer_time, A_Time* comp_time);
    A_Err GetLayerToWorldXform(AEGP_LayerH layer, const A_Time* comp_time, A_Matrix4* transform);

    static AEGP_LayerH Handle(const Layer* layer);

private:
    Layer* Mutable(LayerId id);
    Layer* FromHandle(AEGP_LayerH h);
    void Record(const char* call, const Layer& layer, const A_Time& time);

    SimHost& host_;
    mutable std::mutex mutex_;
    std::deque<Layer> layers_;  // stable addresses: the handles point at them
    LayerId input_ = 0;
    std::map<PF_ParamIndex, LayerId> layerParams_;
    std::vector<LayerQuery> queries_;
};

// The host's composition, made (and its suites installed) on first use.
Composition& Comp(SimHost& host);

}  // namespace simhost
