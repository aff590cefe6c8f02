// Command entry of the effect (filled in with the foundation work).
#include "sdk/AE_Effect.h"

extern "C" __attribute__((visibility("default"))) PF_Err EffectMain(PF_Cmd, PF_InData*, PF_OutData*, PF_ParamDef*[],
                                                                    PF_LayerDef*, void*) {
    return PF_Err_NONE;
}
