// A fresh temporary folder as HOME for the length of a test, so the effect's log goes somewhere the test owns.
#pragma once

#include <optional>
#include <string>

namespace testsupport {

class TempDir {
public:
    TempDir();   // a new empty folder under TMPDIR (or /tmp)
    ~TempDir();  // removes it with everything in it
    TempDir(TempDir&& o) noexcept : path_(std::move(o.path_)) { o.path_.clear(); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Sets HOME to a new temporary folder (or to `value`, or unsets it) and restores the old value at the end.
class ScopedHome {
public:
    ScopedHome();
    static ScopedHome Unset();
    static ScopedHome Set(const std::string& value);
    ~ScopedHome();
    ScopedHome(ScopedHome&&) noexcept;
    ScopedHome(const ScopedHome&) = delete;
    ScopedHome& operator=(const ScopedHome&) = delete;

    const std::string& home() const { return home_; }
    // HOME/Library/Logs/Quenholt and the log file in it.
    std::string LogFolder() const;
    std::string LogFile() const;
    // The log file's text; empty when there is none.
    std::string ReadLog() const;

private:
    struct Tag {};
    explicit ScopedHome(Tag);
    std::optional<std::string> saved_;
    std::optional<TempDir> dir_;
    std::string home_;
    bool restore_ = true;
};

// Reads a whole file; empty when it cannot be read.
std::string ReadFile(const std::string& path);

}  // namespace testsupport
