// The CPU half of the iris blur: the iris kernel and its convolution with an image.
#pragma once

#include <cstddef>
#include <vector>

namespace ostrabel {

// Non-negative weights of the iris image, rows top-down as the host stores them.
struct IrisWeights {
    int width = 0;
    int height = 0;
    std::vector<float> weights;  // width * height
    double total = 0.0;          // sum of `weights`, > 0
};

// Four float channels per pixel, rows bottom-up as GL stores them.
struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<float> pixels;  // width * height * 4
};

// The coarsest level; levels outside 1 .. kCoarsestSamplingLevel are clamped.
constexpr int kCoarsestSamplingLevel = 5;

// How many source pixels make one cell of the grid the convolution runs on (1: full resolution).
int WorkingCellSize(int sampling_level, double radius);

// `source` convolved with the iris scaled so that its longer side spans 2 * `radius` pixels, its centre on the
// output pixel and its top row upward; the image is black beyond its edges. A radius under half a pixel
// returns the source unchanged. Never negative. `workers` bounds the threads used.
RgbaImage ConvolveWithIris(const RgbaImage& source, const IrisWeights& iris, double radius, int sampling_level,
                           unsigned workers);

}  // namespace ostrabel
