// A small complex FFT for lengths whose only prime factors are 2, 3 and 5, in single precision.
#pragma once

#include <cstddef>
#include <vector>

namespace ostrabel {

struct Complex {
    float re, im;
};

inline Complex operator+(Complex a, Complex b) { return {a.re + b.re, a.im + b.im}; }
inline Complex operator-(Complex a, Complex b) { return {a.re - b.re, a.im - b.im}; }
inline Complex operator*(Complex a, Complex b) {
    return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}
inline Complex operator*(Complex a, float s) { return {a.re * s, a.im * s}; }
inline Complex Conjugate(Complex a) { return {a.re, -a.im}; }

class FftPlan {
public:
    // `length` must be at least 1 and have no prime factor above 5 (see `SmoothLength`).
    explicit FftPlan(std::size_t length);

    std::size_t length() const { return length_; }

    // In-place forward transform X[f] = sum_j x[j] exp(-2 pi i j f / N), unscaled; `scratch` holds `length()`
    // values. The inverse is Conjugate(Forward(Conjugate(X))) / N, which the caller composes.
    void Forward(Complex* data, Complex* scratch) const;

    // The smallest length at or above `at_least` with no prime factor above 5.
    static std::size_t SmoothLength(std::size_t at_least);

private:
    std::size_t length_;
    std::vector<unsigned> radices_;
    std::vector<Complex> roots_;  // exp(-2 pi i k / N), k < N
};

}  // namespace ostrabel
