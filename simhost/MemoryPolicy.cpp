#include "simhost/MemoryPolicy.h"

#include <malloc.h>

#include <mutex>

namespace simhost {

void KeepFreedMemoryForReuse() {
    static std::once_flag once;
    std::call_once(once, [] {
#if defined(__GLIBC__)
        // Large blocks come from the heap rather than from their own mappings (threads other than the main
        // one still map blocks larger than their arena's heap), and the heap's top is not trimmed.
        mallopt(M_MMAP_MAX, 0);
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
    });
}

}  // namespace simhost
