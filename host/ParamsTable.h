// The effect's parameters described as data: one row per parameter, in the order they are added. ParamsSetup
// turns each row into the host's definition record; everything else that needs a parameter's kind, disk ID,
// default or choices reads the same rows.
#pragma once

#include <array>
#include <string>

#include "host/ParamIndex.h"
#include "sdk/AE_Effect.h"

enum class ParamKind {
    GroupStart,
    GroupEnd,
    NoData,       // custom UI area (the header image)
    Button,
    Popup,
    FloatSlider,
    Slider,
    Checkbox,
    Color,
    Angle,
    Layer,
};

// Names found only at run time (the About & Support entries).
enum class RuntimeName {
    None,
    Product,       // "Velloran 2 v1.0.2"
    HostVersion,   // "AE <major>.<minor>"
    OSVersion,     // "OS <version>"
    GLRenderer,    // the global block's renderer text, or "NULL"
    GLVersion,     // the global block's GL version text, or empty
};

struct ParamRange {
    float min = 0, max = 0;
};

struct ParamSpec {
    ParamIndex index;
    A_long diskId;
    ParamKind kind;
    const char* name;        // empty for unnamed rows; replaced for run-time names
    RuntimeName runtimeName;
    double dephault;         // popup choice, slider or checkbox value, angle in degrees, layer default
    ParamRange valid;
    ParamRange slider;
    A_short precision;
    bool percent;
    const char* text;        // popup choices ("|"-separated), button text or checkbox label; null when none
    PF_Pixel color;          // colour default
    PF_ParamFlags flags;
    PF_ParamUIFlags uiFlags;
    A_short uiWidth, uiHeight;
};

using ParamTable = std::array<ParamSpec, kNumOwnParams>;
// Rows for indices 1 to 154, row i - 1 holding index i.
const ParamTable& Params();
const ParamSpec& ParamSpecOf(int index);   // index 1 to 154

// Choices in a "|"-separated list; the separator "(-" counts as a choice.
A_short CountChoices(const char* choices);

// The host's definition record for a row: cleared, then filled. name replaces the row's name (cut to 31
// characters) when given.
PF_ParamDef MakeParamDef(const ParamSpec& spec, const std::string* name = nullptr);

// Copies at most 31 characters and a terminating zero into a 32-character name field.
void CopyParamName(A_char (&field)[32], const std::string& text);
