// Eight render threads rendering fifty frames each at once, every frame with settings of its own in both glow
// modes, must give exactly the frames that the same settings give one frame at a time; some frames fail on a
// parameter the host refuses, so the error log is written from many threads at once, and it must still hold
// whole lines only, the same lines as when the frames ran one after the other. The frames run once more in a
// child process whose software rasteriser threads are slowed where the driver races with itself, and whose GL calls
// are watched for the wait the effect gives each of them there. Another render thread renders whole frames while
// one render thread waits in each of its calls into the host.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "sdk/AEGP_Suites.h"
#include "simhost/Composition.h"
#include "simhost/ParamStore.h"
#include "simhost/RenderThreads.h"
#include "simhost/SmartRender.h"
#include "simhost/WorldSuites.h"
#include "support/SimHostFixture.h"
#include "support/NoColorProfile.h"

namespace {

using simhost::PixelDepth;
using simhost::SimWorld;

constexpr int kThreads = 8;
constexpr int kFramesPerThread = 50;

enum : int {
    kGlowMode = 17,
    kBlendMode = 18,
    kRadius = 19,
    kExposure = 20,
    kThreshold = 24,
    kIrisLayer = 39,
    kAspectRatio = 59,
    kQuality = 100,
    kQualityIris = 101,
    kHalfFloat = 102,
};

using testsupport::kNoProfileSuite;

// The settings of one frame: parameter values that replace the host's, and a parameter whose checkout the host
// refuses (0: none).
struct FrameSettings {
    std::vector<std::pair<PF_ParamIndex, double>> values;
    PF_ParamIndex refused = 0;
};

FrameSettings SettingsOf(int frame) {
    FrameSettings s;
    const bool iris = frame % 2 == 1;
    s.values = {{kGlowMode, iris ? 2 : 1},
                {kBlendMode, 1 + (frame / 2) % 2},
                {kRadius, 3 + (frame * 7) % 17},
                {kExposure, 0.5 + 0.25 * (frame % 5)},
                {kThreshold, 20.0 * (frame % 3)},
                {kAspectRatio, 0.8 + 0.2 * (frame % 4)},
                {kQuality, 1 + (frame / 3) % 6},
                {kQualityIris, 1 + (frame / 5) % 3},
                {kHalfFloat, (frame / 7) % 2}};
    if (frame % 9 == 4) s.refused = kExposure;
    return s;
}

// The frame the calling thread renders; the host's checkout answers with its settings.
thread_local const FrameSettings* tFrameSettings = nullptr;
decltype(PF_InteractCallbacks::checkout_param) gHostCheckout = nullptr;

void SetValue(PF_ParamDef& def, double v) {
    switch (def.param_type) {
        case PF_Param_POPUP: def.u.pd.value = PF_ParamValue(v); break;
        case PF_Param_SLIDER: def.u.sd.value = PF_ParamValue(v); break;
        case PF_Param_FLOAT_SLIDER: def.u.fs_d.value = v; break;
        case PF_Param_CHECKBOX: def.u.bd.value = v != 0; break;
        default: break;
    }
}

PF_Err PerFrameCheckout(PF_ProgPtr ref, PF_ParamIndex index, A_long time, A_long step, A_u_long scale,
                        PF_ParamDef* def) {
    const PF_Err err = gHostCheckout(ref, index, time, step, scale, def);
    const FrameSettings* s = tFrameSettings;
    if (err || !s) return err;
    if (index == s->refused) return PF_Err_INTERNAL_STRUCT_DAMAGED;
    for (const auto& [i, v] : s->values)
        if (i == index) SetValue(*def, v);
    return PF_Err_NONE;
}

struct Rendered {
    PF_Err err = PF_Err_NONE;
    std::string message;
    A_long originX = 0, originY = 0;
    SimWorld output;
};

bool SameFrame(const Rendered& a, const Rendered& b) {
    if (a.err != b.err || a.message != b.message || a.originX != b.originX || a.originY != b.originY) return false;
    const SimWorld &x = a.output, &y = b.output;
    if (x.width() != y.width() || x.height() != y.height() || x.depth() != y.depth()) return false;
    for (A_long row = 0; row < x.height(); ++row)
        if (std::memcmp(x.Row<char>(row), y.Row<char>(row), size_t(x.width()) * sizeof(PF_PixelFloat)) != 0)
            return false;
    return true;
}

// The log's lines after `before`, with the time stamps cut off, sorted; any line not in the log's own form
// (a piece of one line run into another) is kept whole, so it shows as a difference.
std::vector<std::string> NewLogLines(const std::string& log, size_t before, std::vector<std::string>* malformed) {
    static const std::regex whole(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d - Velloran 2 v[0-9.]+: (.*)$)");
    std::vector<std::string> lines;
    std::istringstream in(log.substr(before));
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (std::regex_match(line, m, whole)) {
            lines.push_back(m[1]);
        } else if (!line.empty()) {  // a message that ends in a line break leaves an empty line
            malformed->push_back(line);
            lines.push_back(line);
        }
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

class Soak : public testsupport::SimHostTest {
protected:
    void SetUp() override {
        SimHostTest::SetUp();
        simhost::Params(host());
        simhost::Worlds(host());
        simhost::Composition& comp = simhost::Comp(host());
        host().AddSuite(kPFColorSettingsSuite, kPFColorSettingsSuiteVersion3, &kNoProfileSuite);
        ASSERT_EQ(host().Send(PF_Cmd_GLOBAL_SETUP).err, PF_Err_NONE);
        ASSERT_EQ(host().Send(PF_Cmd_PARAMS_SETUP).err, PF_Err_NONE);
        gHostCheckout = host().InDataTemplate().inter.checkout_param;
        host().InDataTemplate().inter.checkout_param = PerFrameCheckout;

        SimWorld input(32, 28, PixelDepth::k32f);
        for (A_long y = 0; y < input.height(); ++y)
            for (A_long x = 0; x < input.width(); ++x) {
                const bool spot = (x == 9 && y == 7) || (x == 22 && y == 19) || (y == 14 && x > 4 && x < 27);
                const float v = spot ? 6.f : float((x + 2 * y) % 7) / 20.f;
                input.SetFloat(x, y, {1.f, v, v * 0.7f, v * 0.4f});
            }
        comp.SetInputLayer(comp.AddLayer(std::move(input), 0, 0, "input"));
        SimWorld iris(7, 7, PixelDepth::k32f);
        for (A_long y = 0; y < 7; ++y)
            for (A_long x = 0; x < 7; ++x) {
                const float v = (x - 3) * (x - 3) + (y - 3) * (y - 3) <= 9 ? 1.f : 0.f;
                iris.SetFloat(x, y, {1.f, v, v, v});
            }
        comp.SetLayerParam(kIrisLayer, comp.AddLayer(std::move(iris), 0, 0, "iris"));
    }
    void TearDown() override {
        if (host_) {
            EXPECT_EQ(host().Send(PF_Cmd_GLOBAL_SETDOWN).err, PF_Err_NONE);
        }
        SimHostTest::TearDown();
    }

    Rendered RenderFrame(int frame) {
        const FrameSettings settings = SettingsOf(frame);
        tFrameSettings = &settings;
        simhost::FrameRequest request;
        request.bitdepth = 32;
        simhost::FrameResult r = simhost::RunSmartFrame(host(), request);
        tFrameSettings = nullptr;
        Rendered out;
        const simhost::CommandResult& last = r.rendered ? r.render : r.preRender;
        out.err = last.err;
        out.message = last.return_msg;
        out.originX = r.outputOriginX;
        out.originY = r.outputOriginY;
        out.output = std::move(r.output);
        if (!r.Clean()) out.message += " [host: " + r.Problems() + "]";
        return out;
    }
};

TEST_F(Soak, EightThreadsOfFiftyFramesMatchTheFramesRenderedOneAtATime) {
    constexpr int kFrames = kThreads * kFramesPerThread;
    simhost::RenderThreads threads(host(), kThreads);

    // One at a time, on one render thread.
    std::vector<Rendered> alone(kFrames);
    size_t logStart = Log().size();
    using Clock = std::chrono::steady_clock;
    const Clock::time_point aloneStart = Clock::now();
    threads.Run(0, [&] {
        for (int f = 0; f < kFrames; ++f) alone[size_t(f)] = RenderFrame(f);
    });
    const Clock::time_point aloneEnd = Clock::now();
    std::vector<std::string> malformed;
    const std::vector<std::string> aloneLog = NewLogLines(Log(), logStart, &malformed);

    // All threads at once; thread t renders frames t, t + 8, t + 16, ...
    std::vector<Rendered> together(kFrames);
    logStart = Log().size();
    std::vector<std::function<void()>> jobs;
    for (int t = 0; t < kThreads; ++t) {
        jobs.push_back([this, &together, t] {
            for (int i = 0; i < kFramesPerThread; ++i) {
                const int f = t + i * kThreads;
                together[size_t(f)] = RenderFrame(f);
            }
        });
    }
    const Clock::time_point togetherStart = Clock::now();
    threads.RunTogether(jobs);
    const Clock::time_point togetherEnd = Clock::now();
    threads.End();
    const std::vector<std::string> togetherLog = NewLogLines(Log(), logStart, &malformed);

    int failed = 0, modes[3] = {0, 0, 0};
    for (int f = 0; f < kFrames; ++f) {
        const Rendered& a = alone[size_t(f)];
        EXPECT_TRUE(SameFrame(a, together[size_t(f)]))
            << "frame " << f << ": alone error " << a.err << " \"" << a.message << "\", together error "
            << together[size_t(f)].err << " \"" << together[size_t(f)].message << "\"";
        const bool refused = SettingsOf(f).refused != 0;
        EXPECT_EQ(a.err != PF_Err_NONE, refused) << "frame " << f << ": " << a.message;
        if (a.err) ++failed;
        if (!a.err) {
            EXPECT_GT(a.output.width(), 32) << "frame " << f << ": the glow grows the frame";
            ++modes[f % 2 == 1 ? 2 : 1];
        }
    }
    EXPECT_GT(modes[1], 100);
    EXPECT_GT(modes[2], 100);
    EXPECT_THAT(malformed, ::testing::IsEmpty()) << "lines of the log broken or run together";
    EXPECT_FALSE(aloneLog.empty()) << "the refused parameters must have been logged";
    EXPECT_EQ(togetherLog, aloneLog);
    std::printf("[ soak     ] %d frames on %d threads (%d with a refused parameter), %zu log lines\n", kFrames,
                kThreads, failed, togetherLog.size());
    // Wall time only, for a reader comparing builds; the first frames on each thread also build its programs.
    const auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
    std::printf("[ soak     ] one thread: %.0f ms (%.2f ms a frame); %d threads: %.0f ms (%.2f ms a frame)\n",
                ms(aloneEnd - aloneStart), ms(aloneEnd - aloneStart) / kFrames, kThreads,
                ms(togetherEnd - togetherStart), ms(togetherEnd - togetherStart) / kFrames);
}

// A host may serve its calls with the same threads that render: a call into the host from one render thread
// can then wait for another render thread's frame. Every call a frame makes into the host, on the render thread
// that waits here, waits until another render thread has rendered a whole frame of its own, GL work and all.
// Were the GL work lock held across the call, that frame could never finish: the wait gives up after a bound
// far beyond a frame's time, and the call is reported.
struct HostCallGate {
    std::mutex mutex;
    std::condition_variable changed;
    bool requested = false, done = false, quit = false, gaveUp = false;
    std::vector<std::string> stuck;
    std::set<std::string> seen;
    std::vector<PF_Err> otherErrors;

    void Await(const char* call) {
        std::unique_lock<std::mutex> lock(mutex);
        seen.insert(call);
        if (gaveUp) return;
        requested = true;
        done = false;
        changed.notify_all();
        if (!changed.wait_for(lock, std::chrono::seconds(60), [&] { return done; })) {
            stuck.push_back(call);
            gaveUp = true;  // the rest of the frame goes on without waiting, so the test ends
        }
    }
    // The other render thread: renders one frame per call awaited, until told to quit.
    void Serve(const std::function<PF_Err()>& renderFrame) {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return requested || quit; });
            if (!requested) return;
            requested = false;
            lock.unlock();
            const PF_Err err = renderFrame();
            lock.lock();
            otherErrors.push_back(err);
            done = true;
            changed.notify_all();
        }
    }
    void Quit() {
        std::lock_guard<std::mutex> lock(mutex);
        quit = true;
        changed.notify_all();
    }
};

HostCallGate* gGate = nullptr;
thread_local bool tWaitsOnOtherFrames = false;

void AwaitOtherFrame(const char* call) {
    if (tWaitsOnOtherFrames && gGate) gGate->Await(call);
}

// The host's own entry points, called after the wait.
struct HostEntryPoints {
    PF_HandleSuite2 handles;
    PF_Iterate8Suite1 iterate8;
    PF_iterateFloatSuite1 iterateFloat;
    PF_WorldSuite2 worlds;
    PF_UtilCallbacks utils;
    SPBasicSuite basic;
    decltype(PF_InteractCallbacks::abort) abort;
} gReal;

PF_HandleSuite2 gWaitingHandles;
PF_Iterate8Suite1 gWaitingIterate8;
PF_iterateFloatSuite1 gWaitingIterateFloat;
PF_WorldSuite2 gWaitingWorlds;

class SoakHostCalls : public Soak {
protected:
    template <class Suite>
    Suite HostSuite(const char* name, int version) {
        const void* table = nullptr;
        EXPECT_EQ(host().AcquireSuite(name, version, &table), kSPNoError) << name;
        host().ReleaseSuite(name, version);
        return table ? *static_cast<const Suite*>(table) : Suite{};
    }

    void InstallWaitingHost() {
        gReal.handles = HostSuite<PF_HandleSuite2>(kPFHandleSuite, kPFHandleSuiteVersion2);
        gReal.iterate8 = HostSuite<PF_Iterate8Suite1>(kPFIterate8Suite, kPFIterate8SuiteVersion1);
        gReal.iterateFloat = HostSuite<PF_iterateFloatSuite1>(kPFIterateFloatSuite, kPFIterateFloatSuiteVersion1);
        gReal.worlds = HostSuite<PF_WorldSuite2>(kPFWorldSuite, kPFWorldSuiteVersion2);
        gReal.utils = host().Utils();
        gReal.basic = *host().BasicSuite();
        gReal.abort = host().InDataTemplate().inter.abort;

        gWaitingHandles = gReal.handles;
        gWaitingHandles.host_new_handle = [](A_u_long size) {
            AwaitOtherFrame("new handle");
            return gReal.handles.host_new_handle(size);
        };
        gWaitingHandles.host_lock_handle = [](PF_Handle h) {
            AwaitOtherFrame("lock handle");
            return gReal.handles.host_lock_handle(h);
        };
        gWaitingHandles.host_unlock_handle = [](PF_Handle h) {
            AwaitOtherFrame("unlock handle");
            gReal.handles.host_unlock_handle(h);
        };
        gWaitingHandles.host_dispose_handle = [](PF_Handle h) {
            AwaitOtherFrame("dispose handle");
            gReal.handles.host_dispose_handle(h);
        };
        gWaitingIterate8.iterate = [](PF_InData* in, A_long base, A_long final, PF_EffectWorld* src, const PF_Rect* area,
                                      void* refcon, PF_IteratePixel8Func fn, PF_EffectWorld* dst) {
            AwaitOtherFrame("iterate 8");
            return gReal.iterate8.iterate(in, base, final, src, area, refcon, fn, dst);
        };
        gWaitingIterateFloat.iterate = [](PF_InData* in, A_long base, A_long final, PF_EffectWorld* src,
                                          const PF_Rect* area, void* refcon, PF_IteratePixelFloatFunc fn,
                                          PF_EffectWorld* dst) {
            AwaitOtherFrame("iterate float");
            return gReal.iterateFloat.iterate(in, base, final, src, area, refcon, fn, dst);
        };
        gWaitingWorlds = gReal.worlds;
        gWaitingWorlds.PF_NewWorld = [](PF_ProgPtr ref, A_long w, A_long h, PF_Boolean clear, PF_PixelFormat format,
                                        PF_EffectWorld* world) {
            AwaitOtherFrame("new world");
            return gReal.worlds.PF_NewWorld(ref, w, h, clear, format, world);
        };
        gWaitingWorlds.PF_GetPixelFormat = [](const PF_EffectWorld* world, PF_PixelFormat* format) {
            AwaitOtherFrame("pixel format");
            return gReal.worlds.PF_GetPixelFormat(world, format);
        };
        host().AddSuite(kPFHandleSuite, kPFHandleSuiteVersion2, &gWaitingHandles);
        host().AddSuite(kPFIterate8Suite, kPFIterate8SuiteVersion1, &gWaitingIterate8);
        host().AddSuite(kPFIterateFloatSuite, kPFIterateFloatSuiteVersion1, &gWaitingIterateFloat);
        host().AddSuite(kPFWorldSuite, kPFWorldSuiteVersion2, &gWaitingWorlds);

        PF_UtilCallbacks& utils = host().Utils();
        utils.copy = [](PF_ProgPtr ref, PF_EffectWorld* src, PF_EffectWorld* dst, const PF_Rect* from,
                        const PF_Rect* to) {
            AwaitOtherFrame("copy");
            return gReal.utils.copy(ref, src, dst, from, to);
        };
        utils.host_lock_handle = [](PF_Handle h) {
            AwaitOtherFrame("lock handle");
            return gReal.utils.host_lock_handle(h);
        };
        utils.host_unlock_handle = [](PF_Handle h) {
            AwaitOtherFrame("unlock handle");
            gReal.utils.host_unlock_handle(h);
        };
        SPBasicSuite& basic = *host().BasicSuite();
        basic.AcquireSuite = [](const char* name, A_long version, const void** suite) {
            AwaitOtherFrame("acquire suite");
            return gReal.basic.AcquireSuite(name, version, suite);
        };
        basic.ReleaseSuite = [](const char* name, A_long version) {
            AwaitOtherFrame("release suite");
            return gReal.basic.ReleaseSuite(name, version);
        };
        host().InDataTemplate().inter.abort = [](PF_ProgPtr ref) {
            AwaitOtherFrame("abort");
            return gReal.abort ? gReal.abort(ref) : PF_Err_NONE;
        };
    }
    void TearDown() override {
        if (host_) {
            host().Utils() = gReal.utils;
            *host().BasicSuite() = gReal.basic;
            host().InDataTemplate().inter.abort = gReal.abort;
        }
        gGate = nullptr;
        Soak::TearDown();
    }
};

TEST_F(SoakHostCalls, EveryHostCallOfAFrameLetsAnotherRenderThreadRenderAWholeFrame) {
    InstallWaitingHost();
    simhost::RenderThreads threads(host(), 2);
    // The other thread's programs are built before the frames that wait on it.
    threads.Run(1, [&] { EXPECT_EQ(RenderFrame(0).err, PF_Err_NONE); });

    HostCallGate gate;
    gGate = &gate;
    // Frame 0 glows "Exponential", frame 1 "Lens Iris"; the first of them also builds this thread's GL state.
    std::vector<Rendered> waited(2);
    threads.RunTogether({[&] {
                             tWaitsOnOtherFrames = true;
                             for (int f = 0; f < 2; ++f) waited[size_t(f)] = RenderFrame(f);
                             tWaitsOnOtherFrames = false;
                             gate.Quit();
                         },
                         [&] { gate.Serve([&] { return RenderFrame(0).err; }); }});
    threads.End();

    EXPECT_THAT(gate.stuck, ::testing::IsEmpty()) << "host calls made while another render thread could not render";
    for (const char* call : {"abort", "acquire suite", "release suite", "new handle", "lock handle",
                                    "unlock handle", "dispose handle", "iterate float", "copy", "pixel format"})
        EXPECT_EQ(gate.seen.count(call), 1u) << "no \"" << call << "\" call waited on another frame";
    EXPECT_THAT(gate.otherErrors, ::testing::Each(PF_Err_NONE));
    for (int f = 0; f < 2; ++f) {
        EXPECT_EQ(waited[size_t(f)].err, PF_Err_NONE) << "frame " << f << ": " << waited[size_t(f)].message;
        EXPECT_GT(waited[size_t(f)].output.width(), 32) << "frame " << f << ": the glow grows the frame";
    }
}

// Run only by the test below, in its child process: both glow modes on four render threads, every frame rendered
// without an error other than the refused parameter. Writes "done" to the file VELLORAN_LAG_DONE names.
TEST_F(Soak, DISABLED_FramesWhileRasteriserThreadsLag) {
    constexpr int kLagThreads = 4, kLagFrames = 50;
    simhost::RenderThreads threads(host(), kLagThreads);
    std::vector<PF_Err> errors(kLagThreads * kLagFrames, PF_Err_NONE);
    std::vector<std::function<void()>> jobs;
    for (int t = 0; t < kLagThreads; ++t)
        jobs.push_back([this, &errors, t] {
            for (int i = 0; i < kLagFrames; ++i) errors[size_t(t + i * kLagThreads)] = RenderFrame(t + i * kLagThreads).err;
        });
    threads.RunTogether(jobs);
    threads.End();
    for (int f = 0; f < kLagThreads * kLagFrames; ++f)
        EXPECT_EQ(errors[size_t(f)] != PF_Err_NONE, SettingsOf(f).refused != 0) << "frame " << f;
    const char* done = std::getenv("VELLORAN_LAG_DONE");
    if (done && !HasFailure()) std::ofstream(done) << "done";
}

// On Mesa's llvmpipe a scene's fence may be freed while the last rasteriser thread is still signalling it, and
// the effect must settle its GL work so that this never happens. The window is narrow unless that thread is
// preempted there; in the child the library preloaded below makes it pause there now and then, so that a render
// leaving the window open corrupts the heap within seconds. On any other renderer the pause never happens.
// Whether the heap breaks in time still depends on the machine; what the library also counts does not: on
// llvmpipe every scene-filling call of the effect's must have been waited for before its next one.
TEST(SoakLaggingRasteriser, FramesSurviveRasteriserThreadsPausedWhileSignalling) {
    char exe[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(length, 0);
    char folder[] = "/tmp/velloran-lag-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string done = std::string(folder) + "/done";
    const std::string report = std::string(folder) + "/report";

    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "LD_PRELOAD=", 11) != 0 && std::strncmp(*e, "ASAN_OPTIONS=", 13) != 0) env.push_back(*e);
    env.push_back(std::string("LD_PRELOAD=") + VELLORAN_RASTERISER_LAG);
    // A sanitizer build must let the library sit in front of its runtime.
    const char* asan = std::getenv("ASAN_OPTIONS");
    env.push_back(std::string("ASAN_OPTIONS=") + (asan ? std::string(asan) + ":" : "") + "verify_asan_link_order=0");
    env.push_back("VELLORAN_LAG_DONE=" + done);
    env.push_back("VELLORAN_LAG_REPORT=" + report);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string filter = "--gtest_filter=Soak.DISABLED_FramesWhileRasteriserThreadsLag";
    std::string disabled = "--gtest_also_run_disabled_tests";
    char* argv[] = {exe, filter.data(), disabled.data(), nullptr};

    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, exe, nullptr, nullptr, argv, envp.data()), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    const bool finished = std::ifstream(done).good();
    std::string counts;
    std::getline(std::ifstream(report), counts);
    std::remove(done.c_str());
    std::remove(report.c_str());
    rmdir(folder);
    ASSERT_FALSE(WIFSIGNALED(status)) << "the child died of signal " << WTERMSIG(status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child's frames failed";
    EXPECT_TRUE(finished) << "the child never finished its frames";

    std::smatch m;
    ASSERT_TRUE(std::regex_match(counts, m, std::regex(R"(renderer=(.*) pieces=(\d+) waits=(\d+) unsettled=(\d+))")))
        << "the child's counts: \"" << counts << "\"";
    const std::string renderer = m[1];
    const long pieces = std::stol(m[2]), waits = std::stol(m[3]), unsettled = std::stol(m[4]);
    std::printf("[ lag      ] %s: %ld scene-filling calls, %ld waits, %ld not waited for\n", renderer.c_str(),
                pieces, waits, unsettled);
    if (renderer.find("llvmpipe") == std::string::npos) return;
    // 200 frames of several passes each: the calls were seen at all.
    EXPECT_GT(pieces, 1000);
    EXPECT_EQ(unsettled, 0) << "scene-filling calls made while the one before was not waited for";
}

}  // namespace
