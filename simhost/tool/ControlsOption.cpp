// --controls of velloran-render: prints the effect-controls window as the user would see it (each control
// shown or hidden, enabled or greyed out, and its name), after the parameters given with --set were changed
// the way a user changes them: the change command for each, then the window's update.
#include <cstdio>
#include <stdexcept>
#include <string>

#include "simhost/EffectControls.h"
#include "simhost/ParamStore.h"
#include "simhost/tool/Options.h"
#include "simhost/tool/Progress.h"
#include "simhost/tool/UserOutput.h"

namespace {

const bool kControlsAdded = velloran_tool::AddOption(
    {"--controls", nullptr,
     "print the effect controls (shown/hidden, enabled/greyed, name) after the --set changes, as the user sees them",
     [](velloran_tool::ToolState& s, const std::string&) { s.extra["--controls"].push_back("on"); }});

const bool kStepAdded = velloran_tool::AddBeforeFrameStep([](simhost::SimHost& host,
                                                             const velloran_tool::ToolState& state) -> PF_Err {
    if (!state.extra.count("--controls")) return PF_Err_NONE;
    simhost::ParamStore& store = simhost::Params(host);
    simhost::EffectControls& controls = simhost::Controls(host);
    simhost::CommandResult r = controls.SendUpdateParamsUI();  // the window as it first opens
    const auto sets = state.extra.find("--set");
    if (sets != state.extra.end()) {
        for (const std::string& assignment : sets->second) {
            if (r.err) break;
            std::string error;
            int index = 0;
            if (!store.SetFromText(assignment, &error, nullptr, &index))
                throw std::invalid_argument("--set " + velloran_tool::SetRefusal(assignment, error));
            r = controls.UserChanged(index);
        }
    }
    if (r.err) {
        velloran_tool::Say("updating the effect controls failed with error " + std::to_string(int(r.err)));
        return r.err;
    }
    std::fputs(controls.DescribeControls().c_str(), velloran_tool::UserOutput());
    return PF_Err_NONE;
}, 1);  // after the layers are attached: the controls depend on them

}  // namespace
