// The smart pre-render: which layers the render needs and which of their pixels, and how large the result
// grows beyond the input through the glow's reach.
#pragma once

#include <utility>

#include "host/RenderSettings.h"
#include "sdk/AE_Effect.h"

// Checkout ids shared with the render. They are opaque numbers of the effect's own choosing, not parameter
// indices; the probes only ask the host how large a layer could be and are replaced by the real checkouts.
enum : A_long {
    kCheckoutInput = 0,
    kCheckoutIris = 43,
    kCheckoutLensDirt = 94,
    kCheckoutMask = 36,
    kProbeInput = 555,
    kProbeIris = 556,
    kProbeLensDirt = 557,
};

// The layout of the block mixed into the host's frame-cache key.
constexpr A_u_long kFrameCacheKeySize = 160;

enum WHICH_CORNER_E { CORNER_TOP_LEFT = 0, CORNER_TOP_RIGHT = 1, CORNER_BOTTOM_RIGHT = 2, CORNER_BOTTOM_LEFT = 3 };

PF_Err PreRender(PF_InData* in_data, PF_OutData* out_data, PF_PreRenderExtra* extra);

// The rectangle grown by the "Exponential" glow's reach, its quality pad and margin. in_data is not used.
PF_LRect calculate_guassian_bounds(myParams* p, PF_InData* in_data, PF_LRect rect);
// One corner of a rectangle pushed outward by the reach along the glow's axes.
A_FloatPoint CalculateGaussianBounds(myParams* p, A_FloatPoint corner, WHICH_CORNER_E which);
// The "Lens Iris" growth in x and y for the iris checkout; records irisAspect and irisIsWide. in_data is not used.
std::pair<double, double> calculate_iris_radius_expansion(myParams* p, PF_InData* in_data,
                                                          const PF_CheckoutResult* iris);
