// Real-input 2-D transforms in single precision (FFTW), with the plans kept per size.
#pragma once

#include <complex>
#include <cstddef>
#include <list>
#include <memory>

namespace ostrabel {

// A block of memory from fftwf_malloc: every buffer has the alignment the plans were made with, which the
// new-array execute functions require.
template <class T>
class TransformBuffer {
public:
    explicit TransformBuffer(std::size_t count);
    ~TransformBuffer();
    TransformBuffer(const TransformBuffer&) = delete;
    TransformBuffer& operator=(const TransformBuffer&) = delete;
    T* data() const { return data_; }

private:
    T* data_;
};

// The forward (real to half-spectrum) and inverse transform of one `rows` by `columns` real array. The
// spectrum holds `rows` by (columns / 2 + 1) values; the inverse is unscaled (a factor rows * columns).
// Execution uses no shared state and may run on several threads at once.
class RealTransform2D {
public:
    RealTransform2D(std::size_t rows, std::size_t columns);
    ~RealTransform2D();
    RealTransform2D(const RealTransform2D&) = delete;
    RealTransform2D& operator=(const RealTransform2D&) = delete;

    std::size_t rows() const { return rows_; }
    std::size_t columns() const { return columns_; }
    std::size_t SpectrumSize() const { return rows_ * (columns_ / 2 + 1); }

    void Forward(float* real, std::complex<float>* spectrum) const;
    // Overwrites `spectrum`.
    void Inverse(std::complex<float>* spectrum, float* real) const;

private:
    std::size_t rows_, columns_;
    void* forward_ = nullptr;  // fftwf_plan
    void* inverse_ = nullptr;
};

// Plans by size, kept for later calls with the same size: a render repeats its levels' sizes frame after frame.
// Only the most recently used few are kept, so an animated radius cannot grow the cache without end.
class TransformCache {
public:
    const RealTransform2D& Get(std::size_t rows, std::size_t columns);

    // The smallest length at or above `at_least` whose prime factors are all 2, 3, 5 or 7 (FFTW's fastest).
    static std::size_t SmoothLength(std::size_t at_least);

private:
    static constexpr std::size_t kMostKept = 24;
    std::list<std::unique_ptr<RealTransform2D>> plans_;  // most recently used first
};

}  // namespace ostrabel
