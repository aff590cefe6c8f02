// FFTW's planner keeps global state for the whole process and is not thread-safe, while executing a plan on new
// arrays is. Other code in the host's process (another plug-in) may plan FFTW transforms too, and no lock of
// ours can serialise that: FFTW's own planner lock is switched on once, as the library loads. Our plans are
// also made and destroyed under the library's own lock, and executed without it. FFTW_ESTIMATE plans in well
// under a millisecond and picks the same algorithm every time, so results do not depend on the machine's load
// at planning time.
#include "OstrabelTransforms.h"

#include <fftw3.h>

#include <mutex>
#include <new>

namespace ostrabel {

namespace {

std::mutex& PlannerLock() {
    static std::mutex lock;
    return lock;
}

// Once per process; FFTW keeps the setting for good. A second call from another user of FFTW is harmless.
void MakePlannerThreadSafe() {
    static const bool done = [] {
        fftw_make_planner_thread_safe();
        return true;
    }();
    static_cast<void>(done);
}

// Switching the lock on must not race with someone else's planning, so it is done as the library loads, while
// the host loads its plug-ins, rather than on our first plan in the middle of a render.
[[maybe_unused]] const bool planner_thread_safe_at_load = (MakePlannerThreadSafe(), true);

bool IsSmooth(std::size_t n) {
    for (std::size_t p : {2u, 3u, 5u, 7u})
        while (n % p == 0) n /= p;
    return n == 1;
}

}  // namespace

template <class T>
TransformBuffer<T>::TransformBuffer(std::size_t count)
    : data_(static_cast<T*>(fftw_malloc(sizeof(T) * (count ? count : 1)))) {
    if (!data_) throw std::bad_alloc();
}

template <class T>
TransformBuffer<T>::~TransformBuffer() {
    fftw_free(data_);
}

template class TransformBuffer<double>;

RealTransform2D::RealTransform2D(std::size_t rows, std::size_t columns) : rows_(rows), columns_(columns) {
    // Planned in place on a buffer of the kind every execution uses (fftw_malloc'd), which FFTW_ESTIMATE leaves
    // alone; the new-array execute functions need the same alignment and the same in-place layout.
    TransformBuffer<double> data(BufferSize());
    auto* complex = reinterpret_cast<fftw_complex*>(data.data());
    MakePlannerThreadSafe();
    std::lock_guard<std::mutex> hold(PlannerLock());
    forward_ = fftw_plan_dft_r2c_2d(int(rows), int(columns), data.data(), complex, FFTW_ESTIMATE);
    inverse_ = fftw_plan_dft_c2r_2d(int(rows), int(columns), complex, data.data(), FFTW_ESTIMATE);
    if (!forward_ || !inverse_) {
        if (forward_) fftw_destroy_plan(static_cast<fftw_plan>(forward_));
        if (inverse_) fftw_destroy_plan(static_cast<fftw_plan>(inverse_));
        throw std::bad_alloc();
    }
}

RealTransform2D::~RealTransform2D() {
    std::lock_guard<std::mutex> hold(PlannerLock());
    fftw_destroy_plan(static_cast<fftw_plan>(forward_));
    fftw_destroy_plan(static_cast<fftw_plan>(inverse_));
}

void RealTransform2D::Forward(double* data) const {
    fftw_execute_dft_r2c(static_cast<fftw_plan>(forward_), data, reinterpret_cast<fftw_complex*>(data));
}

void RealTransform2D::Inverse(double* data) const {
    fftw_execute_dft_c2r(static_cast<fftw_plan>(inverse_), reinterpret_cast<fftw_complex*>(data), data);
}

const RealTransform2D& TransformCache::Get(std::size_t rows, std::size_t columns) {
    for (auto it = plans_.begin(); it != plans_.end(); ++it) {
        if ((*it)->rows() == rows && (*it)->columns() == columns) {
            plans_.splice(plans_.begin(), plans_, it);
            return *plans_.front();
        }
    }
    plans_.push_front(std::make_unique<RealTransform2D>(rows, columns));
    if (plans_.size() > kMostKept) plans_.pop_back();
    return *plans_.front();
}

std::size_t TransformCache::SmoothLength(std::size_t at_least) {
    std::size_t n = at_least < 1 ? 1 : at_least;
    while (!IsSmooth(n)) ++n;
    return n;
}

}  // namespace ostrabel
