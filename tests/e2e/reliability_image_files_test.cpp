// The command-line host handed image files it must refuse: a FIFO or device named like an image, as the input
// or as any layer, and an image larger than the host takes. Each ends at once with one line naming the file and
// what is wrong with it, exit status 1, and nothing left in the folder. Its output file: never the input under
// another spelling, never reported written when it was not, never left half-written, and placed on the input's
// picture when it is an EXR.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <fcntl.h>
#include <png.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "simhost/ImageIO.h"
#include "tool_run.h"
#include "support/CaseNames.h"
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

// Runs the tool in `folder`. However long it takes: a hang is the test runner's to stop, not a limit that a
// loaded machine could reach.
ToolRun RunTool(const std::string& folder, const std::string& arguments) {
    const std::string err = folder + "/../tool-stderr.txt";
    const std::string command =
        "cd '" + folder + "' && '" VELLORAN_RENDER_TOOL "' " + arguments + " >/dev/null 2>'" + err + "'";
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

// Runs the tool in `folder` as a child of this process, `inChild` first setting up what the child inherits
// (limits, ignored signals). `exitCode` is 128 + the signal for a tool ended by one.
ToolRun RunToolAsChild(const std::string& folder, const std::vector<std::string>& arguments,
                       const std::function<void()>& inChild = {}) {
    const std::string err = folder + "/../tool-stderr.txt";
    const pid_t child = ::fork();
    if (child == 0) {
        if (::chdir(folder.c_str()) != 0) ::_exit(126);
        const int null = ::open("/dev/null", O_WRONLY);
        const int errors = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(null, 1);
        ::dup2(errors, 2);
        const rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        if (inChild) inChild();
        std::vector<char*> argv{const_cast<char*>(VELLORAN_RENDER_TOOL)};
        for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(VELLORAN_RENDER_TOOL, argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ToolRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    run.stderrText = testsupport::ReadFile(err);
    std::istringstream in(run.stderrText);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("velloran-render: output rectangle ", 0) != 0 && line.rfind("velloran-render: renderer ", 0) != 0 &&
            line.rfind("velloran-render: warning: ", 0) != 0)
            run.errorLines.push_back(line);
    return run;
}

const std::vector<std::string> kSmallFrame = {"--scene-size", "48x32", "--set", "Radius=4"};

std::vector<std::string> Arguments(std::vector<std::string> more) {
    std::vector<std::string> all = kSmallFrame;
    all.insert(all.end(), more.begin(), more.end());
    return all;
}

using tooltest::Workspace;

// An output that cannot be written whole (the file-size limit falls short of it) is one error line and exit 1,
// the temporary file gone and the older output as it was; with SIGXFSZ at its default action, the tool ends by
// that signal, leaving the same.
struct SizeLimitCase {
    const char* what;
    const char* output;
    bool ignoreSignal;
};

void PrintTo(const SizeLimitCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

const SizeLimitCase kSizeLimitCases[] = {
    {"exr with SIGXFSZ ignored", "out.exr", true},
    {"png with SIGXFSZ ignored", "out.png", true},
    {"exr with SIGXFSZ at its default", "out.exr", false},
    {"png with SIGXFSZ at its default", "out.png", false},
};

class ToolOutputBeyondTheSizeLimit : public testing::TestWithParam<SizeLimitCase> {};

TEST_P(ToolOutputBeyondTheSizeLimit, FailsLeavingTheOlderOutputAsItWas) {
    const SizeLimitCase& c = GetParam();
    Workspace w;
    // The whole output's size, from a run without a limit; then an older, smaller output in its place.
    ASSERT_EQ(RunToolAsChild(w.folder, Arguments({"-o", c.output})).exitCode, 0);
    const rlim_t whole = rlim_t(fs::file_size(w.folder + "/" + c.output));
    ASSERT_EQ(RunToolAsChild(w.folder, {"--scene-size", "8x8", "--set", "Radius=1", "-o", c.output}).exitCode, 0);
    const std::string older = testsupport::ReadFile(w.folder + "/" + c.output);
    ASSERT_LT(older.size(), whole - 1);
    const std::set<std::string> before = Listing(w.folder);

    // One byte short, so that only the last byte written fails (earlier failures are the image writers' tests).
    {
        const rlim_t limit = whole - 1;
        const ToolRun run = RunToolAsChild(w.folder, Arguments({"-o", c.output}), [&] {
            if (c.ignoreSignal) ::signal(SIGXFSZ, SIG_IGN);
            const rlimit fileSize{limit, limit};
            ::setrlimit(RLIMIT_FSIZE, &fileSize);
        });
        if (c.ignoreSignal) {
            EXPECT_EQ(run.exitCode, 1) << run.stderrText;
            EXPECT_THAT(run.errorLines,
                        testing::ElementsAre("velloran-render: " + std::string(c.output) + ": write failed (File too large)"));
        } else {
            EXPECT_EQ(run.exitCode, 128 + SIGXFSZ) << run.stderrText;
        }
        EXPECT_EQ(Listing(w.folder), before) << "files left behind";
        EXPECT_EQ(testsupport::ReadFile(w.folder + "/" + c.output), older) << "the older output was replaced";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ToolOutputBeyondTheSizeLimit, testing::ValuesIn(kSizeLimitCases),
                         velloran_test::NameFromWhat<SizeLimitCase>);

// An output that is a file the frame reads, by any spelling or link, is refused before anything is rendered:
// one line, exit 2 (a mistake in the command line), every file as it was.
struct SameFileCase {
    const char* what;
    std::vector<std::string> arguments;
    std::string message;
};

void PrintTo(const SameFileCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

const SameFileCase kSameFileCases[] = {
    {"the input itself", {"photo.png", "-o", "photo.png"}, "the output photo.png is the same file as the input photo.png"},
    {"the input spelled with ./", {"photo.png", "-o", "./photo.png"},
     "the output ./photo.png is the same file as the input photo.png"},
    {"a symbolic link to the input", {"photo.png", "-o", "soft.png"},
     "the output soft.png is the same file as the input photo.png"},
    {"a hard link to the input", {"photo.png", "-o", "hard.png"},
     "the output hard.png is the same file as the input photo.png"},
    {"the input through its folder", {"photo.png", "-o", "../work/photo.png"},
     "the output ../work/photo.png is the same file as the input photo.png"},
    {"the mask layer", {"photo.png", "--mask", "layer.png@2,2", "-o", "layer.png"},
     "the output layer.png is the same file as the layer file layer.png"},
    {"the iris layer", {"photo.png", "--iris", "layer.png", "-o", "layer.png"},
     "the output layer.png is the same file as the layer file layer.png"},
    {"the lens-dirt layer by a link", {"photo.png", "--dirt", "layer.png", "-o", "soft-layer.png"},
     "the output soft-layer.png is the same file as the layer file layer.png"},
};

class ToolOutputOverAnInput : public testing::TestWithParam<SameFileCase> {};

TEST_P(ToolOutputOverAnInput, IsRefusedLeavingEveryFileAsItWas) {
    const SameFileCase& c = GetParam();
    Workspace w;
    WritePng(w.folder + "/photo.png", 24, 16);
    WritePng(w.folder + "/layer.png", 8, 8);
    ASSERT_EQ(::symlink("photo.png", (w.folder + "/soft.png").c_str()), 0);
    ASSERT_EQ(::link((w.folder + "/photo.png").c_str(), (w.folder + "/hard.png").c_str()), 0);
    ASSERT_EQ(::symlink("layer.png", (w.folder + "/soft-layer.png").c_str()), 0);
    const std::set<std::string> before = Listing(w.folder);
    const std::string photo = testsupport::ReadFile(w.folder + "/photo.png"),
                      layer = testsupport::ReadFile(w.folder + "/layer.png");

    const ToolRun run = RunToolAsChild(w.folder, Arguments(c.arguments));

    EXPECT_EQ(run.exitCode, 2) << run.stderrText;
    EXPECT_THAT(run.errorLines, testing::ElementsAre("velloran-render: " + c.message + "; write the frame to another file"));
    EXPECT_THAT(run.stderrText, testing::Not(testing::HasSubstr("output rectangle"))) << "rendered first";
    EXPECT_EQ(Listing(w.folder), before);
    EXPECT_TRUE(fs::is_symlink(w.folder + "/soft.png"));
    EXPECT_EQ(testsupport::ReadFile(w.folder + "/photo.png"), photo);
    EXPECT_EQ(testsupport::ReadFile(w.folder + "/layer.png"), layer);
}

INSTANTIATE_TEST_SUITE_P(Cases, ToolOutputOverAnInput, testing::ValuesIn(kSameFileCases),
                         velloran_test::NameFromWhat<SameFileCase>);

// A signal that ends the tool while it writes the output (a terminal hanging up, a quit key; interrupt and
// terminate as well) leaves nothing behind; the tool then ends by that signal. A signal the tool was started
// ignoring (nohup) stays ignored, and the frame is written. On a busy machine the signal may come only after the
// finished image was put in place (a complete out.exr, which is right), even after the tool has ended: then the
// run is tried again.
TEST(ToolSignals, HangUpOrQuitWhileWritingLeavesNothingBehind) {
    struct Case {
        int sig;
        bool ignoredAtStart;
    };
    for (const Case c : {Case{SIGHUP, false}, Case{SIGQUIT, false}, Case{SIGHUP, true}}) {
        const int sig = c.sig;
        SCOPED_TRACE(std::string(strsignal(sig)) + (c.ignoredAtStart ? ", ignored" : ""));
        bool caughtWriting = false;
        for (int attempt = 0; attempt < 5 && !caughtWriting && !HasFailure(); ++attempt) {
            Workspace w;
            const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
            ASSERT_GE(watch, 0);
            ASSERT_GE(::inotify_add_watch(watch, w.folder.c_str(), IN_MODIFY), 0);
            const pid_t child = ::fork();
            if (child == 0) {
                if (::chdir(w.folder.c_str()) != 0) ::_exit(126);
                const int null = ::open("/dev/null", O_WRONLY);
                ::dup2(null, 1);
                ::dup2(null, 2);
                const rlimit noCore{0, 0};
                ::setrlimit(RLIMIT_CORE, &noCore);
                tooltest::DefaultSignals();
                if (c.ignoredAtStart) ::signal(sig, SIG_IGN);
                // A large EXR takes a while to write.
                ::execl(VELLORAN_RENDER_TOOL, VELLORAN_RENDER_TOOL, "--scene-size", "256x256", "--set", "Radius=4",
                        "-o", "out.exr", static_cast<char*>(nullptr));
                ::_exit(127);
            }
            const bool written = !tooltest::SignalWhenTemporaryIsWritten(watch, child, sig, "out.exr").empty();
            int status = 0;
            ::waitpid(child, &status, 0);
            ASSERT_TRUE(written) << "no temporary file was written";
            const std::set<std::string> left = Listing(w.folder);
            if (c.ignoredAtStart) {
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
                EXPECT_EQ(left, std::set<std::string>{"out.exr"});
                EXPECT_GT(simhost::ReadImage(w.folder + "/out.exr").width(), 256);
                break;
            }
            if (left == std::set<std::string>{"out.exr"}) {
                EXPECT_TRUE(WIFEXITED(status) ? WEXITSTATUS(status) == 0 : WTERMSIG(status) == sig) << "status " << status;
                EXPECT_GT(simhost::ReadImage(w.folder + "/out.exr").width(), 256);
                continue;  // too late: the image was already in place
            }
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "status " << status;
            EXPECT_THAT(left, testing::IsEmpty()) << "left behind";
            caughtWriting = true;
        }
        if (!c.ignoredAtStart) {
            EXPECT_TRUE(caughtWriting) << "the signal never came while the image was written";
        }
    }
}

// An output whose path is as long as a path may be is written, whether its own name is long enough to give
// room for the temporary name's additions or as short as a name gets.
TEST(ToolLongPaths, AnOutputAtTheLongestLegalPathIsWritten) {
    for (const std::string ending : {"png", "exr"}) {
        for (const size_t nameLength : {size_t(200), size_t(5)}) {
            SCOPED_TRACE(ending + ", a name of " + std::to_string(nameLength));
            Workspace w;
            // Folders of 200 characters, then one that brings the whole path to PATH_MAX - 1 with the name.
            std::string relative;
            const std::string base = w.folder + "/";
            const size_t target = PATH_MAX - 1 - base.size();
            while (relative.size() + 201 + nameLength + 20 < target) relative += std::string(200, 'd') + "/";
            relative += std::string(target - relative.size() - nameLength - 1, 'e') + "/";
            const std::string name = std::string(nameLength - 4, 'n') + "." + ending;
            ASSERT_EQ(base.size() + relative.size() + name.size(), size_t(PATH_MAX - 1));
            fs::create_directories(base + relative);

            const ToolRun run = RunToolAsChild(w.folder, Arguments({"-o", base + relative + name}));

            EXPECT_EQ(run.exitCode, 0) << run.stderrText;
            EXPECT_THAT(run.errorLines, testing::ElementsAre(testing::StartsWith("velloran-render: wrote ")));
            EXPECT_EQ(Listing(base + relative), std::set<std::string>{name}) << "the temporary file was left";
        }
    }
}

// An EXR output keeps its place on the input's picture: the display window is the input's frame (at the
// frame's resolution), the data window the grown frame where the effect placed it; a PNG holds the frame alone.
TEST(ToolExrOutput, PlacesTheGrownFrameOnTheInputsPicture) {
    struct Case {
        const char* what;
        std::vector<std::string> arguments;
        Imath::Box2i display;
    };
    for (const Case& c : {Case{"full resolution", {}, Imath::Box2i({0, 0}, {47, 31})},
                          Case{"downsampled by 3", {"--downsample", "3"}, Imath::Box2i({0, 0}, {15, 10})}}) {
        SCOPED_TRACE(c.what);
        Workspace w;
        std::vector<std::string> arguments = Arguments({"-o", "out.exr"});
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const ToolRun run = RunToolAsChild(w.folder, arguments);
        ASSERT_EQ(run.exitCode, 0) << run.stderrText;
        int left = 0, top = 0, right = 0, bottom = 0;
        const size_t at = run.stderrText.find("output rectangle (");
        ASSERT_NE(at, std::string::npos) << run.stderrText;
        ASSERT_EQ(std::sscanf(run.stderrText.c_str() + at, "output rectangle (%d, %d, %d, %d)", &left, &top, &right, &bottom), 4);
        EXPECT_LT(left, 0) << "the glow grows the frame";
        Imf::InputFile file((w.folder + "/out.exr").c_str());
        EXPECT_EQ(file.header().displayWindow(), c.display);
        EXPECT_EQ(file.header().dataWindow(), Imath::Box2i({left, top}, {right - 1, bottom - 1}));
        EXPECT_EQ(simhost::ReadImage(w.folder + "/out.exr").width(), right - left) << "read back whole";
    }
}

}  // namespace
