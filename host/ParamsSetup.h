// PF_Cmd_PARAMS_SETUP: adds the 154 parameters of the table in order, names the About & Support entries with
// texts found at run time, registers the custom UI events and sets num_params.
#pragma once

#include <string>

#include "host/Handlers.h"  // ParamsSetup
#include "sdk/AE_Effect.h"

// The GL texts of the global data block, read at parameter setup.
struct GlobalGLTexts {
    bool hasBlock = false;
    std::string renderer;
    std::string version;
};

// The texts of a global data block (never null), a GlobalRenderData.
GlobalGLTexts GlobalGLTextsOfBlock(const void* block);
// Follows the host handle directly; a null handle or a null block counts as no block.
GlobalGLTexts ReadGlobalGLTexts(PF_Handle global_data);

// Names of the entries found at run time.
struct ParamRuntimeNames {
    std::string product;    // "Velloran 2 v1.0.2"
    std::string host;       // "AE <major>.<minor>"
    std::string os;         // "OS " and the operating system's version text
    std::string renderer;   // the GL renderer, or "NULL" without one
    std::string glVersion;  // the GL version, or empty without a block
};
ParamRuntimeNames MakeRuntimeNames(A_u_long hostMajor, A_u_long hostMinor, const std::string& osVersion,
                                   const GlobalGLTexts& gl);

// The setup with its run-time names given: the additions, register_ui and num_params.
PF_Err AddParams(PF_InData* in_data, PF_OutData* out_data, const ParamRuntimeNames& names);
