// The benchmark's own parts whose faults would silently mislabel a result: the command line (a size or count
// taken half-read becomes another configuration), the median of the timed frames, and the iris image.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/BenchOptions.h"
#include "bench/BenchScene.h"

namespace {

using velloran_bench::BenchOptions;
using velloran_bench::ParseBenchOptions;

BenchOptions Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "velloran-bench");
    return ParseBenchOptions(int(args.size()), args.data());
}

TEST(BenchOptions, TakesEachSettingWhole) {
    const BenchOptions o = Parse({"--size", "3840x2160", "--mode", "Lens Iris", "--radius", "12.5", "--preset",
                                  "High", "--iris-iterations", "20", "--frames", "2", "--max-seconds", "30", "--set", "Exposure=2"});
    EXPECT_EQ(o.width, 3840);
    EXPECT_EQ(o.height, 2160);
    EXPECT_EQ(o.mode, "Lens Iris");
    EXPECT_DOUBLE_EQ(o.radius, 12.5);
    EXPECT_EQ(o.preset, "High");
    EXPECT_EQ(o.irisIterations, 20);
    EXPECT_EQ(o.timedFrames, 2);
    EXPECT_DOUBLE_EQ(o.maxSeconds, 30);
    EXPECT_EQ(o.assignments, std::vector<std::string>{"Exposure=2"});
}

TEST(BenchOptions, RefusesWhatItCannotTakeWhole) {
    const std::vector<std::vector<const char*>> refused = {
        {"--size", "1920"},          {"--size", "1920x"},          {"--size", "x1080"},
        {"--size", "1920x1080x2"},   {"--size", "0x1080"},         {"--size", "1920x-5"},
        {"--radius", "100px"},       {"--radius", "2001"},         {"--radius", "nan"},
        {"--frames", "0"},           {"--frames", "3.5"},          {"--max-seconds", "-1"},          {"--iris-iterations", "21"},
        {"--mode", "exponential"},   {"--mode", "Lens Iris", "--preset", "Custom"},
        {"--radius"},                {"--bogus"},
    };
    for (const auto& args : refused) {
        std::string text;
        for (const char* a : args) text += std::string(a) + " ";
        EXPECT_THROW(Parse(args), std::invalid_argument) << text;
    }
}

TEST(BenchMedian, MiddleValueOrMeanOfTheMiddleTwo) {
    struct Case {
        std::vector<double> values;
        double median;
    };
    const Case cases[] = {{{}, 0}, {{7}, 7}, {{9, 1, 5}, 5}, {{4, 1, 3, 2}, 2.5}, {{10, 10, 1, 30}, 10}};
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(velloran_bench::Median(c.values), c.median) << c.values.size();
}

// The iris is a hexagon: open in the middle, closed in the corners of the square, the same after a turn of
// 60 degrees, and not a circle (a corner reaches further than the middle of an edge).
TEST(BenchIris, IsAnOpaqueSoftHexagon) {
    const A_long n = 128;
    const simhost::SimWorld iris = velloran_bench::MakeHexagonIris(n, simhost::PixelDepth::k32f);
    auto value = [&](double radius, double degrees) {
        const double a = degrees * M_PI / 180;
        const A_long x = A_long(std::lround(0.5 * n + radius * std::cos(a) - 0.5));
        const A_long y = A_long(std::lround(0.5 * n + radius * std::sin(a) - 0.5));
        const PF_PixelFloat p = iris.GetFloat(x, y);
        EXPECT_EQ(p.alpha, 1.f);
        EXPECT_EQ(p.red, p.green);
        EXPECT_EQ(p.red, p.blue);
        return p.red;
    };
    EXPECT_EQ(value(0, 0), 1.f);
    EXPECT_EQ(value(0.7 * n, 45), 0.f);
    for (double degrees = 0; degrees < 360; degrees += 60) {
        EXPECT_EQ(value(0.37 * n, degrees), 1.f) << "corner at " << degrees;       // corners at 0.4 n
        EXPECT_EQ(value(0.37 * n, degrees + 30), 0.f) << "edge at " << degrees + 30;  // edges at 0.346 n
    }
}

}  // namespace
