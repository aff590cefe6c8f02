#include "host/GlobalSetup.h"

#include <cstring>
#include <new>

#include "gl/GLContext.h"
#include "gl/GLHeaders.h"
#include "host/Suites.h"
#include "render/ProgramSet.h"
#include "render/ThreadState.h"

static_assert(kEffectVersionWord == 0x81001, "the host reads 1.0.2 develop build 1 from this word");

void CopyGLText(char (&field)[100], const unsigned char* text) {
    field[0] = '\0';
    if (!text) return;
    const char* chars = reinterpret_cast<const char*>(text);
    const size_t length = strnlen(chars, sizeof(field) - 1);
    std::memcpy(field, chars, length);
    field[length] = '\0';
}

PF_Err GlobalSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* /*params*/[], PF_LayerDef* /*output*/) {
    out_data->my_version = kEffectVersionWord;
    out_data->out_flags = kGlobalOutFlags;
    out_data->out_flags2 = kGlobalOutFlags2;

    AEGP_SuiteHandler suites(in_data->pica_basicP);
    if (in_data->appl_id == kObsoleteUnderHost) out_data->out_flags = PF_OutFlag_I_AM_OBSOLETE;

    const PF_HandleSuite2* handles = suites.HandleSuite2();
    const PF_Handle handle = handles->host_new_handle(sizeof(GlobalRenderData));
    out_data->global_data = handle;
    if (!handle) return PF_Err_NONE;  // no block: render threads then build no GL state
    void* block = handles->host_lock_handle(handle);
    if (!block) {
        // Nothing was constructed in it, so no later command may take its bytes for a record: give it back
        // now rather than leave set-down a block it cannot tell from a real one.
        handles->host_dispose_handle(handle);
        out_data->global_data = nullptr;
        return PF_Err_NONE;
    }

    // Stays locked until set-down: render threads and the parameter setup read it in place.
    auto* global = new (block) GlobalRenderData();
    const GLWorkLock glWork = LockGLWork();
    global->gl_ctx = CreateContext(nullptr, nullptr);

    const CGLContextObj callers = GetCurrentContext();
    if (IsContextValid(global->gl_ctx)) {
        SetCurrentContext(global->gl_ctx);
        // A failed slot writes its own message into out_data; setup goes on without it.
        InitReleasePrograms(global->programs, out_data);
        CopyGLText(global->glVersion, glGetString(GL_VERSION));
        CopyGLText(global->glRenderer, glGetString(GL_RENDERER));
        NoteGLRenderer(reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    }
    SetCurrentContext(callers);
    return PF_Err_NONE;
}

PF_Err GlobalSetdown(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* /*params*/[], PF_LayerDef* /*output*/) {
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    const PF_Handle handle = out_data->global_data;
    if (!handle) return PF_Err_NONE;  // setup made no block

    const PF_HandleSuite2* handles = suites.HandleSuite2();
    // A handle too small for the record is not a block this setup made: taking it for one would release
    // whatever its bytes happen to name.
    if (handles->host_get_handle_size && handles->host_get_handle_size(handle) < sizeof(GlobalRenderData)) {
        return PF_Err_NONE;
    }
    auto* global = static_cast<GlobalRenderData*>(handles->host_lock_handle(handle));
    if (!global) return PF_Err_NONE;

    {
        // Let go of before the handle goes back to the host.
        const GLWorkLock glWork = LockGLWork();
        SetCurrentContext(global->gl_ctx);
        ReleasePrograms(global->programs);
        // A slot whose link failed is skipped by the release but still names a program: emptying the slots
        // deletes it while the context is current, so destroying the record below makes no GL call.
        if (global->gl_ctx) {
            for (Program& program : global->programs) program = Program();
        }
        DeleteContext(global->gl_ctx);
        global->gl_ctx = nullptr;
        SetCurrentContext(nullptr);
    }
    global->~GlobalRenderData();
    handles->host_dispose_handle(handle);
    out_data->global_data = nullptr;
    return PF_Err_NONE;
}
