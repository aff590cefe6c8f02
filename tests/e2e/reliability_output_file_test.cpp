// The command-line host's output file as a user in a shared folder meets it: never written through a link
// somebody planted, nothing left beside it whatever signal ends the tool, the mode of a file it replaces kept,
// a folder it cannot write refused before the frame is rendered, and every step of writing that fails
// reported in one line with the older output as it was. Each holds where the file system makes unnamed files
// and, with a preloaded fault library taking them away, where it does not.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "simhost/ImageIO.h"
#include "support/CaseNames.h"
#include "support/TempHome.h"
#include "tool_run.h"

#ifndef VELLORAN_OUTPUT_FAULTS
#error "the build gives the fault library's path"
#endif

extern char** environ;

namespace {

namespace fs = std::filesystem;

// How the tool gets its temporary file: unnamed, where the file system of the test's folder makes such files,
// or under a name of its own, where it does not (the fault library refuses unnamed files).
enum class Files { kUnnamed, kNamed };

void PrintTo(Files files, std::ostream* os) { *os << (files == Files::kUnnamed ? "unnamed" : "named"); }

void WriteFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

bool MakesUnnamedFiles(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

using tooltest::Workspace;

struct ToolResult {
    int status = 0;
    int exitCode = -1;  // 128 + the signal for a tool ended by one
    std::string stderrText;
    std::vector<std::string> errorLines;  // stderr lines that are not progress, result or warning lines
};

// This process's environment for the tool, with the fault library preloaded when the case needs it.
std::vector<std::string> ToolEnvironment(Files files, const std::string& fault, bool unreadableFolder = false) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "LD_PRELOAD=", 11) != 0 && std::strncmp(*e, "ASAN_OPTIONS=", 13) != 0 &&
            std::strncmp(*e, "VELLORAN_NO_UNNAMED_FILES=", 26) != 0 && std::strncmp(*e, "VELLORAN_OUTPUT_FAULT=", 22) != 0 &&
            std::strncmp(*e, "VELLORAN_UNREADABLE_FOLDER=", 27) != 0)
            env.push_back(*e);
    const char* asan = std::getenv("ASAN_OPTIONS");
    if (files == Files::kNamed || !fault.empty()) {
        env.push_back(std::string("LD_PRELOAD=") + VELLORAN_OUTPUT_FAULTS);
        // The sanitizer's runtime wants to be first; the fault library goes in front of it.
        env.push_back(std::string("ASAN_OPTIONS=") + (asan ? std::string(asan) + ":" : "") + "verify_asan_link_order=0");
    } else if (asan) {
        env.push_back(std::string("ASAN_OPTIONS=") + asan);
    }
    if (files == Files::kNamed) env.push_back("VELLORAN_NO_UNNAMED_FILES=1");
    if (!fault.empty()) env.push_back("VELLORAN_OUTPUT_FAULT=" + fault);
    if (unreadableFolder) env.push_back("VELLORAN_UNREADABLE_FOLDER=.");
    return env;
}

// Starts the tool in `folder`, its stderr into `errorsPath`, every signal at its default action. The child
// waits for a byte on `hold` (when given) before it runs the tool, so that the test may prepare the folder
// knowing its process id; `inChild` runs in it just before.
pid_t StartTool(const std::string& folder, const std::vector<std::string>& arguments, Files files,
                const std::string& fault, const std::string& errorsPath, int hold = -1,
                const std::function<void()>& inChild = {}, bool unreadableFolder = false) {
    const std::vector<std::string> env = ToolEnvironment(files, fault, unreadableFolder);
    std::vector<char*> envp, argv{const_cast<char*>(VELLORAN_RENDER_TOOL)};
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::chdir(folder.c_str()) != 0) ::_exit(126);
        const int null = ::open("/dev/null", O_WRONLY);
        const int errors = ::open(errorsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(null, 1);
        ::dup2(errors, 2);
        const rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        tooltest::DefaultSignals();
        if (hold >= 0) {
            char go = 0;
            if (::read(hold, &go, 1) != 1) ::_exit(125);
            ::close(hold);
        }
        if (inChild) inChild();
        ::execve(VELLORAN_RENDER_TOOL, argv.data(), envp.data());
        ::_exit(127);
    }
    return child;
}

ToolResult Finish(pid_t child, const std::string& errorsPath) {
    ToolResult run;
    ::waitpid(child, &run.status, 0);
    run.exitCode = WIFEXITED(run.status) ? WEXITSTATUS(run.status) : 128 + (WIFSIGNALED(run.status) ? WTERMSIG(run.status) : 0);
    run.stderrText = testsupport::ReadFile(errorsPath);
    for (const std::string& line : tooltest::Lines(run.stderrText))
        if (!tooltest::IsInformation(line)) run.errorLines.push_back(line);
    return run;
}

ToolResult RunTool(const std::string& folder, const std::vector<std::string>& arguments, Files files,
            const std::string& fault = "", const std::function<void()>& inChild = {}, bool unreadableFolder = false) {
    const std::string errors = folder + "/../tool-stderr.txt";
    return Finish(StartTool(folder, arguments, files, fault, errors, -1, inChild, unreadableFolder), errors);
}

const std::vector<std::string> kSmallFrame = {"--scene-size", "48x32", "--set", "Radius=4", "-o", "out.png"};

std::set<std::string> Listing(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

// Every case runs once with each kind of temporary file; the unnamed kind only where the file system has it.
class ByFiles : public testing::TestWithParam<Files> {
protected:
    void SetUp() override {
        if (GetParam() == Files::kUnnamed && !MakesUnnamedFiles(testsupport::TempDir().path()))
            GTEST_SKIP() << "the file system of the temporary folder makes no unnamed files";
    }
};

std::string FilesName(const testing::TestParamInfo<Files>& info) {
    return info.param == Files::kUnnamed ? "Unnamed" : "Named";
}

// Links planted in the folder before the tool starts, at the name the tool once gave its temporary file
// (".NAME.partial-PID.EXT", from the process id it runs under) and at names like it, to a file of the user's
// or to one that does not exist yet: the tool writes out.png as a new file of its own, and neither target is
// written, made or moved.
using ToolOutputLinks = ByFiles;

TEST_P(ToolOutputLinks, AreNeverWrittenThrough) {
    for (const bool dangling : {false, true}) {
        SCOPED_TRACE(dangling ? "links to a file not there yet" : "links to the user's file");
        Workspace w;
        WriteFile(w.folder + "/notes.txt", "notes\n");
        const std::string target = dangling ? "made-through-a-link.txt" : "notes.txt";

        int hold[2];
        ASSERT_EQ(::pipe2(hold, O_CLOEXEC), 0);
        const std::string errors = w.folder + "/../tool-stderr.txt";
        const pid_t child = StartTool(w.folder, kSmallFrame, GetParam(), "", errors, hold[0]);
        ::close(hold[0]);
        const std::string pid = std::to_string(child), next = std::to_string(child + 1);
        const std::vector<std::string> planted = {".out.partial-" + pid + ".png", ".out.partial-" + next + ".png",
                                                  ".out.png.partial-" + pid, ".out.partial.png", ".out.png.tmp",
                                                  "out.png.tmp", ".out.png", ".out.png.part"};
        for (const std::string& name : planted) EXPECT_EQ(::symlink(target.c_str(), (w.folder + "/" + name).c_str()), 0);
        std::set<std::string> expected = Listing(w.folder);
        ASSERT_EQ(::write(hold[1], "g", 1), 1);
        ::close(hold[1]);
        const ToolResult run = Finish(child, errors);

        EXPECT_EQ(run.exitCode, 0) << run.stderrText;
        EXPECT_THAT(run.errorLines, testing::IsEmpty());
        expected.insert("out.png");
        EXPECT_EQ(Listing(w.folder), expected);
        struct stat out {};
        ASSERT_EQ(::lstat((w.folder + "/out.png").c_str(), &out), 0);
        EXPECT_TRUE(S_ISREG(out.st_mode)) << "out.png is not a file of its own";
        EXPECT_GT(simhost::ReadImage(w.folder + "/out.png").width(), 48) << "the glow grows the frame";
        EXPECT_EQ(testsupport::ReadFile(w.folder + "/notes.txt"), "notes\n");
        EXPECT_FALSE(fs::exists(w.folder + "/made-through-a-link.txt"));
        for (const std::string& name : planted) EXPECT_EQ(fs::read_symlink(w.folder + "/" + name), target) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Files, ToolOutputLinks, testing::Values(Files::kUnnamed, Files::kNamed), FilesName);

// Whatever signal ends the tool while the image is being written leaves nothing in the folder: a user's or a
// timer's signal, a closed pipe, the CPU-time limit (what ulimit -t sends), a profiler's timers, and, where
// the temporary file has no name, even SIGKILL, which nothing can catch. (Hang-up, quit, interrupt and
// terminate have their own tests.) On a busy machine the signal may come only after the finished image was put
// in place, or after the tool has ended: then the run is tried again.
using ToolSignalsWhileWriting = ByFiles;

TEST_P(ToolSignalsWhileWriting, LeaveNothingBehind) {
    const std::vector<int> signals = {SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE, SIGXCPU, SIGVTALRM, SIGPROF, SIGKILL};
    for (const int sig : signals) {
        if (sig == SIGKILL && GetParam() == Files::kNamed) continue;  // a name given can only be taken back
        SCOPED_TRACE(strsignal(sig));
        bool caughtWriting = false;
        for (int attempt = 0; attempt < 5 && !caughtWriting && !HasFailure(); ++attempt) {
            Workspace w;
            const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
            ASSERT_GE(watch, 0);
            ASSERT_GE(::inotify_add_watch(watch, w.folder.c_str(), IN_MODIFY), 0);
            const std::string errors = w.folder + "/../tool-stderr.txt";
            // A large EXR takes a while to write.
            const pid_t child = StartTool(w.folder, {"--scene-size", "256x256", "--set", "Radius=4", "-o", "out.exr"},
                                          GetParam(), "", errors);
            const std::string written = tooltest::SignalWhenTemporaryIsWritten(watch, child, sig, "out.exr");
            const ToolResult run = Finish(child, errors);
            ASSERT_FALSE(written.empty()) << "no temporary file was written";
            // Which kind of file the tool wrote into: the case is the one it says.
            if (GetParam() == Files::kNamed) {
                EXPECT_THAT(written, testing::StartsWith(".out.partial-"));
            } else {
                EXPECT_THAT(written, testing::StartsWith("#"));
            }
            const std::set<std::string> left = Listing(w.folder);
            if (left == std::set<std::string>{"out.exr"}) {
                EXPECT_TRUE(WIFEXITED(run.status) ? run.exitCode == 0 : WTERMSIG(run.status) == sig) << run.stderrText;
                EXPECT_GT(simhost::ReadImage(w.folder + "/out.exr").width(), 256);
                continue;  // too late: the image was already in place
            }
            EXPECT_TRUE(WIFSIGNALED(run.status) && WTERMSIG(run.status) == sig) << "status " << run.status;
            EXPECT_THAT(left, testing::IsEmpty()) << "left behind";
            caughtWriting = true;
        }
        EXPECT_TRUE(caughtWriting) << "the signal never came while the image was written";
    }
}

INSTANTIATE_TEST_SUITE_P(Files, ToolSignalsWhileWriting, testing::Values(Files::kUnnamed, Files::kNamed), FilesName);

// A file the output replaces keeps its permissions, whatever the umask; a new output gets 0666 less the umask.
using ToolOutputMode = ByFiles;

TEST_P(ToolOutputMode, OfAReplacedFileIsKeptAndANewOneFollowsTheUmask) {
    struct Case {
        const char* what;
        mode_t umask;
        mode_t older;  // 0: no older output
        mode_t expected;
    };
    for (const Case& c : {Case{"a private output replaced", 022, 0600, 0600},
                          Case{"an output replaced under a narrower umask", 077, 0664, 0664},
                          Case{"a new output", 022, 0, 0644}, Case{"a new output under umask 027", 027, 0, 0640}}) {
        SCOPED_TRACE(c.what);
        Workspace w;
        const std::string out = w.folder + "/out.png";
        if (c.older != 0) {
            WriteFile(out, "older");
            ASSERT_EQ(::chmod(out.c_str(), c.older), 0);
        }
        const ToolResult run = RunTool(w.folder, kSmallFrame, GetParam(), "", [&] { ::umask(c.umask); });
        EXPECT_EQ(run.exitCode, 0) << run.stderrText;
        struct stat written {};
        ASSERT_EQ(::stat(out.c_str(), &written), 0);
        EXPECT_EQ(written.st_mode & 07777, c.expected) << std::oct << (written.st_mode & 07777);
        EXPECT_GT(simhost::ReadImage(out).width(), 48) << "the frame was not written";
    }
}

INSTANTIATE_TEST_SUITE_P(Files, ToolOutputMode, testing::Values(Files::kUnnamed, Files::kNamed), FilesName);

// An output the tool could not write is refused before any time goes into the frame: the whole of what the tool
// says, with every stage's timing asked for, is the one line, and the folder is as it was. A run that prints
// only text writes no frame, and the output does not matter to it.
struct FolderCase {
    const char* what;
    std::function<void(const std::string& folder)> prepare;
    std::vector<std::string> arguments;
    std::string line;  // the whole of stderr; empty for a run that succeeds
    bool needsNonRoot = false;
};

void PrintTo(const FolderCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

const auto kNothing = [](const std::string&) {};

const FolderCase kFolderCases[] = {
    {"folder missing", kNothing, {"-o", "no/such/out.png"}, "no/such/out.png: cannot create (No such file or directory)"},
    {"folder missing, absolute", kNothing, {"-o", "/nonexistent/dir/a.exr"},
     "/nonexistent/dir/a.exr: cannot create (No such file or directory)"},
    {"output is a folder", [](const std::string& f) { fs::create_directories(f + "/taken.png/inside"); },
     {"-o", "taken.png"}, "taken.png: cannot write (Is a directory)"},
    {"folder is a file", [](const std::string& f) { WriteFile(f + "/plain", "x"); },
     {"-o", "plain/out.png"}, "plain/out.png: cannot create (Not a directory)"},
    {"folder read-only",
     [](const std::string& f) {
         fs::create_directory(f + "/sealed");
         ::chmod((f + "/sealed").c_str(), 0555);
     },
     {"-o", "sealed/out.png"}, "sealed/out.png: cannot create (Permission denied)", true},
    {"text only, folder missing", kNothing, {"--about", "-o", "no/such/out.png"}, ""},
};

class ToolOutputFolder : public testing::TestWithParam<FolderCase> {};

TEST_P(ToolOutputFolder, ThatCannotBeWrittenIsRefusedBeforeRendering) {
    const FolderCase& c = GetParam();
    if (c.needsNonRoot && ::geteuid() == 0) GTEST_SKIP() << "file modes do not bind root";
    Workspace w;
    c.prepare(w.folder);
    const std::set<std::string> before = Listing(w.folder);
    std::vector<std::string> arguments = {"--scene-size", "48x32", "-v"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());

    const ToolResult run = RunTool(w.folder, arguments, Files::kUnnamed);

    EXPECT_EQ(Listing(w.folder), before);
    if (c.line.empty()) {
        EXPECT_EQ(run.exitCode, 0) << run.stderrText;
    } else {
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.stderrText, "velloran-render: " + c.line + "\n");
    }
    for (const auto& entry : fs::recursive_directory_iterator(w.folder)) ::chmod(entry.path().c_str(), 0755);
}

INSTANTIATE_TEST_SUITE_P(Cases, ToolOutputFolder, testing::ValuesIn(kFolderCases), velloran_test::NameFromWhat<FolderCase>);

// Each step of writing that can fail, failing: the last byte (a full disk), the sync of the file, its close,
// giving it its name (a new output or one replacing an older), the rename into place, the sync of the folder.
// Each is exit 1 and one line naming the failure, nothing left beside the output, and the older output as it
// was, but for the folder's sync, which comes once the new output has taken its place: the line says so.
struct FaultCase {
    const char* what;
    std::string fault;  // "last-byte" takes the output's size from a run without faults
    bool older;         // an older output to replace
    std::string line;
    bool unnamedOnly = false;       // a step only the unnamed file goes through
    bool unreadableFolder = false;  // a folder the tool may write into but not read, synced as a file system
};

void PrintTo(const FaultCase& c, std::ostream* os) { velloran_test::PrintCase(c.what, os); }

const FaultCase kFaultCases[] = {
    {"disk full at the last byte", "last-byte", true, "out.png: write failed (No space left on device)"},
    {"disk full at the last byte of a new output", "last-byte", false, "out.png: write failed (No space left on device)"},
    {"file sync fails", "fsync", true, "out.png: write failed (Input/output error)"},
    {"close fails", "close", true, "out.png: write failed (Input/output error)"},
    {"close fails on a new output", "close", false, "out.png: write failed (Input/output error)"},
    {"linking a new output fails", "link", false, "out.png: cannot write (Input/output error)", true},
    {"linking beside an older output fails", "link", true, "out.png: cannot write (Input/output error)", true},
    {"rename into place fails", "rename", true, "out.png: cannot write (Input/output error)"},
    {"folder sync fails", "folder-sync", true,
     "out.png: written, but its folder could not be synced (Input/output error); it may not survive a power loss"},
    {"file system sync fails for a folder it cannot read", "fs-sync", true,
     "out.png: written, but its folder could not be synced (Input/output error); it may not survive a power loss",
     false, true},
};

class ToolOutputFaults : public testing::TestWithParam<std::tuple<FaultCase, Files>> {};

TEST_P(ToolOutputFaults, AreOneLineLeavingTheOlderOutputAsItWas) {
    const FaultCase& c = std::get<0>(GetParam());
    const Files files = std::get<1>(GetParam());
    if (files == Files::kUnnamed && !MakesUnnamedFiles(testsupport::TempDir().path()))
        GTEST_SKIP() << "the file system of the temporary folder makes no unnamed files";
    Workspace w;
    std::string fault = c.fault;
    if (fault == "last-byte") {
        ASSERT_EQ(RunTool(w.folder, kSmallFrame, files).exitCode, 0);
        fault += ":" + std::to_string(fs::file_size(w.folder + "/out.png"));
        fs::remove(w.folder + "/out.png");
    }
    const std::string out = w.folder + "/out.png";
    if (c.older) WriteFile(out, "the older output");
    const std::set<std::string> before = Listing(w.folder);

    const ToolResult run = RunTool(w.folder, kSmallFrame, files, fault, {}, c.unreadableFolder);

    EXPECT_EQ(run.exitCode, 1) << run.stderrText;
    EXPECT_THAT(run.errorLines, testing::ElementsAre("velloran-render: " + c.line)) << run.stderrText;
    EXPECT_THAT(run.stderrText, testing::Not(testing::HasSubstr("velloran-render: wrote ")));
    if (c.fault == "folder-sync" || c.fault == "fs-sync") {
        std::set<std::string> expected = before;
        expected.insert("out.png");
        EXPECT_EQ(Listing(w.folder), expected);
        EXPECT_GT(simhost::ReadImage(out).width(), 48) << "the new output is not in place";
    } else {
        EXPECT_EQ(Listing(w.folder), before) << "left behind";
        if (c.older) {
            EXPECT_EQ(testsupport::ReadFile(out), "the older output");
        }
    }
}

std::string FaultCaseName(const testing::TestParamInfo<std::tuple<FaultCase, Files>>& info) {
    return velloran_test::CaseName(std::get<0>(info.param).what) +
           (std::get<1>(info.param) == Files::kUnnamed ? "_Unnamed" : "_Named");
}

// Every case with either kind of temporary file, but for the steps a named one never goes through.
std::vector<std::tuple<FaultCase, Files>> FaultCasesWithFiles() {
    std::vector<std::tuple<FaultCase, Files>> cases;
    for (const FaultCase& c : kFaultCases) {
        cases.emplace_back(c, Files::kUnnamed);
        if (!c.unnamedOnly) cases.emplace_back(c, Files::kNamed);
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Cases, ToolOutputFaults, testing::ValuesIn(FaultCasesWithFiles()), FaultCaseName);

}  // namespace
