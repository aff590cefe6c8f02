// Which controls the user sees, greyed out or not and under which name, for each state of the effect.
#include <cstring>
#include <ostream>
#include <functional>
#include <string>
#include <vector>

#include "controls_fixture.h"
#include "support/CaseNames.h"
#include "simhost/Composition.h"

namespace {

using namespace controls_test;

// What a case expects of one control; unset fields are not looked at.
struct Expect {
    int index;
    int visible = -1;  // 1 shown, 0 hidden
    int enabled = -1;  // 1 enabled, 0 greyed out
    const char* name = nullptr;
};
Expect Shown(int i) { return {i, 1, -1, nullptr}; }
Expect Hidden(int i) { return {i, 0, -1, nullptr}; }
Expect Enabled(int i) { return {i, -1, 1, nullptr}; }
Expect Greyed(int i) { return {i, -1, 0, nullptr}; }
std::vector<Expect> Range(Expect (*kind)(int), int first, int last) {
    std::vector<Expect> e;
    for (int i = first; i <= last; ++i) e.push_back(kind(i));
    return e;
}
std::vector<Expect> Join(std::vector<std::vector<Expect>> parts) {
    std::vector<Expect> all;
    for (auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

constexpr int kMaskID = 5, kIrisID = 6, kDirtID = 7;

struct State {
    const char* what;
    std::function<void(ControlsTest&, simhost::EffectControls&, simhost::ParamStore&)> set;
    std::vector<Expect> expect;
};
void PrintTo(const State& s, std::ostream* os) { velloran_test::PrintCase(s.what, os); }

class Visibility : public ControlsTest, public ::testing::WithParamInterface<State> {
public:
    void Run(const State& s) {
        controls().AddLayer(kMaskID);
        controls().AddLayer(kIrisID);
        controls().AddLayer(kDirtID);
        s.set(*this, controls(), params());
        const simhost::CommandResult r = controls().SendUpdateParamsUI();
        ASSERT_EQ(r.err, PF_Err_NONE);
        for (const Expect& e : s.expect) {
            const simhost::ControlView v = controls().View(e.index);
            if (e.visible >= 0) {
                EXPECT_EQ(v.visible, e.visible == 1) << "visibility of " << e.index;
            }
            if (e.enabled >= 0) {
                EXPECT_EQ(v.enabled, e.enabled == 1) << "enabling of " << e.index;
            }
            if (e.name) {
                EXPECT_EQ(v.name, e.name) << "name of " << e.index;
            }
        }
    }
};

TEST_P(Visibility, MatchesTheState) { Run(GetParam()); }

void Nothing(ControlsTest&, simhost::EffectControls&, simhost::ParamStore&) {}

const std::vector<State> kStates = {
    {"Exponential with the defaults", Nothing,
     Join({Range(Hidden, 114, 132),                                   // the Debug group, always
           Range(Hidden, 38, 48),                                     // the whole Iris group
           {Shown(58), Shown(59), Shown(60), Greyed(60), Hidden(61), Shown(62)},  // ratio 1.0, angle off
           {Hidden(54), Shown(55)},                                   // Auto Detect Gamma on
           {Shown(100), Hidden(101), Hidden(103), Hidden(104), Hidden(105), Shown(107), Shown(108)},
           {Greyed(66), Greyed(67), Shown(68), Greyed(69), Greyed(70), Greyed(71), Greyed(72)},
           {Shown(64), Shown(74)},
           {Hidden(110), Shown(111)},
           {Greyed(77), {78, 1, 0, "Color Inner"}, Shown(79), Greyed(79), Shown(80), Greyed(80), Greyed(81)},
           Range(Greyed, 91, 95),                                     // no lens-dirt layer
           {Greyed(25), Greyed(26), Enabled(24)},                     // Threshold 0
           {Greyed(86)},                                              // Operation "None"
           {{kSceneGammaLine, -1, -1, "Scene Gamma: 2.20"}},
           {Hidden(28), Hidden(30), Greyed(33), Greyed(34)},          // no mask layer
           {Hidden(106)}})},                                          // the layer is not collapsed
    {"Exponential with Quality Preset Custom",
     [](ControlsTest&, simhost::EffectControls&, simhost::ParamStore& p) { p.SetNumber(kQualityPreset, 8); },
     {Shown(103), Shown(104), Shown(105)}},
    {"Lens Iris without an iris layer",
     [](ControlsTest&, simhost::EffectControls&, simhost::ParamStore& p) {
         p.SetNumber(kGlowMode, kLensIris);
         p.SetNumber(kQualityPreset, 8);  // the Exponential preset plays no part here
     },
     Join({Range(Shown, 38, 48),                                      // both warning lines included
           Range(Hidden, 58, 62),
           {Hidden(100), Shown(101), Hidden(103), Hidden(104), Hidden(105)},
           {Shown(65), Shown(66), Shown(67), Hidden(68), Hidden(69), Hidden(70), Hidden(71), Hidden(72)},
           {Shown(110), Hidden(111)},
           Range(Hidden, 114, 132)})},
    {"Lens Iris with an iris layer",
     [](ControlsTest&, simhost::EffectControls& c, simhost::ParamStore& p) {
         p.SetNumber(kGlowMode, kLensIris);
         c.ChooseLayer(kIrisLayer, kIrisID);
     },
     {Shown(38), Shown(39), Hidden(40), Shown(41), Hidden(42), Shown(43), Shown(44)}},
    {"Aspect Ratio off 1.0 with Enable Angle on",
     [](ControlsTest&, simhost::EffectControls&, simhost::ParamStore& p) {
         p.SetNumber(kAspectRatio, 1.5);
         p.SetNumber(kEnableAngle, 1);
     },
     {Enabled(60), Shown(61)}},
    {"Aspect Ratio below 1.0",
     [](ControlsTest&, simhost::EffectControls&, simhost::ParamStore& p) { p.SetNumber(kAspectRatio, 0.5); },
     {Shown(60), Enabled(60), Hidden(61)}},
    {"Threshold above 0",
     [](ControlsTest&, simhost::EffectControls&, simhost::ParamStore& p) { p.SetNumber(kThreshold, 10); },
     {Enabled(25), Enabled(26)}},
    {"Tint Monocolor",
     [](ControlsTest&, simhost::EffectControls&, simhost::ParamStore& p) { p.SetNumber(kTintMode, 3); },
     {Enabled(77), {78, 1, 1, "Color"}, Hidden(79), Hidden(80), Enabled(81)}},
    {"Tint Duocolor",
     [](ControlsTest&, simhost::EffectControls&, simhost::ParamStore& p) { p.SetNumber(kTintMode, 4); },
     {Enabled(77), {78, 1, 1, "Color Inner"}, {79, 1, 1}, {80, 1, 1}, Enabled(81)}},
    {"A lens-dirt layer", [](ControlsTest&, simhost::EffectControls& c, simhost::ParamStore&) {
         c.ChooseLayer(kLensDirtTexture, kDirtID);
     },
     Range(Enabled, 91, 95)},
    {"A mask layer, the effect's layer not collapsed",
     [](ControlsTest&, simhost::EffectControls& c, simhost::ParamStore&) {
         c.SetLayerFlags(kMaskID, AEGP_LayerFlag_COLLAPSE);
         c.ChooseLayer(kMaskLayer, kMaskID);
     },
     {Shown(28), Shown(30), Enabled(33), Enabled(34), Hidden(106)}},
    {"A mask layer and the effect's layer both collapsed",
     [](ControlsTest& t, simhost::EffectControls& c, simhost::ParamStore&) {
         c.SetLayerFlags(kMaskID, AEGP_LayerFlag_COLLAPSE);
         c.ChooseLayer(kMaskLayer, kMaskID);
         simhost::EffectLayerOf(c.host()).SetLayerFlags(AEGP_LayerFlag_COLLAPSE);
         (void)t;
     },
     {Hidden(28), Hidden(30), Enabled(33), Enabled(34), Shown(106)}},
    {"The effect's layer collapsed, the mask layer not",
     [](ControlsTest&, simhost::EffectControls& c, simhost::ParamStore&) {
         c.ChooseLayer(kMaskLayer, kMaskID);
         simhost::EffectLayerOf(c.host()).SetLayerFlags(AEGP_LayerFlag_COLLAPSE | AEGP_LayerFlag_ADJUSTMENT_LAYER);
     },
     {Shown(28), Shown(30), Shown(106)}},
    {"Auto Detect Gamma off, both aberrations on, a tone-mapping operation",
     [](ControlsTest&, simhost::EffectControls&, simhost::ParamStore& p) {
         p.SetNumber(kAutoDetectGamma, 0);
         p.SetNumber(kEnablePixelAberration, 1);
         p.SetNumber(kEnableGlowAberration, 1);
         p.SetNumber(kToneMapOperation, 2);
     },
     {Shown(54), Hidden(55), Enabled(66), Enabled(67), Enabled(69), Enabled(70), Enabled(71), Enabled(72),
      Enabled(86)}},
    {"A working space of gamma 1.0",
     [](ControlsTest&, simhost::EffectControls& c, simhost::ParamStore&) {
         simhost::EffectLayerOf(c.host()).SetWorkingSpaceGamma(1.0f);
     },
     {{kSceneGammaLine, -1, -1, "Scene Gamma: 1.00"}}},
};

INSTANTIATE_TEST_SUITE_P(States, Visibility, ::testing::ValuesIn(kStates), velloran_test::NameFromWhat<State>);

using VisibilityTest = ControlsTest;

TEST_F(VisibilityTest, TheSameStateTwiceGivesTheSameWindowAndChangesNoValue) {
    params().SetNumber(kGlowMode, kLensIris);
    ASSERT_EQ(controls().SendUpdateParamsUI().err, PF_Err_NONE);
    const std::string first = controls().DescribeControls();
    const PF_ParamDef before = params().Value(kQualityPreset);
    ASSERT_EQ(controls().SendUpdateParamsUI().err, PF_Err_NONE);
    EXPECT_EQ(controls().DescribeControls(), first);
    EXPECT_EQ(params().Value(kQualityPreset).u.pd.value, before.u.pd.value);
}

TEST_F(VisibilityTest, LayerReadsTakeTheLayerTimeTheirRuleNeeds) {
    // The chosen layer may be keyframed or driven by an expression: the iris and lens-dirt lines follow the
    // layer the render will use now; the mask warning asks which layer was chosen, before any expression.
    host().InDataTemplate().current_time = 36;
    host().InDataTemplate().time_scale = 30;
    ASSERT_EQ(controls().SendUpdateParamsUI().err, PF_Err_NONE);
    struct Read {
        int index;
        A_long value;
        A_u_long scale;
        bool preExpression;
    };
    const Read expected[] = {{kIrisLayer, 36, 30, false}, {kLensDirtTexture, 36, 30, false}, {kMaskLayer, 0, 1, true}};
    const std::vector<simhost::StreamRead> reads = controls().StreamReads();
    ASSERT_EQ(reads.size(), std::size(expected));
    for (size_t i = 0; i < reads.size(); ++i) {
        EXPECT_EQ(reads[i].index, expected[i].index) << i;
        EXPECT_EQ(reads[i].mode, AEGP_LTimeMode_LayerTime) << "read of " << reads[i].index;
        EXPECT_EQ(reads[i].time.value, expected[i].value) << "read of " << reads[i].index;
        EXPECT_EQ(reads[i].time.scale, expected[i].scale) << "read of " << reads[i].index;
        EXPECT_EQ(reads[i].preExpression, expected[i].preExpression) << "read of " << reads[i].index;
    }
}

TEST_F(VisibilityTest, GreyingOrEnablingASliderTwirlsItShut) {
    // The user has twirled these open. Sliders that a rule greys out or enables close again; controls
    // that are only hidden or shown keep the user's twirl, and other kinds never get one.
    const int sliders[] = {25, 26, 86, 67};  // Threshold Smooth, Saturation Bias, Mix, Pixel Offset
    for (int threshold : {0, 10}) {
        params().SetNumber(kThreshold, threshold);
        for (int i : sliders) controls().SetCollapsed(i, false);
        controls().SetCollapsed(kAspectRatio, false);
        ASSERT_EQ(controls().SendUpdateParamsUI().err, PF_Err_NONE);
        for (int i : sliders) EXPECT_TRUE(controls().View(i).collapsed) << i << " at threshold " << threshold;
        EXPECT_FALSE(controls().View(kAspectRatio).collapsed) << "only hidden or shown, never greyed";
        for (int i : {int(kEnableAngle), 66, 77}) EXPECT_FALSE(controls().View(i).collapsed) << i;
    }
}

TEST_F(VisibilityTest, LensIrisTwirlsAspectAngleShutInTheHostsArrayAndWritesNoValue) {
    // Exponential first: it leaves the angle open, so the bit Lens Iris then sets is its own.
    for (int mode : {kExponential, kLensIris}) {
        params().SetNumber(kGlowMode, mode);
        ASSERT_EQ(controls().SendUpdateParamsUI().err, PF_Err_NONE);
        const std::vector<PF_ParamDef> array = controls().LastParamArray();
        ASSERT_EQ(int(array.size()), params().Count());
        EXPECT_EQ((array[kAspectAngle].flags & PF_ParamFlag_COLLAPSE_TWIRLY) != 0, mode == kLensIris)
            << "mode " << mode;
        for (int i = 1; i < params().Count(); ++i) {
            const PF_ParamDef stored = params().Value(i);
            EXPECT_EQ(std::memcmp(&array[size_t(i)].u, &stored.u, sizeof stored.u), 0) << "value of " << i;
            EXPECT_EQ(array[size_t(i)].uu.change_flags, 0) << i;
        }
    }
}

TEST_F(VisibilityTest, ChangingModeBackShowsWhatLensIrisHid) {
    params().SetNumber(kGlowMode, kLensIris);
    ASSERT_EQ(controls().SendUpdateParamsUI().err, PF_Err_NONE);
    ASSERT_FALSE(controls().View(68).visible);
    params().SetNumber(kGlowMode, kExponential);
    ASSERT_EQ(controls().SendUpdateParamsUI().err, PF_Err_NONE);
    for (int i : {58, 59, 60, 62, 68, 69, 100, 111}) EXPECT_TRUE(controls().View(i).visible) << i;
    for (int i : {38, 40, 101, 110}) EXPECT_FALSE(controls().View(i).visible) << i;
}

TEST_F(VisibilityTest, EachSwitchTakesEffectInTheUpdateThatFollowsIt) {
    // Later rules redraw these controls (to show the aberration group); the greying of this very update must
    // survive that, not the one of the update before.
    for (int on : {1, 0, 1}) {
        params().SetNumber(kEnablePixelAberration, on);
        ASSERT_EQ(controls().SendUpdateParamsUI().err, PF_Err_NONE);
        EXPECT_EQ(controls().View(66).enabled, on == 1);
        EXPECT_EQ(controls().View(67).enabled, on == 1);
    }
}

TEST_F(VisibilityTest, LayersChosenInTheCompositionCountAsChosen) {
    simhost::Composition& comp = simhost::Comp(host());
    comp.AddLayer(simhost::SimWorld(8, 8, simhost::PixelDepth::k8));  // the input layer
    const simhost::LayerId mask = comp.AddLayer(simhost::SimWorld(4, 4, simhost::PixelDepth::k8));
    const simhost::LayerId dirt = comp.AddLayer(simhost::SimWorld(4, 4, simhost::PixelDepth::k8));
    comp.SetLayerParam(kMaskLayer, mask);
    comp.SetLayerParam(kLensDirtTexture, dirt);
    ASSERT_EQ(controls().SendUpdateParamsUI().err, PF_Err_NONE);
    EXPECT_TRUE(controls().View(33).enabled);
    EXPECT_TRUE(controls().View(28).visible) << "a layer without the collapse switch shows the raster warning";
    EXPECT_TRUE(controls().View(91).enabled);
}

TEST_F(VisibilityTest, AFailingGammaLookupKeepsTheLineNameAndStopsTheRest) {
    ASSERT_EQ(controls().SendUpdateParamsUI().err, PF_Err_NONE);
    simhost::EffectLayerOf(host()).SetWorkingSpaceGamma(1.0f);
    controls().AddLayer(3);
    controls().ChooseLayer(kMaskLayer, 3);
    host().Faults().FailCall("AEGP_GetNewWorkingSpaceColorProfile");
    const simhost::CommandResult r = controls().SendUpdateParamsUI();
    EXPECT_EQ(r.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(controls().View(kSceneGammaLine).name, "Scene Gamma: 2.20");
    EXPECT_FALSE(controls().View(28).visible) << "the mask rule must not have run";
    EXPECT_FALSE(controls().View(33).enabled);
}

TEST_F(VisibilityTest, AFailingStreamStopsTheRulesAndReleasesEverything) {
    host().Faults().FailCall("AEGP_GetNewStreamValue");  // the iris layer's lookup
    const simhost::CommandResult r = controls().SendUpdateParamsUI();
    EXPECT_EQ(r.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_FALSE(controls().View(114).visible) << "rules before the failure keep their effect";
    EXPECT_TRUE(controls().View(110).visible) << "rules after it do not run";
    // The fixture checks that the stream, the effect handle and no stray value were disposed.
}

}  // namespace
