// What the effect's buttons and supervised parameters do when the user changes them (PF_Cmd_USER_CHANGED_PARAM):
// keeping the presets and the two View lists in step, the log and page buttons, the scene-gamma alert, the
// colour swap, the aberration shuffle and the reset buttons, each edit in its own undo group.
#pragma once

#include "host/Handlers.h"
#include "sdk/AE_Effect.h"

// The maker's pages behind the three About & Support buttons. Set when building
// (-DVELLORAN_PRODUCT_PAGE_URL=..., and so on); these are the defaults.
#ifndef VELLORAN_PRODUCT_PAGE_URL
#define VELLORAN_PRODUCT_PAGE_URL "https://quenholt.com/velloran-2"
#endif
#ifndef VELLORAN_FREE_PLUGINS_URL
#define VELLORAN_FREE_PLUGINS_URL "https://quenholt.com/free-plugins"
#endif
#ifndef VELLORAN_SUPPORT_URL
#define VELLORAN_SUPPORT_URL "https://quenholt.com/support"
#endif

constexpr const char* kProductPageURL = VELLORAN_PRODUCT_PAGE_URL;
constexpr const char* kFreePluginsURL = VELLORAN_FREE_PLUGINS_URL;
constexpr const char* kSupportURL = VELLORAN_SUPPORT_URL;

// The View list that follows the other one: Exponential mode's list (without "View Iris") mapped onto the
// list with it, and back. Choices outside the lists give 1, "Final Result".
PF_ParamValue ViewWithIrisFromView(PF_ParamValue view);
PF_ParamValue ViewFromViewWithIris(PF_ParamValue viewWithIris);
