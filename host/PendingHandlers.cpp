// Handlers whose commands the effect does not answer yet: each returns no error, so the host goes on as with
// an effect that ignores the command. They are weak, so a real handler defined in its own file takes the
// place of its entry here; delete the entry when the real one lands.
#include "host/Handlers.h"

#define VELLORAN_PENDING_HANDLER __attribute__((weak))

VELLORAN_PENDING_HANDLER PF_Err UserChangedParam(PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*,
                                                 const PF_UserChangedParamExtra*) {
    return PF_Err_NONE;
}
VELLORAN_PENDING_HANDLER PF_Err UpdateParameterUI(PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*) {
    return PF_Err_NONE;
}
VELLORAN_PENDING_HANDLER PF_Err HandleEvent(PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*, PF_EventExtra*) {
    return PF_Err_NONE;
}
