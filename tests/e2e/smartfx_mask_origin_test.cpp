// The mask lands where it lies in the composition even when the input's world starts at another place on each
// axis: a layer whose own rectangle lies inside its pixels reaches up and left of its origin by different
// amounts, so the input world's x and y origins differ.
#include <gtest/gtest.h>

#include "smartfx_fixture.h"

namespace {

using namespace testsupport::param_index;

class MaskPlacement : public smartfx_test::SmartFxFrame {};

TEST_F(MaskPlacement, MaskLandsAtItsPlaceWhenTheInputsOriginsDiffer) {
    // The input: 60 x 70 white pixels at (100, 50) whose own rectangle starts 10 right and 30 down, so the
    // frame's origin is the composition's (110, 80) and the input world starts at (-10, -30).
    const simhost::LayerId input = comp().AddLayer(smartfx_test::Solid(60, 70, {255, 255, 255, 255}), 100, 50, "input");
    comp().SetInputLayer(input);
    comp().SetLayerBounds(input, PF_LRect{10, 30, 50, 70});
    // A 12 x 8 opaque mask at the composition's (115, 90): the frame's (5, 10) to (17, 18).
    AddLayer(smartfx_test::Solid(12, 8, {255, 255, 255, 255}), 115, 90, kMaskLayer);
    Set(kView, 2);  // "Glow Input": the masked input as the glow starts from it
    Set(kRadius, 4);

    const simhost::FrameResult r = Frame();
    ASSERT_EQ(r.render.err, PF_Err_NONE) << r.render.return_msg;
    ASSERT_TRUE(r.outputCheckedOut);
    const auto at = [&](A_long x, A_long y) { return r.output.GetFloat(x - r.outputOriginX, y - r.outputOriginY); };
    for (A_long y = -30; y < 40; ++y)
        for (A_long x = -10; x < 50; ++x) {
            const bool underMask = x >= 5 && x < 17 && y >= 10 && y < 18;
            const PF_PixelFloat p = at(x, y);
            if (underMask) {
                ASSERT_GT(p.red, 0.5f) << "under the mask, frame " << x << "," << y;
            } else {
                ASSERT_LT(p.red, 0.01f) << "outside the mask, frame " << x << "," << y;
            }
        }
}

}  // namespace
