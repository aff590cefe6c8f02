// Self-sorting (Stockham) mixed-radix FFT. Each stage splits a length-n transform into p interleaved length-n/p
// transforms (decimation in frequency): with j = k + r m and f = t + p u (m = n / p),
//   X[t + p u] = sum_k w_m^(k u) [ w_n^(k t) sum_r x[k + r m] w_p^(r t) ],
// so a stage does the p-point DFTs over r, multiplies by w_n^(k t) and writes element (k, t) where the next
// stage, with its stride grown by p, reads it. Ping-ponging between the data and the scratch buffer keeps every
// pass sequential in memory and needs no bit-reversal.
#include "OstrabelFFT.h"

#include <cmath>
#include <stdexcept>

namespace ostrabel {

namespace {

bool IsSmooth(std::size_t n) {
    for (std::size_t p : {2u, 3u, 5u})
        while (n % p == 0) n /= p;
    return n == 1;
}

}  // namespace

std::size_t FftPlan::SmoothLength(std::size_t at_least) {
    std::size_t n = at_least < 1 ? 1 : at_least;
    while (!IsSmooth(n)) ++n;
    return n;
}

FftPlan::FftPlan(std::size_t length) : length_(length) {
    if (length == 0 || !IsSmooth(length)) throw std::invalid_argument("FftPlan: length must be 5-smooth");
    std::size_t rest = length;
    while (rest % 4 == 0) radices_.push_back(4), rest /= 4;
    for (unsigned p : {2u, 3u, 5u})
        while (rest % p == 0) radices_.push_back(p), rest /= p;
    roots_.resize(length);
    // Computed in double from the angle each time, so the roots carry no accumulated rounding.
    const double step = -2.0 * M_PI / double(length);
    for (std::size_t k = 0; k < length; ++k)
        roots_[k] = {float(std::cos(step * double(k))), float(std::sin(step * double(k)))};
}

void FftPlan::Forward(Complex* data, Complex* scratch) const {
    // Constants of the 3- and 5-point DFTs (forward sign).
    const float sin60 = float(std::sqrt(3.0) / 2.0);
    const float c1 = float(std::cos(2.0 * M_PI / 5.0)), s1 = float(std::sin(2.0 * M_PI / 5.0));
    const float c2 = float(std::cos(4.0 * M_PI / 5.0)), s2 = float(std::sin(4.0 * M_PI / 5.0));

    Complex* src = data;
    Complex* dst = scratch;
    std::size_t n = length_, stride = 1;
    for (unsigned p : radices_) {
        const std::size_t m = n / p;
        const std::size_t root_step = length_ / n;  // w_n^e = roots_[e * root_step]
        for (std::size_t k = 0; k < m; ++k) {
            Complex w[5];
            for (unsigned t = 1; t < p; ++t) w[t] = roots_[k * t * root_step];
            for (std::size_t q = 0; q < stride; ++q) {
                const Complex* in = src + q + stride * k;
                Complex* out = dst + q + stride * p * k;
                const std::size_t in_step = stride * m;
                switch (p) {
                case 2: {
                    Complex a0 = in[0], a1 = in[in_step];
                    out[0] = a0 + a1;
                    out[stride] = (a0 - a1) * w[1];
                    break;
                }
                case 3: {
                    Complex a0 = in[0], a1 = in[in_step], a2 = in[2 * in_step];
                    Complex sum = a1 + a2, diff = a1 - a2;
                    Complex mid = {a0.re - 0.5f * sum.re, a0.im - 0.5f * sum.im};
                    Complex rot = {sin60 * diff.im, -sin60 * diff.re};  // -i sin60 (a1 - a2)
                    out[0] = a0 + sum;
                    out[stride] = (mid + rot) * w[1];
                    out[2 * stride] = (mid - rot) * w[2];
                    break;
                }
                case 4: {
                    Complex a0 = in[0], a1 = in[in_step], a2 = in[2 * in_step], a3 = in[3 * in_step];
                    Complex s02 = a0 + a2, d02 = a0 - a2, s13 = a1 + a3, d13 = a1 - a3;
                    Complex rot = {d13.im, -d13.re};  // -i (a1 - a3)
                    out[0] = s02 + s13;
                    out[stride] = (d02 + rot) * w[1];
                    out[2 * stride] = (s02 - s13) * w[2];
                    out[3 * stride] = (d02 - rot) * w[3];
                    break;
                }
                default: {  // 5
                    Complex a0 = in[0], a1 = in[in_step], a2 = in[2 * in_step], a3 = in[3 * in_step],
                            a4 = in[4 * in_step];
                    Complex s14 = a1 + a4, d14 = a1 - a4, s23 = a2 + a3, d23 = a2 - a3;
                    Complex r1 = {a0.re + c1 * s14.re + c2 * s23.re, a0.im + c1 * s14.im + c2 * s23.im};
                    Complex r2 = {a0.re + c2 * s14.re + c1 * s23.re, a0.im + c2 * s14.im + c1 * s23.im};
                    // -i (s1 d14 + s2 d23) and -i (s2 d14 - s1 d23)
                    Complex i1 = {s1 * d14.im + s2 * d23.im, -(s1 * d14.re + s2 * d23.re)};
                    Complex i2 = {s2 * d14.im - s1 * d23.im, -(s2 * d14.re - s1 * d23.re)};
                    out[0] = a0 + s14 + s23;
                    out[stride] = (r1 + i1) * w[1];
                    out[2 * stride] = (r2 + i2) * w[2];
                    out[3 * stride] = (r2 - i2) * w[3];
                    out[4 * stride] = (r1 - i1) * w[4];
                    break;
                }
                }
            }
        }
        std::swap(src, dst);
        n = m;
        stride *= p;
    }
    if (src != data)
        for (std::size_t i = 0; i < length_; ++i) data[i] = src[i];
}

}  // namespace ostrabel
