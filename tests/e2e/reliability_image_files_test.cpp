// The command-line host handed image files it must refuse: a FIFO or device named like an image, as the input
// or as any layer, and an image larger than the host takes. Each ends at once with one line naming the file and
// what is wrong with it, exit status 1, and nothing left in the folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <png.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "simhost/ImageIO.h"
#include "support/TempHome.h"

namespace {

namespace fs = std::filesystem;

#ifndef VELLORAN_RENDER_TOOL
#error "the build gives the tool's path"
#endif

struct ToolRun {
    int exitCode = -1;
    std::vector<std::string> errorLines;  // stderr lines that are neither progress nor warnings
    std::string stderrText;
};

// Runs the tool in `folder`; a tool still running after a minute is stopped, and shows as exit 124.
ToolRun RunTool(const std::string& folder, const std::string& arguments) {
    const std::string err = folder + "/../tool-stderr.txt";
    const std::string command = "cd '" + folder + "' && timeout 60 '" VELLORAN_RENDER_TOOL "' " + arguments +
                                " >/dev/null 2>'" + err + "'";
    const int status = std::system(command.c_str());
    ToolRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    run.stderrText = testsupport::ReadFile(err);
    std::istringstream in(run.stderrText);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("velloran-render: output rectangle ", 0) != 0 && line.rfind("velloran-render: warning: ", 0) != 0)
            run.errorLines.push_back(line);
    return run;
}

std::set<std::string> Listing(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

// An 8-bit grey PNG of that size.
void WritePng(const std::string& path, png_uint_32 width, png_uint_32 height) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<png_byte> row(width, 0x40);
    for (png_uint_32 y = 0; y < height; ++y) png_write_row(png, row.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

const std::string kSmall = "--scene-size 16x16 --set Radius=4 ";

struct ImageFileCase {
    const char* what;
    std::function<void(const std::string& folder)> prepare;
    std::string arguments;
    std::string message;  // the whole error line after the tool's name
};

void PrintTo(const ImageFileCase& c, std::ostream* os) { *os << c.what; }

const auto kFifoPng = [](const std::string& f) { ASSERT_EQ(::mkfifo((f + "/pipe.png").c_str(), 0644), 0); };
const auto kFifoExr = [](const std::string& f) { ASSERT_EQ(::mkfifo((f + "/pipe.exr").c_str(), 0644), 0); };

const ImageFileCase kImageFileCases[] = {
    {"FIFO as the input", kFifoPng, "pipe.png -o out.png", "pipe.png: not a regular file"},
    {"FIFO as the mask layer", kFifoExr, kSmall + "--mask pipe.exr@2,2 -o out.png", "pipe.exr: not a regular file"},
    {"FIFO as the iris layer", kFifoPng, kSmall + "--iris pipe.png -o out.exr", "pipe.png: not a regular file"},
    {"FIFO as the lens-dirt layer", kFifoExr, kSmall + "--dirt pipe.exr -o out.png", "pipe.exr: not a regular file"},
    {"device linked as the input",
     [](const std::string& f) { ASSERT_EQ(::symlink("/dev/zero", (f + "/zeros.png").c_str()), 0); },
     "zeros.png -o out.png", "zeros.png: not a regular file"},
    {"input wider than the limit",
     [](const std::string& f) { WritePng(f + "/wide.png", 20000, 1); }, "wide.png -o out.png",
     "wide.png: 20000x1 pixels is larger than this tool accepts (at most " +
         std::to_string(simhost::kMaxImageSide) + " pixels a side)"},
};

class ToolImageFiles : public testing::TestWithParam<ImageFileCase> {};

TEST_P(ToolImageFiles, AreRefusedAtOnceInOneLineLeavingNothing) {
    const ImageFileCase& c = GetParam();
    testsupport::ScopedHome home;  // the effect's log goes there
    testsupport::TempDir scratch;
    const std::string folder = scratch.path() + "/work";
    fs::create_directory(folder);
    c.prepare(folder);
    const std::set<std::string> before = Listing(folder);

    const ToolRun run = RunTool(folder, c.arguments);

    EXPECT_EQ(run.exitCode, 1) << run.stderrText;
    EXPECT_THAT(run.errorLines, testing::ElementsAre("velloran-render: " + c.message)) << run.stderrText;
    EXPECT_EQ(Listing(folder), before) << "files left behind";
}

INSTANTIATE_TEST_SUITE_P(Cases, ToolImageFiles, testing::ValuesIn(kImageFileCases),
                         [](const testing::TestParamInfo<ImageFileCase>& info) {
                             std::string name = info.param.what;
                             for (char& ch : name)
                                 if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

}  // namespace
