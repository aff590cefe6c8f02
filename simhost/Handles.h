// Host memory handles: a handle points at a master pointer that points at the block, as the host's handles
// do, so the effect may dereference a locked handle. The store knows every live handle, so a dispose or lock
// of something that is not a live handle is counted instead of corrupting memory.
#pragma once

#include <cstddef>
#include <map>
#include <mutex>

#include "sdk/AE_Effect.h"
#include "sdk/AE_EffectSuites.h"

namespace simhost {

class FaultInjector;

class HandleStore {
public:
    explicit HandleStore(FaultInjector& faults) : faults_(faults) {}
    ~HandleStore();  // frees what the effect leaked
    HandleStore(const HandleStore&) = delete;
    HandleStore& operator=(const HandleStore&) = delete;

    // Fault names: "host_new_handle" (null handle), "host_lock_handle" (null block), "host_resize_handle".
    PF_Handle New(A_u_long size);  // zero-filled
    void* Lock(PF_Handle h);
    void Unlock(PF_Handle h);
    void Dispose(PF_Handle h);
    A_u_long Size(PF_Handle h) const;
    PF_Err Resize(A_u_long size, PF_Handle* h);

    bool IsLive(PF_Handle h) const;
    int LockCount(PF_Handle h) const;
    int Locks() const;           // locks not yet unlocked, over every live handle
    int Live() const;            // handles allocated and not yet disposed
    int TotalAllocated() const;  // handles ever allocated
    int BadHandleCalls() const;  // lock, unlock, dispose, size or resize of something that is not a live handle
    int UnbalancedUnlocks() const;

private:
    struct Block {
        void* data = nullptr;  // must stay the first member: the handle points here
        A_u_long size = 0;
        int locks = 0;
    };
    Block* Find(PF_Handle h) const;  // caller holds mutex_

    FaultInjector& faults_;
    mutable std::mutex mutex_;
    std::map<PF_Handle, Block*> blocks_;
    int total_ = 0;
    mutable int badCalls_ = 0;
    int unbalancedUnlocks_ = 0;
};

}  // namespace simhost
