// Registration and the command entry: the whole surface the host sees of the effect.
#include "host/EffectMain.h"

#include <new>
#include <stdexcept>
#include <type_traits>

#include "host/Export.h"
#include "host/Messages.h"
#include "host/Suites.h"

namespace {

// Names of the commands that have a handler, by command number; null where the effect answers nothing.
const char* const kCommandNames[PF_Cmd_NUM_CMDS] = {
    "PF_Cmd_ABOUT",              // 0
    "PF_Cmd_GLOBAL_SETUP",       // 1
    nullptr,                     // 2
    "PF_Cmd_GLOBAL_SETDOWN",     // 3
    "PF_Cmd_PARAMS_SETUP",       // 4
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,  // 5 .. 12
    "PF_Cmd_USER_CHANGED_PARAM", // 13
    "PF_Cmd_UPDATE_PARAMS_UI",   // 14
    "PF_Cmd_EVENT",              // 15
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,  // 16 .. 22
    "PF_Cmd_SMART_PRE_RENDER",   // 23
    "PF_Cmd_SMART_RENDER",       // 24
};

struct ErrorNameEntry {
    PF_Err code;
    const char* name;
};
const ErrorNameEntry kErrorNames[] = {
    {PF_Err_INTERNAL_STRUCT_DAMAGED, "PF_Err_INTERNAL_STRUCT_DAMAGED"},
    {PF_Err_INVALID_INDEX, "PF_Err_INVALID_INDEX"},
    {PF_Err_UNRECOGNIZED_PARAM_TYPE, "PF_Err_UNRECOGNIZED_PARAM_TYPE"},
    {PF_Err_INVALID_CALLBACK, "PF_Err_INVALID_CALLBACK"},
    {PF_Err_BAD_CALLBACK_PARAM, "PF_Err_BAD_CALLBACK_PARAM"},
    {PF_Err_CANNOT_PARSE_KEYFRAME_TEXT, "PF_Err_CANNOT_PARSE_KEYFRAME_TEXT"},
};

const CommandHandlers kEffectHandlers = {About,           GlobalSetup,       GlobalSetdown,
                                         ParamsSetup,     UserChangedParam,  UpdateParameterUI,
                                         HandleEvent,     PreRender,         SmartRender};

PF_Err Dispatch(const CommandHandlers& h, PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                PF_ParamDef* params[], PF_LayerDef* output, void* extra) {
    switch (cmd) {
        case PF_Cmd_ABOUT:
            // The About box is the text the handler left; what it returns is not the command's result.
            h.about(in_data, out_data, params, output);
            return PF_Err_NONE;
        case PF_Cmd_GLOBAL_SETUP: return h.globalSetup(in_data, out_data, params, output);
        case PF_Cmd_GLOBAL_SETDOWN: return h.globalSetdown(in_data, out_data, params, output);
        case PF_Cmd_PARAMS_SETUP: return h.paramsSetup(in_data, out_data, params, output);
        case PF_Cmd_USER_CHANGED_PARAM:
            return h.userChangedParam(in_data, out_data, params, output,
                                      static_cast<const PF_UserChangedParamExtra*>(extra));
        case PF_Cmd_UPDATE_PARAMS_UI: return h.updateParameterUI(in_data, out_data, params, output);
        case PF_Cmd_EVENT: return h.handleEvent(in_data, out_data, params, output, static_cast<PF_EventExtra*>(extra));
        case PF_Cmd_SMART_PRE_RENDER: return h.preRender(in_data, out_data, static_cast<PF_PreRenderExtra*>(extra));
        case PF_Cmd_SMART_RENDER: return h.smartRender(in_data, out_data, static_cast<PF_SmartRenderExtra*>(extra));
        default: return PF_Err_NONE;
    }
}

// Logging while a failure is already being handled must not raise a second one.
void LogQuietly(const char* commandName, const char* what, PF_InData* in_data) noexcept {
    try {
        LogError(std::string(commandName) + " stopped by an exception: " + what, in_data);
    } catch (...) {
    }
}

}  // namespace

const CommandHandlers& EffectCommandHandlers() { return kEffectHandlers; }

const char* CommandName(PF_Cmd cmd) {
    // Compared unsigned, so a negative command is as unknown as one above the table.
    const auto index = static_cast<A_u_long>(cmd);
    return index < A_u_long(PF_Cmd_NUM_CMDS) ? kCommandNames[index] : nullptr;
}

std::string ErrorName(PF_Err err) {
    for (const ErrorNameEntry& entry : kErrorNames)
        if (entry.code == err) return entry.name;
    return "unknown error code of " + std::to_string(err);
}

std::string ReportLine(PF_Cmd cmd, PF_Err err) {
    const char* name = CommandName(cmd);
    return std::string(name ? name : "unknown command") + " reported err code: " + ErrorName(err);
}

PF_Err RunCommand(const CommandHandlers& handlers, PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                  PF_ParamDef* params[], PF_LayerDef* output, void* extra) noexcept {
    const char* name = CommandName(cmd);
    if (!name) return PF_Err_NONE;

    PF_Err err = PF_Err_NONE;
    // Nothing may unwind into the host: a thrown host code is the result, and anything else is logged with
    // what it says and turned into the host's code for it.
    try {
        try {
            err = Dispatch(handlers, cmd, in_data, out_data, params, output, extra);
        } catch (int& thrown) {
            err = thrown;
        }
    } catch (const std::bad_alloc& e) {
        LogQuietly(name, e.what(), in_data);
        err = PF_Err_OUT_OF_MEMORY;
    } catch (const std::exception& e) {
        LogQuietly(name, e.what(), in_data);
        err = PF_Err_INTERNAL_STRUCT_DAMAGED;
    } catch (...) {
        LogQuietly(name, "an exception of unknown type", in_data);
        err = PF_Err_INTERNAL_STRUCT_DAMAGED;
    }

    // Out of memory and the user's interrupt are not failures of the effect worth a log line.
    if (err == PF_Err_NONE || err == PF_Err_OUT_OF_MEMORY || err == PF_Interrupt_CANCEL) return err;
    try {
        LogError(ReportLine(cmd, err), in_data);
    } catch (...) {
        // A log that cannot be written changes nothing in the result.
    }
    return err;
}

std::string AboutText() {
    return "Velloran 2 v" + VersionText() + "\n" + "\nSimulates a physically accurate glow.\n";
}

PF_Err About(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*) {
    if (!in_data || !out_data) throw int(PF_Err_BAD_CALLBACK_PARAM);
    if (in_data->appl_id == PF_FourCharCode("PrMr")) return PF_Err_NONE;
    const std::string text = AboutText();
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    // Handed over as an argument rather than as the format, so the text can never be read as conversions.
    suites.ANSICallbacksSuite1()->sprintf(out_data->return_msg, "%s", text.c_str());
    return PF_Err_NONE;
}

VELLORAN_EXPORT PF_Err PluginDataEntryFunction(void* registration_ref, PF_PluginRegisterFunc register_func,
                                               SPBasicSuite* /*pica_basicP*/, const A_char* /*host_name*/,
                                               const A_char* /*host_version*/) {
    if (!register_func) return PF_Err_INVALID_CALLBACK;
    return register_func(registration_ref, "Velloran 2", "QUVL2", "Quenholt", "EffectMain",
                         PF_FourCharCode("eFKT"), 13, 28, 8);
}
static_assert(std::is_same_v<decltype(&PluginDataEntryFunction), PF_PluginDataEntryFunc>,
              "the registration function must match the host's declaration");

VELLORAN_EXPORT PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                                  PF_LayerDef* output, void* extra) {
    return RunCommand(kEffectHandlers, cmd, in_data, out_data, params, output, extra);
}
static_assert(std::is_same_v<decltype(&EffectMain), PF_EffectMainFunc>,
              "the command entry must match the host's declaration");
