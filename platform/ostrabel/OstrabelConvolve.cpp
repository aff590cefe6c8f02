// Why two ways: the kernel is an arbitrary image (a bokeh shape with hard edges), so it does not separate into
// passes. A direct sum costs one multiply-add per kernel cell per pixel, which is the cheapest way for small
// kernels but grows with the square of the radius; through the frequency domain the cost per pixel is a few
// transform butterflies, whatever the radius. Kernels of up to `kMostDirectCells` cells are summed directly,
// larger ones go through real-input transforms (FFTW, in double precision). The padding that keeps the circular convolution from
// wrapping is bounded: the kernel is cropped to offsets smaller than the image (no output pixel can reach
// farther), and a transform of length n + reach already keeps every output sample clean. The sampling level
// only chooses the grid the convolution runs on: at coarse levels a wide kernel runs on a grid of
// `WorkingCellSize` pixels per cell, which keeps at most a level-given number of cells across the kernel and
// makes the cost fall with the radius.
#include "OstrabelConvolve.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <exception>
#include <thread>

#include "OstrabelTransforms.h"

namespace ostrabel {

namespace {

// Below this many transform values per thread, starting a thread costs more than it saves.
constexpr std::size_t kValuesPerWorker = 8192;

unsigned WorkersFor(std::size_t values, unsigned workers) {
    std::size_t wanted = std::max<std::size_t>(1, values / kValuesPerWorker);
    return unsigned(std::min<std::size_t>(std::max(1u, workers), wanted));
}

// Runs body(begin, end) over [0, count) in contiguous chunks on up to `workers` threads, the caller's among
// them. A chunk's exception is re-thrown here after every thread has been joined.
template <class Body>
void ParallelFor(std::size_t count, unsigned workers, const Body& body) {
    if (count == 0) return;
    const std::size_t chunks = std::min<std::size_t>(std::max(1u, workers), count);
    if (chunks == 1) {
        body(std::size_t(0), count);
        return;
    }
    const std::size_t per_chunk = (count + chunks - 1) / chunks;
    std::vector<std::exception_ptr> errors(chunks);
    auto run = [&](std::size_t chunk) {
        try {
            const std::size_t begin = chunk * per_chunk;
            const std::size_t end = std::min(count, begin + per_chunk);
            if (begin < end) body(begin, end);
        } catch (...) {
            errors[chunk] = std::current_exception();
        }
    };
    std::vector<std::thread> threads;
    threads.reserve(chunks - 1);
    for (std::size_t chunk = 1; chunk < chunks; ++chunk) {
        try {
            threads.emplace_back(run, chunk);
        } catch (...) {
            run(chunk);  // no thread to spare: do the chunk here
        }
    }
    run(0);
    for (std::thread& thread : threads) thread.join();
    for (std::exception_ptr& error : errors)
        if (error) std::rethrow_exception(error);
}

// One axis of the area-weighted resampling of the iris onto kernel cells. Cell t covers offsets
// [t - 1/2, t + 1/2] cells from the centre, that is iris coordinates [(t - 1/2) / scale, (t + 1/2) / scale]
// around the iris's middle; it takes each iris pixel in proportion to the length they share. Every iris pixel
// is shared out completely, so the kernel's weights add up to the iris's total.
struct AxisOverlap {
    int reach = 0;                   // cells -reach .. reach
    std::vector<int> first;          // per cell: first iris index it overlaps
    std::vector<std::size_t> start;  // per cell: where its lengths begin in `lengths`; one entry more at the end
    std::vector<double> lengths;     // shared lengths, in iris pixels, from `first` on
};

AxisOverlap OverlapAxis(int iris_size, double cells_per_iris_pixel, int reach) {
    AxisOverlap axis;
    axis.reach = reach;
    const double middle = iris_size / 2.0;
    for (int t = -reach; t <= reach; ++t) {
        const double u0 = std::max(0.0, (t - 0.5) / cells_per_iris_pixel + middle);
        const double u1 = std::min(double(iris_size), (t + 0.5) / cells_per_iris_pixel + middle);
        const int first = int(std::floor(u0));
        axis.first.push_back(first);
        axis.start.push_back(axis.lengths.size());
        for (int i = first; i < iris_size && i < u1; ++i)
            axis.lengths.push_back(std::max(0.0, std::min(u1, i + 1.0) - std::max(u0, double(i))));
    }
    axis.start.push_back(axis.lengths.size());
    return axis;
}

// Cells the kernel reaches on each side of its centre: the iris spans `iris_size * scale` cells, centred on
// cell 0, so the outermost cell that it touches is the one holding offset half the span, less a rounding-off
// guard for spans that end exactly on a cell border.
int KernelReach(int iris_size, double cells_per_iris_pixel) {
    const double half_span = iris_size * cells_per_iris_pixel / 2.0;
    return std::max(0, int(std::ceil(half_span - 0.5 - 1e-9)));
}

// The largest kernel summed directly: 11 by 11 cells. Measured on one thread, a direct sum of that many
// multiply-adds per value costs about what the transforms of a level cost, and grows from there.
constexpr std::size_t kMostDirectCells = 121;

// The kernel on the grid, normalised to sum 1: `cells_y` rows of `cells_x` cells, cell (c, r) weighing the
// offset (c - reach_x, r - reach_y). The caller's images hold the picture's top row in row 0, as the iris does,
// so the iris's top-down cell row r is row offset r - reach_y: a point lights its iris the same way up as the
// picture, the iris's top rows toward row 0.
struct Kernel {
    int reach_x = 0, reach_y = 0;
    std::size_t cells_x = 1, cells_y = 1;
    std::vector<float> weights;  // cells_y * cells_x, row-major
};

Kernel MakeKernel(const IrisWeights& iris, double cells_per_iris_pixel, int reach_x, int reach_y, unsigned workers) {
    const AxisOverlap ox = OverlapAxis(iris.width, cells_per_iris_pixel, reach_x);
    const AxisOverlap oy = OverlapAxis(iris.height, cells_per_iris_pixel, reach_y);
    Kernel kernel;
    kernel.reach_x = reach_x;
    kernel.reach_y = reach_y;
    kernel.cells_x = std::size_t(2 * reach_x + 1);
    kernel.cells_y = std::size_t(2 * reach_y + 1);
    const std::size_t cells_x = kernel.cells_x, cells_y = kernel.cells_y;

    // Horizontal pass: every iris row resampled onto the kernel's columns.
    std::vector<float> rows(std::size_t(iris.height) * cells_x);
    ParallelFor(std::size_t(iris.height), WorkersFor(std::size_t(iris.height) * cells_x, workers),
                [&](std::size_t begin, std::size_t end) {
                    for (std::size_t j = begin; j < end; ++j) {
                        const float* weights = &iris.weights[j * std::size_t(iris.width)];
                        for (std::size_t c = 0; c < cells_x; ++c) {
                            double sum = 0.0;
                            for (std::size_t k = ox.start[c]; k < ox.start[c + 1]; ++k)
                                sum += ox.lengths[k] * weights[std::size_t(ox.first[c]) + (k - ox.start[c])];
                            rows[j * cells_x + c] = float(sum);
                        }
                    }
                });

    // Vertical pass onto the kernel's rows.
    kernel.weights.assign(cells_x * cells_y, 0.0f);
    const double scale = 1.0 / iris.total;
    ParallelFor(cells_y, WorkersFor(cells_y * cells_x, workers), [&](std::size_t begin, std::size_t end) {
        std::vector<double> sum(cells_x);
        for (std::size_t cy = begin; cy < end; ++cy) {
            std::fill(sum.begin(), sum.end(), 0.0);
            for (std::size_t k = oy.start[cy]; k < oy.start[cy + 1]; ++k) {
                const double length = oy.lengths[k];
                const float* row = &rows[(std::size_t(oy.first[cy]) + (k - oy.start[cy])) * cells_x];
                for (std::size_t c = 0; c < cells_x; ++c) sum[c] += length * row[c];
            }
            for (std::size_t c = 0; c < cells_x; ++c) kernel.weights[cy * cells_x + c] = float(sum[c] * scale);
        }
    });
    return kernel;
}

// out(x, y) = sum over cells of weight(dx, dy) * grid(x - dx, y - dy), black beyond the grid's edges. All four
// channels of a pixel lie together, so one cell's weight runs over a contiguous span of a row, which the
// compiler vectorises.
RgbaImage ConvolveDirect(const RgbaImage& grid, const Kernel& kernel, unsigned workers) {
    const long width = grid.width, height = grid.height;
    RgbaImage result;
    result.width = grid.width;
    result.height = grid.height;
    result.pixels.resize(std::size_t(width) * std::size_t(height) * 4);  // every value is written below
    const std::size_t cells = kernel.cells_x * kernel.cells_y;
    ParallelFor(std::size_t(height), WorkersFor(std::size_t(width * height) * cells / 16, workers),
                [&](std::size_t begin, std::size_t end) {
                    std::vector<float> sum(std::size_t(width) * 4);
                    for (std::size_t y = begin; y < end; ++y) {
                        std::fill(sum.begin(), sum.end(), 0.0f);
                        for (std::size_t r = 0; r < kernel.cells_y; ++r) {
                            const long sy = long(y) - (long(r) - kernel.reach_y);
                            if (sy < 0 || sy >= height) continue;
                            const float* in = &grid.pixels[std::size_t(sy) * std::size_t(width) * 4];
                            for (std::size_t c = 0; c < kernel.cells_x; ++c) {
                                const float weight = kernel.weights[r * kernel.cells_x + c];
                                if (weight == 0.0f) continue;
                                const long dx = long(c) - kernel.reach_x;
                                const long x0 = std::max(0L, dx), x1 = std::min(width, width + dx);
                                if (x0 >= x1) continue;
                                float* out = sum.data() + x0 * 4;
                                const float* from = in + (x0 - dx) * 4;
                                const long count = (x1 - x0) * 4;
                                for (long i = 0; i < count; ++i) out[i] += weight * from[i];
                            }
                        }
                        float* out = &result.pixels[y * std::size_t(width) * 4];
                        for (std::size_t i = 0; i < sum.size(); ++i) out[i] = std::max(0.0f, sum[i]);
                    }
                });
    return result;
}

// Circular convolution through real-input transforms in double precision (see OstrabelTransforms.h for why),
// one channel at a time (the channels on up to four threads, each with its own buffer), clamping at 0 the
// ringing of the transforms' rounding.
RgbaImage ConvolveTransformed(const RgbaImage& grid, const Kernel& kernel, TransformCache& transforms,
                              unsigned workers) {
    const std::size_t width = std::size_t(grid.width), height = std::size_t(grid.height);
    // Circular convolution of length n + reach leaves outputs 0 .. n - 1 free of wrapped-around values.
    const std::size_t nx = TransformCache::SmoothLength(width + std::size_t(kernel.reach_x));
    const std::size_t ny = TransformCache::SmoothLength(height + std::size_t(kernel.reach_y));
    const RealTransform2D& transform = transforms.Get(ny, nx);
    const std::size_t stride = transform.RowStride(), buffer_size = transform.BufferSize();
    const std::size_t spectrum_size = transform.SpectrumSize();

    // The kernel's spectrum, scaled by 1 / (Nx Ny) so that the inverse transform needs no further scaling.
    // Offset (dx, dy) lands at (dx mod Nx, dy mod Ny).
    TransformBuffer<double> kernel_spectrum(buffer_size);
    {
        double* padded = kernel_spectrum.data();
        std::fill(padded, padded + buffer_size, 0.0);
        const double scale = 1.0 / (double(nx) * double(ny));
        for (std::size_t r = 0; r < kernel.cells_y; ++r) {
            const long dy = long(r) - kernel.reach_y;
            double* row = padded + std::size_t((dy + long(ny)) % long(ny)) * stride;
            for (std::size_t c = 0; c < kernel.cells_x; ++c) {
                const long dx = long(c) - kernel.reach_x;
                row[std::size_t((dx + long(nx)) % long(nx))] = kernel.weights[r * kernel.cells_x + c] * scale;
            }
        }
        transform.Forward(padded);
    }
    const std::complex<double>* k = RealTransform2D::Spectrum(kernel_spectrum.data());

    RgbaImage result;
    result.width = grid.width;
    result.height = grid.height;
    result.pixels.resize(width * height * 4);  // every value is written below
    const unsigned channel_workers = std::min(4u, WorkersFor(nx * ny * 4, workers));
    ParallelFor(4, channel_workers, [&](std::size_t begin, std::size_t end) {
        TransformBuffer<double> data(buffer_size);
        for (std::size_t channel = begin; channel < end; ++channel) {
            for (std::size_t y = 0; y < height; ++y) {
                double* row = data.data() + y * stride;
                const float* in = &grid.pixels[y * width * 4 + channel];
                for (std::size_t x = 0; x < width; ++x) row[x] = in[4 * x];
                std::fill(row + width, row + stride, 0.0);
            }
            std::fill(data.data() + height * stride, data.data() + buffer_size, 0.0);
            transform.Forward(data.data());
            std::complex<double>* s = RealTransform2D::Spectrum(data.data());
            for (std::size_t i = 0; i < spectrum_size; ++i) s[i] *= k[i];
            transform.Inverse(data.data());
            // Rows and columns past the image hold only wrap-around room; their outputs are not needed.
            for (std::size_t y = 0; y < height; ++y) {
                const double* row = data.data() + y * stride;
                float* out = &result.pixels[y * width * 4 + channel];
                for (std::size_t x = 0; x < width; ++x) out[4 * x] = float(std::max(0.0, row[x]));
            }
        }
    });
    return result;
}

// Where source pixel `x`'s centre lies on a grid of `cell` pixels per cell that starts with one margin cell:
// between cells `index` and `index + 1`, `fraction` of the way. Cell g's centre is (g - 1/2) * cell pixels from
// the image's origin, so the pixel's centre x + 1/2 lies at (x + 1/2) / cell + 1/2 cells. Shrinking and
// enlarging both place pixels by this one rule; any disagreement between them would move every glow.
struct GridPosition {
    int index;
    float fraction;
};

GridPosition PixelOnGrid(int x, int cell) {
    const double g = (x + 0.5) / cell + 0.5;
    const double index = std::floor(g);
    return {int(index), float(g - index)};
}

std::vector<GridPosition> PixelsOnGrid(int count, int cell) {
    std::vector<GridPosition> positions(static_cast<std::size_t>(count));
    for (int x = 0; x < count; ++x) positions[std::size_t(x)] = PixelOnGrid(x, cell);
    return positions;
}

// Shrinks the source onto a grid of `cell` by `cell` pixels per cell, with one black cell of margin on every
// side. A pixel's light is shared between the two nearest cell centres on each axis in proportion to its
// nearness to each (the transpose of the enlargement's bilinear interpolation), so the light's centre stays
// exactly where the pixel is, whatever its place within a cell: binning whole cells would move every pixel to
// its cell's centre, and a moving point's glow would jump from cell to cell. The shares add up to the pixel's
// light, divided by the cell's area so that a flat field keeps its level. The margin takes the share of the
// outermost pixels and lets the enlargement interpolate at the borders between true results.
RgbaImage ReduceToGrid(const RgbaImage& source, int cell, unsigned workers) {
    const int inner_w = (source.width + cell - 1) / cell, inner_h = (source.height + cell - 1) / cell;
    RgbaImage grid;
    grid.width = inner_w + 2;
    grid.height = inner_h + 2;
    grid.pixels.assign(std::size_t(grid.width) * std::size_t(grid.height) * 4, 0.0f);
    const std::vector<GridPosition> columns = PixelsOnGrid(source.width, cell);
    const std::vector<GridPosition> rows = PixelsOnGrid(source.height, cell);
    const float area = 1.0f / float(cell * cell);
    const std::size_t row_values = std::size_t(grid.width) * 4;
    // Each thread fills its own grid rows, from the source rows that share light with them; a source row on
    // the border between two threads' rows is shrunk by both.
    ParallelFor(std::size_t(grid.height), WorkersFor(source.pixels.size() / 4, workers),
                [&](std::size_t begin, std::size_t end) {
                    std::vector<float> shrunk(row_values);
                    const int first = std::max(0, (int(begin) - 2) * cell);
                    const int last = std::min(source.height, (int(end) + 1) * cell);
                    for (int y = first; y < last; ++y) {
                        const GridPosition row = rows[std::size_t(y)];
                        const bool upper = std::size_t(row.index) >= begin && std::size_t(row.index) < end;
                        const bool lower = std::size_t(row.index + 1) >= begin && std::size_t(row.index + 1) < end;
                        if (!upper && !lower) continue;
                        std::fill(shrunk.begin(), shrunk.end(), 0.0f);
                        const float* in = &source.pixels[std::size_t(y) * std::size_t(source.width) * 4];
                        for (int x = 0; x < source.width; ++x) {
                            const GridPosition column = columns[std::size_t(x)];
                            float* out = &shrunk[std::size_t(column.index) * 4];
                            const float near = 1.0f - column.fraction, far = column.fraction;
                            for (int c = 0; c < 4; ++c) {
                                out[c] += near * in[x * 4 + c];
                                out[4 + c] += far * in[x * 4 + c];
                            }
                        }
                        if (upper) {
                            float* out = &grid.pixels[std::size_t(row.index) * row_values];
                            const float share = (1.0f - row.fraction) * area;
                            for (std::size_t i = 0; i < row_values; ++i) out[i] += share * shrunk[i];
                        }
                        if (lower) {
                            float* out = &grid.pixels[std::size_t(row.index + 1) * row_values];
                            const float share = row.fraction * area;
                            for (std::size_t i = 0; i < row_values; ++i) out[i] += share * shrunk[i];
                        }
                    }
                });
    return grid;
}

// Bilinear enlargement of the convolved grid back to the source's pixels, each pixel read at the place
// PixelOnGrid gives it, the same place its light was shared out from.
RgbaImage EnlargeFromGrid(const RgbaImage& grid, int cell, int width, int height, unsigned workers) {
    RgbaImage result;
    result.width = width;
    result.height = height;
    result.pixels.resize(std::size_t(width) * std::size_t(height) * 4);  // every value is written below
    const std::vector<GridPosition> columns = PixelsOnGrid(width, cell);
    ParallelFor(std::size_t(height), WorkersFor(result.pixels.size() / 4, workers),
                [&](std::size_t begin, std::size_t end) {
                    for (std::size_t y = begin; y < end; ++y) {
                        const GridPosition row = PixelOnGrid(int(y), cell);
                        const float fy = row.fraction;
                        const float* row0 = &grid.pixels[std::size_t(row.index) * std::size_t(grid.width) * 4];
                        const float* row1 = row0 + std::size_t(grid.width) * 4;
                        float* out = &result.pixels[y * std::size_t(width) * 4];
                        for (int x = 0; x < width; ++x) {
                            const std::size_t i = std::size_t(columns[std::size_t(x)].index) * 4;
                            const float f = columns[std::size_t(x)].fraction;
                            for (int c = 0; c < 4; ++c) {
                                const float first = row0[i + c] + (row0[i + 4 + c] - row0[i + c]) * f;
                                const float second = row1[i + c] + (row1[i + 4 + c] - row1[i + c]) * f;
                                out[x * 4 + c] = std::max(0.0f, first + (second - first) * fy);
                            }
                        }
                    }
                });
    return result;
}

}  // namespace

int WorkingCellSize(int sampling_level, double radius) {
    const int level = std::clamp(sampling_level, 1, kCoarsestSamplingLevel);
    // Cells across the kernel's longer side before the grid coarsens: 1024 at the finest level, halving
    // with each level down to 64 at the coarsest.
    const double most_cells = double(2048 >> level);
    const double span = 2.0 * radius;
    return span <= most_cells ? 1 : int(std::ceil(span / most_cells));
}

RgbaImage ConvolveWithIris(const RgbaImage& source, const IrisWeights& iris, double radius, int sampling_level,
                           TransformCache& transforms, unsigned workers) {
    if (!(radius >= 0.5) || source.width <= 0 || source.height <= 0) return source;
    const int cell = WorkingCellSize(sampling_level, radius);
    RgbaImage reduced;
    if (cell > 1) reduced = ReduceToGrid(source, cell, workers);
    const RgbaImage& grid = cell > 1 ? reduced : source;

    const double cells_per_iris_pixel = 2.0 * radius / double(std::max(iris.width, iris.height)) / double(cell);
    // No output pixel takes anything from farther than the grid is wide, so the kernel is cropped there.
    const int reach_x = std::min(KernelReach(iris.width, cells_per_iris_pixel), grid.width - 1);
    const int reach_y = std::min(KernelReach(iris.height, cells_per_iris_pixel), grid.height - 1);
    const Kernel kernel = MakeKernel(iris, cells_per_iris_pixel, reach_x, reach_y, workers);

    RgbaImage convolved = kernel.cells_x * kernel.cells_y <= kMostDirectCells
                              ? ConvolveDirect(grid, kernel, workers)
                              : ConvolveTransformed(grid, kernel, transforms, workers);
    if (cell == 1) return convolved;
    return EnlargeFromGrid(convolved, cell, source.width, source.height, workers);
}

}  // namespace ostrabel
