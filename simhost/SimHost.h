// The simulated host: loads the effect's bundle like a real host, registers it, and sends it commands with
// in and out data whose callbacks and suites it really implements. Beside that it records what a test needs
// to see (the registration, suite acquire and release counts, handles alive) and injects faults on demand.
//
// Extending it from another file, without editing this one:
//  - a suite:    host.AddSuite("PF World Suite", 2, &table);  the table must outlive the host (a static).
//  - a callback: host.InDataTemplate().inter.checkout_param = &MyCheckout;  inside it, SimHost::FromRef(effect_ref)
//                (or SimHost::Active() where the host gives no reference) finds the host.
//  - state:      host.Service<MyParamStore>() owns one MyParamStore(SimHost&) per host, made on first use.
//  - suites:     acquiring (name, version) is the fault "AcquireSuite <name> v<version>", failing as a missing
//                suite does.
//  - a fault:    inside a host call, `if (host.Faults().ShouldFail("checkout_layer")) return PF_Err_...;`
//                a test then says host.Faults().FailCall("checkout_layer", 2).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <typeindex>
#include <utility>
#include <vector>

#include "sdk/AE_Effect.h"
#include "sdk/SPBasic.h"
#include "simhost/Faults.h"
#include "simhost/Handles.h"

namespace simhost {

// Where the build put the bundle's loadable module.
std::string DefaultBundlePath();

// The bundle's module, loaded once per process and never unloaded: the effect keeps per-thread state and an
// open log stream that must not outlive its code.
class Bundle {
public:
    static const Bundle& Load(const std::string& bundlePath);  // throws std::runtime_error with dlerror's text
    void* Symbol(const char* name) const;                       // null when the module lacks it
    PF_PluginDataEntryFunc dataEntry = nullptr;
    PF_EffectMainFunc effectMain = nullptr;
    std::string modulePath;

private:
    void* module_ = nullptr;
};

// What the effect passed to the registration callback, in its order.
struct Registration {
    int calls = 0;
    void* registration_ref = nullptr;
    std::string effect_name, match_name, category, entry_point_name;
    A_u_long kind = 0;
    A_long api_version_major = 0, api_version_minor = 0, reserved_info = 0;
};

struct SuiteKey {
    std::string name;
    int version;
    bool operator<(const SuiteKey& o) const { return version != o.version ? version < o.version : name < o.name; }
};
struct SuiteCounts {
    int acquires = 0;        // successful acquisitions
    int releases = 0;
    int failedAcquires = 0;  // asked for while missing or unknown
};

// Arguments of one command beside the in and out data.
struct CommandArgs {
    PF_ParamDef** params = nullptr;
    PF_LayerDef* output = nullptr;
    void* extra = nullptr;
    // Runs on this command's own in and out data just before the effect is called.
    std::function<void(PF_InData&, PF_OutData&)> prepare;
};

struct CommandResult {
    PF_Err err = PF_Err_NONE;
    std::string return_msg;
    PF_OutFlags out_flags = 0;
    PF_OutFlags2 out_flags2 = 0;
    PF_OutData out{};  // the whole out data as the effect left it
};

class SimHost {
public:
    // Loads the bundle and calls its registration function. Only one host may exist at a time: callbacks
    // without a reference argument (AcquireSuite, host_new_handle) find it through Active().
    explicit SimHost(const std::string& bundlePath = DefaultBundlePath());
    ~SimHost();
    SimHost(const SimHost&) = delete;
    SimHost& operator=(const SimHost&) = delete;

    static SimHost* Active();
    static SimHost* FromRef(PF_ProgPtr effect_ref);

    const Bundle& bundle() const { return *bundle_; }
    const Registration& registration() const { return registration_; }
    PF_Err registrationResult() const { return registrationResult_; }

    // Sends one command. Each call gets its own copy of the in data template and fresh out data, so commands
    // may be sent from several threads at once (as render commands are); global_data travels from the out data
    // of one command into the in and out data of every later one, as a host keeps it.
    CommandResult Send(PF_Cmd cmd, const CommandArgs& args = {});

    // The in data every command starts from: change its fields or callbacks before sending.
    PF_InData& InDataTemplate() { return inData_; }
    PF_UtilCallbacks& Utils() { return utils_; }
    SPBasicSuite* BasicSuite() { return &basic_; }
    PF_Handle GlobalData() const;
    void SetGlobalData(PF_Handle h);

    // Suites by name and version. The table must stay valid for the host's life; null serves "no error, but a
    // null suite", as a broken host would.
    void AddSuite(const char* name, int version, const void* table);
    void SetSuiteMissing(const char* name, int version, bool missing = true);
    SuiteCounts Counts(const char* name, int version) const;
    std::map<SuiteKey, SuiteCounts> AllCounts() const;
    // Every (name, version) whose acquisitions and releases differ, as "name v<version>: <a> acquired, <r> released".
    std::vector<std::string> UnbalancedSuites() const;
    void ResetCounts();

    // Formatted texts of the ANSI sprintf that did not fit a return message (255 characters and a NUL): the
    // host copies only what fits, and counts the rest as the effect's fault.
    int SprintfOverflows() const;

    FaultInjector& Faults() { return faults_; }
    HandleStore& Handles() { return handles_; }

    // How many threads the host spreads per-row work over (iteration suites, transfers).
    int WorkerThreads() const { return workerThreads_; }
    void SetWorkerThreads(int n) { workerThreads_ = n < 1 ? 1 : n; }

    // Per-host state of other host parts, made on first use with T(SimHost&) and destroyed with the host
    // (before the suites and handles).
    template <class T>
    T& Service() {
        std::lock_guard<std::recursive_mutex> lock(servicesMutex_);
        auto& slot = services_[std::type_index(typeid(T))];
        if (!slot) slot = std::shared_ptr<void>(new T(*this), [](void* p) { delete static_cast<T*>(p); });
        return *static_cast<T*>(slot.get());
    }
    template <class T>
    T* FindService() {
        std::lock_guard<std::recursive_mutex> lock(servicesMutex_);
        auto it = services_.find(std::type_index(typeid(T)));
        return it == services_.end() ? nullptr : static_cast<T*>(it->second.get());
    }

    // Entry points of the basic suite (public so other host parts may call them with the host's bookkeeping).
    SPErr AcquireSuite(const char* name, A_long version, const void** suite);
    SPErr ReleaseSuite(const char* name, A_long version);
    void CountSprintfOverflow();

private:
    struct SuiteEntry {
        const void* table = nullptr;
        bool missing = false;
    };

    const Bundle* bundle_ = nullptr;
    Registration registration_;
    PF_Err registrationResult_ = PF_Err_NONE;

    PF_InData inData_{};
    PF_UtilCallbacks utils_{};
    SPBasicSuite basic_{};

    mutable std::mutex mutex_;  // suites, counts and global data
    std::map<SuiteKey, SuiteEntry> suites_;
    std::map<SuiteKey, SuiteCounts> counts_;
    PF_Handle globalData_ = nullptr;
    int sprintfOverflows_ = 0;

    FaultInjector faults_;
    HandleStore handles_;
    int workerThreads_ = 4;

    std::recursive_mutex servicesMutex_;  // a service may ask for another while being made
    std::map<std::type_index, std::shared_ptr<void>> services_;
};

}  // namespace simhost
