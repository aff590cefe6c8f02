// Real-input 2-D transforms in double precision (FFTW), with the plans kept per size.
//
// Why double: a convolution through the frequency domain spreads the rounding of its transforms over the whole
// array, a floor in proportion to the brightest values of the result, where a direct sum would leave exact zeros
// wherever the kernel does not reach. In single precision that floor is some 1e-7 of the glow's peak: on an HDR
// source, which the effect raises to its gamma before the glow and takes the root of afterwards, it comes out
// as a visible haze over the whole frame, far beyond the iris. In double precision it lies about nine orders
// of magnitude lower, under anything a frame can show.
#pragma once

#include <complex>
#include <cstddef>
#include <list>
#include <memory>

namespace ostrabel {

// A block of memory from fftw_malloc: every buffer has the alignment the plans were made with, which the
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

// The forward (real to half-spectrum) and inverse transform of one `rows` by `columns` real array, in place:
// the array's rows are RowStride() values apart, of which the first `columns` hold the real values, and the
// same memory holds the spectrum of `rows` by (columns / 2 + 1) complex values afterwards. The inverse is
// unscaled (a factor rows * columns). Execution uses no shared state and may run on several threads at once,
// each on its own array (of BufferSize() values, from a TransformBuffer).
class RealTransform2D {
public:
    RealTransform2D(std::size_t rows, std::size_t columns);
    ~RealTransform2D();
    RealTransform2D(const RealTransform2D&) = delete;
    RealTransform2D& operator=(const RealTransform2D&) = delete;

    std::size_t rows() const { return rows_; }
    std::size_t columns() const { return columns_; }
    std::size_t RowStride() const { return 2 * (columns_ / 2 + 1); }
    std::size_t BufferSize() const { return rows_ * RowStride(); }
    std::size_t SpectrumSize() const { return rows_ * (columns_ / 2 + 1); }

    void Forward(double* data) const;
    void Inverse(double* data) const;

    // The spectrum that Forward left in `data`.
    static std::complex<double>* Spectrum(double* data) { return reinterpret_cast<std::complex<double>*>(data); }

private:
    std::size_t rows_, columns_;
    void* forward_ = nullptr;  // fftw_plan
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
