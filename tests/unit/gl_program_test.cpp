// Building one program slot: failures reported by slot name, ids and validity, and the release rules.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/CaseNames.h"
#include "gl_fixtures.h"

namespace {

const char kVertex[] = R"(#version 330
in vec3 vertex;
in vec2 tex;
out vec2 texCoord;
void main() { texCoord = tex; gl_Position = vec4(vertex, 1.0); }
)";
const char kFragment[] = R"(#version 330
in vec2 texCoord;
out vec4 color;
void main() { color = vec4(texCoord, 0.0, 1.0); }
)";
const char kBrokenVertex[] = "#version 330\nvoid main() { gl_Position = undeclaredThing; }\n";
const char kBrokenFragment[] = "#version 330\nout vec4 color;\nvoid main() { color = 1.0 +; }\n";
// Compiles, but declares the varying that kVertex writes as a vec2 with another type, so the link fails.
const char kUnlinkableFragment[] = R"(#version 330
in vec3 texCoord;
out vec4 color;
void main() { color = vec4(texCoord, 1.0); }
)";

class ProgramTest : public GLTest {
protected:
    PF_OutData out{};
};

struct SlotCase {
    int slot;
    const char* name;
};
std::string Describe(const SlotCase& c) {
    return "Slot" + std::string(c.slot < 0 ? "Minus" : "") + std::to_string(c.slot < 0 ? -c.slot : c.slot);
}
void PrintTo(const SlotCase& c, std::ostream* os) { velloran_test::PrintCase(Describe(c) + " " + c.name, os); }

class ProgramSlotNames : public ProgramTest, public testing::WithParamInterface<SlotCase> {};

TEST_P(ProgramSlotNames, FailedCompileIsReportedUnderTheSlotName) {
    Program program;
    EXPECT_FALSE(program.InitInternal(kBrokenVertex, kFragment, &out, GetParam().slot));
    EXPECT_FALSE(program.valid);
    EXPECT_EQ(program.id, 0u);

    const std::string shown = out.return_msg;
    EXPECT_EQ(shown.rfind(std::string(GetParam().name) + " :", 0), 0u) << shown;
    EXPECT_GT(shown.size(), std::strlen(GetParam().name) + 2) << "the driver's log follows the name";
    EXPECT_TRUE(out.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE);
    EXPECT_EQ(CountOccurrences(LogText(), shown), 1);
}

INSTANTIATE_TEST_SUITE_P(Slots, ProgramSlotNames,
                         testing::Values(SlotCase{0, "PRE_PROC_XFORM_P"}, SlotCase{1, "PRE_PROC_IDENTITY_P"},
                                         SlotCase{2, "DOWNSAMPLE_P"}, SlotCase{3, "UPSAMPLE_P"},
                                         SlotCase{4, "BLUR_UNIFIED_P"}, SlotCase{5, "POST_PROC_P"},
                                         SlotCase{6, "IDENTITY"}, SlotCase{7, "UNKNOWN_P"},
                                         SlotCase{-1, "UNKNOWN_P"}),
                         [](const testing::TestParamInfo<SlotCase>& info) {
                             return velloran_test::CaseName(Describe(info.param));
                         });

TEST(ProgramSlotName, ComputeProgramsHaveTheirOwnNames) {
    EXPECT_STREQ(ProgramSlotName(1, 0), "COMPUTE_PRE_PROC_P");
    EXPECT_STREQ(ProgramSlotName(1, 1), "COMPUTE_BLEND_P");
    EXPECT_STREQ(ProgramSlotName(1, 2), "COMPUTE_POST_PROC_P");
    EXPECT_STREQ(ProgramSlotName(1, 3), "COMPUTE_UNKNOWN_P");
    EXPECT_STREQ(ProgramSlotName(2, 0), "PRE_PROC_XFORM_P");
}

TEST_F(ProgramTest, LinkedProgramIsValidAndKeepsNoShaders) {
    Program program;
    ASSERT_TRUE(program.InitInternal(kVertex, kFragment, &out, 3));
    EXPECT_TRUE(program.valid);
    EXPECT_NE(program.id, 0u);
    EXPECT_TRUE(glIsProgram(program.id));
    GLint attached = -1;
    glGetProgramiv(program.id, GL_ATTACHED_SHADERS, &attached);
    EXPECT_EQ(attached, 0);
    EXPECT_EQ(program.index, 3);
    EXPECT_EQ(program.isCompute, 0);
    EXPECT_EQ(program.prefix, "Velloran 2: ");
    EXPECT_STREQ(out.return_msg, "");
    EXPECT_EQ(out.out_flags, 0u);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(ProgramTest, FailedFragmentCompileReportsTheFragmentLog) {
    Program program;
    EXPECT_FALSE(program.InitInternal(kVertex, kBrokenFragment, &out, 5));
    EXPECT_FALSE(program.valid);
    EXPECT_EQ(program.id, 0u);
    EXPECT_EQ(std::string(out.return_msg).rfind("POST_PROC_P :", 0), 0u) << out.return_msg;
}

TEST_F(ProgramTest, FailedLinkKeepsTheUnlinkedProgramUntilReleased) {
    Program program;
    EXPECT_FALSE(program.InitInternal(kVertex, kUnlinkableFragment, &out, 2));
    EXPECT_FALSE(program.valid);
    const GLuint unlinked = program.id;
    ASSERT_NE(unlinked, 0u);
    EXPECT_TRUE(glIsProgram(unlinked));
    EXPECT_EQ(std::string(out.return_msg).rfind("DOWNSAMPLE_P :", 0), 0u) << out.return_msg;
    EXPECT_NE(LogText().find(out.return_msg), std::string::npos);

    program.Release();
    EXPECT_EQ(program.id, 0u);
    EXPECT_FALSE(program.valid);
    EXPECT_FALSE(glIsProgram(unlinked));
}

TEST_F(ProgramTest, LongDriverLogIsLoggedWholeAndShownCutAt255) {
    std::string fragment = "#version 330\nout vec4 color;\nvoid main() {\n";
    for (int i = 0; i < 40; ++i) fragment += "  color = undeclaredValue" + std::to_string(i) + ";\n";
    fragment += "}\n";
    Program program;
    EXPECT_FALSE(program.InitInternal(kVertex, fragment.c_str(), &out, 4));

    const std::string shown = out.return_msg;
    ASSERT_EQ(shown.size(), 255u);
    const std::string log = LogText();
    const size_t at = log.find(shown);
    ASSERT_NE(at, std::string::npos);
    // The log holds the message beyond the 255 characters shown: the driver's text up to 511 characters.
    const std::string logged = log.substr(at);
    EXPECT_GT(logged.size(), 400u);
    EXPECT_LE(logged.size(), std::string("BLUR_UNIFIED_P :").size() + 511 + 1);
}

TEST_F(ProgramTest, ReleaseOfAnEmptySlotChangesNothing) {
    Program program;
    program.valid = true;
    program.Release();
    EXPECT_TRUE(program.valid);
    EXPECT_EQ(program.id, 0u);
}

TEST_F(ProgramTest, DestructionAndRebuildDeleteTheProgramHeld) {
    GLuint first = 0;
    {
        Program program;
        ASSERT_TRUE(program.InitInternal(kVertex, kFragment, &out, 0));
        first = program.id;
        ASSERT_TRUE(program.InitInternal(kVertex, kFragment, &out, 0));
        EXPECT_NE(program.id, first);
        EXPECT_FALSE(glIsProgram(first)) << "a rebuilt slot must not leak its old program";
        first = program.id;
    }
    EXPECT_FALSE(glIsProgram(first));
}

TEST_F(ProgramTest, LaterFailureOverwritesTheEarlierMessage) {
    Program slots[2];
    slots[0].InitInternal(kBrokenVertex, kFragment, &out, 0);
    slots[1].InitInternal(kBrokenVertex, kFragment, &out, 1);
    EXPECT_EQ(std::string(out.return_msg).rfind("PRE_PROC_IDENTITY_P :", 0), 0u);
    const std::string log = LogText();
    EXPECT_NE(log.find("PRE_PROC_XFORM_P :"), std::string::npos);
    EXPECT_NE(log.find("PRE_PROC_IDENTITY_P :"), std::string::npos);
}

}  // namespace
