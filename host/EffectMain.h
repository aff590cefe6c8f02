// The command entry's parts that tests reach without a host: the name tables, the report line and the
// dispatch over a table of handlers (EffectMain uses the effect's own table).
#pragma once

#include <string>

#include "host/Handlers.h"
#include "sdk/AE_Effect.h"

struct CommandHandlers {
    PF_Err (*about)(PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*);
    PF_Err (*globalSetup)(PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*);
    PF_Err (*globalSetdown)(PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*);
    PF_Err (*paramsSetup)(PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*);
    PF_Err (*userChangedParam)(PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*, const PF_UserChangedParamExtra*);
    PF_Err (*updateParameterUI)(PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*);
    PF_Err (*handleEvent)(PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*, PF_EventExtra*);
    PF_Err (*preRender)(PF_InData*, PF_OutData*, PF_PreRenderExtra*);
    PF_Err (*smartRender)(PF_InData*, PF_OutData*, PF_SmartRenderExtra*);
};

const CommandHandlers& EffectCommandHandlers();

// The host constant's name of a command that has a handler; null for any other command.
const char* CommandName(PF_Cmd cmd);
// "PF_Err_INVALID_INDEX" and the like, or "unknown error code of <code>".
std::string ErrorName(PF_Err err);
// "<command> reported err code: <error>".
std::string ReportLine(PF_Cmd cmd, PF_Err err);

// EffectMain's whole work over the given handlers; throws nothing.
PF_Err RunCommand(const CommandHandlers& handlers, PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                  PF_ParamDef* params[], PF_LayerDef* output, void* extra) noexcept;

// The About box text.
std::string AboutText();
