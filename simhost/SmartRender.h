// One frame through the smart render protocol, as a host renders it: PF_Cmd_SMART_PRE_RENDER, then (when the
// pre-render returned 0) PF_Cmd_SMART_RENDER, with the layers of the host's composition (simhost/Composition.h).
//
// Pre-render: the host asks for `request.outputRect` (default: the whole input layer at the frame's downsample
// factor) at the frame's bit depth. `checkout_layer` answers for the layer that the parameter index chooses,
// placed in the input layer's coordinates at the downsample factor: result rectangle = the request's
// rectangle within the layer, maximum result rectangle = the whole layer (all of its pixels, which for an input
// layer with its own bounds set reach past the layer); for a parameter that chooses no layer both are all zero.
// Every checkout (id, index, request, times, answer) and every `GuidMixInPtr` block is recorded.
//
// Render: `checkout_layer_pixels` gives, for a checkout id, a world of exactly the checked-out result rectangle
// at the frame's depth, with origin_x/origin_y = the rectangle's left/top (null for a parameter without a
// layer); `checkout_output` gives a world of the effect's result rectangle, origin likewise, whose pixels start
// uncleared (kUnclearedByte); `checkin_layer_pixels` frees a checked-out world. At the end of the command the
// host checks in what the effect left checked out, frees the worlds the effect made and did not dispose, and
// reports both. Downsampling averages the full-resolution pixels of each cell (premultiplied, so a partly
// covered cell at a layer's edge is partly transparent).
//
// Faults: "checkout_layer", "GuidMixInPtr", "checkout_layer_pixels" and "checkout_output" (out of memory by
// default), "checkin_layer_pixels"; and those of the world, transform and layer services.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sdk/AE_Effect.h"
#include "simhost/Composition.h"
#include "simhost/SimHost.h"
#include "simhost/World.h"

namespace simhost {

struct FrameRequest {
    std::optional<PF_LRect> outputRect;  // in the input layer's pixels at the downsample factor
    A_long downsampleX = 1, downsampleY = 1;  // the frame renders at 1/N of full resolution
    A_short bitdepth = 8;                     // 8, 16 or 32 (float): the depth of every world of the frame
    A_long time = 0, timeStep = 1;
    A_u_long timeScale = 24;
    PF_Field field = PF_Field_FRAME;
    PF_ChannelMask channelMask = PF_ChannelMask_ARGB;
    // Answers the two commands instead of the loaded bundle (null: the bundle's EffectMain). Tests of the
    // host's own side of the protocol drive the callbacks through it, as an effect would.
    std::function<PF_Err(PF_Cmd cmd, PF_InData& in, PF_OutData& out, void* extra)> effect;
    // Asked after a pre-render that succeeded (null: always render): false stops the frame there, as a host
    // that cannot hold the result does, and the render is never sent.
    std::function<bool(const PF_PreRenderOutput&)> render;
};

struct LayerCheckout {
    A_long checkoutId = 0;
    PF_ParamIndex index = 0;
    PF_RenderRequest request{};
    A_long whatTime = 0, timeStep = 0;
    A_u_long timeScale = 0;
    LayerId layer = 0;  // 0: the parameter chose no layer
    PF_Err err = PF_Err_NONE;
    PF_CheckoutResult result{};  // as answered (all zero when the call failed)
};

struct FrameResult {
    PF_RenderRequest request{};  // the output request of both commands
    CommandResult preRender;
    PF_PreRenderOutput preRenderOutput{};  // rectangles and flags as the effect left them
    std::vector<LayerCheckout> checkouts;  // in call order
    std::vector<std::vector<uint8_t>> guidMixIns;

    bool rendered = false;  // the render was sent (the pre-render returned 0)
    CommandResult render;
    bool outputCheckedOut = false;
    SimWorld output;  // the output world after the render (a copy); empty when never checked out
    A_long outputOriginX = 0, outputOriginY = 0;

    std::vector<A_long> pixelCheckouts;  // ids of checkout_layer_pixels calls that succeeded, in order
    std::vector<A_long> effectCheckins;  // ids the effect checked in
    std::vector<A_long> hostCheckins;    // ids still checked out at the end, checked in by the host
    // Worlds the effect made with PF_NewWorld during the frame and did not dispose.
    std::vector<std::string> undisposedWorlds;
    // Worlds of the frame whose row padding was written: the effect wrote outside their pixels.
    std::vector<std::string> overruns;
    int worldsMade = 0, worldsDisposed = 0;
    int badDisposals = 0;      // disposals of worlds the host did not make or had already disposed
    int badCallbackCalls = 0;  // smart render callbacks refused for their arguments (unknown id, second check-in)

    // The last checkout under that id, or null.
    const LayerCheckout* Checkout(A_long checkoutId) const;
    // No world left undisposed, none overrun, no refused disposal or callback.
    bool Clean() const;
    // What was not clean, one line each (for a test's failure message).
    std::string Problems() const;
};

FrameResult RunSmartFrame(SimHost& host, const FrameRequest& request = {});

// Where a layer lies in the effect's coordinates at the downsample factors: its cells, from
// floor((layer x - input x) / N) to ceil((layer x - input x + width) / N), likewise vertically.
PF_LRect LayerRectInFrame(const CompLayer& layer, const CompLayer* input, A_long downsampleX, A_long downsampleY);

}  // namespace simhost
