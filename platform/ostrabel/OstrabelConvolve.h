// The CPU half of the iris blur: the iris kernel and its convolution with an image.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "OstrabelTransforms.h"

namespace ostrabel {

// Non-negative weights of the iris image, rows top-down as the host stores them.
struct IrisWeights {
    int width = 0;
    int height = 0;
    std::vector<float> weights;  // width * height
    double total = 0.0;          // sum of `weights`, > 0
};

// Leaves the values of a resized vector as they come: images that are written whole right away (a read-back, a
// convolution's result) skip a pass over memory that would only zero what is overwritten at once.
template <class T>
struct UninitialisedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <class U>
    UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

// Four float channels per pixel, rows in the order GL reads and writes them (GL row 0 first). The effect keeps
// the picture's top row in GL row 0, so row 0 is the top here too.
struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<float, UninitialisedAllocator<float>> pixels;  // width * height * 4; `resize` leaves values unset
};

// The coarsest level; levels outside 1 .. kCoarsestSamplingLevel are clamped.
constexpr int kCoarsestSamplingLevel = 5;

// How many source pixels make one cell of the grid the convolution runs on (1: full resolution).
int WorkingCellSize(int sampling_level, double radius);

// `source` convolved with the iris scaled so that its longer side spans 2 * `radius` pixels: a true convolution,
// so one bright pixel becomes the iris centred on it and the same way up as the image (the iris's top row
// toward row 0). The image is black beyond its edges. A radius under half a pixel returns the source
// unchanged. Never negative. `workers` bounds the threads used.
// `transforms` keeps the plans of the transform sizes met so far for the next call.
RgbaImage ConvolveWithIris(const RgbaImage& source, const IrisWeights& iris, double radius, int sampling_level,
                           TransformCache& transforms, unsigned workers);

}  // namespace ostrabel
