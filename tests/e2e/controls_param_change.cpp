// The effect's buttons and supervised parameters, as a user presses and changes them in the host.
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "controls_fixture.h"
#include "support/CaseNames.h"
#include "host/ParamChange.h"  // the page addresses only

namespace {

using namespace controls_test;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

using ParamChangeTest = ControlsTest;

// ----- the two quality presets ---------------------------------------------------------------------------

struct PresetCase {
    int changed;      // the list the user changed
    int value;        // its new value
    int otherBefore;  // the other list's value before
    int otherAfter;
};
void PrintTo(const PresetCase& c, std::ostream* os) {
    *os << (c.changed == kQualityPreset ? "Quality Preset" : "Quality Preset Iris") << " set to " << c.value
        << ", the other at " << c.otherBefore;
}

class PresetSync : public ControlsTest, public ::testing::WithParamInterface<PresetCase> {};

TEST_P(PresetSync, KeepsTheOtherListInStepExceptForCustom) {
    const PresetCase c = GetParam();
    const int other = c.changed == kQualityPreset ? kQualityPresetIris : kQualityPreset;
    params().SetNumber(other, c.otherBefore);
    params().SetNumber(c.changed, c.value);
    const simhost::CommandResult r = controls().SendUserChangedParam(c.changed);
    EXPECT_EQ(r.err, PF_Err_NONE);
    EXPECT_EQ(Number(c.changed), c.value);
    EXPECT_EQ(Number(other), c.otherAfter);
    EXPECT_THAT(controls().UIUpdates(), IsEmpty());
    EXPECT_THAT(controls().UndoGroups(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Presets, PresetSync,
                         ::testing::Values(PresetCase{kQualityPreset, 8, 3, 3},       // "Custom" leaves the iris list
                                           PresetCase{kQualityPreset, 2, 8 - 5, 2},   // back to "Low"
                                           PresetCase{kQualityPreset, 6, 1, 6},
                                           PresetCase{kQualityPresetIris, 5, 8, 5},   // "High" ends "Custom"
                                           PresetCase{kQualityPresetIris, 1, 3, 1}),
                         velloran_test::NameFromPrintTo<PresetCase>);

// ----- the two View lists --------------------------------------------------------------------------------

struct ViewCase {
    int mode;
    int changed;  // which list the host reports as changed
    int input;    // the value of the list the mode reads
    int output;   // the value the other list gets
};
void PrintTo(const ViewCase& c, std::ostream* os) {
    *os << (c.mode == kExponential ? "Exponential" : "Lens Iris") << ", "
        << (c.changed == kView ? "View" : "View with iris") << " changed, " << c.input;
}

class ViewSync : public ControlsTest, public ::testing::WithParamInterface<ViewCase> {};

TEST_P(ViewSync, FollowsTheModeNotTheListThatChanged) {
    const ViewCase c = GetParam();
    params().SetNumber(kGlowMode, c.mode);
    const int read = c.mode == kExponential ? kView : kViewWithIris;
    const int written = c.mode == kExponential ? kViewWithIris : kView;
    params().SetNumber(read, c.input);
    params().SetNumber(written, 2);  // something the tables never leave behind by accident
    const simhost::CommandResult r = controls().SendUserChangedParam(c.changed);
    EXPECT_EQ(r.err, PF_Err_NONE);
    EXPECT_EQ(Number(written), c.output);
    EXPECT_EQ(Number(read), c.input);
    ASSERT_EQ(controls().UndoGroups().size(), 1u);
    EXPECT_EQ(controls().UndoGroups()[0].name, "Velloran 2 Change View");
    EXPECT_TRUE(controls().UndoGroups()[0].closed);
}

std::vector<ViewCase> ViewCases() {
    std::vector<ViewCase> cases;
    // Exponential: "View" (without the iris view) is read; the list with it is set. Separators ("(-", 3) and
    // out-of-range values give "Final Result".
    const int tableA[][2] = {{1, 1}, {2, 2}, {3, 1}, {4, 6}, {5, 7}, {6, 8}, {9, 1}, {0, 1}};
    for (auto [in, out] : tableA)
        for (int changed : {kView, kViewWithIris}) cases.push_back({kExponential, changed, in, out});
    // Lens Iris: the list with "View Iris" (4) is read.
    const int tableB[][2] = {{1, 1}, {2, 2}, {3, 1}, {4, 1}, {5, 1}, {6, 4}, {7, 5}, {8, 6}, {9, 1}};
    for (auto [in, out] : tableB)
        for (int changed : {kView, kViewWithIris}) cases.push_back({kLensIris, changed, in, out});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Views, ViewSync, ::testing::ValuesIn(ViewCases()), velloran_test::NameFromPrintTo<ViewCase>);

TEST_F(ParamChangeTest, AFailingUndoGroupStillSetsTheViewAndIsNotClosedUnopened) {
    params().SetNumber(kView, 5);
    host().Faults().FailCall("AEGP_StartUndoGroup");
    const simhost::CommandResult r = controls().SendUserChangedParam(kView);
    EXPECT_EQ(r.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(Number(kViewWithIris), 7);
    EXPECT_EQ(host().Faults().Calls("AEGP_EndUndoGroup"), 0);
}

// ----- log and page buttons ------------------------------------------------------------------------------

TEST_F(ParamChangeTest, OpenErrorLogBeforeAnyErrorNamesTheSearchedPathVerbatim) {
    FakeOpener opener;
    // A percent sign in the path must not be read as a format.
    testsupport::TempDir dir;
    const std::string home = dir.path() + "/100%s %d";
    std::filesystem::create_directories(home);
    testsupport::ScopedHome percentHome = testsupport::ScopedHome::Set(home);

    const simhost::CommandResult r = controls().SendUserChangedParam(kOpenErrorLog);
    EXPECT_EQ(r.err, PF_Err_NONE);
    EXPECT_EQ(r.return_msg, "No errors reported. Searched: " + percentHome.LogFile());
    EXPECT_EQ(r.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE, 0u);
    EXPECT_THAT(opener.Opened(), IsEmpty());
}

TEST_F(ParamChangeTest, OpenErrorLogOpensTheLogOnceOneExists) {
    FakeOpener opener;
    ASSERT_EQ(controls().SendUserChangedParam(kCreateTestError).err, PF_Err_NONE);
    const simhost::CommandResult r = controls().SendUserChangedParam(kOpenErrorLog);
    EXPECT_EQ(r.err, PF_Err_NONE);
    EXPECT_EQ(r.return_msg, "");
    EXPECT_THAT(opener.Opened(), ElementsAre(home_.LogFile()));
}

TEST_F(ParamChangeTest, OpenLogDirectoryOpensTheFolder) {
    FakeOpener opener;
    EXPECT_EQ(controls().SendUserChangedParam(kOpenLogDirectory).err, PF_Err_NONE);
    EXPECT_THAT(opener.Opened(), ElementsAre(home_.LogFolder()));
}

TEST_F(ParamChangeTest, CreateTestErrorAppendsOneLineAndLeavesTheMessageAlone) {
    const simhost::CommandResult r = controls().SendUserChangedParam(kCreateTestError);
    EXPECT_EQ(r.err, PF_Err_NONE);
    EXPECT_EQ(r.return_msg, "");
    const std::string log = Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1);
    EXPECT_THAT(log, ::testing::EndsWith("Test Error\n"));
}

TEST_F(ParamChangeTest, CreateTestErrorReportsALogThatCannotBeOpened) {
    std::filesystem::create_directories(home_.LogFile());  // a folder where the log file should be
    const simhost::CommandResult r = controls().SendUserChangedParam(kCreateTestError);
    EXPECT_EQ(r.err, PF_Err_NONE);
    EXPECT_THAT(r.return_msg, ::testing::HasSubstr(home_.LogFile()));
    EXPECT_EQ(r.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE, 0u);
}

TEST_F(ParamChangeTest, PageButtonsOpenThreeDifferentAddressesUnquoted) {
    FakeOpener opener;
    for (int button : {kProductPage, kFreePlugins, kGetSupport})
        EXPECT_EQ(controls().SendUserChangedParam(button).err, PF_Err_NONE);
    const std::vector<std::string> opened = opener.Opened();
    ASSERT_EQ(opened.size(), 3u);
    for (const std::string& address : opened) {
        EXPECT_THAT(address, ::testing::StartsWith("https://"));
        EXPECT_EQ(address.find_first_of("\" "), std::string::npos) << address;
    }
    EXPECT_NE(opened[0], opened[1]);
    EXPECT_NE(opened[1], opened[2]);
    EXPECT_NE(opened[0], opened[2]);
}

TEST_F(ParamChangeTest, EachPageButtonOpensItsOwnPage) {
    // The addresses are a build setting; the effect's header holds the ones this build was made with.
    const std::pair<int, const char*> buttons[] = {
        {kProductPage, VELLORAN_PRODUCT_PAGE_URL},
        {kFreePlugins, VELLORAN_FREE_PLUGINS_URL},
        {kGetSupport, VELLORAN_SUPPORT_URL},
    };
    for (const auto& [button, address] : buttons) {
        FakeOpener opener;
        ASSERT_EQ(controls().SendUserChangedParam(button).err, PF_Err_NONE);
        EXPECT_THAT(opener.Opened(), ElementsAre(address)) << "button " << button;
    }
}

// ----- Gamma Info ----------------------------------------------------------------------------------------

struct GammaCase {
    float gamma;
    const char* script;
};
void PrintTo(const GammaCase& c, std::ostream* os) { *os << "gamma " << c.gamma; }

class GammaInfo : public ControlsTest, public ::testing::WithParamInterface<GammaCase> {};

TEST_P(GammaInfo, AlertsTheSceneGammaAndWhetherItIsApplied) {
    simhost::EffectLayerOf(host()).SetWorkingSpaceGamma(GetParam().gamma);
    const simhost::CommandResult r = controls().SendUserChangedParam(kGammaInfo);
    EXPECT_EQ(r.err, PF_Err_NONE);
    EXPECT_THAT(controls().Scripts(), ElementsAre(GetParam().script));
}

INSTANTIATE_TEST_SUITE_P(
    Gammas, GammaInfo,
    ::testing::Values(GammaCase{2.2f, "alert(\"Scene Gamma: 2.20\\nGamma correction will be applied\");"},
                      GammaCase{1.0f, "alert(\"Scene Gamma: 1.00\\nGamma correction won't be applied\");"},
                      GammaCase{10.5f, "alert(\"Scene Gamma: 10.5\\nGamma correction will be applied\");"}),
    velloran_test::NameFromPrintTo<GammaCase>);

TEST_F(ParamChangeTest, GammaInfoShowsNoAlertWhenTheLookupFails) {
    host().Faults().FailCall("AEGP_GetColorProfileApproximateGamma");
    const simhost::CommandResult r = controls().SendUserChangedParam(kGammaInfo);
    EXPECT_EQ(r.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_THAT(controls().Scripts(), IsEmpty());
}

TEST_F(ParamChangeTest, GammaInfoWithoutAWorkingSpaceShowsZeroQuietly) {
    simhost::EffectLayerOf(host()).SetHasWorkingSpaceProfile(false);
    const simhost::CommandResult r = controls().SendUserChangedParam(kGammaInfo);
    EXPECT_EQ(r.err, PF_Err_NONE);
    EXPECT_THAT(controls().Scripts(),
                ElementsAre("alert(\"Scene Gamma: 0.00\\nGamma correction won't be applied\");"));
}

// ----- Swap Colors and Shuffle Channels ------------------------------------------------------------------

TEST_F(ParamChangeTest, SwapColorsExchangesTheTwoTintColoursThroughTheirStreams) {
    const PF_Pixel red = Color(kColor), orange = Color(kColorOuter);
    ASSERT_EQ(red.red, 255);
    ASSERT_EQ(orange.green, 128);

    ASSERT_EQ(controls().SendUserChangedParam(kSwapColors).err, PF_Err_NONE);
    EXPECT_EQ(Color(kColor).green, 128);
    EXPECT_EQ(Color(kColorOuter).green, 0);
    // Full precision: the host keeps the float the effect set, not a byte.
    EXPECT_DOUBLE_EQ(controls().StreamColor(kColor).greenF, double(128.0f / 255.0f));
    EXPECT_DOUBLE_EQ(controls().StreamColor(kColorOuter).redF, 1.0);
    EXPECT_THAT(UndoNames(), ElementsAre("Velloran 2 Swap Colors"));

    ASSERT_EQ(controls().SendUserChangedParam(kSwapColors).err, PF_Err_NONE);
    const PF_Pixel inner = Color(kColor), outer = Color(kColorOuter);
    EXPECT_EQ(std::tie(inner.alpha, inner.red, inner.green, inner.blue),
              std::tie(red.alpha, red.red, red.green, red.blue));
    EXPECT_EQ(std::tie(outer.alpha, outer.red, outer.green, outer.blue),
              std::tie(orange.alpha, orange.red, orange.green, orange.blue));
}

TEST_F(ParamChangeTest, SwapColorsClosesItsGroupAndDisposesItsStreamsWhenASetFails) {
    host().Faults().FailCall("AEGP_SetStreamValue");
    const simhost::CommandResult r = controls().SendUserChangedParam(kSwapColors);
    EXPECT_EQ(r.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
    ASSERT_EQ(controls().UndoGroups().size(), 1u);
    EXPECT_TRUE(controls().UndoGroups()[0].closed);
    EXPECT_EQ(Color(kColor).green, 0) << "the second colour must not be set after the first failed";
    // The fixture checks that both streams and the effect handle were disposed.
}

TEST_F(ParamChangeTest, ShuffleRotatesTheMultipliersAndThreePressesComeBack) {
    ASSERT_EQ(Number(kMultiplyRed), 80);
    const std::vector<std::vector<double>> expected = {{120, 80, 100}, {100, 120, 80}, {80, 100, 120}};
    for (const auto& e : expected) {
        ASSERT_EQ(controls().SendUserChangedParam(kShuffleChannels).err, PF_Err_NONE);
        EXPECT_EQ((std::vector<double>{Number(kMultiplyRed), Number(kMultiplyGreen), Number(kMultiplyBlue)}), e);
    }
    EXPECT_THAT(UndoNames(), ElementsAre("Velloran 2 Shuffle Aberration Amounts",
                                         "Velloran 2 Shuffle Aberration Amounts",
                                         "Velloran 2 Shuffle Aberration Amounts"));
    EXPECT_THAT(controls().UIUpdates(), IsEmpty());
}

TEST_F(ParamChangeTest, ShuffleStoresThroughSinglePrecision) {
    params().SetNumber(kMultiplyBlue, 100.1);
    ASSERT_EQ(controls().SendUserChangedParam(kShuffleChannels).err, PF_Err_NONE);
    EXPECT_EQ(Number(kMultiplyRed), double(100.1f));
}

// ----- the reset buttons ---------------------------------------------------------------------------------

struct ResetCase {
    int button;
    const char* group;
    int first, last;                                // flagged and redrawn
    std::vector<std::pair<int, double>> values;     // the defaults written
};
void PrintTo(const ResetCase& c, std::ostream* os) { *os << "Reset " << c.group; }

class ResetButton : public ControlsTest, public ::testing::WithParamInterface<ResetCase> {};

TEST_P(ResetButton, RestoresTheDefaultsInOneUndoGroupAndRedrawsItsRange) {
    const ResetCase& c = GetParam();
    // Move every value the button restores away from its default first.
    for (auto [index, value] : c.values) {
        const PF_ParamDef d = params().Value(index);
        const double moved = d.param_type == PF_Param_CHECKBOX ? (value != 0 ? 0 : 1)
                             : d.param_type == PF_Param_POPUP ? (value == 1 ? 2 : 1)
                                                              : value + 0.5;
        params().SetNumber(index, d.param_type == PF_Param_SLIDER ? value + 1 : moved);
    }
    const simhost::CommandResult r = controls().SendUserChangedParam(c.button);
    EXPECT_EQ(r.err, PF_Err_NONE);
    for (auto [index, value] : c.values) EXPECT_EQ(Number(index), value) << "parameter " << index;
    std::vector<int> range;
    for (int i = c.first; i <= c.last; ++i) range.push_back(i);
    EXPECT_THAT(UpdatedIndices(), ElementsAreArray(range));
    ASSERT_EQ(controls().UndoGroups().size(), 1u);
    EXPECT_EQ(controls().UndoGroups()[0].name, std::string("Velloran 2 Reset ") + c.group);
    EXPECT_TRUE(controls().UndoGroups()[0].closed);
}

INSTANTIATE_TEST_SUITE_P(
    Resets, ResetButton,
    ::testing::Values(
        ResetCase{21, "Main", 17, 20, {{17, 1}, {18, 1}, {19, 1000}, {20, 1}}},
        ResetCase{36, "Input", 24, 35, {{24, 0}, {25, 0}, {26, 0}, {33, 1}, {34, 0}}},
        ResetCase{47, "Iris", 39, 46, {{44, 3}, {45, 10}, {46, 90}}},
        ResetCase{56, "Gamma", 53, 55, {{53, 1}, {54, 100}}},
        ResetCase{62, "Aspect Ratio", 59, 61, {{59, 1}, {60, 0}, {61, 0}}},
        ResetCase{73, "Chromatic Aberration", 65, 71,
                  {{65, 0}, {66, 2}, {67, 1}, {68, 0}, {69, 80}, {70, 100}, {71, 120}}},
        ResetCase{82, "Tint", 76, 81, {{76, 1}, {77, 1}, {81, 100}}},
        ResetCase{87, "Tone Mapping", 85, 86, {{85, 1}, {86, 100}}},
        ResetCase{96, "Lens Dirt Texture", 91, 95, {{91, 100}, {92, 0}, {93, 0}, {94, 1}, {95, 1}}},
        ResetCase{108, "Quality", 100, 107,
                  {{100, 3}, {101, 3}, {103, 75}, {104, 0.5}, {105, 8}, {106, 1}, {107, 0}}}),
    velloran_test::NameFromPrintTo<ResetCase>);

TEST_F(ParamChangeTest, ResetTintRestoresBothColoursAndKeepsTheirAlpha) {
    params().SetColor(kColor, PF_Pixel{200, 1, 2, 3});
    params().SetColor(kColorOuter, PF_Pixel{100, 4, 5, 6});
    ASSERT_EQ(controls().SendUserChangedParam(82).err, PF_Err_NONE);
    const PF_Pixel inner = Color(kColor), outer = Color(kColorOuter);
    EXPECT_EQ(std::tie(inner.alpha, inner.red, inner.green, inner.blue), std::make_tuple(200, 255, 0, 0));
    EXPECT_EQ(std::tie(outer.alpha, outer.red, outer.green, outer.blue), std::make_tuple(100, 255, 128, 0));
}

TEST_F(ParamChangeTest, ResetsKeepTheChosenLayersAndHalfFloat) {
    controls().AddLayer(7);
    controls().AddLayer(8);
    controls().ChooseLayer(kMaskLayer, 7);
    controls().ChooseLayer(kLensDirtTexture, 8);
    params().SetNumber(kHalfFloat, 0);
    for (int button : {36, 96, 108}) ASSERT_EQ(controls().SendUserChangedParam(button).err, PF_Err_NONE);
    EXPECT_EQ(controls().ChosenLayer(kMaskLayer), 7);
    EXPECT_EQ(controls().ChosenLayer(kLensDirtTexture), 8);
    EXPECT_EQ(Number(kHalfFloat), 0);
}

TEST_F(ParamChangeTest, AResetWhoseRedrawFailsStillWritesAllValuesAndClosesItsGroup) {
    params().SetNumber(kRadius, 5);
    params().SetNumber(kExposure, 3);
    host().Faults().FailCall("PF_UpdateParamUI", 2);
    const simhost::CommandResult r = controls().SendUserChangedParam(21);
    EXPECT_EQ(r.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(Number(19), 1000);
    EXPECT_EQ(Number(20), 1);
    EXPECT_THAT(UpdatedIndices(), ElementsAre(17)) << "redraws stop at the first failure";
    ASSERT_EQ(controls().UndoGroups().size(), 1u);
    EXPECT_TRUE(controls().UndoGroups()[0].closed);
}

// ----- the header line, Auto Detect Gamma, the frame of the command --------------------------------------

TEST_F(ParamChangeTest, HeaderBranchOpensAspectAngleOutsideLensIris) {
    params().SetNumber(kGlowMode, kLensIris);
    ASSERT_EQ(controls().SendUpdateParamsUI().err, PF_Err_NONE);
    ASSERT_TRUE(controls().View(kAspectAngle).collapsed);

    controls().ClearRecords();
    ASSERT_EQ(controls().SendUserChangedParam(kHeader).err, PF_Err_NONE);
    EXPECT_THAT(controls().UIUpdates(), IsEmpty()) << "in Lens Iris the collapse stays";
    EXPECT_TRUE(controls().View(kAspectAngle).collapsed);

    params().SetNumber(kGlowMode, kExponential);
    ASSERT_EQ(controls().SendUserChangedParam(kHeader).err, PF_Err_NONE);
    EXPECT_THAT(UpdatedIndices(), ElementsAre(kAspectAngle));
    EXPECT_FALSE(controls().View(kAspectAngle).collapsed);
}

TEST_F(ParamChangeTest, AutoDetectGammaSwitchesTheDeprecatedCheckboxOff) {
    params().SetNumber(kDeprecatedGammaCorrection, 1);
    ASSERT_EQ(controls().SendUserChangedParam(kAutoDetectGamma).err, PF_Err_NONE);
    EXPECT_EQ(Number(kDeprecatedGammaCorrection), 0);
    ASSERT_EQ(controls().SendUserChangedParam(kAutoDetectGamma).err, PF_Err_NONE);
    EXPECT_EQ(Number(kDeprecatedGammaCorrection), 0);
}

TEST_F(ParamChangeTest, WithoutAnEffectHandleNothingHappens) {
    controls().SetEffectHandleAvailable(false);
    const simhost::CommandResult r = controls().SendUserChangedParam(kShuffleChannels);
    EXPECT_EQ(r.err, PF_Err_NONE);
    EXPECT_EQ(Number(kMultiplyRed), 80);
    EXPECT_THAT(controls().UndoGroups(), IsEmpty());
}

TEST_F(ParamChangeTest, AFailingEffectLookupIsTheResult) {
    host().Faults().FailCall("AEGP_GetNewEffectForEffect");
    EXPECT_EQ(controls().SendUserChangedParam(kShuffleChannels).err, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(Number(kMultiplyRed), 80);
}

TEST_F(ParamChangeTest, AFailingDisposalIsTheResultWhenNothingElseFailed) {
    host().Faults().FailCall("AEGP_DisposeEffect");
    EXPECT_EQ(controls().SendUserChangedParam(kShuffleChannels).err, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(Number(kMultiplyRed), 120) << "the values were changed before the disposal";
}

TEST_F(ParamChangeTest, GlowModeAndTheTextureLayerLeaveEveryValueAsItWas) {
    // A state in which any other branch would change something: presets and views out of step, the
    // deprecated gamma switch on, multipliers that a shuffle would rotate.
    controls().AddLayer(8);
    controls().ChooseLayer(kLensDirtTexture, 8);
    const std::pair<int, double> state[] = {{kQualityPreset, 2}, {kQualityPresetIris, 5}, {kView, 5},
                                            {kViewWithIris, 2},  {kDeprecatedGammaCorrection, 1},
                                            {kMultiplyRed, 90},  {kGlowMode, kLensIris}};
    for (auto [index, value] : state) params().SetNumber(index, value);
    for (int changed : {kGlowMode, kLensDirtTexture}) {
        std::vector<PF_ParamDef> before;
        for (int i = 0; i < params().Count(); ++i) before.push_back(params().Value(i));
        ASSERT_EQ(controls().SendUserChangedParam(changed).err, PF_Err_NONE);
        const std::vector<PF_ParamDef> array = controls().LastParamArray();
        ASSERT_EQ(array.size(), before.size());
        for (size_t i = 1; i < before.size(); ++i) {
            EXPECT_EQ(array[i].uu.change_flags, 0) << "parameter " << i << " flagged after " << changed;
            EXPECT_EQ(std::memcmp(&array[i].u, &before[i].u, sizeof before[i].u), 0)
                << "parameter " << i << " written in the array after " << changed;
            const PF_ParamDef now = params().Value(int(i));
            EXPECT_EQ(std::memcmp(&now.u, &before[i].u, sizeof now.u), 0)
                << "parameter " << i << " changed after " << changed;
        }
        EXPECT_EQ(controls().ChosenLayer(kLensDirtTexture), 8);
    }
}

TEST_F(ParamChangeTest, GlowModeAndTheTextureLayerChangeNothingHere) {
    for (int index : {kGlowMode, kLensDirtTexture}) {
        const simhost::CommandResult r = controls().SendUserChangedParam(index);
        EXPECT_EQ(r.err, PF_Err_NONE);
    }
    EXPECT_THAT(controls().UIUpdates(), IsEmpty());
    EXPECT_THAT(controls().UndoGroups(), IsEmpty());
}

}  // namespace
