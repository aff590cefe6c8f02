#include "simhost/Parallel.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace simhost {

PF_Err ParallelRows(A_long height, int threads, const std::function<PF_Err(A_long y)>& fn) {
    if (height <= 0) return PF_Err_NONE;
    std::atomic<A_long> next{0};
    std::atomic<PF_Err> first{PF_Err_NONE};
    auto work = [&] {
        for (;;) {
            if (first.load() != PF_Err_NONE) return;
            const A_long y = next.fetch_add(1);
            if (y >= height) return;
            const PF_Err err = fn(y);
            if (err != PF_Err_NONE) {
                PF_Err none = PF_Err_NONE;
                first.compare_exchange_strong(none, err);
            }
        }
    };
    const int count = std::max(1, std::min<int>(threads, int(height)));
    std::vector<std::thread> helpers;
    helpers.reserve(size_t(count - 1));
    for (int i = 1; i < count; ++i) helpers.emplace_back(work);
    work();
    for (auto& t : helpers) t.join();
    return first.load();
}

}  // namespace simhost
