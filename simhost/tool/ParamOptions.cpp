// Parameter options of velloran-render: --list-params prints the parameters as the host received them, and
// --set INDEX=VALUE or --set "Name=VALUE" sets one for the frame (popups by choice number or text).
#include <cstdio>
#include <stdexcept>
#include <string>

#include "simhost/ParamStore.h"
#include "simhost/tool/Options.h"

namespace {

const bool kListAdded = velloran_tool::AddOption(
    {"--list-params", nullptr, "print the parameters as the host received them (index, disk ID, kind, name, "
                               "default, range)",
     [](velloran_tool::ToolState& s, const std::string&) { s.extra["--list-params"].push_back("on"); }});

const bool kSetAdded = velloran_tool::AddOption(
    {"--set", "INDEX=VALUE", "set a parameter for the frame, by index or unique name (\"Radius=40\"); popups "
                             "take a choice number or its text, checkboxes on/off, colours #RRGGBB; repeatable",
     [](velloran_tool::ToolState& s, const std::string& v) { s.extra["--set"].push_back(v); }});

const bool kStepAdded = velloran_tool::AddBeforeFrameStep([](simhost::SimHost& host,
                                                             const velloran_tool::ToolState& state) -> PF_Err {
    simhost::ParamStore& store = simhost::Params(host);
    if (state.extra.count("--list-params")) std::fputs(simhost::DescribeParams(store).c_str(), stdout);
    const auto sets = state.extra.find("--set");
    if (sets == state.extra.end()) return PF_Err_NONE;
    for (const std::string& assignment : sets->second) {
        std::string error, warning;
        if (!store.SetFromText(assignment, &error, &warning))
            throw std::invalid_argument("--set " + assignment + ": " + error);
        if (!warning.empty()) std::fprintf(stderr, "velloran-render: warning: %s\n", warning.c_str());
    }
    return PF_Err_NONE;
}, 2);  // after --controls, whose window first opens on the defaults and then takes each change as the user's

}  // namespace
