// Why an FFT on the CPU: the kernel is an arbitrary image (a bokeh shape with hard edges), so it does not
// separate into passes, and a direct convolution costs one multiply-add per kernel cell per pixel, which grows
// with the square of the radius. Through the frequency domain the cost per pixel is a few FFT butterflies,
// whatever the radius. The padding that keeps the circular convolution from wrapping is bounded too: the
// kernel is cropped to offsets smaller than the image (no output pixel can reach farther), and a transform of
// length n + reach already keeps every output sample clean. The sampling level then only chooses the grid
// the convolution runs on: at coarse levels a wide kernel runs on a grid of `WorkingCellSize` pixels per cell,
// which keeps at most a level-given number of cells across the kernel and makes the cost fall with the radius.
#include "OstrabelConvolve.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <thread>

#include "OstrabelFFT.h"

namespace ostrabel {

namespace {

// Below this many transform values per thread, starting a thread costs more than it saves.
constexpr std::size_t kValuesPerWorker = 8192;
// Columns gathered together, so that every row read brings a whole cache line of useful values.
constexpr std::size_t kColumnBlock = 8;

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

// The spectrum of the kernel, transposed (column x holds its Ny values contiguously) for the column pass, and
// scaled by 1 / (Nx Ny) so that the inverse transform needs no further scaling.
struct KernelSpectrum {
    std::size_t nx = 0, ny = 0;
    std::vector<Complex> columns;  // nx * ny, column-major
};

void TransformColumns(std::vector<Complex>& values, std::size_t nx, std::size_t ny, const FftPlan& plan_y,
                      unsigned workers, std::vector<Complex>* transposed_out, const KernelSpectrum* multiply_by);

KernelSpectrum MakeKernelSpectrum(const IrisWeights& iris, double cells_per_iris_pixel, int reach_x, int reach_y,
                                  std::size_t nx, std::size_t ny, const FftPlan& plan_x, const FftPlan& plan_y,
                                  unsigned workers) {
    const AxisOverlap ox = OverlapAxis(iris.width, cells_per_iris_pixel, reach_x);
    const AxisOverlap oy = OverlapAxis(iris.height, cells_per_iris_pixel, reach_y);
    const std::size_t cells_x = std::size_t(2 * reach_x + 1), cells_y = std::size_t(2 * reach_y + 1);

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

    // Vertical pass straight into the transform array. Kernel offset (dx, dy) lands at (dx mod Nx, dy mod Ny).
    // The caller's images hold the picture's top row in row 0, as the iris does, so top-down cell t is row
    // offset dy = t: a point lights its iris the same way up as the picture, the iris's top rows toward row 0.
    std::vector<Complex> values(nx * ny, Complex{0.0f, 0.0f});
    const double scale = 1.0 / (iris.total * double(nx) * double(ny));
    ParallelFor(cells_y, WorkersFor(cells_y * cells_x, workers), [&](std::size_t begin, std::size_t end) {
        std::vector<double> sum(cells_x);
        std::vector<Complex> scratch(nx);
        for (std::size_t cy = begin; cy < end; ++cy) {
            std::fill(sum.begin(), sum.end(), 0.0);
            for (std::size_t k = oy.start[cy]; k < oy.start[cy + 1]; ++k) {
                const double length = oy.lengths[k];
                const float* row = &rows[(std::size_t(oy.first[cy]) + (k - oy.start[cy])) * cells_x];
                for (std::size_t c = 0; c < cells_x; ++c) sum[c] += length * row[c];
            }
            const long dy = long(cy) - reach_y;
            Complex* out = &values[std::size_t((dy + long(ny)) % long(ny)) * nx];
            for (std::size_t c = 0; c < cells_x; ++c) {
                const long dx = long(c) - reach_x;
                out[std::size_t((dx + long(nx)) % long(nx))] = {float(sum[c] * scale), 0.0f};
            }
            plan_x.Forward(out, scratch.data());
        }
    });

    KernelSpectrum spectrum;
    spectrum.nx = nx;
    spectrum.ny = ny;
    TransformColumns(values, nx, ny, plan_y, workers, &spectrum.columns, nullptr);
    return spectrum;
}

// Column transforms of a row-major nx by ny array, in blocks of adjacent columns. With `transposed_out` the
// results go there column-major; with `multiply_by` each column is multiplied by the kernel's spectrum and
// conjugated, then transformed again: the column half of the inverse transform, done while the column is at
// hand, and written back in place.
void TransformColumns(std::vector<Complex>& values, std::size_t nx, std::size_t ny, const FftPlan& plan_y,
                      unsigned workers, std::vector<Complex>* transposed_out, const KernelSpectrum* multiply_by) {
    if (transposed_out) transposed_out->assign(nx * ny, Complex{0.0f, 0.0f});
    const std::size_t blocks = (nx + kColumnBlock - 1) / kColumnBlock;
    ParallelFor(blocks, WorkersFor(nx * ny, workers), [&](std::size_t begin, std::size_t end) {
        std::vector<Complex> block(kColumnBlock * ny), scratch(ny);
        for (std::size_t b = begin; b < end; ++b) {
            const std::size_t x0 = b * kColumnBlock, width = std::min(kColumnBlock, nx - x0);
            for (std::size_t y = 0; y < ny; ++y)
                for (std::size_t i = 0; i < width; ++i) block[i * ny + y] = values[y * nx + x0 + i];
            for (std::size_t i = 0; i < width; ++i) {
                Complex* column = &block[i * ny];
                plan_y.Forward(column, scratch.data());
                if (multiply_by) {
                    const Complex* kernel = &multiply_by->columns[(x0 + i) * ny];
                    for (std::size_t y = 0; y < ny; ++y) column[y] = Conjugate(column[y] * kernel[y]);
                    plan_y.Forward(column, scratch.data());
                }
            }
            if (transposed_out) {
                std::copy(block.begin(), block.begin() + std::ptrdiff_t(width * ny),
                          transposed_out->begin() + std::ptrdiff_t(x0 * ny));
            } else {
                for (std::size_t y = 0; y < ny; ++y)
                    for (std::size_t i = 0; i < width; ++i) values[y * nx + x0 + i] = block[i * ny + y];
            }
        }
    });
}

// Convolves all four channels of `grid`, two at a time as the real and imaginary parts of one complex image
// (the kernel is real, so the two do not mix), and clamps at 0 the small negative ringing of float FFTs.
RgbaImage ConvolveGrid(const RgbaImage& grid, const KernelSpectrum& spectrum, const FftPlan& plan_x,
                       const FftPlan& plan_y, unsigned workers) {
    const std::size_t nx = spectrum.nx, ny = spectrum.ny;
    const std::size_t width = std::size_t(grid.width), height = std::size_t(grid.height);
    RgbaImage result;
    result.width = grid.width;
    result.height = grid.height;
    result.pixels.resize(width * height * 4);  // every value is written below
    std::vector<Complex> values(nx * ny);
    const unsigned row_workers = WorkersFor(height * nx, workers);
    for (std::size_t channel = 0; channel < 4; channel += 2) {
        std::fill(values.begin(), values.end(), Complex{0.0f, 0.0f});
        ParallelFor(height, row_workers, [&](std::size_t begin, std::size_t end) {
            std::vector<Complex> scratch(nx);
            for (std::size_t y = begin; y < end; ++y) {
                Complex* row = &values[y * nx];
                const float* in = &grid.pixels[y * width * 4 + channel];
                for (std::size_t x = 0; x < width; ++x) row[x] = {in[4 * x], in[4 * x + 1]};
                plan_x.Forward(row, scratch.data());
            }
        });
        TransformColumns(values, nx, ny, plan_y, workers, nullptr, &spectrum);
        // Rows past the image's height hold only wrap-around room; their outputs are not needed.
        ParallelFor(height, row_workers, [&](std::size_t begin, std::size_t end) {
            std::vector<Complex> scratch(nx);
            for (std::size_t y = begin; y < end; ++y) {
                Complex* row = &values[y * nx];
                plan_x.Forward(row, scratch.data());
                float* out = &result.pixels[y * width * 4 + channel];
                for (std::size_t x = 0; x < width; ++x) {
                    // The inverse is the conjugate of the forward transform of the conjugate.
                    out[4 * x] = std::max(0.0f, row[x].re);
                    out[4 * x + 1] = std::max(0.0f, -row[x].im);
                }
            }
        });
    }
    return result;
}

// Averages `cell` by `cell` blocks of the source (black beyond its edges) into a grid with one black cell
// of margin on every side. The margin's convolved values let the enlargement interpolate at the borders
// between true results instead of clamping.
RgbaImage ReduceToGrid(const RgbaImage& source, int cell, unsigned workers) {
    const int inner_w = (source.width + cell - 1) / cell, inner_h = (source.height + cell - 1) / cell;
    RgbaImage grid;
    grid.width = inner_w + 2;
    grid.height = inner_h + 2;
    grid.pixels.assign(std::size_t(grid.width) * std::size_t(grid.height) * 4, 0.0f);
    const float area = 1.0f / float(cell * cell);
    ParallelFor(std::size_t(inner_h), WorkersFor(source.pixels.size() / 4, workers),
                [&](std::size_t begin, std::size_t end) {
                    for (std::size_t gy = begin; gy < end; ++gy) {
                        float* out = &grid.pixels[((gy + 1) * std::size_t(grid.width) + 1) * 4];
                        const int y0 = int(gy) * cell, y1 = std::min(source.height, y0 + cell);
                        for (int y = y0; y < y1; ++y) {
                            const float* in = &source.pixels[std::size_t(y) * std::size_t(source.width) * 4];
                            for (int x = 0; x < source.width; ++x)
                                for (int c = 0; c < 4; ++c) out[(x / cell) * 4 + c] += in[x * 4 + c] * area;
                        }
                    }
                });
    return grid;
}

// Bilinear enlargement of the convolved grid back to the source's pixels. Source pixel x has its centre at
// (x + 1/2) / cell grid cells, grid cell g at g + 1/2, and the grid starts with its margin cell.
RgbaImage EnlargeFromGrid(const RgbaImage& grid, int cell, int width, int height, unsigned workers) {
    RgbaImage result;
    result.width = width;
    result.height = height;
    result.pixels.resize(std::size_t(width) * std::size_t(height) * 4);  // every value is written below
    auto position = [cell](int x, int& index, float& fraction) {
        const double g = (x + 0.5) / cell + 0.5;  // - 1/2 for the cell centre, + 1 for the margin
        index = int(std::floor(g));
        fraction = float(g - index);
    };
    std::vector<int> ix(static_cast<std::size_t>(width));
    std::vector<float> fx(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x) position(x, ix[std::size_t(x)], fx[std::size_t(x)]);
    ParallelFor(std::size_t(height), WorkersFor(result.pixels.size() / 4, workers),
                [&](std::size_t begin, std::size_t end) {
                    for (std::size_t y = begin; y < end; ++y) {
                        int iy;
                        float fy;
                        position(int(y), iy, fy);
                        const float* row0 = &grid.pixels[std::size_t(iy) * std::size_t(grid.width) * 4];
                        const float* row1 = row0 + std::size_t(grid.width) * 4;
                        float* out = &result.pixels[y * std::size_t(width) * 4];
                        for (int x = 0; x < width; ++x) {
                            const std::size_t i = std::size_t(ix[std::size_t(x)]) * 4;
                            const float f = fx[std::size_t(x)];
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
                           unsigned workers) {
    if (!(radius >= 0.5) || source.width <= 0 || source.height <= 0) return source;
    const int cell = WorkingCellSize(sampling_level, radius);
    RgbaImage reduced;
    if (cell > 1) reduced = ReduceToGrid(source, cell, workers);
    const RgbaImage& grid = cell > 1 ? reduced : source;

    const double cells_per_iris_pixel = 2.0 * radius / double(std::max(iris.width, iris.height)) / double(cell);
    // No output pixel takes anything from farther than the grid is wide, so the kernel is cropped there.
    const int reach_x = std::min(KernelReach(iris.width, cells_per_iris_pixel), grid.width - 1);
    const int reach_y = std::min(KernelReach(iris.height, cells_per_iris_pixel), grid.height - 1);
    // Circular convolution of length n + reach leaves outputs 0 .. n - 1 free of wrapped-around values.
    const std::size_t nx = FftPlan::SmoothLength(std::size_t(grid.width + reach_x));
    const std::size_t ny = FftPlan::SmoothLength(std::size_t(grid.height + reach_y));
    const FftPlan plan_x(nx), plan_y(ny);

    const KernelSpectrum spectrum =
        MakeKernelSpectrum(iris, cells_per_iris_pixel, reach_x, reach_y, nx, ny, plan_x, plan_y, workers);
    RgbaImage convolved = ConvolveGrid(grid, spectrum, plan_x, plan_y, workers);
    if (cell == 1) return convolved;
    return EnlargeFromGrid(convolved, cell, source.width, source.height, workers);
}

}  // namespace ostrabel
