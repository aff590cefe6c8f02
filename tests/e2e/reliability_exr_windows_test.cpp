// The command-line host on EXR inputs that lie on a larger picture (a region render, an overscan frame, the
// tool's own output read back) or hold their image in a named layer. The output keeps the input's display
// window and grows its data window around the input's, in the input's own coordinates (at 1/N of them for
// --downsample N), and the glow of a bright point lies at that point. Windows are read back by the format's
// own command-line reader (exrheader), pixels by the format's library. Reading such an input holds its frame
// once: the whole process's peak memory, measured on the tool as a child.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/CaseNames.h"
#include "support/TempHome.h"
#include "tool_run.h"

namespace {

using tooltest::RunTool;
using tooltest::ToolRun;

// A black, opaque float RGBA frame on the data window, on a picture of the display window, with one pixel of
// 50 at `point` (in the picture's coordinates); its channels named with `layer` in front ("" for none).
void WriteFrameWithAPoint(const std::string& path, const Imath::Box2i& data, const Imath::Box2i& display,
                          const Imath::V2i& point, const std::string& layer = "") {
    const int width = data.max.x - data.min.x + 1, height = data.max.y - data.min.y + 1;
    std::vector<float> pixels(size_t(width) * size_t(height) * 4, 0.f);
    for (size_t i = 3; i < pixels.size(); i += 4) pixels[i] = 1.f;
    const size_t at = (size_t(point.y - data.min.y) * size_t(width) + size_t(point.x - data.min.x)) * 4;
    pixels[at] = pixels[at + 1] = pixels[at + 2] = 50.f;
    Imf::Header header(display, data);
    const char* names[4] = {"R", "G", "B", "A"};
    for (const char* name : names) header.channels().insert(layer + name, Imf::Channel(Imf::FLOAT));
    Imf::OutputFile file(path.c_str(), header);
    Imf::FrameBuffer frame;
    const size_t xStride = 4 * sizeof(float), yStride = xStride * size_t(width);
    const uintptr_t first = reinterpret_cast<uintptr_t>(pixels.data());
    char* base = reinterpret_cast<char*>(first - uintptr_t(int64_t(data.min.x)) * xStride -
                                         uintptr_t(int64_t(data.min.y)) * yStride);
    for (int c = 0; c < 4; ++c)
        frame.insert(layer + names[c], Imf::Slice(Imf::FLOAT, base + c * sizeof(float), xStride, yStride));
    file.setFrameBuffer(frame);
    file.writePixels(height);
}

struct Windows {
    Imath::Box2i data, display;
};

// The windows as exrheader prints them ("dataWindow (type box2i): (-56 -55) - (118 103)").
Windows WindowsOf(const std::string& path) {
    Windows w;
    const std::string command = "exrheader '" + path + "' 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    EXPECT_NE(pipe, nullptr);
    if (!pipe) return w;
    bool data = false, display = false;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        Imath::Box2i box;
        const std::string text = line;
        const size_t open = text.find("): (");
        if (open == std::string::npos ||
            std::sscanf(text.c_str() + open + 3, "(%d %d) - (%d %d)", &box.min.x, &box.min.y, &box.max.x, &box.max.y) != 4)
            continue;
        if (text.rfind("dataWindow ", 0) == 0) w.data = box, data = true;
        if (text.rfind("displayWindow ", 0) == 0) w.display = box, display = true;
    }
    EXPECT_EQ(::pclose(pipe), 0) << "exrheader " << path;
    EXPECT_TRUE(data && display) << "exrheader printed no windows for " << path;
    return w;
}

// The position, in the file's own coordinates, of its pixel of the most red.
Imath::V2i BrightestPixel(const std::string& path) {
    Imf::InputFile file(path.c_str());
    const Imath::Box2i window = file.header().dataWindow();
    const int width = window.max.x - window.min.x + 1, height = window.max.y - window.min.y + 1;
    std::vector<float> red(size_t(width) * size_t(height));
    const uintptr_t first = reinterpret_cast<uintptr_t>(red.data());
    char* base = reinterpret_cast<char*>(first - uintptr_t(int64_t(window.min.x)) * sizeof(float) -
                                         uintptr_t(int64_t(window.min.y)) * sizeof(float) * size_t(width));
    Imf::FrameBuffer frame;
    frame.insert("R", Imf::Slice(Imf::FLOAT, base, sizeof(float), sizeof(float) * size_t(width)));
    file.setFrameBuffer(frame);
    file.readPixels(window.min.y, window.max.y);
    size_t best = 0;
    for (size_t i = 1; i < red.size(); ++i)
        if (red[i] > red[best]) best = i;
    return {window.min.x + int(best % size_t(width)), window.min.y + int(best / size_t(width))};
}

// The output rectangle the tool printed, in the frame's coordinates.
Imath::Box2i OutputRectangle(const ToolRun& run) {
    int left = 0, top = 0, right = 0, bottom = 0;
    const size_t at = run.stderrText.find("output rectangle (");
    EXPECT_NE(at, std::string::npos) << run.stderrText;
    if (at != std::string::npos) {
        EXPECT_EQ(std::sscanf(run.stderrText.c_str() + at, "output rectangle (%d, %d, %d, %d)", &left, &top, &right,
                              &bottom),
                  4);
    }
    return Imath::Box2i({left, top}, {right - 1, bottom - 1});
}

struct Workspace {
    testsupport::ScopedHome home;
    testsupport::TempDir scratch;
};

const std::string kGlow = "--set Radius=10 --set 18=Add";

// An input on a larger picture: the output's display window is the input's (at 1/N, taking every pixel of
// 1/N it partly covers), its data window the input's data window (its corner in the pixel of 1/N it falls in)
// grown by the output rectangle the effect gave, and the brightest pixel the point's.
struct WindowCase {
    const char* what;
    Imath::Box2i data, display;
    Imath::V2i point;
    const char* layer;
    int downsample;
    Imath::Box2i outputDisplay;
    Imath::V2i dataCorner;  // the input's data window's corner in the output's coordinates
    Imath::V2i brightest;
};

void PrintTo(const WindowCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

const Imath::Box2i kHd({0, 0}, {1919, 1079});
const Imath::Box2i kRegion({500, 300}, {800, 600});
const Imath::Box2i kOverscan({-50, -50}, {249, 149});

const WindowCase kWindowCases[] = {
    {"region render", kRegion, kHd, {650, 450}, "", 1, kHd, {500, 300}, {650, 450}},
    {"overscan", kOverscan, Imath::Box2i({0, 0}, {199, 99}), {-20, 30}, "", 1, Imath::Box2i({0, 0}, {199, 99}),
     {-50, -50}, {-20, 30}},
    {"region render in a named layer", kRegion, kHd, {650, 450}, "ViewLayer.Combined.", 1, kHd, {500, 300}, {650, 450}},
    // 1920 / 7 and 1080 / 7 leave a part of a pixel: 275 by 155 pixels. The corner (500, 300) falls in pixel
    // (71, 42); the point, 150 pixels right of and below it, in the 21st pixel after that.
    {"region render at a seventh", kRegion, kHd, {650, 450}, "", 7, Imath::Box2i({0, 0}, {274, 154}), {71, 42},
     {92, 63}},
    // A display window off the origin: (-10, 6) to (189, 105) covers pixels -3 to 47 and 1 to 26 of a quarter.
    {"overscan at a quarter on a picture off the origin", kOverscan, Imath::Box2i({-10, 6}, {189, 105}), {-20, 30},
     "", 4, Imath::Box2i({-3, 1}, {47, 26}), {-13, -13}, {-6, 7}},
};

class ToolExrWindows : public testing::TestWithParam<WindowCase> {};

TEST_P(ToolExrWindows, KeepTheInputsPlaceAndTheGlowOnItsPoint) {
    const WindowCase& c = GetParam();
    Workspace w;
    const std::string folder = w.scratch.path();
    WriteFrameWithAPoint(folder + "/in.exr", c.data, c.display, c.point, c.layer);
    const ToolRun run =
        RunTool(folder, "in.exr -o out.exr " + kGlow + " --downsample " + std::to_string(c.downsample));
    ASSERT_EQ(run.exitCode, 0) << run.stderrText;
    const Imath::Box2i rect = OutputRectangle(run);
    EXPECT_LT(rect.min.x, 0) << "the glow grows the frame";
    const Windows out = WindowsOf(folder + "/out.exr");
    EXPECT_EQ(out.display, c.outputDisplay);
    EXPECT_EQ(out.data, Imath::Box2i(c.dataCorner + rect.min, c.dataCorner + rect.max));
    EXPECT_EQ(BrightestPixel(folder + "/out.exr"), c.brightest);
}

INSTANTIATE_TEST_SUITE_P(Cases, ToolExrWindows, testing::ValuesIn(kWindowCases), velloran_test::NameFromWhat<WindowCase>);

// The tool's own output as the next input: still on the same picture, grown again around where it lies, the
// glow still on the point.
TEST(ToolExrWindows, AnOutputReadBackKeepsItsPlace) {
    Workspace w;
    const std::string folder = w.scratch.path();
    WriteFrameWithAPoint(folder + "/in.exr", kRegion, kHd, {650, 450});
    const ToolRun first = RunTool(folder, "in.exr -o first.exr " + kGlow);
    ASSERT_EQ(first.exitCode, 0) << first.stderrText;
    const Windows once = WindowsOf(folder + "/first.exr");
    const ToolRun second = RunTool(folder, "first.exr -o second.exr " + kGlow);
    ASSERT_EQ(second.exitCode, 0) << second.stderrText;
    const Imath::Box2i rect = OutputRectangle(second);
    const Windows twice = WindowsOf(folder + "/second.exr");
    EXPECT_EQ(twice.display, kHd);
    EXPECT_EQ(twice.data, Imath::Box2i(once.data.min + rect.min, once.data.min + rect.max));
    EXPECT_EQ(BrightestPixel(folder + "/second.exr"), Imath::V2i(650, 450));
}

// A file whose layers leave no one image to read is refused in one line that names them, and nothing is written.
TEST(ToolExrWindows, AFileOfTwoLayersOfColourIsRefusedNamingThem) {
    Workspace w;
    const std::string folder = w.scratch.path();
    const std::string path = folder + "/two.exr";
    {
        Imf::Header header(4, 4);
        std::vector<float> zeros(16, 0.f);
        Imf::FrameBuffer frame;
        for (const char* name : {"diffuse.R", "diffuse.G", "diffuse.B", "specular.R", "specular.G", "specular.B"}) {
            header.channels().insert(name, Imf::Channel(Imf::FLOAT));
            frame.insert(name, Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(zeros.data()), sizeof(float), 4 * sizeof(float)));
        }
        Imf::OutputFile file(path.c_str(), header);
        file.setFrameBuffer(frame);
        file.writePixels(4);
    }
    const ToolRun run = RunTool(folder, "two.exr -o out.exr " + kGlow);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.errorLines,
                testing::ElementsAre("velloran-render: two.exr: its channels are all in layers, and more than one "
                                     "of them holds R, G and B (its layers: diffuse (B, G, R), specular (B, G, R))"));
    EXPECT_FALSE(std::filesystem::exists(folder + "/out.exr"));
}

// The tool's peak resident memory, from the kernel's account of the child once it has ended; -1 if it failed.
long PeakKbOfTool(const std::string& folder, const std::vector<std::string>& arguments) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::chdir(folder.c_str()) != 0) ::_exit(126);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        std::vector<char*> argv{const_cast<char*>(VELLORAN_RENDER_TOOL)};
        for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(VELLORAN_RENDER_TOOL, argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return usage.ru_maxrss;
}

// A 2000 by 2000 float RGBA input (64 MB) at 1/16 with no glow: beyond what the tool holds for a frame of
// 16 by 16, the frame once, not twice or three times as the reading and the frame's set-up once held it.
struct MemoryCase {
    const char* what;
    Imf::Compression compression;
};

void PrintTo(const MemoryCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

const MemoryCase kMemoryCases[] = {{"uncompressed", Imf::NO_COMPRESSION}, {"zip", Imf::ZIP_COMPRESSION}};

class ToolExrInputMemory : public testing::TestWithParam<MemoryCase> {};

TEST_P(ToolExrInputMemory, HoldsTheFrameOnce) {
    Workspace w;
    const std::string folder = w.scratch.path();
    const int side = 2000;
    {
        Imf::Header header(side, side);
        header.compression() = GetParam().compression;
        for (const char* name : {"R", "G", "B", "A"}) header.channels().insert(name, Imf::Channel(Imf::FLOAT));
        Imf::OutputFile file((folder + "/big.exr").c_str(), header);
        std::vector<float> band(size_t(side) * 4 * 100, 0.5f);
        for (int top = 0; top < side; top += 100) {
            Imf::FrameBuffer frame;
            const uintptr_t first = reinterpret_cast<uintptr_t>(band.data());
            const size_t yStride = 4 * sizeof(float) * size_t(side);
            char* base = reinterpret_cast<char*>(first - uintptr_t(top) * yStride);
            const char* names[4] = {"R", "G", "B", "A"};
            for (int c = 0; c < 4; ++c)
                frame.insert(names[c], Imf::Slice(Imf::FLOAT, base + c * sizeof(float), 4 * sizeof(float), yStride));
            file.setFrameBuffer(frame);
            file.writePixels(100);
        }
    }
    const std::vector<std::string> options = {"-o", "out.exr", "--downsample", "16", "--set", "Radius=0"};
    std::vector<std::string> small = {"--scene-size", "16x16", "--depth", "32"};
    small.insert(small.end(), options.begin(), options.end());
    std::vector<std::string> big = {"big.exr"};
    big.insert(big.end(), options.begin(), options.end());

    const long baseKb = PeakKbOfTool(folder, small), bigKb = PeakKbOfTool(folder, big);
    ASSERT_GT(baseKb, 0) << "the tool failed on the small scene";
    ASSERT_GT(bigKb, 0) << "the tool failed on big.exr";
    const long frameKb = long(side) * side * 16 / 1024;
    EXPECT_GT(bigKb - baseKb, frameKb / 2) << "the frame itself: " << bigKb << " KB against " << baseKb << " KB";
    EXPECT_LT(bigKb - baseKb, frameKb * 3 / 2)
        << "peak " << bigKb << " KB against " << baseKb << " KB for a 16x16 scene: the " << frameKb
        << " KB frame was held more than once";
}

INSTANTIATE_TEST_SUITE_P(Files, ToolExrInputMemory, testing::ValuesIn(kMemoryCases),
                         velloran_test::NameFromWhat<MemoryCase>);

}  // namespace
