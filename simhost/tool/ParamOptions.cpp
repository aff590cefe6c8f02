// Parameter options of velloran-render: --list-params prints the parameters as the host received them, and
// --set INDEX=VALUE or --set "Name=VALUE" sets one for the frame (popups by choice number or text).
#include <cstdio>
#include <stdexcept>
#include <string>

#include "simhost/ParamStore.h"
#include "simhost/tool/Options.h"
#include "simhost/tool/Progress.h"
#include "simhost/tool/UserOutput.h"

namespace {

const bool kListAdded = velloran_tool::AddOption(
    {"--list-params", nullptr, "print the parameters as the host received them (index, disk ID, kind, name, "
                               "default, range)",
     [](velloran_tool::ToolState& s, const std::string&) { s.extra["--list-params"].push_back("on"); }});

const bool kSetAdded = velloran_tool::AddOption(
    {"--set", "INDEX=VALUE", "set a parameter for the frame, by index or unique name (\"Radius=40\"); popups "
                             "take a choice number or its text, checkboxes on/off, colours #RRGGBB; repeatable",
     [](velloran_tool::ToolState& s, const std::string& v) { s.extra["--set"].push_back(v); }});

// "Glow Mode" and its "Lens Iris" choice, and the two "View" lists: the frame reads 110 in "Lens Iris" mode and
// 111 in every other.
constexpr PF_ParamIndex kGlowModeParam = 17, kIrisViewParam = 110, kPlainViewParam = 111;
constexpr PF_ParamValue kLensIrisMode = 2;

const bool kStepAdded = velloran_tool::AddBeforeFrameStep([](simhost::SimHost& host,
                                                             const velloran_tool::ToolState& state) -> PF_Err {
    simhost::ParamStore& store = simhost::Params(host);
    if (state.extra.count("--list-params"))
        std::fputs(simhost::DescribeParams(store).c_str(), velloran_tool::UserOutput());
    const auto sets = state.extra.find("--set");
    if (sets == state.extra.end()) return PF_Err_NONE;
    std::string viewSet[2];  // the last --set of View 110 and of View 111
    for (const std::string& assignment : sets->second) {
        std::string error, warning;
        int index = 0;
        if (!store.SetFromText(assignment, &error, &warning, &index))
            throw std::invalid_argument("--set " + velloran_tool::SetRefusal(assignment, error));
        if (!warning.empty()) velloran_tool::Say("warning: " + warning);
        if (index == kIrisViewParam || index == kPlainViewParam) viewSet[index - kIrisViewParam] = assignment;
    }
    const bool lensIris = store.Value(kGlowModeParam).u.pd.value == kLensIrisMode;
    const std::string& unread = viewSet[lensIris ? 1 : 0];
    if (!unread.empty())
        velloran_tool::Say("warning: --set " + velloran_tool::Quoted(unread) + ": in \"" +
                           (lensIris ? "Lens Iris" : "Exponential") + "\" mode the frame uses the View of " +
                           std::to_string(lensIris ? kIrisViewParam : kPlainViewParam) +
                           ", so this one changes nothing");
    return PF_Err_NONE;
}, 2);  // after --controls, whose window first opens on the defaults and then takes each change as the user's

}  // namespace
