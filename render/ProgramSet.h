// The seven-slot program set every GPU pass of the glow draws with: which embedded sources go
// into which slot, and the two operations that build and release a whole set. A set belongs to
// one GL context, which must be current on the calling thread for both operations.
#pragma once

#include "gl/Program.h"
#include "render/ThreadState.h"
#include "sdk/AE_Effect.h"

// Slot numbers of the kProgramSlotCount slots; each is also the program's index and names it
// in build-failure messages.
enum ProgramSlot : int {
    PRE_PROC_XFORM_P = 0,     // vert + preProcess: source quad placed by xform
    PRE_PROC_IDENTITY_P = 1,  // vertIdentity + preProcess: over the whole target
    DOWNSAMPLE_P = 2,         // 13-tap resampling into the next level
    UPSAMPLE_P = 3,           // 3x3 tent resampling into the level before
    BLUR_UNIFIED_P = 4,       // one-direction Gaussian of a level
    POST_PROC_P = 5,          // exposure, tint, tone map, gamma
    IDENTITY = 6,             // plain copy
};
using ProgramSet = Program[kProgramSlotCount];

// The vertex and fragment source of one slot.
struct ProgramSlotSources {
    const char* vertex;
    const char* fragment;
};

// The slot table with the embedded sources.
extern const ProgramSlotSources kProgramSlotSources[kProgramSlotCount];

// Builds every slot that is not usable (valid with a non-zero id) from the embedded sources,
// slot 0 to 6; a failed slot reports itself through out_data, stays invalid and does not stop
// the others. True when every build attempted succeeded (also when none was needed).
bool InitReleasePrograms(ProgramSet& programs, PF_OutData* out_data);

// The same from a given slot table (InitReleasePrograms passes the embedded one).
bool BuildProgramSet(ProgramSet& programs, PF_OutData* out_data, const ProgramSlotSources (&sources)[kProgramSlotCount]);

// Deletes the GL program of every usable slot; other slots are left as they are.
void ReleasePrograms(ProgramSet& programs);

// The program a pass draws with: the slot's id when it is valid, else 0.
GLuint ProgramId(const ProgramSet& programs, ProgramSlot slot);
