#include "simhost/Handles.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "simhost/Faults.h"

namespace simhost {

HandleStore::~HandleStore() {
    for (auto& entry : blocks_) {
        std::free(entry.second->data);
        delete entry.second;
    }
}

HandleStore::Block* HandleStore::Find(PF_Handle h) const {
    auto it = blocks_.find(h);
    if (it != blocks_.end()) return it->second;
    ++badCalls_;
    return nullptr;
}

PF_Handle HandleStore::New(A_u_long size) {
    if (faults_.ShouldFail("host_new_handle")) return nullptr;
    // calloc of 0 bytes may give null; a handle of size 0 still has a (one-byte) block.
    void* data = std::calloc(size ? size : 1, 1);
    if (!data) return nullptr;
    Block* block = new (std::nothrow) Block{data, size, 0};
    if (!block) {
        std::free(data);
        return nullptr;
    }
    PF_Handle h = &block->data;
    std::lock_guard<std::mutex> lock(mutex_);
    blocks_[h] = block;
    ++total_;
    return h;
}

void* HandleStore::Lock(PF_Handle h) {
    if (faults_.ShouldFail("host_lock_handle")) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    Block* block = Find(h);
    if (!block) return nullptr;
    ++block->locks;
    return block->data;
}

void HandleStore::Unlock(PF_Handle h) {
    std::lock_guard<std::mutex> lock(mutex_);
    Block* block = Find(h);
    if (!block) return;
    if (block->locks == 0) {
        ++unbalancedUnlocks_;
        return;
    }
    --block->locks;
}

void HandleStore::Dispose(PF_Handle h) {
    Block* block = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        block = Find(h);
        if (!block) return;
        blocks_.erase(h);
    }
    std::free(block->data);
    delete block;
}

A_u_long HandleStore::Size(PF_Handle h) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const Block* block = Find(h);
    return block ? block->size : 0;
}

PF_Err HandleStore::Resize(A_u_long size, PF_Handle* h) {
    if (!h) return PF_Err_BAD_CALLBACK_PARAM;
    if (faults_.ShouldFail("host_resize_handle")) return PF_Err_OUT_OF_MEMORY;
    std::lock_guard<std::mutex> lock(mutex_);
    Block* block = Find(*h);
    if (!block) return PF_Err_BAD_CALLBACK_PARAM;
    // A locked block must not move under the effect's pointer.
    if (block->locks > 0) return PF_Err_INTERNAL_STRUCT_DAMAGED;
    void* data = std::realloc(block->data, size ? size : 1);
    if (!data) return PF_Err_OUT_OF_MEMORY;
    if (size > block->size) std::memset(static_cast<char*>(data) + block->size, 0, size - block->size);
    block->data = data;
    block->size = size;
    return PF_Err_NONE;
}

bool HandleStore::IsLive(PF_Handle h) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return blocks_.count(h) != 0;
}

int HandleStore::LockCount(PF_Handle h) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = blocks_.find(h);
    return it == blocks_.end() ? 0 : it->second->locks;
}

int HandleStore::Locks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    int locks = 0;
    for (const auto& entry : blocks_) locks += entry.second->locks;
    return locks;
}

int HandleStore::Live() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return int(blocks_.size());
}

int HandleStore::TotalAllocated() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return total_;
}

int HandleStore::BadHandleCalls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return badCalls_;
}

int HandleStore::UnbalancedUnlocks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return unbalancedUnlocks_;
}

}  // namespace simhost
