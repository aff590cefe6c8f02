// The composition the effect lives in: its input layer (the layer the effect is applied to) and any number of
// other layers, each a world of its own size and depth (8-bit or 32-bit float) at a position in the
// composition, in full-resolution composition pixels. The effect's layer parameters choose layers by index
// (the parameter's value is a layer id); parameter 0 is always the input layer.
//
// The effect reaches the layers through the smart render protocol (simhost/SmartRender.h), where every layer is
// placed in the input layer's coordinates: a layer at (x, y) in the composition lies at
// (x - input x, y - input y), divided by the frame's downsample factor. When the input layer's own rectangle is
// set within its pixels (SetLayerBounds), that rectangle's corner is the origin instead, and the effect is told
// the rectangle's size as the layer's.
//
// The composition also answers three calls of "AEGP Layer Suite" v13 (served by simhost/LayerSuites.h, which
// gives the effect layer's handle, flags and parent composition) for the effect layer, i.e. the input layer:
// AEGP_GetLayerMaskedBounds (the layer's own rectangle: these layers have no masks), AEGP_ConvertLayerToCompTime
// (layer time plus the layer's start time) and AEGP_GetLayerToWorldXform (the translation to the layer's
// position). Each asks the fault injector under its own name and is recorded.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sdk/AEGP_Suites.h"
#include "sdk/AE_Effect.h"
#include "simhost/World.h"

namespace simhost {

class SimHost;

typedef A_long LayerId;  // 1 and up; 0 means "no layer"

struct CompLayer {
    LayerId id = 0;
    std::string name;
    SimWorld pixels;      // full resolution, straight colour, 8-bit or 32-bit float
    A_long x = 0, y = 0;  // top-left corner of the pixels in the composition
    A_Time start{0, 1};   // comp time at which the layer's own time 0 falls
    // The layer's own rectangle in its pixels; unset: all of them. A collapsed layer's content, or what an
    // adjustment layer sees beneath it, can reach past the layer itself.
    std::optional<PF_LRect> bounds;

    PF_LRect Bounds() const { return bounds ? *bounds : PF_LRect{0, 0, pixels.width(), pixels.height()}; }
    // The layer's own top-left corner in the composition: the origin of its coordinates.
    A_long OriginX() const { return x + Bounds().left; }
    A_long OriginY() const { return y + Bounds().top; }
};

// One AEGP layer call as the host received it.
struct LayerQuery {
    std::string call;  // "AEGP_GetLayerMaskedBounds", "AEGP_ConvertLayerToCompTime", "AEGP_GetLayerToWorldXform"
    LayerId layer = 0;
    A_Time time{0, 1};
};

class Composition {
public:
    explicit Composition(SimHost& host);  // makes sure the layer suites are served
    Composition(const Composition&) = delete;
    Composition& operator=(const Composition&) = delete;

    // Adds a layer and returns its id. The first layer added becomes the input layer unless one is chosen.
    LayerId AddLayer(SimWorld pixels, A_long x = 0, A_long y = 0, const std::string& name = "");
    void SetInputLayer(LayerId id);
    LayerId InputLayer() const;
    // The layer a layer parameter chooses (0: none). Throws std::invalid_argument for an unknown layer. A
    // parameter never set holds its registered default: the input layer for PF_LayerDefault_MYSELF.
    void SetLayerParam(PF_ParamIndex index, LayerId id);
    LayerId LayerForParam(PF_ParamIndex index) const;

    void SetLayerStart(LayerId id, A_Time start);
    // The layer's own rectangle within its pixels (see CompLayer::bounds); it must not be empty.
    void SetLayerBounds(LayerId id, PF_LRect bounds);
    void MoveLayer(LayerId id, A_long x, A_long y);

    // The layer, or null. The pointer stays valid for the composition's life.
    const CompLayer* Find(LayerId id) const;
    std::vector<LayerQuery> Queries() const;

    // Entry points of the layer suites.
    A_Err GetLayerMaskedBounds(AEGP_LayerH layer, AEGP_LTimeMode mode, const A_Time* time, A_FloatRect* bounds);
    A_Err ConvertLayerToCompTime(AEGP_LayerH layer, const A_Time* layer_time, A_Time* comp_time);
    A_Err GetLayerToWorldXform(AEGP_LayerH layer, const A_Time* comp_time, A_Matrix4* transform);

private:
    CompLayer* Mutable(LayerId id);
    CompLayer* FromHandle(AEGP_LayerH h);  // the input layer for the effect layer's handle, else null
    void Record(const char* call, const CompLayer& layer, const A_Time& time);

    SimHost& host_;
    mutable std::mutex mutex_;
    std::deque<CompLayer> layers_;  // stable addresses: the handles point at them
    LayerId input_ = 0;
    std::map<PF_ParamIndex, LayerId> layerParams_;
    std::vector<LayerQuery> queries_;
};

// The host's composition, made (and its suites installed) on first use.
Composition& Comp(SimHost& host);

// The entries of "AEGP Layer Suite" v13 that the composition answers, for the active host.
A_Err CompositionLayerMaskedBounds(AEGP_LayerH layer, AEGP_LTimeMode mode, const A_Time* time, A_FloatRect* bounds);
A_Err CompositionLayerToCompTime(AEGP_LayerH layer, const A_Time* layer_time, A_Time* comp_time);
A_Err CompositionLayerToWorldXform(AEGP_LayerH layer, const A_Time* comp_time, A_Matrix4* transform);

}  // namespace simhost
