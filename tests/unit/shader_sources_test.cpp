// The embedded GLSL sources and the program set built from them: every slot builds on the
// renderer at hand, a failed slot names itself and spares the others, release and rebuild.

#include "unit/shader_gl_fixture.h"

#include <algorithm>
#include <string>
#include <vector>

#include "Shaders/ShaderSources.h"

namespace {

struct NamedSource {
    const char* name;
    const char* text;
};

const NamedSource kSources[] = {
    {"vert", Shaders::vert},           {"vertIdentity", Shaders::vertIdentity}, {"preProcess", Shaders::preProcess},
    {"downsample", Shaders::downsample}, {"upsample", Shaders::upsample},       {"blurUnified", Shaders::blurUnified},
    {"postProcess", Shaders::postProcess}, {"identity", Shaders::identity},
};

TEST(ShaderSources, CarryTheMarkersAndVersionAndNoLayoutQualifiers)
{
    const std::string head = "\n// begin shader\n#version 330\n";
    const std::string tail = "\n// end shader\n";
    for (const auto& s : kSources) {
        SCOPED_TRACE(s.name);
        const std::string text = s.text;
        ASSERT_GT(text.size(), head.size() + tail.size());
        EXPECT_EQ(text.compare(0, head.size(), head), 0) << "starts: " << text.substr(0, 40);
        EXPECT_EQ(text.compare(text.size() - tail.size(), tail.size(), tail), 0);
        // Attributes, uniforms and outputs are matched by name when a pass is drawn.
        EXPECT_EQ(text.find("layout"), std::string::npos);
        EXPECT_EQ(text.find("#version 330 core"), std::string::npos);
    }
}

class ProgramSetTest : public shader_test::GLTest {};

TEST_F(ProgramSetTest, AllSevenSlotsBuildWithTheSharedStageInterface)
{
    // The fixture built programs_ with InitReleasePrograms and required success.
    for (int slot = 0; slot < kProgramSlotCount; ++slot) {
        SCOPED_TRACE(ProgramSlotName(0, slot));
        const Program& p = programs_[slot];
        EXPECT_TRUE(p.valid);
        EXPECT_NE(p.id, 0u);
        EXPECT_EQ(p.index, slot);
        EXPECT_EQ(ProgramId(programs_, ProgramSlot(slot)), p.id);
        // The quad binds its corners and coordinates by these names, and every pass reads
        // videoTexture.
        EXPECT_GE(glGetAttribLocation(p.id, "vertex"), 0);
        EXPECT_GE(glGetAttribLocation(p.id, "tex"), 0);
        EXPECT_GE(glGetUniformLocation(p.id, "videoTexture"), 0);
    }
    EXPECT_GE(glGetUniformLocation(programs_[PRE_PROC_XFORM_P].id, "xform"), 0);
    EXPECT_EQ(glGetUniformLocation(programs_[PRE_PROC_IDENTITY_P].id, "xform"), -1);
    // A set whose slots are all usable builds nothing and succeeds.
    const GLuint before = programs_[POST_PROC_P].id;
    EXPECT_TRUE(InitReleasePrograms(programs_, &out_data_));
    EXPECT_EQ(programs_[POST_PROC_P].id, before);
}

const char kBrokenFragment[] = "\n// begin shader\n#version 330\nout vec3 FragColor;\nvoid main() { FragColor = ; }\n// end shader\n";
const char kBrokenVertex[] = "\n// begin shader\n#version 330\nin vec3 vertex;\nvoid main() { gl_Position = vertex; }\n// end shader\n";
// Compiles, but takes out_uvs as a vec3 where the vertex stages write a vec2: the link fails.
const char kUnlinkableFragment[] =
    "\n// begin shader\n#version 330\nin vec3 out_uvs;\nuniform sampler2D videoTexture;\nout vec3 FragColor;\n"
    "void main() { FragColor = texture(videoTexture, out_uvs.xy).rgb; }\n// end shader\n";

TEST_F(ProgramSetTest, AFailedSlotReportsItsNameAndLeavesTheOthersUsable)
{
    const struct {
        const char* what;
        const char* ProgramSlotSources::*stage;
        const char* brokenText;
        std::vector<int> brokenSlots;   // slots using the broken source
        const char* messageStart;       // the last failing slot's message
    } cases[] = {
        {"downsample fragment fails to compile", &ProgramSlotSources::fragment, kBrokenFragment, {DOWNSAMPLE_P},
         "DOWNSAMPLE_P :"},
        {"the shared preProcess fails: both pre-process slots, the message of slot 1 remains",
         &ProgramSlotSources::fragment, kBrokenFragment, {PRE_PROC_XFORM_P, PRE_PROC_IDENTITY_P},
         "PRE_PROC_IDENTITY_P :"},
        {"identity's vertex stage fails to compile", &ProgramSlotSources::vertex, kBrokenVertex, {IDENTITY},
         "IDENTITY :"},
        {"blur fails to link", &ProgramSlotSources::fragment, kUnlinkableFragment, {BLUR_UNIFIED_P},
         "BLUR_UNIFIED_P :"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ProgramSlotSources sources[kProgramSlotCount];
        for (int slot = 0; slot < kProgramSlotCount; ++slot)
            sources[slot] = kProgramSlotSources[slot];
        for (int slot : c.brokenSlots)
            sources[slot].*c.stage = c.brokenText;

        PF_OutData out = {};
        ProgramSet set;
        EXPECT_FALSE(BuildProgramSet(set, &out, sources));
        EXPECT_EQ(std::string(out.return_msg).rfind(c.messageStart, 0), 0u) << out.return_msg;
        EXPECT_GT(std::string(out.return_msg).size(), std::string(c.messageStart).size()) << "driver log missing";
        EXPECT_NE(out.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE, 0u);
        for (int slot = 0; slot < kProgramSlotCount; ++slot) {
            const bool broken = std::find(c.brokenSlots.begin(), c.brokenSlots.end(), slot) != c.brokenSlots.end();
            EXPECT_EQ(set[slot].valid, !broken) << "slot " << slot;
            EXPECT_EQ(ProgramId(set, ProgramSlot(slot)) != 0, !broken) << "slot " << slot;
        }
        // The failure is in the log too, under the slot's name.
        EXPECT_NE(home_->ReadLog().find(c.messageStart), std::string::npos);
    }
}

TEST_F(ProgramSetTest, OnlyUnusableSlotsAreBuilt)
{
    // Slot 4 lost its program; every other slot is usable. A table in which every source but
    // slot 4's is broken shows that nothing else is compiled again.
    programs_[BLUR_UNIFIED_P].Release();
    GLuint ids[kProgramSlotCount];
    for (int slot = 0; slot < kProgramSlotCount; ++slot)
        ids[slot] = programs_[slot].id;
    ProgramSlotSources sources[kProgramSlotCount];
    for (int slot = 0; slot < kProgramSlotCount; ++slot)
        sources[slot] = {kBrokenVertex, kBrokenFragment};
    sources[BLUR_UNIFIED_P] = kProgramSlotSources[BLUR_UNIFIED_P];

    EXPECT_TRUE(BuildProgramSet(programs_, &out_data_, sources)) << out_data_.return_msg;
    EXPECT_TRUE(programs_[BLUR_UNIFIED_P].valid);
    EXPECT_NE(programs_[BLUR_UNIFIED_P].id, 0u);
    for (int slot = 0; slot < kProgramSlotCount; ++slot) {
        if (slot != BLUR_UNIFIED_P) {
            EXPECT_EQ(programs_[slot].id, ids[slot]) << "slot " << slot;
        }
    }
}

TEST_F(ProgramSetTest, RebuildingAFailedLinkDeletesTheUnlinkedProgramFirst)
{
    ProgramSlotSources sources[kProgramSlotCount];
    for (int slot = 0; slot < kProgramSlotCount; ++slot)
        sources[slot] = kProgramSlotSources[slot];
    sources[UPSAMPLE_P].fragment = kUnlinkableFragment;
    PF_OutData out = {};
    ProgramSet set;
    EXPECT_FALSE(BuildProgramSet(set, &out, sources));
    const GLuint unlinked = set[UPSAMPLE_P].id;
    ASSERT_NE(unlinked, 0u);   // a failed link keeps its program name
    ASSERT_TRUE(glIsProgram(unlinked));

    EXPECT_TRUE(InitReleasePrograms(set, &out));
    EXPECT_TRUE(set[UPSAMPLE_P].valid);
    // GL may hand the freed name out again for the new program; any other name must be gone.
    if (set[UPSAMPLE_P].id != unlinked) {
        EXPECT_FALSE(glIsProgram(unlinked)) << "the unlinked program leaked";
    }
}

TEST_F(ProgramSetTest, ReleaseSkipsInvalidSlotsAndEmptiesUsableOnes)
{
    ProgramSlotSources sources[kProgramSlotCount];
    for (int slot = 0; slot < kProgramSlotCount; ++slot)
        sources[slot] = kProgramSlotSources[slot];
    sources[DOWNSAMPLE_P].fragment = kUnlinkableFragment;
    PF_OutData out = {};
    ProgramSet set;
    EXPECT_FALSE(BuildProgramSet(set, &out, sources));
    GLuint ids[kProgramSlotCount];
    for (int slot = 0; slot < kProgramSlotCount; ++slot)
        ids[slot] = set[slot].id;

    ReleasePrograms(set);
    for (int slot = 0; slot < kProgramSlotCount; ++slot) {
        SCOPED_TRACE(slot);
        if (slot == DOWNSAMPLE_P) {
            // Left as it is: invalid, still holding the unlinked program its destructor deletes.
            EXPECT_FALSE(set[slot].valid);
            EXPECT_EQ(set[slot].id, ids[slot]);
        } else {
            EXPECT_FALSE(set[slot].valid);
            EXPECT_EQ(set[slot].id, 0u);
            EXPECT_FALSE(glIsProgram(ids[slot]));
        }
    }
}

}  // namespace
