#include "simhost/tool/OutputFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>

#include "simhost/tool/Progress.h"

namespace velloran_tool {

namespace {

// While the frame is written, a signal that would end the tool removes the temporary file first and then
// ends it as the signal would have. The folder stays open and the name is copied into a fixed buffer: a
// handler may not allocate, and the name is short however long the folder's path is.
char gTemporary[NAME_MAX + 1];
volatile std::sig_atomic_t gFolder = -1;

extern "C" void RemoveTemporaryAndEnd(int sig) {
    if (gFolder >= 0) ::unlinkat(gFolder, gTemporary, 0);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

// The signals whose default action ends the tool and that a user or the system sends while a file is
// written: interrupt, terminate, hang-up, quit, and the file-size limit (when a write passes it).
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGXFSZ};
constexpr size_t kSignalCount = sizeof kEndingSignals / sizeof kEndingSignals[0];

class RemovedOnSignal {
public:
    RemovedOnSignal(int folder, const std::string& name) {
        std::memcpy(gTemporary, name.c_str(), std::min(name.size() + 1, sizeof gTemporary));
        gTemporary[sizeof gTemporary - 1] = 0;
        gFolder = folder;
        struct sigaction action {};
        action.sa_handler = RemoveTemporaryAndEnd;
        sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < kSignalCount; ++i) {
            // A signal the tool was started ignoring (nohup, trap '' XFSZ) stays ignored: a write past the size
            // limit then fails with an error instead, and the file is removed all the same.
            ::sigaction(kEndingSignals[i], nullptr, &old_[i]);
            installed_[i] = old_[i].sa_handler == SIG_DFL;
            if (installed_[i]) ::sigaction(kEndingSignals[i], &action, nullptr);
        }
    }
    ~RemovedOnSignal() {
        for (size_t i = 0; i < kSignalCount; ++i)
            if (installed_[i]) ::sigaction(kEndingSignals[i], &old_[i], nullptr);
        gFolder = -1;
    }
    RemovedOnSignal(const RemovedOnSignal&) = delete;
    RemovedOnSignal& operator=(const RemovedOnSignal&) = delete;

private:
    struct sigaction old_[kSignalCount] {};
    bool installed_[kSignalCount] = {};
};

// An open descriptor that closes itself.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    // Closes it now; false (errno set) when closing reports a failure.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

int Refuse(const std::string& line) {
    Say(line);
    return 1;
}

// The temporary file's name beside an output named `name`, in a folder whose own path takes `folderLength`
// characters before it: no longer than a file name (`nameMax`) nor, where the output's name leaves room, the
// whole path (`pathMax`, the terminating zero included) may be.
std::string TemporaryName(const std::string& name, size_t folderLength, size_t nameMax, size_t pathMax) {
    const size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    const std::string ending = dot == std::string::npos ? "" : name.substr(dot);
    const std::string tail = ".partial-" + std::to_string(::getpid()) + ending;
    // The stem gives way first to the file-name limit, then to the path limit; a name too short to give enough
    // way is still written through its open folder, which no path limit binds.
    size_t room = nameMax > 1 + tail.size() ? nameMax - 1 - tail.size() : 0;
    const size_t pathRoom = pathMax > folderLength + 2 + tail.size() ? pathMax - folderLength - 2 - tail.size() : 0;
    room = std::min(room, pathRoom);
    return "." + stem.substr(0, room) + tail;
}

}  // namespace

void RefuseOutputOverInputs(const ToolState& state) {
    struct stat output {};
    if (::stat(state.output.c_str(), &output) != 0) return;  // nothing there yet to overwrite
    for (const std::string& path : state.inputFiles) {
        struct stat input {};
        if (::stat(path.c_str(), &input) != 0 || input.st_dev != output.st_dev || input.st_ino != output.st_ino) continue;
        throw std::invalid_argument("the output " + state.output + " is the same file as the " +
                                    (path == state.input ? "input " : "layer file ") + path +
                                    "; write the frame to another file");
    }
}

simhost::ImagePlacement PlacementOnInput(const ToolState& state, const simhost::SimWorld& input,
                                         const simhost::SimWorld& frame) {
    long long downsample = 1;
    const auto given = state.extra.find("--downsample");
    if (given != state.extra.end() && !given->second.empty()) downsample = std::max(1LL, std::atoll(given->second.back().c_str()));
    simhost::ImagePlacement placement;
    placement.originX = frame.world()->origin_x;
    placement.originY = frame.world()->origin_y;
    // As the host places the input layer at a reduced resolution: every partly covered pixel counts.
    placement.displayWidth = A_long((input.width() + downsample - 1) / downsample);
    placement.displayHeight = A_long((input.height() + downsample - 1) / downsample);
    return placement;
}

int WriteOutputFile(const ToolState& state, const simhost::SimWorld& input, const simhost::SimWorld& frame) {
    const std::string& path = state.output;
    const size_t slash = path.rfind('/');
    const std::string folderPath = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t folderLength = slash == std::string::npos ? 0 : slash + 1;

    // The temporary file and the rename go through the open folder, so that only the file's own name must keep
    // to the file-name limit, and the folder is the same one from start to end.
    Descriptor folder(::open(folderPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) return Refuse(path + ": cannot create (" + std::strerror(errno) + ")");
    const long nameMax = ::fpathconf(folder.get(), _PC_NAME_MAX);
    const std::string temporary =
        TemporaryName(name, folderLength, nameMax > 0 ? std::min(size_t(nameMax), size_t(NAME_MAX)) : size_t(NAME_MAX), PATH_MAX);

    RemovedOnSignal guard(folder.get(), temporary);
    Descriptor file(::openat(folder.get(), temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (file.get() < 0) return Refuse(path + ": cannot create (" + std::strerror(errno) + ")");
    try {
        // Named in errors as the file the user asked for, not the temporary one.
        simhost::WriteImageInto(file.get(), path, frame, PlacementOnInput(state, input, frame));
        if (!file.Close()) throw std::runtime_error(path + ": write failed (" + std::strerror(errno) + ")");
    } catch (const std::exception& e) {
        ::unlinkat(folder.get(), temporary.c_str(), 0);
        return Refuse(e.what());
    }
    if (::renameat(folder.get(), temporary.c_str(), folder.get(), name.c_str()) != 0) {
        const int error = errno;
        ::unlinkat(folder.get(), temporary.c_str(), 0);
        return Refuse(path + ": cannot write (" + std::strerror(error) + ")");
    }
    Say("wrote " + path + " (" + std::to_string(frame.width()) + "x" + std::to_string(frame.height()) + ")");
    return 0;
}

}  // namespace velloran_tool
