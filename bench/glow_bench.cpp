// velloran-bench: the effect's own frame time on the built-in test frame, through the simulated host as a
// host application drives it. Only the two smart render commands are timed, around the effect's entry
// function itself: building the frame, the host's bookkeeping between commands and file output are not.
// The time the effect spends waiting in the host's layer and output checkouts is inside the commands (a real
// host's profiler would show it there too) and is also reported on its own, since a real host has the input
// layer ready before it asks the effect for a frame.
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchOptions.h"
#include "bench/BenchScene.h"
#include "bench/GlInfo.h"
#include "bench/HostSetup.h"
#include "simhost/Composition.h"
#include "simhost/ImageIO.h"
#include "simhost/ParamStore.h"
#include "simhost/SimHost.h"
#include "simhost/SmartRender.h"

namespace {

using Clock = std::chrono::steady_clock;
using velloran_bench::BenchOptions;

constexpr A_long kIrisSize = 256;

double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// ---- time spent in the host's checkouts during a render command -----------------------------------------
// The effect gets plain C function pointers, so the wrappers find the host's originals through a global: one
// frame renders at a time.
std::atomic<const PF_SmartRenderCallbacks*> hostCallbacks{nullptr};
std::atomic<long long> checkoutNanoseconds{0};

struct CheckoutTimer {
    Clock::time_point start = Clock::now();
    ~CheckoutTimer() {
        checkoutNanoseconds += std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
    }
};

PF_Err TimedCheckoutLayerPixels(PF_ProgPtr ref, A_long id, PF_EffectWorld** pixels) {
    CheckoutTimer t;
    return hostCallbacks.load()->checkout_layer_pixels(ref, id, pixels);
}
PF_Err TimedCheckinLayerPixels(PF_ProgPtr ref, A_long id) {
    CheckoutTimer t;
    return hostCallbacks.load()->checkin_layer_pixels(ref, id);
}
PF_Err TimedCheckoutOutput(PF_ProgPtr ref, PF_EffectWorld** output) {
    CheckoutTimer t;
    return hostCallbacks.load()->checkout_output(ref, output);
}

// The process's CPU time, every thread counted (the host's workers and the renderer's): steadier than wall time
// on a shared machine, and on a software renderer the work itself.
double ProcessCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) * 1e-6;
}

struct FrameTimes {
    double preRenderMs = 0, renderMs = 0, checkoutMs = 0;
    double cpuMs = 0;  // process CPU time over both commands
    double Total() const { return preRenderMs + renderMs; }
};

// Answers the runner's two commands with the bundle's entry function, timed. The in and out data are those the
// host's own Send gives a command (the runner has already put the frame's fields into the in data), so the
// effect sees exactly what it sees without the timer.
class TimedEffect {
public:
    explicit TimedEffect(simhost::SimHost& host) : host_(host) {}

    PF_Err operator()(PF_Cmd cmd, PF_InData& in, PF_OutData& out, void* extra) {
        out.num_params = host_.InDataTemplate().num_params;
        out.width = host_.InDataTemplate().width;
        out.height = host_.InDataTemplate().height;
        PF_SmartRenderCallbacks timed{TimedCheckoutLayerPixels, TimedCheckinLayerPixels, TimedCheckoutOutput};
        PF_SmartRenderCallbacks* original = nullptr;
        auto* renderExtra = static_cast<PF_SmartRenderExtra*>(extra);
        if (cmd == PF_Cmd_SMART_RENDER && renderExtra && renderExtra->cb) {
            original = renderExtra->cb;
            hostCallbacks = original;
            renderExtra->cb = &timed;
        }
        const long long checkoutsBefore = checkoutNanoseconds.load();
        const double cpuStart = ProcessCpuMs();
        const Clock::time_point start = Clock::now();
        const PF_Err err = host_.bundle().effectMain(cmd, &in, &out, nullptr, nullptr, extra);
        const double ms = Milliseconds(Clock::now() - start);
        current.cpuMs += ProcessCpuMs() - cpuStart;
        if (original) renderExtra->cb = original;
        if (out.global_data != host_.GlobalData()) host_.SetGlobalData(out.global_data);
        if (cmd == PF_Cmd_SMART_PRE_RENDER) {
            current.preRenderMs = ms;
        } else {
            current.renderMs = ms;
            current.checkoutMs = double(checkoutNanoseconds.load() - checkoutsBefore) * 1e-6;
        }
        return err;
    }

    FrameTimes current;

private:
    simhost::SimHost& host_;
};

void Check(PF_Err err, const std::string& what, const std::string& message = "") {
    if (err == PF_Err_NONE) return;
    throw std::runtime_error(what + " failed with error " + std::to_string(err) +
                             (message.empty() ? "" : ": " + message));
}

void SetParam(simhost::ParamStore& params, const std::string& assignment) {
    std::string error;
    if (!params.SetFromText(assignment, &error)) throw std::invalid_argument("--set " + assignment + ": " + error);
}

// The host as an application sets it up for an effect applied to a layer, through the parameter setup.
class Session {
public:
    explicit Session(int threads) {
        host.SetWorkerThreads(threads);
        velloran_bench::InstallHostServices(host);
        Check(host.registrationResult(), "registration");
        const simhost::CommandResult setup = host.Send(PF_Cmd_GLOBAL_SETUP);
        Check(setup.err, "global setup", setup.return_msg);
        const simhost::CommandResult params = host.Send(PF_Cmd_PARAMS_SETUP);
        Check(params.err, "parameter setup", params.return_msg);
    }
    ~Session() {
        const simhost::CommandResult setdown = host.Send(PF_Cmd_GLOBAL_SETDOWN);
        if (setdown.err) std::fprintf(stderr, "velloran-bench: global set-down failed with error %d\n", int(setdown.err));
        for (const std::string& s : host.UnbalancedSuites())
            std::fprintf(stderr, "velloran-bench: suite not released exactly once: %s\n", s.c_str());
    }
    simhost::SimHost host;
};

// What the effect reports about its GL renderer: the runtime names of the About entries.
std::string EffectReported(const simhost::ParamStore& params, const char* buttonText) {
    for (const simhost::ParamDefinition& d : params.Definitions())
        if (d.text == buttonText) return d.def.name;
    return "";
}

int Describe(const BenchOptions& o) {
    const int threads = o.threads > 0 ? o.threads : int(std::thread::hardware_concurrency());
    std::string renderer;
    {
        Session session(threads);
        renderer = EffectReported(simhost::Params(session.host), "Get Support");
    }
    std::printf("host_threads=%d\n", threads);
    // The effect shows the renderer as a parameter name, cut to the host's name length; the whole string comes
    // from a context of the benchmark's own, made the same way.
    const velloran_bench::GlInfo gl = velloran_bench::QueryGlInfo();
    std::printf("gl_renderer=%s\ngl_version=%s\n", gl.renderer.empty() ? ("none: " + gl.error).c_str() : gl.renderer.c_str(),
                gl.version.c_str());
    std::printf("gl_renderer_source=%s\n", renderer.empty() || renderer == "NULL"
                                               ? "asked through the CGL stand-in by the benchmark; the effect reports none"
                                               : ("asked through the CGL stand-in by the benchmark; the effect reports \"" + renderer + "\"").c_str());
    return 0;
}

// What the effect made of the frame, so a table of times never passes off a frame without a glow as one:
// "none" (no output checked out), "unchanged" (the input's pixels), "glow" (more light than the input),
// "other".
std::string ClassifyOutput(const simhost::FrameResult& frame, const simhost::SimWorld& input) {
    if (!frame.outputCheckedOut) return "none";
    const simhost::SimWorld& out = frame.output;
    auto energy = [](const simhost::SimWorld& w) {
        double sum = 0;
        for (A_long y = 0; y < w.height(); ++y)
            for (A_long x = 0; x < w.width(); ++x) {
                const PF_PixelFloat p = w.GetFloat(x, y);
                if (std::isfinite(p.red + p.green + p.blue)) sum += double(p.alpha) * (p.red + p.green + p.blue);
            }
        return sum;
    };
    const double before = energy(input), after = energy(out);
    if (out.width() == input.width() && out.height() == input.height() && frame.outputOriginX == 0 &&
        frame.outputOriginY == 0) {
        bool same = true;
        for (A_long y = 0; y < out.height() && same; ++y)
            for (A_long x = 0; x < out.width() && same; ++x) {
                const PF_PixelFloat a = out.GetFloat(x, y), b = input.GetFloat(x, y);
                same = a.alpha == b.alpha && a.red == b.red && a.green == b.green && a.blue == b.blue;
            }
        if (same) return "unchanged";
    }
    return after > before * (1 + 1e-4) ? "glow" : "other";
}

int Run(const BenchOptions& o) {
    if (!o.writeScene.empty()) {
        simhost::WriteImage(o.writeScene, simhost::MakeTestScene(o.width, o.height, simhost::PixelDepth::k32f));
        return 0;
    }
    if (o.describe) return Describe(o);

    const int threads = o.threads > 0 ? o.threads : int(std::thread::hardware_concurrency());
    Session session(threads);
    simhost::SimHost& host = session.host;
    simhost::ParamStore& params = simhost::Params(host);
    simhost::Composition& comp = simhost::Comp(host);

    const simhost::LayerId input =
        comp.AddLayer(simhost::MakeTestScene(o.width, o.height, simhost::PixelDepth::k32f), 0, 0, "test frame");
    comp.SetInputLayer(input);
    SetParam(params, "Glow Mode=" + o.mode);
    SetParam(params, "Radius=" + std::to_string(o.radius));
    if (o.mode == "Lens Iris") {
        // Choosing either preset in the host's panel sets the other one too; "Lens Iris" reads the iris one.
        SetParam(params, "Quality Preset Iris=" + o.preset);
        SetParam(params, "Quality Preset=" + o.preset);
        SetParam(params, "Iris Iterations=" + std::to_string(o.irisIterations));
        const int irisParam = params.FindByName("Iris Layer");
        if (irisParam < 0) throw std::runtime_error("the effect has no single \"Iris Layer\" parameter");
        comp.SetLayerParam(irisParam,
                           comp.AddLayer(velloran_bench::MakeHexagonIris(kIrisSize, simhost::PixelDepth::k32f), 0, 0,
                                         "hexagonal iris"));
    } else {
        SetParam(params, "Quality Preset=" + o.preset);
    }
    for (const std::string& a : o.assignments) SetParam(params, a);

    TimedEffect effect(host);
    simhost::FrameRequest request;
    request.bitdepth = 32;
    request.effect = [&effect](PF_Cmd cmd, PF_InData& in, PF_OutData& out, void* extra) {
        return effect(cmd, in, out, extra);
    };

    std::vector<FrameTimes> frames;
    std::string output = "none";
    std::string outputSize = "none";
    double timedMs = 0;  // effect time of the timed frames so far
    for (int i = 0; i <= o.timedFrames; ++i) {
        effect.current = {};
        simhost::FrameResult frame = simhost::RunSmartFrame(host, request);
        Check(frame.preRender.err, "smart pre-render", frame.preRender.return_msg);
        if (frame.rendered) Check(frame.render.err, "smart render", frame.render.return_msg);
        if (!frame.Clean()) std::fprintf(stderr, "velloran-bench: frame %d: %s", i, frame.Problems().c_str());
        frames.push_back(effect.current);
        if (i > 0) timedMs += effect.current.Total();
        // A slow configuration stops early, after at least one timed frame, once one more frame would run past
        // the budget; the frame count printed says how many the median is of.
        const bool overBudget = o.maxSeconds > 0 && i > 0 && timedMs + effect.current.Total() > o.maxSeconds * 1000;
        if (i == o.timedFrames || overBudget) {
            output = ClassifyOutput(frame, comp.Find(input)->pixels);
            if (frame.outputCheckedOut)
                outputSize = std::to_string(frame.output.width()) + "x" + std::to_string(frame.output.height());
            if (!o.writeOutput.empty() && frame.outputCheckedOut) simhost::WriteImage(o.writeOutput, frame.output);
            break;
        }
    }

    std::vector<double> totals, checkouts, cpus;
    for (size_t i = 1; i < frames.size(); ++i) {
        totals.push_back(frames[i].Total());
        checkouts.push_back(frames[i].checkoutMs);
        cpus.push_back(frames[i].cpuMs);
    }
    const auto [low, high] = std::minmax_element(totals.begin(), totals.end());
    std::printf(
        "label=%s\tmode=%s\tpreset=%s\tradius=%g\tsize=%dx%d\titerations=%d\tthreads=%d\tframes=%d\t"
        "first_ms=%.6f\tmedian_ms=%.6f\tmin_ms=%.6f\tmax_ms=%.6f\tcheckout_ms=%.6f\tmedian_cpu_ms=%.6f\t"
        "output=%s\toutput_size=%s\n",
        o.label.c_str(), o.mode.c_str(), o.preset.c_str(), o.radius, o.width, o.height,
        o.mode == "Lens Iris" ? o.irisIterations : 0, threads, int(totals.size()), frames[0].Total(),
        velloran_bench::Median(totals), *low, *high, velloran_bench::Median(checkouts), velloran_bench::Median(cpus),
        output.c_str(), outputSize.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const BenchOptions options = velloran_bench::ParseBenchOptions(argc, argv);
        if (options.help) {
            std::fputs(velloran_bench::BenchHelpText().c_str(), stdout);
            return 0;
        }
        return Run(options);
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "velloran-bench: %s\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velloran-bench: %s\n", e.what());
        return 1;
    }
}
