// Shell actions start the opener directly: a path full of shell syntax is one argument and runs nothing.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "host/Messages.h"
#include "host/Platform.h"
#include "support/TempHome.h"

namespace {

class FakeOpener : public ::testing::Test {
protected:
    void SetUp() override {
        // A fake xdg-open first on PATH writes each argument it was given on its own line.
        bin_ = dir_.path() + "/bin";
        std::filesystem::create_directory(bin_);
        record_ = dir_.path() + "/args";
        const std::string script = bin_ + "/xdg-open";
        std::ofstream(script) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" << record_ << "'\n";
        chmod(script.c_str(), 0755);
        if (const char* p = std::getenv("PATH")) savedPath_ = p;
        setenv("PATH", (bin_ + ":" + savedPath_).c_str(), 1);
    }
    void TearDown() override { setenv("PATH", savedPath_.c_str(), 1); }

    testsupport::TempDir dir_;
    std::string bin_, record_, savedPath_;
};

TEST_F(FakeOpener, APathWithShellSyntaxIsOpenedAsOneArgumentAndRunsNothing) {
    const std::string witness = dir_.path() + "/ran";
    const std::string paths[] = {
        dir_.path() + "/plain log.txt",
        dir_.path() + "/q\"uote\".txt",
        dir_.path() + "/$(touch " + witness + ").txt",
        dir_.path() + "/`touch " + witness + "`.txt",
        dir_.path() + "/a\"; touch " + witness + "; \".txt",
        dir_.path() + "/$HOME and 'single'.txt",
    };
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        std::filesystem::remove(record_);
        OpenFileWithDefaultEditor(path);
        EXPECT_EQ(testsupport::ReadFile(record_), path + "\n");
        EXPECT_FALSE(std::filesystem::exists(witness)) << "the path was run as a command";
    }
}

TEST_F(FakeOpener, AMissingOpenerIsNoFailure) {
    setenv("PATH", "/nonexistent", 1);
    EXPECT_NO_THROW(OpenWithDefaultApplication("/tmp"));
}

}  // namespace
