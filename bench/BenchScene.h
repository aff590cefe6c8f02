// What the benchmark renders beside the host's built-in test frame: the iris image of "Lens Iris" and the
// statistics of the timed frames.
#pragma once

#include <vector>

#include "simhost/World.h"

namespace velloran_bench {

// A soft-edged hexagonal aperture, white on black, fully opaque: the shape of a six-bladed lens iris. The
// hexagon's corners touch 80% of the half size; the edge ramps over about two pixels so that resampling the
// iris does not alias.
simhost::SimWorld MakeHexagonIris(A_long size, simhost::PixelDepth depth);

// The median of the values (for an even count, the mean of the middle two); 0 for none.
double Median(std::vector<double> values);

}  // namespace velloran_bench
