// velloran-render: loads the effect's bundle into the simulated host, like a host application, and renders
// one frame of an image file (or of the built-in test scene) into another.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>

#include "simhost/Composition.h"
#include "simhost/ImageIO.h"
#include "simhost/LayerSuites.h"
#include "simhost/ParamStore.h"
#include "simhost/SimHost.h"
#include "simhost/tool/Options.h"
#include "simhost/tool/OutputFile.h"
#include "simhost/tool/Progress.h"
#include "simhost/tool/RendererLine.h"
#include "simhost/tool/UserOutput.h"

namespace {

using velloran_tool::ToolState;

bool Check(PF_Err err, const simhost::CommandResult* result, const char* what) {
    if (err == PF_Err_NONE) return true;
    std::string line = std::string(what) + " failed with error " + std::to_string(int(err));
    if (result && result->return_msg[0]) line += ": " + result->return_msg;
    velloran_tool::Say(line);
    return false;
}

// A message the effect asks the host to show is shown, as a host would, without stopping the frame.
void ShowMessage(const simhost::CommandResult& r) {
    if ((r.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE) && !r.return_msg.empty())
        velloran_tool::Say("the effect says: " + r.return_msg);
}

// Renders the frame and writes it.
int RenderAndWrite(simhost::SimHost& host, const ToolState& state) {
    // The input as a step already placed it in the composition, else read here.
    const simhost::Composition* comp = host.FindService<simhost::Composition>();
    const simhost::CompLayer* placed = comp ? comp->Find(comp->InputLayer()) : nullptr;
    // The layer's own pixels, not a copy of them: the frame only reads its input, and a second copy of a large
    // float frame would double what the tool holds.
    simhost::SimWorld read;
    if (!placed) velloran_tool::EnterStage("reading");
    if (!placed)
        read = state.input.empty() ? simhost::MakeTestScene(state.sceneWidth, state.sceneHeight, state.sceneDepth)
                                   : simhost::ReadImage(state.input);
    const simhost::SimWorld& input = placed ? placed->pixels : read;
    // Where the input's pixels lie on its picture (an EXR's data window in its display window): the output
    // keeps that place.
    const simhost::ImagePlacement where =
        state.input.empty() ? simhost::WholePicture(input) : simhost::ReadImagePlacement(state.input, input);
    simhost::SimWorld output;  // the renderer's own world, never one made here in advance at the input's size
    const velloran_tool::FrameRenderer& render = velloran_tool::CurrentFrameRenderer();
    PF_Err err = PF_Err_NONE;
    if (render) {
        err = render(host, state, input, output);
    } else {
        output = input.Clone();  // until the effect renders, the frame passes through the host unchanged
    }
    if (!Check(err, nullptr, "render")) return 1;

    return velloran_tool::WriteOutputFile(state, where, output);
}

int Run(const ToolState& state) {
    simhost::SimHost host;
    // The effect instance's parameters and its layer, there before the first command.
    simhost::Params(host);
    simhost::EffectLayerOf(host);
    if (!Check(host.registrationResult(), nullptr, "registration")) return 1;

    simhost::CommandResult setup = host.Send(PF_Cmd_GLOBAL_SETUP);
    ShowMessage(setup);
    if (!Check(setup.err, &setup, "global setup")) return 1;

    int status = 0;
    if (state.version) {
        // The name the effect registered under and the version it gives at global setup.
        const A_u_long word = setup.out.my_version;
        std::fprintf(velloran_tool::UserOutput(), "%s v%u.%u.%u\n", host.registration().effect_name.c_str(),
                     unsigned(word >> 19) & 0x1Fu,
                    unsigned(word >> 15) & 0xFu, unsigned(word >> 11) & 0xFu);
    }
    if (state.about) {
        const simhost::CommandResult about = host.Send(PF_Cmd_ABOUT);
        if (Check(about.err, &about, "About"))
            std::fputs(about.return_msg.c_str(), velloran_tool::UserOutput());
        else
            status = 1;
    }

    // The version alone needs no parameters and no frame.
    const bool versionOnly = state.version && !velloran_tool::PrintsOnly(state);
    if (status == 0 && !versionOnly) {
        const simhost::CommandResult params = host.Send(PF_Cmd_PARAMS_SETUP);
        ShowMessage(params);
        if (!Check(params.err, &params, "parameter setup")) status = 1;
    }
    const bool frame = !versionOnly && !velloran_tool::PrintsOnly(state);
    if (frame) {
        velloran_tool::SetVerboseProgress(state.verbose);
        velloran_tool::SetProgressDelay(state.progressAfter);
    }
    // A step that fails has said why on its own line; a second, vaguer line would only bury it.
    for (const auto& step : velloran_tool::BeforeFrameSteps()) {
        if (status != 0 || versionOnly) break;
        try {
            if (step(host, state) != PF_Err_NONE) status = 1;
        } catch (const std::invalid_argument& e) {
            velloran_tool::Say(e.what());
            status = 2;  // a mistake in the command line, found once the parameters are known
        } catch (const std::exception& e) {
            velloran_tool::Say(e.what());
            status = 1;
        }
    }

    // Text asked for is all there is to do: a frame nobody asked for would cost its render and overwrite a file.
    if (status == 0 && frame) {
        try {
            status = RenderAndWrite(host, state);
        } catch (const std::exception& e) {
            // A file that turns out unreadable mid-frame still lets the host set the effect down below.
            velloran_tool::Say(e.what());
            status = 1;
        }
    }
    velloran_tool::EndProgress();  // also where a step failed after the input was read

    const simhost::CommandResult setdown = host.Send(PF_Cmd_GLOBAL_SETDOWN);
    if (!Check(setdown.err, &setdown, "global set-down")) status = 1;
    for (const std::string& unbalanced : host.UnbalancedSuites())
        velloran_tool::Say("suite not released exactly once: " + unbalanced);
    if (host.Handles().Live() != 0)
        velloran_tool::Say(std::to_string(host.Handles().Live()) + " host handles left undisposed");
    // Without a context every frame fails, and the effect's own lines say so in its terms only. (A mistake in the
    // command line, status 2, is said on its own.)
    if (status == 1 && frame && !velloran_tool::CanMakeContext())
        velloran_tool::Say("no OpenGL 3.3 core context could be made (" + velloran_tool::ContextFailure() +
                           "), so the effect cannot render here; the lines above and the effect's log in "
                           "$HOME/Library/Logs/Quenholt tell more, and the README's set-up installs Mesa's "
                           "software renderer where there is no GPU");
    return status;
}

int Main(int argc, char** argv) {
    try {
        const ToolState state = velloran_tool::ParseCommandLine(argc, argv);
        if (state.help) {
            std::fputs(velloran_tool::HelpText().c_str(), velloran_tool::UserOutput());
            return 0;
        }
        for (const auto& warning : state.warnings) velloran_tool::Say("warning: " + warning.second);
        velloran_tool::CheckInputFiles(state);
        velloran_tool::RefuseOutputOverInputs(state);
        velloran_tool::CheckOutputFolder(state);
        return Run(state);
    } catch (const std::invalid_argument& e) {
        velloran_tool::Say(e.what());
        return 2;
    } catch (const std::exception& e) {
        velloran_tool::Say(e.what());
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    velloran_tool::SeparateUserOutput();
    const int status = Main(argc, argv);
    return velloran_tool::FinishUserOutput() ? status : std::max(status, 1);
}
