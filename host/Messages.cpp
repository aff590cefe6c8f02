#include "host/Messages.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>

#include "host/Platform.h"

namespace {

const char kProductName[] = "Velloran 2";
const char kLogFileName[] = "velloran_2_error_log.txt";
const char kNoHome[] = "HOME environment variable not set";

std::mutex logFileMutex;

}  // namespace

std::string VersionText() {
    return std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." +
           std::to_string(kVersionRevision);
}

void SendMessage(std::string text, PF_OutData* out_data, bool display) {
    const std::string message =
        std::string(kProductName) + " " + VersionText() + ": " + text + "\nCheck About & Support -> Open Error Log";
    if (!display || !out_data) return;
    out_data->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;
    const size_t n = std::min<size_t>(message.size(), PF_MAX_RETURN_MSG_LEN - 1);
    std::memcpy(out_data->return_msg, message.data(), n);
    out_data->return_msg[n] = '\0';
}

void SendMessageAppendErr(std::string text, PF_OutData* out_data, int err, int err2, bool display) {
    text += " err " + std::to_string(err) + " err2 " + std::to_string(err2);
    if (err == PF_Interrupt_CANCEL && err2 == 0) return;
    SendMessage(std::move(text), out_data, display);
}

std::string GetLogPath(PF_InData* /*in_data*/, bool withFile) {
    const char* home = std::getenv("HOME");
    // An empty HOME would put the log folder under the working directory; treat it as unset.
    if (!home || !*home) return kNoHome;
    const std::filesystem::path folder = std::filesystem::path(home) / "Library" / "Logs" / "Quenholt";
    std::filesystem::create_directories(folder);
    if (!withFile) return folder.string();
    return folder.string() + "/" + kLogFileName;
}

namespace {

// The file the stream was opened on. A file deleted and made again, or replaced by something else, has a
// new identity while still passing the access tests, and the stream would go on writing into the old one.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool known = false;
};

FileIdentity IdentityOf(const struct stat& st) {
    if (!S_ISREG(st.st_mode)) return {};
    return {st.st_dev, st.st_ino, true};
}

FileIdentity IdentityOf(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return {};
    return IdentityOf(st);
}

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.known && b.known && a.device == b.device && a.inode == b.inode;
}

// The log's stream, on a descriptor of our own opening: the host must never wait on its log. A plain open of a
// FIFO waits until some reader comes, and a device's open may wait for its line; opened without blocking, a
// FIFO with no reader fails at once. Only a regular file is a log: the path is looked at before the open (so a
// device is not even opened) and the descriptor after it (so nothing swapped in between is written to).
class LogStream {
public:
    ~LogStream() { Close(); }
    bool is_open() const { return fd_ >= 0; }
    const FileIdentity& identity() const { return identity_; }

    void Open(const std::string& path) {
        Close();
        struct stat st {};
        if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return;
        const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
        if (fd < 0) return;
        if (fstat(fd, &st) != 0 || !IdentityOf(st).known) {
            close(fd);
            return;
        }
        // Writes to a regular file do not block anyway; the flag was only for the open.
        const int flags = fcntl(fd, F_GETFL);
        if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
        fd_ = fd;
        identity_ = IdentityOf(st);
    }

    void Close() {
        if (fd_ >= 0) close(fd_);  // a failure to close is ignored
        fd_ = -1;
        identity_ = {};
    }

    // The whole line at the end of the file, straight to the file: nothing is buffered here. Failures are
    // ignored.
    void WriteLine(const std::string& line) {
        const char* data = line.data();
        std::size_t left = line.size();
        while (left > 0) {
            const ssize_t written = write(fd_, data, left);
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) return;
            data += written;
            left -= std::size_t(written);
        }
    }

private:
    int fd_ = -1;
    FileIdentity identity_;
};

std::string LogErrorLocked(const std::string& message, PF_InData* in_data) {
    static std::unique_ptr<LogStream> logFile;

    std::string path;
    try {
        path = GetLogPath(in_data, true);
    } catch (const std::filesystem::filesystem_error& e) {
        // The folder cannot be made (a file in the way, a home that cannot be written).
        return std::string("Failed to open log file: ") + e.what();
    }
    // Without HOME there is no path to write to: never create a file named after the reason.
    if (path == kNoHome) return std::string("Failed to open log file: ") + path;

    if (!logFile) {
        logFile = std::make_unique<LogStream>();
        logFile->Open(path);
    }
    if (!logFile->is_open() || !isFileAccessible(path) || !SameFile(logFile->identity(), IdentityOf(path)))
        logFile->Open(path);
    if (!logFile->is_open()) return "Failed to open log file: " + path;
    if (message.empty()) return "";

    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    // One write of the whole line, so that another process appending to the same file cannot split it.
    logFile->WriteLine(std::string(stamp) + " - " + kProductName + " v" + VersionText() + ": " + message + "\n");
    return "";
}

}  // namespace

std::string LogError(const std::string& message, PF_InData* in_data) {
    // Called from render threads and from inside the effect's own failure handling: it must not throw.
    try {
        std::lock_guard<std::mutex> lock(logFileMutex);
        return LogErrorLocked(message, in_data);
    } catch (const std::exception& e) {
        try {
            return std::string("Failed to write log: ") + e.what();
        } catch (...) {
            return {};
        }
    } catch (...) {
        return {};
    }
}

bool fileExists(const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (status.type() == std::filesystem::file_type::not_found) return false;
    // Anything but "not found" that the status query cannot answer is the file system's failure, not "no".
    if (ec) throw std::filesystem::filesystem_error("fileExists", path, ec);
    return status.type() != std::filesystem::file_type::none;
}

bool isFileAccessible(const std::string& path) {
    if (access(path.c_str(), F_OK) != 0) return false;
    return access(path.c_str(), W_OK) == 0;
}

void OpenFileWithDefaultEditor(const std::string& path) { OpenWithDefaultApplication(path); }
