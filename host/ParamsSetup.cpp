#include "host/ParamsSetup.h"

#include <cstring>

#include "host/Messages.h"
#include "host/ParamsTable.h"
#include "host/Platform.h"
#include "render/ThreadState.h"
#include "sdk/AE_CustomUI.h"

GlobalGLTexts GlobalGLTextsOfBlock(const void* block) {
    const GlobalRenderData* data = static_cast<const GlobalRenderData*>(block);
    GlobalGLTexts texts;
    texts.hasBlock = true;
    // Bounded reads: the texts are NUL-terminated within their fields when global setup filled them.
    texts.renderer.assign(data->glRenderer, strnlen(data->glRenderer, sizeof data->glRenderer));
    texts.version.assign(data->glVersion, strnlen(data->glVersion, sizeof data->glVersion));
    return texts;
}

GlobalGLTexts ReadGlobalGLTexts(PF_Handle global_data) {
    if (!global_data || !*global_data) return GlobalGLTexts{};
    return GlobalGLTextsOfBlock(*global_data);
}

ParamRuntimeNames MakeRuntimeNames(A_u_long hostMajor, A_u_long hostMinor, const std::string& osVersion,
                                   const GlobalGLTexts& gl) {
    ParamRuntimeNames names;
    names.product = "Velloran 2 v" + std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." +
                    std::to_string(kVersionRevision);
    names.host = "AE " + std::to_string(hostMajor) + "." + std::to_string(hostMinor);
    names.os = "OS " + osVersion;
    names.renderer = gl.hasBlock && !gl.renderer.empty() ? gl.renderer : "NULL";
    names.glVersion = gl.hasBlock ? gl.version : "";
    return names;
}

namespace {

const std::string* RuntimeNameOf(RuntimeName which, const ParamRuntimeNames& names) {
    switch (which) {
        case RuntimeName::Product: return &names.product;
        case RuntimeName::HostVersion: return &names.host;
        case RuntimeName::OSVersion: return &names.os;
        case RuntimeName::GLRenderer: return &names.renderer;
        case RuntimeName::GLVersion: return &names.glVersion;
        case RuntimeName::None: break;
    }
    return nullptr;
}

}  // namespace

PF_Err AddParams(PF_InData* in_data, PF_OutData* out_data, const ParamRuntimeNames& names) {
    PF_Err uiErr = PF_Err_NONE;
    for (const ParamSpec& spec : Params()) {
        PF_ParamDef def = MakeParamDef(spec, RuntimeNameOf(spec.runtimeName, names));
        if (const PF_Err err = in_data->inter.add_param(in_data->effect_ref, -1, &def)) return err;
        // The header area exists now; its events are registered at once, and a refusal does not stop the set.
        if (spec.index == PARAM_HEADER) {
            PF_CustomUIInfo ui{};
            ui.events = PF_CustomEFlag_COMP | PF_CustomEFlag_LAYER | PF_CustomEFlag_EFFECT;
            uiErr = in_data->inter.register_ui(in_data->effect_ref, &ui);
        }
    }
    out_data->num_params = PARAM_NUM_PARAMS;
    return uiErr;
}

namespace {

// A system whose version cannot be read names the entry "OS " rather than failing the whole setup.
std::string OperatingSystemVersionOrEmpty() {
    try {
        return OperatingSystemVersion();
    } catch (...) {
        return "";
    }
}

}  // namespace

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* /*params*/[], PF_LayerDef* /*output*/) {
    const ParamRuntimeNames names = MakeRuntimeNames(in_data->version_major, in_data->version_minor,
                                                     OperatingSystemVersionOrEmpty(),
                                                     ReadGlobalGLTexts(out_data->global_data));
    return AddParams(in_data, out_data, names);
}
