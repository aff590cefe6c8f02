// The parameter set through the loaded bundle: what the host's store holds after PF_Cmd_PARAMS_SETUP, a
// failing addition or custom UI registration, and values set by index, name and choice text.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "simhost/ParamStore.h"
#include "support/CaseNames.h"
#include "support/SimHostFixture.h"

namespace {

class ParamsSetupThroughHost : public testsupport::SimHostTest {
protected:
    void SetUp() override {
        SimHostTest::SetUp();
        simhost::Params(host());  // the store serves add_param from the first command on
    }
    simhost::ParamStore& store() { return simhost::Params(host()); }
};

TEST_F(ParamsSetupThroughHost, StoreHoldsEveryDefinitionWithItsDefaultAsValue) {
    const simhost::CommandResult r = host().Send(PF_Cmd_PARAMS_SETUP);
    ASSERT_EQ(r.err, PF_Err_NONE);
    EXPECT_EQ(r.out.num_params, 155);
    EXPECT_EQ(store().Count(), 155);
    EXPECT_EQ(store().RegisteredUI().size(), 1u);
    const std::vector<simhost::ParamDefinition> defs = store().Definitions();
    EXPECT_STREQ(defs[19].def.name, "Radius");
    EXPECT_EQ(store().Value(19).u.fs_d.value, 1000.0);
    EXPECT_STREQ(defs[3].def.name, "AE 13.28");
    EXPECT_THAT(std::string(defs[4].def.name), testing::StartsWith("OS "));
    EXPECT_STREQ(defs[5].def.name, "NULL") << "no global block without global setup";
    const std::string listing = simhost::DescribeParams(store());
    EXPECT_THAT(listing, testing::HasSubstr("19\tdisk 17\tfloat\t\"Radius\"\tdefault 1000\trange 0 to 2000"));
    EXPECT_THAT(listing, testing::HasSubstr("17\tdisk 103\tpopup\t\"Glow Mode\"\tdefault 1"));
}

TEST_F(ParamsSetupThroughHost, FiftiethAdditionFailing) {
    store().SetFailureCode("add_param", PF_Err_OUT_OF_MEMORY);
    host().Faults().FailCall("add_param", 50);
    const simhost::CommandResult r = host().Send(PF_Cmd_PARAMS_SETUP, {nullptr, nullptr, nullptr,
                                                                        [](PF_InData&, PF_OutData& out) {
                                                                            out.num_params = 1;
                                                                        }});
    EXPECT_EQ(r.err, PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(store().AddCalls(), 50);
    EXPECT_EQ(store().Count(), 1 + 49);
    EXPECT_EQ(r.out.num_params, 1) << "num_params is not set";
}

TEST_F(ParamsSetupThroughHost, RefusedCustomUIAfterAllAdditions) {
    host().Faults().FailCall("register_ui", 1);
    const simhost::CommandResult r = host().Send(PF_Cmd_PARAMS_SETUP);
    EXPECT_EQ(r.err, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(store().Count(), 155);
    EXPECT_EQ(r.out.num_params, 155);
}

struct AssignmentCase {
    const char* text;
    bool ok;
    int index;
    double value;
};
void PrintTo(const AssignmentCase& c, std::ostream* os) { *os << c.text; }

class ParamAssignments : public ParamsSetupThroughHost, public testing::WithParamInterface<AssignmentCase> {};

TEST_P(ParamAssignments, SetByIndexNameOrChoice) {
    const AssignmentCase& c = GetParam();
    ASSERT_EQ(host().Send(PF_Cmd_PARAMS_SETUP).err, PF_Err_NONE);
    std::string error;
    EXPECT_EQ(store().SetFromText(c.text, &error), c.ok) << error;
    if (!c.ok) {
        EXPECT_FALSE(error.empty());
        return;
    }
    const PF_ParamDef v = store().Value(c.index);
    switch (v.param_type) {
        case PF_Param_FLOAT_SLIDER: EXPECT_EQ(v.u.fs_d.value, c.value); break;
        case PF_Param_POPUP: EXPECT_EQ(v.u.pd.value, int(c.value)); break;
        case PF_Param_CHECKBOX: EXPECT_EQ(v.u.bd.value, int(c.value)); break;
        case PF_Param_SLIDER: EXPECT_EQ(v.u.sd.value, int(c.value)); break;
        case PF_Param_COLOR: EXPECT_EQ(v.u.cd.value.green, int(c.value)); break;
        default: ADD_FAILURE() << "unexpected kind";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParamAssignments,
    testing::Values(AssignmentCase{"19=250", true, 19, 250}, AssignmentCase{"Radius=12.5", true, 19, 12.5},
                    AssignmentCase{"Glow Mode=Lens Iris", true, 17, 2}, AssignmentCase{"17=2", true, 17, 2},
                    AssignmentCase{"Quality Preset=Custom", true, 100, 8},
                    AssignmentCase{"Unmult=off", true, 113, 0}, AssignmentCase{"Iris Iterations=4", true, 45, 4},
                    AssignmentCase{"Color=#10FF20", true, 78, 255},
                    AssignmentCase{"View=Glow Input", false, 0, 0},    // two parameters are named "View"
                    AssignmentCase{"Glow Mode=Bloom", false, 0, 0},    // not a choice
                    AssignmentCase{"17=3", false, 0, 0},               // beyond the choices
                    AssignmentCase{"Radius=wide", false, 0, 0}, AssignmentCase{"999=1", false, 0, 0},
                    AssignmentCase{"Radius", false, 0, 0}),
    velloran_test::NameFromPrintTo<AssignmentCase>);

}  // namespace
