// Per-thread render state on the simulated host's render threads: each thread's own context, pipeline object
// and programs, built one thread after the other; no record without the global context; a failed context;
// and the teardown at the thread's end, watched through wrappers of the calls it makes while its context is
// still current.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/CaseNames.h"
#include "CGLStandIn.h"
#include "Ostrabel.h"
#include "gl/GLHeaders.h"
#include "host/Handlers.h"
#include "render/ProgramSet.h"
#include "render/ThreadState.h"
#include "simhost/RenderThreads.h"
#include "simhost/World.h"
#include "support/SimHostFixture.h"

namespace {

// A fragment source that compiles but cannot link: the function it calls is declared and never defined.
const char* const kUnlinkableFragment = R"(#version 330
uniform sampler2D videoTexture;
in vec2 out_uvs;
out vec3 FragColor;
vec3 neverDefined(vec2 uv);
void main() { FragColor = neverDefined(out_uvs) + texture(videoTexture, out_uvs).rgb; }
)";

// Whether the thread `tid` of this process sleeps in a futex wait, as a thread does that waits for a mutex
// another holds. The kernel shows the system call a sleeping thread is in, with its arguments.
bool BlockedOnLock(pid_t tid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%d/syscall", int(tid));
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char text[256] = {};
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0) return false;
    char* end = nullptr;
    const long number = std::strtol(text, &end, 10);
    return end != text && number == SYS_futex;
}

// What the wrapped calls saw, in the order they were made on any thread.
struct Event {
    std::thread::id thread;
    std::string call;
    bool recordContextCurrent = false;  // the thread's record's context was current during the call
    int programsAlive = 0;              // of the thread's program names, how many GL still knew
};

struct Recorder {
    std::mutex mutex;
    std::vector<Event> events;
    std::map<std::thread::id, std::vector<GLuint>> programNames;  // every slot's name, failed links included
    bool nullPipeline = false;
    int brokenSlot = -1;  // a slot rebuilt from an unlinkable pair after the real build
    ThreadStateCalls real = DefaultThreadStateCalls();

    // Two first builds made to overlap: the first context creation waits until both threads have arrived,
    // then until the second has either made its own context too (the builds interleave: no lock kept it
    // out) or is stopped in a wait on a lock (BlockedOnLock). Only atomics are shared meanwhile, so the second
    // thread can stop on nothing of the test's own.
    bool holdFirstBuild = false;
    std::atomic<int> arrived{0}, contextCreations{0};
    std::atomic<pid_t> arrivedTids[2] = {0, 0};

    void Arrive() { arrivedTids[arrived++].store(pid_t(syscall(SYS_gettid))); }
    void HoldFirstContextCreation() {
        if (++contextCreations != 1 || !holdFirstBuild) return;
        while (arrived.load() < 2) std::this_thread::yield();
        const pid_t self = pid_t(syscall(SYS_gettid));
        const pid_t other = arrivedTids[0].load() == self ? arrivedTids[1].load() : arrivedTids[0].load();
        while (contextCreations.load() < 2 && !BlockedOnLock(other)) std::this_thread::yield();
    }

    void Add(const std::string& call) {
        Event event;
        event.thread = std::this_thread::get_id();
        event.call = call;
        event.recordContextCurrent = local_render_data && local_render_data->gl_ctx &&
                                     GetCurrentContext() == local_render_data->gl_ctx;
        if (event.recordContextCurrent) {
            std::lock_guard<std::mutex> lock(mutex);
            for (GLuint name : programNames[event.thread]) event.programsAlive += glIsProgram(name) ? 1 : 0;
        }
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(event);
    }
    std::vector<std::string> CallsOf(std::thread::id thread) {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::string> calls;
        for (const Event& e : events)
            if (e.thread == thread) calls.push_back(e.call);
        return calls;
    }
    const Event* Find(std::thread::id thread, const std::string& call) {
        std::lock_guard<std::mutex> lock(mutex);
        for (const Event& e : events)
            if (e.thread == thread && e.call == call) return &e;
        return nullptr;
    }
};

Recorder* recorder = nullptr;

int Occurrences(const std::string& text, const std::string& needle) {
    int count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
    return count;
}

// The teardown's deleter runs while local_render_data still holds the record, so the wrappers can see it.
CGLContextObj RecordedCreateContext(CGLContextObj share, CGLPixelFormatAttribute* attributes) {
    recorder->HoldFirstContextCreation();
    recorder->Add("createContext");
    return recorder->real.createContext(share, attributes);
}
void RecordedDeleteContext(CGLContextObj ctx) {
    recorder->Add("deleteContext");
    recorder->real.deleteContext(ctx);
}
void* RecordedCreatePipeline(void* context) {
    recorder->Add("createPipeline");
    return recorder->nullPipeline ? nullptr : recorder->real.createPipeline(context);
}
void RecordedDeletePipeline(void* pipeline) {
    recorder->Add("deletePipeline");
    recorder->real.deletePipeline(pipeline);
}
bool RecordedBuildPrograms(Program (&programs)[kProgramSlotCount], PF_OutData* out_data) {
    recorder->Add("buildPrograms");
    bool built = recorder->real.buildPrograms(programs, out_data);
    if (recorder->brokenSlot >= 0) {
        Program& slot = programs[recorder->brokenSlot];
        slot.Release();
        built = slot.InitInternal(kProgramSlotSources[recorder->brokenSlot].vertex, kUnlinkableFragment, out_data,
                                  recorder->brokenSlot);
    }
    std::vector<GLuint> names;
    for (const Program& program : programs) names.push_back(program.id);
    std::lock_guard<std::mutex> lock(recorder->mutex);
    recorder->programNames[std::this_thread::get_id()] = names;
    return built;
}
void RecordedReleasePrograms(Program (&programs)[kProgramSlotCount]) {
    recorder->Add("releasePrograms");
    recorder->real.releasePrograms(programs);
}

// What a thread's record looked like right after a call.
struct RecordView {
    bool exists = false;
    CGLContextObj context = nullptr;
    void* pipeline = nullptr;
    bool contextCurrent = false;
    int usablePrograms = 0;  // valid, with a name GL knows in the thread's context
    std::thread::id thread;
};

RecordView ViewOfThisThread() {
    RecordView view;
    view.thread = std::this_thread::get_id();
    if (!local_render_data) return view;
    view.exists = true;
    view.context = local_render_data->gl_ctx;
    view.pipeline = local_render_data->blur_ctx;
    view.contextCurrent = GetCurrentContext() == view.context;
    if (view.context && view.contextCurrent) {
        for (const Program& program : local_render_data->programs)
            view.usablePrograms += program.valid && program.id != 0 && glIsProgram(program.id) ? 1 : 0;
    }
    return view;
}

class ThreadStateTest : public testsupport::SimHostTest {
protected:
    void SetUp() override {
        SimHostTest::SetUp();
        recorder = &recorder_;
        ThreadStateCallsForTesting() = ThreadStateCalls{RecordedCreateContext,  RecordedDeleteContext,
                                                        RecordedCreatePipeline, RecordedDeletePipeline,
                                                        RecordedBuildPrograms,  RecordedReleasePrograms};
        threads_ = std::make_unique<simhost::RenderThreads>(host(), 2);
        baselineContexts_ = CGLStandInLiveContextCount();
    }
    void TearDown() override {
        threads_->End();
        ThreadStateCallsForTesting() = DefaultThreadStateCalls();
        recorder = nullptr;
        CGLStandInFailContextCreations(0);
        SetDown();
        SimHostTest::TearDown();
    }

    // The global block as global setup makes it; with failContext its context cannot be made.
    void SetUpGlobal(bool failContext = false) {
        setupIn_ = host().InDataTemplate();
        setupOut_ = PF_OutData{};
        CGLStandInFailContextCreations(failContext ? 1 : 0);
        ASSERT_EQ(GlobalSetup(&setupIn_, &setupOut_, nullptr, nullptr), PF_Err_NONE);
        CGLStandInFailContextCreations(0);
        ASSERT_NE(setupOut_.global_data, nullptr);
    }
    void SetDown() {
        if (!setupOut_.global_data) return;
        GlobalSetdown(&setupIn_, &setupOut_, nullptr, nullptr);
        setupOut_ = PF_OutData{};
    }

    // In data of a render command: the template with the host's global-data handle.
    PF_InData RenderInData() {
        PF_InData in = host().InDataTemplate();
        in.global_data = setupOut_.global_data;
        return in;
    }
    RecordView InitOn(int thread) {
        RecordView view;
        threads_->Run(thread, [&] {
            PF_InData in = RenderInData();
            PF_OutData out{};
            InitThreadLocalRenderData(&in, &out);
            view = ViewOfThisThread();
        });
        return view;
    }

    Recorder recorder_;
    std::unique_ptr<simhost::RenderThreads> threads_;
    PF_InData setupIn_{};
    PF_OutData setupOut_{};
    int baselineContexts_ = 0;
};

TEST_F(ThreadStateTest, TwoFirstFramesAtOnceGetTheirOwnStateBuiltOneAfterTheOther) {
    SetUpGlobal();
    const int contextsWithGlobal = CGLStandInLiveContextCount();
    RecordView views[2];
    recorder_.holdFirstBuild = true;
    auto firstFrame = [&](RecordView& view) {
        PF_InData in = RenderInData();
        PF_OutData out{};
        recorder_.Arrive();
        InitThreadLocalRenderData(&in, &out);
        view = ViewOfThisThread();
    };
    threads_->RunTogether({[&] { firstFrame(views[0]); }, [&] { firstFrame(views[1]); }});

    auto* global = static_cast<GlobalRenderData*>(*setupOut_.global_data);
    for (const RecordView& view : views) {
        ASSERT_TRUE(view.exists);
        EXPECT_NE(view.context, nullptr);
        EXPECT_NE(view.context, global->gl_ctx) << "a render thread must not draw in the global context";
        EXPECT_NE(view.pipeline, nullptr);
        EXPECT_TRUE(view.contextCurrent);
        EXPECT_EQ(view.usablePrograms, kProgramSlotCount);
    }
    EXPECT_NE(views[0].context, views[1].context);
    EXPECT_NE(views[0].pipeline, views[1].pipeline);
    EXPECT_EQ(CGLStandInLiveContextCount(), contextsWithGlobal + 2);

    // The lock covers the whole build: one thread's three steps are never interleaved with the other's.
    std::vector<Event> events = recorder_.events;
    ASSERT_EQ(events.size(), 6u);
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(events[i].thread, events[i < 3 ? 0 : 3].thread) << "event " << i;
    EXPECT_NE(events[0].thread, events[3].thread);

    // A later frame builds nothing and makes the same context current again, whatever was current before.
    for (int t = 0; t < 2; ++t) {
        threads_->Run(t, [] { SetCurrentContext(nullptr); });
        const RecordView again = InitOn(t);
        EXPECT_EQ(again.context, views[t].context);
        EXPECT_EQ(again.pipeline, views[t].pipeline);
        EXPECT_TRUE(again.contextCurrent);
    }
    EXPECT_EQ(recorder_.events.size(), 6u);

    threads_->End();
    EXPECT_EQ(CGLStandInLiveContextCount(), contextsWithGlobal) << "every thread's context goes with the thread";
}

// A host may end the global state while render threads still hold theirs: each thread's record owns its own
// context, so the thread's end still tears it down in that context, and nothing is left behind.
TEST_F(ThreadStateTest, RenderThreadsThatOutliveTheGlobalSetDownStillTearDownTheirState) {
    const int contextsBefore = CGLStandInLiveContextCount();
    SetUpGlobal();
    const RecordView views[2] = {InitOn(0), InitOn(1)};
    for (const RecordView& view : views) ASSERT_NE(view.context, nullptr);
    SetDown();
    EXPECT_EQ(CGLStandInLiveContextCount(), contextsBefore + 2) << "the set-down leaves the threads' contexts alone";

    threads_->End();
    for (const RecordView& view : views) {
        EXPECT_THAT(recorder_.CallsOf(view.thread),
                    ::testing::ElementsAre("createContext", "createPipeline", "buildPrograms", "deletePipeline",
                                           "releasePrograms", "deleteContext"));
        const Event* release = recorder_.Find(view.thread, "releasePrograms");
        ASSERT_NE(release, nullptr);
        EXPECT_TRUE(release->recordContextCurrent) << "the programs are released in the thread's own context";
        EXPECT_EQ(release->programsAlive, kProgramSlotCount) << "the set-down took none of the thread's programs";
    }
    EXPECT_EQ(CGLStandInLiveContextCount(), contextsBefore);
}

struct MissingGlobalCase {
    const char* what;
    bool makeBlock;          // a block exists, but its context could not be made
};
void PrintTo(const MissingGlobalCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

class ThreadStateWithoutGlobalContext : public ThreadStateTest,
                                        public ::testing::WithParamInterface<MissingGlobalCase> {};

TEST_P(ThreadStateWithoutGlobalContext, MakesNoRecordAndALaterFrameRetries) {
    if (GetParam().makeBlock) {
        SetUpGlobal(/*failContext=*/true);
        ASSERT_EQ(static_cast<GlobalRenderData*>(*setupOut_.global_data)->gl_ctx, nullptr);
    }
    const RecordView first = InitOn(0);
    EXPECT_FALSE(first.exists);
    EXPECT_THAT(recorder_.events, ::testing::IsEmpty()) << "nothing may be created without the global context";
    EXPECT_EQ(CGLStandInLiveContextCount(), baselineContexts_);

    SetDown();
    SetUpGlobal();
    const RecordView later = InitOn(0);
    ASSERT_TRUE(later.exists);
    EXPECT_NE(later.context, nullptr);
    EXPECT_TRUE(later.contextCurrent);
    EXPECT_EQ(later.usablePrograms, kProgramSlotCount);
}

INSTANTIATE_TEST_SUITE_P(Cases, ThreadStateWithoutGlobalContext,
                         ::testing::Values(MissingGlobalCase{"NoHandle", false},
                                           MissingGlobalCase{"BlockWithoutContext", true}),
                         velloran_test::NameFromWhat<MissingGlobalCase>);

TEST_F(ThreadStateTest, AFailedContextIsLoggedOnceAndNeverRetried) {
    SetUpGlobal();
    const int contextsWithGlobal = CGLStandInLiveContextCount();
    CGLStandInFailContextCreations(1);
    const RecordView first = InitOn(0);
    ASSERT_TRUE(first.exists) << "the record stays, without a context";
    EXPECT_EQ(first.context, nullptr);
    EXPECT_EQ(first.pipeline, nullptr);

    // Later frames find the record: no new attempt, and whatever was current is replaced by no context.
    CGLContextObj probe = CreateContext(nullptr, nullptr);
    ASSERT_NE(probe, nullptr);
    for (int frame = 0; frame < 2; ++frame) {
        bool nothingCurrent = false;
        threads_->Run(0, [&] {
            SetCurrentContext(probe);
            PF_InData in = RenderInData();
            PF_OutData out{};
            InitThreadLocalRenderData(&in, &out);
            nothingCurrent = GetCurrentContext() == nullptr;
        });
        EXPECT_TRUE(nothingCurrent) << "frame " << frame;
    }
    EXPECT_THAT(recorder_.CallsOf(first.thread), ::testing::ElementsAre("createContext"));
    EXPECT_EQ(Occurrences(Log(), "error: couldn't create context"), 1) << Log();

    // The other thread is not affected by the first one's failure.
    EXPECT_NE(InitOn(1).context, nullptr);

    threads_->End();
    EXPECT_THAT(recorder_.CallsOf(first.thread), ::testing::ElementsAre("createContext"))
        << "a record without a context tears down without GL or library calls";
    DeleteContext(probe);
    EXPECT_EQ(CGLStandInLiveContextCount(), contextsWithGlobal);
}

struct TeardownCase {
    const char* what;
    bool nullPipeline;
    int brokenSlot;
    std::vector<std::string> expectedCalls;
};
void PrintTo(const TeardownCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

class ThreadTeardown : public ThreadStateTest, public ::testing::WithParamInterface<TeardownCase> {};

TEST_P(ThreadTeardown, DeletesPipelineThenProgramsThenContext) {
    const TeardownCase& c = GetParam();
    recorder_.nullPipeline = c.nullPipeline;
    recorder_.brokenSlot = c.brokenSlot;
    SetUpGlobal();
    const int contextsWithGlobal = CGLStandInLiveContextCount();
    const RecordView view = InitOn(0);
    ASSERT_NE(view.context, nullptr);
    EXPECT_EQ(view.pipeline == nullptr, c.nullPipeline);
    EXPECT_EQ(view.usablePrograms, c.brokenSlot >= 0 ? kProgramSlotCount - 1 : kProgramSlotCount);
    if (c.brokenSlot >= 0) {
        // The failed link kept its program name, which the teardown must give back too.
        const GLuint failed = recorder_.programNames[view.thread][size_t(c.brokenSlot)];
        ASSERT_NE(failed, 0u);
    }

    threads_->End();
    EXPECT_EQ(recorder_.CallsOf(view.thread), c.expectedCalls);

    const Event* release = recorder_.Find(view.thread, "releasePrograms");
    ASSERT_NE(release, nullptr);
    EXPECT_TRUE(release->recordContextCurrent);
    EXPECT_EQ(release->programsAlive, kProgramSlotCount) << "the programs must outlive the pipeline object";
    if (const Event* pipeline = recorder_.Find(view.thread, "deletePipeline")) {
        EXPECT_TRUE(pipeline->recordContextCurrent);
        EXPECT_EQ(pipeline->programsAlive, kProgramSlotCount);
    }
    const Event* context = recorder_.Find(view.thread, "deleteContext");
    ASSERT_NE(context, nullptr);
    EXPECT_TRUE(context->recordContextCurrent) << "the programs are deleted in their own context";
    EXPECT_EQ(context->programsAlive, 0) << "every program name, failed links included, goes before the context";
    EXPECT_EQ(CGLStandInLiveContextCount(), contextsWithGlobal);
}

const std::vector<std::string> kCreation = {"createContext", "createPipeline", "buildPrograms"};
std::vector<std::string> Then(std::vector<std::string> calls, const std::vector<std::string>& more) {
    calls.insert(calls.end(), more.begin(), more.end());
    return calls;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ThreadTeardown,
    ::testing::Values(
        TeardownCase{"Ordinary", false, -1, Then(kCreation, {"deletePipeline", "releasePrograms", "deleteContext"})},
        TeardownCase{"FailedLink", false, BLUR_UNIFIED_P,
                     Then(kCreation, {"deletePipeline", "releasePrograms", "deleteContext"})},
        TeardownCase{"NullPipelineIsNotDeleted", true, -1, Then(kCreation, {"releasePrograms", "deleteContext"})}),
    velloran_test::NameFromWhat<TeardownCase>);

// The pipeline object of a render thread works with the host's in data: the blur library learns the iris
// world's depth from the host's world suite, which the render threads' host serves.
TEST_F(ThreadStateTest, TheBlurLibraryReachesTheHostsWorldSuiteFromARenderThread) {
    SetUpGlobal();
    simhost::SimWorld iris(3, 3, simhost::PixelDepth::k32f);
    iris.At<PF_PixelFloat>(1, 1) = PF_PixelFloat{1.f, 1.f, 1.f, 1.f};

    auto convolveOnce = [&](std::string* reason) {
        bool made = false;
        threads_->Run(0, [&] {
            PF_InData in = RenderInData();
            PF_OutData out{};
            InitThreadLocalRenderData(&in, &out);
            ASSERT_NE(local_render_data, nullptr);
            ASSERT_NE(local_render_data->blur_ctx, nullptr);
            constexpr int kSize = 8;
            std::vector<float> source(kSize * kSize * 4, 0.f);
            source[(4 * kSize + 4) * 4] = 1.f;
            GLuint texture = 0, framebuffer = 0;
            glGenTextures(1, &texture);
            glBindTexture(GL_TEXTURE_2D, texture);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, kSize, kSize, 0, GL_RGBA, GL_FLOAT, source.data());
            glBindTexture(GL_TEXTURE_2D, 0);
            glGenFramebuffers(1, &framebuffer);
            glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
            glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
            glBindFramebuffer(GL_FRAMEBUFFER, 0);
            char error[1024] = {};
            void* cache = CreateOstrabelImageCacheGL(&in, local_render_data->blur_ctx, 8, iris.world(), 50, 1,
                                                     framebuffer, kSize, kSize, error, 1023);
            made = cache != nullptr;
            *reason = error;
            OstrabelDisposeBlurCacheGL(cache);
            glDeleteFramebuffers(1, &framebuffer);
            glDeleteTextures(1, &texture);
        });
        return made;
    };

    std::string reason;
    EXPECT_TRUE(convolveOnce(&reason)) << reason;
    host().SetSuiteMissing(kPFWorldSuite, kPFWorldSuiteVersion2);
    EXPECT_FALSE(convolveOnce(&reason));
    EXPECT_THAT(reason, ::testing::HasSubstr(kPFWorldSuite));
}

}  // namespace
