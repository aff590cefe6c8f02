#include "bench/BenchScene.h"

#include <algorithm>
#include <cmath>

namespace velloran_bench {

simhost::SimWorld MakeHexagonIris(A_long size, simhost::PixelDepth depth) {
    simhost::SimWorld world(size, size, depth);
    const double half = 0.5 * double(size);
    // A regular hexagon with corners on the x axis is the set where |p . n| <= apothem for the three edge
    // normals at 30, 90 and 150 degrees; the apothem of corners at distance c is c * cos(30 degrees).
    const double corner = 0.8 * half, apothem = corner * std::cos(M_PI / 6);
    const double normals[3][2] = {{std::cos(M_PI / 6), std::sin(M_PI / 6)},
                                  {0.0, 1.0},
                                  {-std::cos(M_PI / 6), std::sin(M_PI / 6)}};
    const double edgeWidth = 2.0;  // pixels over which the edge falls from 1 to 0
    for (A_long y = 0; y < size; ++y) {
        for (A_long x = 0; x < size; ++x) {
            const double px = double(x) + 0.5 - half, py = double(y) + 0.5 - half;
            double distance = 0;
            for (const auto& n : normals) distance = std::max(distance, std::abs(px * n[0] + py * n[1]));
            const float v = float(std::clamp((apothem - distance) / edgeWidth + 0.5, 0.0, 1.0));
            world.SetFloat(x, y, PF_PixelFloat{1.f, v, v, v});
        }
    }
    return world;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    const size_t mid = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + long(mid), values.end());
    const double upper = values[mid];
    if (values.size() % 2 == 1) return upper;
    const double lower = *std::max_element(values.begin(), values.begin() + long(mid));
    return 0.5 * (lower + upper);
}

}  // namespace velloran_bench
