#include "render/ProgramSet.h"

#include "Shaders/ShaderSources.h"

const ProgramSlotSources kProgramSlotSources[kProgramSlotCount] = {
    {Shaders::vert, Shaders::preProcess},           // PRE_PROC_XFORM_P
    {Shaders::vertIdentity, Shaders::preProcess},   // PRE_PROC_IDENTITY_P
    {Shaders::vertIdentity, Shaders::downsample},   // DOWNSAMPLE_P
    {Shaders::vertIdentity, Shaders::upsample},     // UPSAMPLE_P
    {Shaders::vertIdentity, Shaders::blurUnified},  // BLUR_UNIFIED_P
    {Shaders::vertIdentity, Shaders::postProcess},  // POST_PROC_P
    {Shaders::vertIdentity, Shaders::identity},     // IDENTITY
};

namespace {

bool Usable(const Program& program) { return program.valid && program.id != 0; }

}  // namespace

bool BuildProgramSet(ProgramSet& programs, PF_OutData* out_data, const ProgramSlotSources (&sources)[kProgramSlotCount])
{
    bool result = true;
    for (int slot = 0; slot < kProgramSlotCount; ++slot) {
        Program& program = programs[slot];
        if (Usable(program))
            continue;
        if (!program.InitInternal(sources[slot].vertex, sources[slot].fragment, out_data, slot))
            result = false;
    }
    return result;
}

bool InitReleasePrograms(ProgramSet& programs, PF_OutData* out_data)
{
    return BuildProgramSet(programs, out_data, kProgramSlotSources);
}

void ReleasePrograms(ProgramSet& programs)
{
    for (Program& program : programs)
        if (Usable(program))
            program.Release();
}

GLuint ProgramId(const ProgramSet& programs, ProgramSlot slot)
{
    const Program& program = programs[slot];
    return program.valid ? program.id : 0;
}
