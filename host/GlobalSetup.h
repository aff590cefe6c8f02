// PF_Cmd_GLOBAL_SETUP and PF_Cmd_GLOBAL_SETDOWN (GlobalSetup, GlobalSetdown in host/Handlers.h): the version
// word, the capability flags and the global data block with the effect's own GL context and program set.
#pragma once

#include "host/Handlers.h"
#include "sdk/AE_Effect.h"

// 1.0.2, develop stage, build 1.
constexpr A_u_long kEffectVersionWord = PF_VERSION(1, 0, 2, PF_Stage_DEVELOP, 1);
constexpr PF_OutFlags kGlobalOutFlags = PF_OutFlag_CUSTOM_UI | PF_OutFlag_SEND_UPDATE_PARAMS_UI;
constexpr PF_OutFlags2 kGlobalOutFlags2 = PF_OutFlag2_PARAM_GROUP_START_COLLAPSED_FLAG |
                                          PF_OutFlag2_SUPPORTS_SMART_RENDER | PF_OutFlag2_FLOAT_COLOR_AWARE |
                                          PF_OutFlag2_I_MIX_GUID_DEPENDENCIES |
                                          PF_OutFlag2_SUPPORTS_THREADED_RENDERING;
// The host under which the effect declares itself obsolete.
constexpr A_u_long kObsoleteUnderHost = PF_FourCharCode("PrMr");

// Copies a GL text into one of the block's 100-character fields: at most 99 characters and a NUL. A null
// text (GL without a current context, or a failed query) leaves the field empty.
void CopyGLText(char (&field)[100], const unsigned char* text);
