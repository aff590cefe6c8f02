// User messages into the host's return message, and the error log under a temporary HOME.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "host/Messages.h"
#include "support/TempHome.h"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const char kTail[] = "\nCheck About & Support -> Open Error Log";

PF_OutData Untouched() {
    PF_OutData out{};
    out.out_flags = PF_OutFlag_CUSTOM_UI;
    std::strcpy(out.return_msg, "as the host gave it");
    return out;
}

TEST(SendMessage, WritesTheComposedMessageAndSetsTheDisplayFlag) {
    PF_OutData out = Untouched();
    SendMessage("Render failed", &out, true);
    EXPECT_EQ(std::string(out.return_msg), std::string("Velloran 2 1.0.2: Render failed") + kTail);
    EXPECT_EQ(out.out_flags, PF_OutFlag_CUSTOM_UI | PF_OutFlag_DISPLAY_ERROR_MESSAGE);
}

TEST(SendMessage, WithTheDisplaySwitchOffChangesNothing) {
    PF_OutData out = Untouched();
    SendMessage("Render failed", &out, false);
    SendMessageAppendErr("Render failed", &out, 513, 0, false);
    EXPECT_STREQ(out.return_msg, "as the host gave it");
    EXPECT_EQ(out.out_flags, PF_OutFlag_CUSTOM_UI);
}

TEST(SendMessage, CutsTheMessageToTheFirst255Characters) {
    for (size_t length : {200u, 216u, 217u, 400u}) {
        SCOPED_TRACE(length);
        PF_OutData out{};
        std::memset(out.return_msg, 'Z', sizeof out.return_msg);
        const std::string text(length, 'x');
        SendMessage(text, &out, true);
        const std::string full = "Velloran 2 1.0.2: " + text + kTail;
        const size_t kept = std::min<size_t>(full.size(), 255);
        EXPECT_EQ(std::string(out.return_msg), full.substr(0, kept));
        EXPECT_EQ(out.return_msg[kept], '\0');
    }
}

struct AppendCase {
    int err, err2;
    bool shows;
};

TEST(SendMessageAppendErr, AppendsBothCodesExceptForAPlainInterrupt) {
    const AppendCase cases[] = {{517, 0, false}, {517, 1, true}, {513, 0, true}, {-4, -1, true}, {0, 517, true}};
    for (const AppendCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.err) + "/" + std::to_string(c.err2));
        PF_OutData out = Untouched();
        SendMessageAppendErr("Pre-render failed", &out, c.err, c.err2, true);
        if (!c.shows) {
            EXPECT_STREQ(out.return_msg, "as the host gave it");
            EXPECT_EQ(out.out_flags, PF_OutFlag_CUSTOM_UI);
            continue;
        }
        EXPECT_EQ(std::string(out.return_msg), "Velloran 2 1.0.2: Pre-render failed err " + std::to_string(c.err) +
                                                   " err2 " + std::to_string(c.err2) + kTail);
        EXPECT_TRUE(out.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE);
    }
}

// ---- the log ------------------------------------------------------------------------------------------------

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

const std::regex kLine(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} - Velloran 2 v1\.0\.2: (.*))");

TEST(LogError, AppendsOneTimeStampedLinePerMessageUnderHome) {
    testsupport::ScopedHome home;
    EXPECT_EQ(GetLogPath(nullptr, false), home.home() + "/Library/Logs/Quenholt");
    EXPECT_EQ(GetLogPath(nullptr, true), home.LogFile());

    EXPECT_EQ(LogError("first failure", nullptr), "");
    EXPECT_EQ(LogError("second % failure %s", nullptr), "");
    const std::string text = home.ReadLog();
    ASSERT_EQ(text.back(), '\n');
    const auto lines = Lines(text);
    ASSERT_EQ(lines.size(), 2u) << text;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, kLine)) << lines[0];
    EXPECT_EQ(m[1], "first failure");
    ASSERT_TRUE(std::regex_match(lines[1], m, kLine)) << lines[1];
    EXPECT_EQ(m[1], "second % failure %s");
}

TEST(LogError, TheTimeStampIsTheLocalTimeOfWriting) {
    testsupport::ScopedHome home;
    const std::time_t before = std::time(nullptr);
    ASSERT_EQ(LogError("now", nullptr), "");
    const std::time_t after = std::time(nullptr);
    std::tm stamp{};
    const std::string text = home.ReadLog();
    ASSERT_NE(strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &stamp), nullptr) << text;
    stamp.tm_isdst = -1;
    const std::time_t written = std::mktime(&stamp);
    EXPECT_GE(written, before - 1);
    EXPECT_LE(written, after);
}

TEST(LogError, AnEmptyMessageWritesNothingButMakesTheFolderAndFile) {
    testsupport::ScopedHome home;
    EXPECT_EQ(LogError("", nullptr), "");
    EXPECT_TRUE(fs::is_regular_file(home.LogFile()));
    EXPECT_EQ(fs::file_size(home.LogFile()), 0u);
}

TEST(LogError, ConcurrentWritersProduceWholeLinesOnly) {
    testsupport::ScopedHome home;
    constexpr int kThreads = 8, kPerThread = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            const std::string payload(100, char('a' + t));
            for (int i = 0; i < kPerThread; ++i) LogError("thread " + std::to_string(t) + " " + payload, nullptr);
        });
    }
    for (auto& th : threads) th.join();
    const auto lines = Lines(home.ReadLog());
    ASSERT_EQ(lines.size(), size_t(kThreads * kPerThread));
    std::vector<int> perThread(kThreads, 0);
    for (const std::string& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, kLine)) << line;
        const std::string message = m[1];
        const int t = message[7] - '0';
        ASSERT_GE(t, 0);
        ASSERT_LT(t, kThreads);
        ASSERT_EQ(message, "thread " + std::to_string(t) + " " + std::string(100, char('a' + t))) << line;
        ++perThread[t];
    }
    EXPECT_THAT(perThread, ::testing::Each(kPerThread));
}

TEST(LogError, AFileDeletedBetweenTwoLinesIsMadeAgain) {
    testsupport::ScopedHome home;
    ASSERT_EQ(LogError("before", nullptr), "");
    ASSERT_TRUE(fs::remove(home.LogFile()));
    EXPECT_EQ(LogError("after", nullptr), "");
    const auto lines = Lines(home.ReadLog());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_THAT(lines[0], ::testing::EndsWith(": after"));
}

TEST(LogError, AFileReplacedBetweenTwoLinesGetsTheNextLine) {
    testsupport::ScopedHome home;
    ASSERT_EQ(LogError("before", nullptr), "");
    // Moved away and a new file put in its place: both pass the access tests, only the new one is the log.
    fs::rename(home.LogFile(), home.LogFile() + ".old");
    std::ofstream(home.LogFile()).close();
    EXPECT_EQ(LogError("after", nullptr), "");
    EXPECT_EQ(Lines(home.ReadLog()).size(), 1u);
    EXPECT_EQ(Lines(testsupport::ReadFile(home.LogFile() + ".old")).size(), 1u);
}

TEST(LogError, ALogThatCannotBeWrittenIsReportedWithItsPath) {
    testsupport::ScopedHome home;
    ASSERT_EQ(LogError("before", nullptr), "");
    // A folder in the file's place cannot be written even by root, for whom file modes do not count.
    ASSERT_TRUE(fs::remove(home.LogFile()));
    fs::create_directory(home.LogFile());
    EXPECT_EQ(LogError("lost", nullptr), "Failed to open log file: " + home.LogFile());
    EXPECT_TRUE(fs::is_empty(home.LogFile()));
    // Once the way is clear the next line is written again.
    fs::remove(home.LogFile());
    EXPECT_EQ(LogError("back", nullptr), "");
    EXPECT_EQ(Lines(home.ReadLog()).size(), 1u);
}

TEST(LogError, AReadOnlyFileIsReported) {
    testsupport::ScopedHome home;
    ASSERT_EQ(LogError("", nullptr), "");
    ASSERT_EQ(chmod(home.LogFile().c_str(), 0444), 0);
    if (access(home.LogFile().c_str(), W_OK) == 0) GTEST_SKIP() << "file modes do not bind this user (root)";
    EXPECT_EQ(LogError("lost", nullptr), "Failed to open log file: " + home.LogFile());
    EXPECT_EQ(fs::file_size(home.LogFile()), 0u);
}

TEST(LogError, WithoutHomeWritesNothingAnywhere) {
    testsupport::TempDir cwd;
    const fs::path saved = fs::current_path();
    fs::current_path(cwd.path());
    for (bool unset : {true, false}) {
        SCOPED_TRACE(unset ? "HOME unset" : "HOME empty");
        auto home = unset ? testsupport::ScopedHome::Unset() : testsupport::ScopedHome::Set("");
        EXPECT_EQ(GetLogPath(nullptr, true), "HOME environment variable not set");
        EXPECT_EQ(LogError("an error", nullptr), "Failed to open log file: HOME environment variable not set");
        EXPECT_TRUE(fs::is_empty(cwd.path())) << "something was created in the working directory";
    }
    fs::current_path(saved);
}

TEST(LogError, AHomeWhereTheFolderCannotBeMadeIsReportedNotThrown) {
    testsupport::TempDir dir;
    // A file where the Library folder should be stops the folder from being made, for root as well.
    std::ofstream(dir.path() + "/Library").close();
    auto home = testsupport::ScopedHome::Set(dir.path());
    std::string result;
    EXPECT_NO_THROW(result = LogError("an error", nullptr));
    EXPECT_THAT(result, StartsWith("Failed to open log file: "));
    EXPECT_THROW(GetLogPath(nullptr, true), fs::filesystem_error);
}

// ---- a log that is not a regular file ----------------------------------------------------------------------

// What lies at the log's path. A FIFO without a reader holds a plain open until one comes; with a reader the
// open goes through, and only the file's type can refuse it.
enum class NotAFile { kFifo, kFifoWithReader, kLinkToNullDevice, kFolder };

struct NotAFileCase {
    const char* name;
    NotAFile kind;
    bool replacesAnOpenLog;  // false: there from the process's first line on
};

const NotAFileCase kNotAFileCases[] = {
    {"fifo from the first line", NotAFile::kFifo, false},
    {"fifo replacing the open log", NotAFile::kFifo, true},
    {"fifo with a reader from the first line", NotAFile::kFifoWithReader, false},
    {"fifo with a reader replacing the open log", NotAFile::kFifoWithReader, true},
    {"link to /dev/null from the first line", NotAFile::kLinkToNullDevice, false},
    {"link to /dev/null replacing the open log", NotAFile::kLinkToNullDevice, true},
    {"folder from the first line", NotAFile::kFolder, false},
    {"folder replacing the open log", NotAFile::kFolder, true},
};

const char kStandInEnv[] = "VELLORAN_LOG_STAND_IN";   // where the parent made the thing
const char kReplacesEnv[] = "VELLORAN_LOG_REPLACES";  // "1": it replaces a log already open

// Runs in a process of its own, started by the test below, so that the log's first line really is the process's
// first (the function keeps its stream for the whole process) and so that a call that blocks is ended by the
// alarm instead of hanging the suite. The alarm's disposition is set here: the suite may have inherited it
// ignored or blocked.
TEST(LogErrorAlone, DISABLED_RefusesWhatIsNotARegularFile) {
    const char* standIn = std::getenv(kStandInEnv);
    ASSERT_NE(standIn, nullptr);
    const bool replaces = std::getenv(kReplacesEnv) && std::string(std::getenv(kReplacesEnv)) == "1";
    std::signal(SIGALRM, SIG_DFL);
    sigset_t alarmOnly;
    sigemptyset(&alarmOnly);
    sigaddset(&alarmOnly, SIGALRM);
    ASSERT_EQ(sigprocmask(SIG_UNBLOCK, &alarmOnly, nullptr), 0);
    alarm(60);

    const std::string path = GetLogPath(nullptr, true);
    if (replaces) {
        ASSERT_EQ(LogError("before", nullptr), "");
        ASSERT_TRUE(fs::remove(path));
    }
    ASSERT_EQ(std::rename(standIn, path.c_str()), 0) << std::strerror(errno);
    EXPECT_EQ(LogError("lost", nullptr), "Failed to open log file: " + path);
    // Refused, not stuck: once a file can be made there again, the next line goes into it.
    ASSERT_TRUE(fs::remove(path));
    EXPECT_EQ(LogError("back", nullptr), "");
    alarm(0);
}

TEST(LogError, WhatIsNotARegularFileIsRefusedWithoutWaiting) {
    char exe[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(length, 0);
    for (const NotAFileCase& c : kNotAFileCases) {
        SCOPED_TRACE(c.name);
        testsupport::ScopedHome home;
        GetLogPath(nullptr, false);
        const std::string standIn = home.LogFolder() + "/stand-in";
        int reader = -1;
        switch (c.kind) {
            case NotAFile::kFifo:
            case NotAFile::kFifoWithReader:
                ASSERT_EQ(mkfifo(standIn.c_str(), 0666), 0) << std::strerror(errno);
                if (c.kind == NotAFile::kFifoWithReader) {
                    reader = open(standIn.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
                    ASSERT_GE(reader, 0) << std::strerror(errno);
                }
                break;
            case NotAFile::kLinkToNullDevice:
                fs::create_symlink("/dev/null", standIn);
                break;
            case NotAFile::kFolder:
                fs::create_directory(standIn);
                break;
        }

        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) env.push_back(*e);
        env.push_back(std::string(kStandInEnv) + "=" + standIn);
        env.push_back(std::string(kReplacesEnv) + "=" + (c.replacesAnOpenLog ? "1" : "0"));
        std::vector<char*> envp;
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        std::string filter = "--gtest_filter=LogErrorAlone.DISABLED_RefusesWhatIsNotARegularFile";
        std::string disabled = "--gtest_also_run_disabled_tests", brief = "--gtest_brief=1";
        char* argv[] = {exe, filter.data(), disabled.data(), brief.data(), nullptr};
        pid_t child = 0;
        ASSERT_EQ(posix_spawn(&child, exe, nullptr, nullptr, argv, envp.data()), 0);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);

        EXPECT_FALSE(WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) << "LogError blocked on the log's path";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child's checks failed (status " << status << ")";
        if (reader >= 0) {
            char byte = 0;
            EXPECT_LE(read(reader, &byte, 1), 0) << "a line went into the FIFO";
            close(reader);
        }
        // Read only a regular file: a FIFO left in place by a failed child would hold this open.
        if (!fs::is_regular_file(fs::symlink_status(home.LogFile()))) {
            ADD_FAILURE() << "the child never cleared the way";
            continue;
        }
        const auto lines = Lines(home.ReadLog());
        EXPECT_EQ(lines.size(), 1u) << home.ReadLog();
        if (!lines.empty()) {
            EXPECT_THAT(lines.back(), ::testing::EndsWith(": back"));
        }
    }
}

// ---- files -------------------------------------------------------------------------------------------------

TEST(Files, ExistenceAndWritability) {
    testsupport::TempDir dir;
    const std::string file = dir.path() + "/file", missing = dir.path() + "/missing";
    std::ofstream(file).close();
    EXPECT_TRUE(fileExists(file));
    EXPECT_TRUE(fileExists(dir.path()));
    EXPECT_TRUE(fileExists("/dev/null"));
    EXPECT_FALSE(fileExists(missing));
    EXPECT_FALSE(fileExists(file + "/below-a-file"));

    EXPECT_TRUE(isFileAccessible(file));
    EXPECT_TRUE(isFileAccessible(dir.path()));
    EXPECT_FALSE(isFileAccessible(missing));
    ASSERT_EQ(chmod(file.c_str(), 0444), 0);
    if (access(file.c_str(), W_OK) != 0) {
        EXPECT_FALSE(isFileAccessible(file));
    }
}

}  // namespace
