#include "support/TempHome.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testsupport {

TempDir::TempDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/velloran-test-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
    path_ = pattern;
}

TempDir::~TempDir() {
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

ScopedHome::ScopedHome(Tag) {
    if (const char* old = std::getenv("HOME")) saved_ = std::string(old);
}

ScopedHome::ScopedHome() : ScopedHome(Tag{}) {
    dir_.emplace();
    home_ = dir_->path();
    setenv("HOME", home_.c_str(), 1);
}

ScopedHome ScopedHome::Unset() {
    ScopedHome h{Tag{}};
    unsetenv("HOME");
    return h;
}

ScopedHome ScopedHome::Set(const std::string& value) {
    ScopedHome h{Tag{}};
    h.home_ = value;
    setenv("HOME", value.c_str(), 1);
    return h;
}

ScopedHome::ScopedHome(ScopedHome&& o) noexcept
    : saved_(std::move(o.saved_)), dir_(std::move(o.dir_)), home_(std::move(o.home_)), restore_(o.restore_) {
    o.restore_ = false;
}

ScopedHome::~ScopedHome() {
    if (!restore_) return;
    if (saved_)
        setenv("HOME", saved_->c_str(), 1);
    else
        unsetenv("HOME");
}

std::string ScopedHome::LogFolder() const { return home_ + "/Library/Logs/Quenholt"; }
std::string ScopedHome::LogFile() const { return LogFolder() + "/velloran_2_error_log.txt"; }
std::string ScopedHome::ReadLog() const { return ReadFile(LogFile()); }

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace testsupport
