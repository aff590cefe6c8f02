#include "host/Messages.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
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

std::string LogError(const std::string& message, PF_InData* in_data) {
    std::lock_guard<std::mutex> lock(logFileMutex);
    static std::unique_ptr<std::ofstream> logFile;

    const std::string path = GetLogPath(in_data, true);
    // Without HOME there is no path to write to: never create a file named after the reason.
    if (path == kNoHome) return std::string("Failed to open log file: ") + path;

    if (!logFile) logFile = std::make_unique<std::ofstream>(path, std::ios::app);
    if (!logFile->is_open() || !isFileAccessible(path)) {
        logFile->close();
        logFile->clear();
        logFile->open(path, std::ios::app);
    }
    if (!logFile->is_open()) return "Failed to open log file: " + path;
    if (message.empty()) return "";

    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    *logFile << stamp << " - " << kProductName << " v" << VersionText() << ": " << message << "\n";
    logFile->flush();
    return "";
}

bool fileExists(const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec && ec != std::errc::no_such_file_or_directory) throw std::filesystem::filesystem_error("status", path, ec);
    return std::filesystem::exists(status) && status.type() != std::filesystem::file_type::none;
}

bool isFileAccessible(const std::string& path) {
    if (access(path.c_str(), F_OK) != 0) return false;
    return access(path.c_str(), W_OK) == 0;
}

void OpenFileWithDefaultEditor(const std::string& path) { OpenWithDefaultApplication(path); }
