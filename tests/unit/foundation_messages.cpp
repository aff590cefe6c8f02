// User messages into the host's return message, and the error log under a temporary HOME.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
