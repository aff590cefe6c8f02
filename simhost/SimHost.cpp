#include "simhost/SimHost.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "sdk/AE_EffectSuites.h"
#include "simhost/IterateGeneric.h"
#include "simhost/IterateSuites.h"
#include "simhost/MemoryPolicy.h"

namespace simhost {

namespace {

std::atomic<SimHost*> activeHost{nullptr};

SimHost& Host() {
    SimHost* host = SimHost::Active();
    // A callback arriving with no host alive is a fault of the effect (a suite pointer kept past its command).
    if (!host) {
        std::fprintf(stderr, "simhost: host callback called while no host is alive\n");
        std::abort();
    }
    return *host;
}

// ---- registration ---------------------------------------------------------------------------------------
PF_Err RegisterEffect(void* registration_ref, const A_char* effect_name, const A_char* match_name,
                      const A_char* category, const A_char* entry_point_name, A_u_long kind, A_long api_major,
                      A_long api_minor, A_long reserved_info) {
    auto* reg = static_cast<Registration*>(registration_ref);
    if (!reg) return PF_Err_BAD_CALLBACK_PARAM;
    auto text = [](const A_char* s) { return s ? std::string(s) : std::string(); };
    ++reg->calls;
    reg->registration_ref = registration_ref;
    reg->effect_name = text(effect_name);
    reg->match_name = text(match_name);
    reg->category = text(category);
    reg->entry_point_name = text(entry_point_name);
    reg->kind = kind;
    reg->api_version_major = api_major;
    reg->api_version_minor = api_minor;
    reg->reserved_info = reserved_info;
    return PF_Err_NONE;
}

// ---- basic suite ----------------------------------------------------------------------------------------
SPErr BasicAcquireSuite(const char* name, A_long version, const void** suite) {
    return Host().AcquireSuite(name, version, suite);
}
SPErr BasicReleaseSuite(const char* name, A_long version) { return Host().ReleaseSuite(name, version); }
A_Boolean BasicIsEqual(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }
SPErr BasicAllocateBlock(size_t size, void** block) {
    if (!block) return kSPSuiteNotFoundError;
    *block = std::malloc(size ? size : 1);
    return *block ? SPErr(kSPNoError) : SPErr(PF_Err_OUT_OF_MEMORY);
}
SPErr BasicFreeBlock(void* block) {
    std::free(block);
    return kSPNoError;
}
SPErr BasicReallocateBlock(void* block, size_t size, void** out) {
    if (!out) return kSPSuiteNotFoundError;
    void* p = std::realloc(block, size ? size : 1);
    if (!p) return PF_Err_OUT_OF_MEMORY;
    *out = p;
    return kSPNoError;
}
SPErr BasicUndefined() { return kSPSuiteNotFoundError; }

// ---- ANSI callbacks ---------------------------------------------------------------------------------------
// The effect only ever formats into return_msg, so the host copies at most what that field holds and counts
// anything longer: an unbounded sprintf would write past the out data.
A_long HostSprintf(A_char* buffer, const A_char* format, ...) {
    if (!buffer || !format) return -1;
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (needed < 0) {
        va_end(again);
        buffer[0] = '\0';
        return needed;
    }
    std::vector<char> text(size_t(needed) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    va_end(again);
    size_t n = size_t(needed);
    if (n > PF_MAX_RETURN_MSG_LEN - 1) {
        Host().CountSprintfOverflow();
        n = PF_MAX_RETURN_MSG_LEN - 1;
    }
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return A_long(n);
}

A_long HostStrcpy(A_char* dst, const A_char* src) {
    if (!dst || !src) return -1;
    std::strcpy(dst, src);
    return A_long(std::strlen(dst));
}

const PF_ANSICallbacksSuite1 kAnsiSuite1 = {HostSprintf, HostStrcpy};

// ---- handles ----------------------------------------------------------------------------------------------
PF_Handle HostNewHandle(A_u_long size) { return Host().Handles().New(size); }
void* HostLockHandle(PF_Handle h) { return Host().Handles().Lock(h); }
void HostUnlockHandle(PF_Handle h) { Host().Handles().Unlock(h); }
void HostDisposeHandle(PF_Handle h) { Host().Handles().Dispose(h); }
A_u_long HostGetHandleSize(PF_Handle h) { return Host().Handles().Size(h); }
PF_Err HostResizeHandle(A_u_long size, PF_Handle* h) { return Host().Handles().Resize(size, h); }

const PF_HandleSuite2 kHandleSuite2 = {HostNewHandle,     HostLockHandle,    HostUnlockHandle,
                                       HostDisposeHandle, HostGetHandleSize, HostResizeHandle};

// ---- interaction callbacks --------------------------------------------------------------------------------
// Callbacks that no host part serves yet answer "invalid callback" rather than leaving a null to jump through.
PF_Err NoCheckoutParam(PF_ProgPtr, PF_ParamIndex, A_long, A_long, A_u_long, PF_ParamDef*) {
    return PF_Err_INVALID_CALLBACK;
}
PF_Err NoCheckinParam(PF_ProgPtr, PF_ParamDef*) { return PF_Err_INVALID_CALLBACK; }
PF_Err NoAddParam(PF_ProgPtr, PF_ParamIndex, PF_ParamDef*) { return PF_Err_INVALID_CALLBACK; }
PF_Err NoRegisterUI(PF_ProgPtr, void*) { return PF_Err_INVALID_CALLBACK; }
PF_Err NoFill(PF_ProgPtr, const PF_Pixel*, const PF_Rect*, PF_EffectWorld*) { return PF_Err_INVALID_CALLBACK; }
PF_Err NoCopy(PF_ProgPtr, PF_EffectWorld*, PF_EffectWorld*, const PF_Rect*, const PF_Rect*) {
    return PF_Err_INVALID_CALLBACK;
}

PF_Err HostAbort(PF_ProgPtr effect_ref) {
    SimHost* host = SimHost::FromRef(effect_ref);
    if (!host) return PF_Err_BAD_CALLBACK_PARAM;
    return host->Faults().ShouldInterrupt() ? PF_Interrupt_CANCEL : PF_Err_NONE;
}

PF_Err HostProgress(PF_ProgPtr effect_ref, A_long, A_long) {
    SimHost* host = SimHost::FromRef(effect_ref);
    if (!host) return PF_Err_BAD_CALLBACK_PARAM;
    return host->Faults().ShouldFail("progress") ? PF_Interrupt_CANCEL : PF_Err_NONE;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string DefaultBundlePath() { return VELLORAN_BUNDLE_PATH; }

const Bundle& Bundle::Load(const std::string& bundlePath) {
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<Bundle>> loaded;
    std::lock_guard<std::mutex> lock(mutex);
    auto& slot = loaded[bundlePath];
    if (slot) return *slot;

    // A package folder "Name.plugin" holds its module at Contents/MacOS/Name.
    std::string modulePath = bundlePath;
    if (IsDirectory(bundlePath)) {
        std::string base = bundlePath;
        while (!base.empty() && base.back() == '/') base.pop_back();
        base = base.substr(base.find_last_of('/') + 1);
        const size_t dot = base.rfind(".plugin");
        if (dot != std::string::npos) base = base.substr(0, dot);
        modulePath = bundlePath + "/Contents/MacOS/" + base;
    }
    void* module = dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!module) {
        const char* why = dlerror();
        loaded.erase(bundlePath);
        throw std::runtime_error("cannot load " + modulePath + ": " + (why ? why : "unknown error"));
    }
    auto bundle = std::make_unique<Bundle>();
    bundle->module_ = module;
    bundle->modulePath = modulePath;
    bundle->dataEntry = reinterpret_cast<PF_PluginDataEntryFunc>(dlsym(module, "PluginDataEntryFunction"));
    bundle->effectMain = reinterpret_cast<PF_EffectMainFunc>(dlsym(module, "EffectMain"));
    if (!bundle->dataEntry || !bundle->effectMain) {
        loaded.erase(bundlePath);
        throw std::runtime_error(modulePath + " lacks PluginDataEntryFunction or EffectMain");
    }
    slot = std::move(bundle);
    return *slot;
}

void* Bundle::Symbol(const char* name) const { return dlsym(module_, name); }

SimHost::SimHost(const std::string& bundlePath) : handles_(faults_) {
    SimHost* expected = nullptr;
    if (!activeHost.compare_exchange_strong(expected, this))
        throw std::logic_error("simhost: only one SimHost may exist at a time");
    KeepFreedMemoryForReuse();
    try {
        basic_.AcquireSuite = BasicAcquireSuite;
        basic_.ReleaseSuite = BasicReleaseSuite;
        basic_.IsEqual = BasicIsEqual;
        basic_.AllocateBlock = BasicAllocateBlock;
        basic_.FreeBlock = BasicFreeBlock;
        basic_.ReallocateBlock = BasicReallocateBlock;
        basic_.Undefined = BasicUndefined;

        utils_.fill = NoFill;
        utils_.copy = NoCopy;
        utils_.host_new_handle = HostNewHandle;
        utils_.host_lock_handle = HostLockHandle;
        utils_.host_unlock_handle = HostUnlockHandle;
        utils_.host_dispose_handle = HostDisposeHandle;
        utils_.ansi.sprintf = HostSprintf;
        utils_.ansi.strcpy = HostStrcpy;

        inData_.inter.checkout_param = NoCheckoutParam;
        inData_.inter.checkin_param = NoCheckinParam;
        inData_.inter.add_param = NoAddParam;
        inData_.inter.abort = HostAbort;
        inData_.inter.progress = HostProgress;
        inData_.inter.register_ui = NoRegisterUI;
        inData_.utils = &utils_;
        inData_.effect_ref = this;
        inData_.quality = PF_Quality_HI;
        inData_.version_major = 13;
        inData_.version_minor = 28;
        inData_.appl_id = PF_FourCharCode("FXTC");
        inData_.time_step = 1;
        inData_.local_time_step = 1;
        inData_.total_time = 1;
        inData_.time_scale = 24;
        inData_.field = PF_Field_FRAME;
        inData_.downsample_x = {1, 1};
        inData_.downsample_y = {1, 1};
        inData_.pixel_aspect_ratio = {1, 1};
        inData_.pica_basicP = &basic_;

        AddSuite(kPFANSISuite, kPFANSISuiteVersion1, &kAnsiSuite1);
        AddSuite(kPFHandleSuite, kPFHandleSuiteVersion2, &kHandleSuite2);
        InstallIterateSuites(*this);
        InstallIterateGenericSuite(*this);

        bundle_ = &Bundle::Load(bundlePath);
        registrationResult_ =
            bundle_->dataEntry(&registration_, RegisterEffect, &basic_, "simhost", "1.0");
    } catch (...) {
        activeHost.store(nullptr);
        throw;
    }
}

SimHost::~SimHost() {
    {
        std::lock_guard<std::recursive_mutex> lock(servicesMutex_);
        services_.clear();
    }
    activeHost.store(nullptr);
}

SimHost* SimHost::Active() { return activeHost.load(); }

SimHost* SimHost::FromRef(PF_ProgPtr effect_ref) {
    SimHost* host = Active();
    return host && effect_ref == static_cast<PF_ProgPtr>(host) ? host : nullptr;
}

PF_Handle SimHost::GlobalData() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return globalData_;
}

void SimHost::SetGlobalData(PF_Handle h) {
    std::lock_guard<std::mutex> lock(mutex_);
    globalData_ = h;
}

CommandResult SimHost::Send(PF_Cmd cmd, const CommandArgs& args) {
    PF_InData in{};
    PF_OutData out{};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        in = inData_;
        in.global_data = globalData_;
        out.global_data = globalData_;
    }
    out.num_params = in.num_params;
    out.width = in.width;
    out.height = in.height;
    if (args.prepare) args.prepare(in, out);

    CommandResult result;
    result.err = bundle_->effectMain(cmd, &in, &out, args.params, args.output, args.extra);

    {
        std::lock_guard<std::mutex> lock(mutex_);
        // After set-down the block is gone; a host forgets it rather than hand a dead handle to a later setup.
        globalData_ = cmd == PF_Cmd_GLOBAL_SETDOWN ? nullptr : out.global_data;
    }
    out.return_msg[PF_MAX_RETURN_MSG_LEN - 1] = '\0';
    result.return_msg = out.return_msg;
    result.out_flags = out.out_flags;
    result.out_flags2 = out.out_flags2;
    result.out = out;
    return result;
}

void SimHost::AddSuite(const char* name, int version, const void* table) {
    std::lock_guard<std::mutex> lock(mutex_);
    SuiteEntry& entry = suites_[SuiteKey{name, version}];
    entry.table = table;
}

void SimHost::SetSuiteMissing(const char* name, int version, bool missing) {
    std::lock_guard<std::mutex> lock(mutex_);
    suites_[SuiteKey{name, version}].missing = missing;
}

SPErr SimHost::AcquireSuite(const char* name, A_long version, const void** suite) {
    if (suite) *suite = nullptr;
    if (!name || !suite) return kSPSuiteNotFoundError;
    // Each suite and version is a call of its own for the fault injector: a host may lack any one of them.
    const bool planned = faults_.ShouldFail(std::string("AcquireSuite ") + name + " v" + std::to_string(version));
    std::lock_guard<std::mutex> lock(mutex_);
    const SuiteKey key{name, int(version)};
    auto it = suites_.find(key);
    SuiteCounts& counts = counts_[key];
    if (planned || it == suites_.end() || it->second.missing) {
        ++counts.failedAcquires;
        return kSPSuiteNotFoundError;
    }
    if (!it->second.table) {
        ++counts.failedAcquires;
        return kSPNoError;  // a broken host: no error, yet no suite
    }
    ++counts.acquires;
    *suite = it->second.table;
    return kSPNoError;
}

SPErr SimHost::ReleaseSuite(const char* name, A_long version) {
    if (!name) return kSPSuiteNotFoundError;
    std::lock_guard<std::mutex> lock(mutex_);
    const SuiteKey key{name, int(version)};
    ++counts_[key].releases;
    return suites_.count(key) ? kSPNoError : kSPSuiteNotFoundError;
}

SuiteCounts SimHost::Counts(const char* name, int version) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = counts_.find(SuiteKey{name, version});
    return it == counts_.end() ? SuiteCounts{} : it->second;
}

std::map<SuiteKey, SuiteCounts> SimHost::AllCounts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_;
}

std::vector<std::string> SimHost::UnbalancedSuites() const {
    std::vector<std::string> out;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& entry : counts_) {
        if (entry.second.acquires == entry.second.releases) continue;
        out.push_back(entry.first.name + " v" + std::to_string(entry.first.version) + ": " +
                      std::to_string(entry.second.acquires) + " acquired, " +
                      std::to_string(entry.second.releases) + " released");
    }
    return out;
}

void SimHost::ResetCounts() {
    std::lock_guard<std::mutex> lock(mutex_);
    counts_.clear();
}

int SimHost::SprintfOverflows() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sprintfOverflows_;
}

void SimHost::CountSprintfOverflow() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++sprintfOverflows_;
}

}  // namespace simhost
