#include "render/ThreadState.h"

#include <mutex>

#include "Ostrabel.h"
#include "host/Messages.h"
#include "render/ProgramSet.h"

thread_local std::unique_ptr<LocalGLStruct, tls_ctx_deleter> local_render_data;

namespace {

ThreadStateCalls& Calls() {
    static ThreadStateCalls calls = DefaultThreadStateCalls();
    return calls;
}

// The global block exists and owns a context. The handle has been locked since global setup; it is locked
// once more here, through the host's own callbacks, so that the block is reached the way the host hands it
// out, and unlocked again at once: only the context pointer is read.
bool GlobalContextPresent(const PF_InData* in_data) {
    if (!in_data || !in_data->global_data || !in_data->utils) return false;
    const PF_UtilCallbacks& utils = *in_data->utils;
    if (!utils.host_lock_handle || !utils.host_unlock_handle) return false;
    const auto* global = static_cast<const GlobalRenderData*>(utils.host_lock_handle(in_data->global_data));
    if (!global) return false;
    const bool present = global->gl_ctx != nullptr;
    utils.host_unlock_handle(in_data->global_data);
    return present;
}

}  // namespace

namespace {

// The library's pipeline, told to run its work away from GL (its host calls, its transforms) with the GL work
// lock let go.
void* CreatePipelineAwayFromGLWork(void* context) {
    void* pipeline = CreateIrisPipelineOBJ(context);
    if (pipeline) OstrabelSetStretchRunner(pipeline, RunAwayFromGLWork);
    return pipeline;
}

}  // namespace

ThreadStateCalls DefaultThreadStateCalls() {
    return ThreadStateCalls{CreateContext,     DeleteContext,       CreatePipelineAwayFromGLWork,
                            DeletePipelineCtx, InitReleasePrograms, ReleasePrograms};
}

ThreadStateCalls& ThreadStateCallsForTesting() { return Calls(); }

void tls_ctx_deleter::operator()(LocalGLStruct* record) const {
    if (!record) return;
    // Freed on every path below; by then no slot holds a GL name, so destroying them makes no GL call.
    std::unique_ptr<LocalGLStruct> owned(record);
    if (!record->gl_ctx) return;

    const ThreadStateCalls& calls = Calls();
    const GLWorkLock glWork = LockGLWork();  // other threads may still be rendering
    SetCurrentContext(record->gl_ctx);
    // The pipeline object may hold GL objects of its own that it frees through the programs' context.
    if (record->blur_ctx) calls.deletePipeline(record->blur_ctx);
    record->blur_ctx = nullptr;
    calls.releasePrograms(record->programs);
    // A slot whose link failed is not usable, so the release skipped it, yet it still names a GL program:
    // emptying each slot now deletes it while its context is current.
    for (Program& program : record->programs) program = Program();
    calls.deleteContext(record->gl_ctx);
    record->gl_ctx = nullptr;
}

void InitThreadLocalRenderData(PF_InData* in_data, PF_OutData* out_data) {
    // A render holds the GL work lock when it gets here; the build lets go of it to ask the host for the
    // global block and to wait on other threads' builds, and takes it again for its GL work only, always after
    // tls_mutex, so that no thread waits for one of the two while holding the other the other way round. The
    // host is asked before tls_mutex is taken: no lock is held while the effect waits on the host.
    const GLWorkPause pause;

    // Thread-local objects are destroyed in the reverse order of their first use on a thread. Asking for the
    // current context first makes the context layer's per-thread state older than local_render_data, so it
    // is still alive when the teardown makes the record's context current at the thread's end.
    GetCurrentContext();
    if (!local_render_data && !GlobalContextPresent(in_data)) return;  // no record: the next render tries again

    static std::mutex tls_mutex;
    const std::lock_guard<std::mutex> lock(tls_mutex);

    if (local_render_data) {
        // A record without a context makes null current: that render then does no GL work.
        const GLWorkLock glWork = LockGLWork();
        SetCurrentContext(local_render_data->gl_ctx);
        return;
    }

    local_render_data.reset(new LocalGLStruct);
    LocalGLStruct& record = *local_render_data;
    const ThreadStateCalls& calls = Calls();

    const GLWorkLock glWork = LockGLWork();
    // Shares nothing: the programs are built again in every thread's context.
    record.gl_ctx = calls.createContext(nullptr, nullptr);
    if (!record.gl_ctx) {
        // The record stays without a context, so this thread never retries and logs this only once.
        LogError("error: couldn't create context", in_data);
        return;
    }
    // Made before the context is current, as the library expects; null is kept too, and only the iris
    // glow fails on it.
    record.blur_ctx = calls.createPipeline(record.gl_ctx);
    SetCurrentContext(record.gl_ctx);
    // Failed slots report themselves through out_data and stay invalid; the render draws nothing with them.
    calls.buildPrograms(record.programs, out_data);
}
