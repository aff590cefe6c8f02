#include "simhost/tool/OutputFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <stdexcept>
#include <string>

#include "simhost/tool/Progress.h"

namespace velloran_tool {

namespace {

// The signals whose default action ends the tool without a core dump or a fault of its own: what a user, a
// terminal, a timer, a resource limit or a closed pipe sends. Real-time signals are added at run time.
constexpr int kEndingSignals[] = {SIGHUP,  SIGINT,    SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE,
                                  SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSTKFLT};

// What a handled ending signal does, by the step the write has reached.
enum : int {
    kEndNow = 0,       // end as the signal would have
    kRemoveNamed = 1,  // remove the named temporary file first, then end
    kDefer = 2,        // wait until the file is in place (or gone) and its folder synced, then end
};

// A handler may not allocate: the temporary name lives in a fixed buffer (it is one file name, however long
// the folder's path), and the folder stays open.
volatile std::sig_atomic_t gStep = kEndNow;
volatile std::sig_atomic_t gDeferred = 0;
volatile std::sig_atomic_t gFolder = -1;
char gTemporary[NAME_MAX + 1];

extern "C" void OnEndingSignal(int sig) {
    if (gStep == kDefer) {
        if (gDeferred == 0) gDeferred = sig;
        return;
    }
    if (gStep == kRemoveNamed && gFolder >= 0) ::unlinkat(gFolder, gTemporary, 0);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

// Handles the ending signals for as long as it lives, and ends the tool by the first one that came while the
// file was being put in place once it is done. A signal the tool was started ignoring (nohup, trap '' XFSZ)
// stays ignored: a write past the size limit then fails with an error, and the file is removed all the same.
class EndingSignals {
public:
    EndingSignals(int folder, int step) {
        gFolder = folder;
        gStep = step;
        gDeferred = 0;
        struct sigaction action {};
        action.sa_handler = OnEndingSignal;
        action.sa_flags = SA_RESTART;
        sigfillset(&action.sa_mask);
        for (int sig = 1; sig < NSIG; ++sig) {
            if (!Ending(sig) || ::sigaction(sig, nullptr, &old_[sig]) != 0) continue;
            installed_[sig] = old_[sig].sa_handler == SIG_DFL;
            if (installed_[sig]) ::sigaction(sig, &action, nullptr);
        }
    }
    ~EndingSignals() {
        for (int sig = 1; sig < NSIG; ++sig)
            if (installed_[sig]) ::sigaction(sig, &old_[sig], nullptr);
        gStep = kEndNow;
        gFolder = -1;
        if (gDeferred != 0) std::raise(gDeferred);
    }
    EndingSignals(const EndingSignals&) = delete;
    EndingSignals& operator=(const EndingSignals&) = delete;

    // The named temporary file, once it exists and is the tool's own.
    void RemoveOnSignal(const std::string& name) {
        std::memcpy(gTemporary, name.c_str(), std::min(name.size() + 1, sizeof gTemporary));
        gTemporary[sizeof gTemporary - 1] = 0;
        gStep = kRemoveNamed;
    }
    void EndNow() { gStep = kEndNow; }
    void Defer() { gStep = kDefer; }

private:
    static bool Ending(int sig) {
        if (sig >= SIGRTMIN && sig <= SIGRTMAX) return true;
        for (const int ending : kEndingSignals)
            if (sig == ending) return true;
        return false;
    }
    struct sigaction old_[NSIG] {};
    bool installed_[NSIG] = {};
};

// An open descriptor that closes itself.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    void reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
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

// The output's path taken apart: its folder and its own name.
struct OutputPath {
    std::string folder;   // "." for a bare name
    std::string name;
    size_t folderLength;  // characters of the path before the name
};

OutputPath Split(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path, 0};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1), slash + 1};
}

// Sixteen hex digits nobody can guess in advance, so that nobody can plant a file or a link under the name
// before the tool makes it.
std::string RandomToken() {
    uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != ssize_t(sizeof bits)) {
        // Only guessable, never unsafe: the file is still made exclusively.
        timespec now {};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        static uint64_t count = 0;
        bits = (uint64_t(now.tv_nsec) * 0x9E3779B97F4A7C15ull) ^ (uint64_t(::getpid()) << 32) ^ ++count;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(bits));
    return text;
}

// A hidden temporary name beside an output named `name`, in a folder whose own path takes `folderLength`
// characters before it: no longer than a file name (`nameMax`) nor, where the output's name leaves room, the
// whole path (`pathMax`, the terminating zero included) may be.
std::string TemporaryName(const std::string& name, size_t folderLength, size_t nameMax, size_t pathMax) {
    const size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    const std::string ending = dot == std::string::npos ? "" : name.substr(dot);
    const std::string tail = ".partial-" + RandomToken() + ending;
    // The stem gives way first to the file-name limit, then to the path limit; a name too short to give enough
    // way is still written through its open folder, which no path limit binds.
    size_t room = nameMax > 1 + tail.size() ? nameMax - 1 - tail.size() : 0;
    const size_t pathRoom = pathMax > folderLength + 2 + tail.size() ? pathMax - folderLength - 2 - tail.size() : 0;
    room = std::min(room, pathRoom);
    return "." + stem.substr(0, room) + tail;
}

// Gives the unnamed file open as `fd` the name `name` in `folder`; false (errno set) when it cannot. Linking by
// the descriptor itself needs a privilege most users lack; its entry under /proc needs none.
bool LinkUnnamed(int fd, int folder, const std::string& name) {
    if (::linkat(fd, "", folder, name.c_str(), AT_EMPTY_PATH) == 0) return true;
    if (errno != ENOENT) return false;
    const std::string entry = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, entry.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

// How many fresh temporary names are tried while each one turns out taken, before the write gives up.
constexpr int kNameAttempts = 100;

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

simhost::ImagePlacement PlacementOnInput(const ToolState& state, const simhost::ImagePlacement& input,
                                         const simhost::SimWorld& frame) {
    long long downsample = 1;
    const auto given = state.extra.find("--downsample");
    if (given != state.extra.end() && !given->second.empty()) downsample = std::max(1LL, std::atoll(given->second.back().c_str()));
    // Rounded towards minus infinity: a window may lie left of or above the origin.
    const auto down = [&](int64_t v) { return v >= 0 ? v / downsample : -((-v + downsample - 1) / downsample); };
    const auto up = [&](int64_t v) { return -down(-v); };
    simhost::ImagePlacement placement;
    placement.originX = down(input.originX) + frame.world()->origin_x;
    placement.originY = down(input.originY) + frame.world()->origin_y;
    // As the host places the input layer at a reduced resolution: every partly covered pixel counts.
    placement.displayX = down(input.displayX);
    placement.displayY = down(input.displayY);
    placement.displayWidth = up(input.displayX + input.displayWidth) - placement.displayX;
    placement.displayHeight = up(input.displayY + input.displayHeight) - placement.displayY;
    return placement;
}

void CheckOutputFolder(const ToolState& state) {
    // Text alone is asked for: no frame is written, so where it would go does not matter.
    if (state.version || PrintsOnly(state)) return;
    const std::string& path = state.output;
    const OutputPath where = Split(path);
    Descriptor folder(::open(where.folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0 || ::faccessat(folder.get(), ".", W_OK | X_OK, AT_EACCESS) != 0)
        throw std::runtime_error(path + ": cannot create (" + std::strerror(errno) + ")");
    // A link at the name is replaced, wherever it points; only a folder itself is in the way.
    struct stat there {};
    if (::fstatat(folder.get(), where.name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(there.st_mode))
        throw std::runtime_error(path + ": cannot write (" + std::strerror(EISDIR) + ")");
}

int WriteOutputFile(const ToolState& state, const simhost::ImagePlacement& input, const simhost::SimWorld& frame) {
    const std::string& path = state.output;
    const OutputPath where = Split(path);

    // The file is made, linked and renamed through the open folder, so that only the file's own name must keep
    // to the file-name limit, and the folder is the same one from start to end. A folder the user may write
    // into but not read (a drop box) cannot be synced by itself; its whole file system is, instead.
    Descriptor folder(::open(where.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const bool folderReadable = folder.get() >= 0;
    if (!folderReadable && errno == EACCES) folder.reset(::open(where.folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) return Refuse(path + ": cannot create (" + std::strerror(errno) + ")");
    const long nameMax = ::fpathconf(folder.get(), _PC_NAME_MAX);
    const size_t longestName = nameMax > 0 ? std::min(size_t(nameMax), size_t(NAME_MAX)) : size_t(NAME_MAX);
    const auto freshName = [&] { return TemporaryName(where.name, where.folderLength, longestName, PATH_MAX); };

    // A file replaced keeps its permissions (an image kept private stays private); a new one gets the
    // umask's.
    struct stat older {};
    const bool replacing =
        ::fstatat(folder.get(), where.name.c_str(), &older, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(older.st_mode);
    const mode_t mode = replacing ? (older.st_mode & 0777) : 0666;

    // An unnamed file, where the file system makes one: nothing can be planted in its way, and whatever ends
    // the tool before it is linked, SIGKILL and a power loss included, leaves nothing behind. Elsewhere, a new
    // file under a name nobody can guess, made only where no file or link has that name, and removed on the
    // signals that would end the tool.
    EndingSignals signals(folder.get(), kEndNow);
    std::string named;  // the temporary file's name once it has one
    Descriptor file(::openat(folder.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
    if (file.get() < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
            const std::string name = freshName();
            signals.RemoveOnSignal(name);
            file.reset(::openat(folder.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
            if (file.get() >= 0) {
                named = name;
                break;
            }
            signals.EndNow();  // the name is someone else's
            if (errno != EEXIST) break;
        }
    }
    if (file.get() < 0) return Refuse(path + ": cannot create (" + std::strerror(errno) + ")");
    const auto fail = [&](const std::string& line) {
        signals.Defer();
        if (!named.empty()) ::unlinkat(folder.get(), named.c_str(), 0);
        return Refuse(line);
    };
    // The umask may have narrowed the mode of the file being replaced.
    if (replacing && ::fchmod(file.get(), mode) != 0)
        return fail(path + ": cannot write (" + std::strerror(errno) + ")");

    // The unnamed file is linked after it is closed, so that a failing close is seen before it has a name;
    // a second descriptor keeps it. The same one syncs a folder that cannot be opened for reading.
    Descriptor kept;
    try {
        // Named in errors as the file the user asked for, not the temporary one. Every byte is on the
        // storage when it returns.
        simhost::WriteImageInto(file.get(), path, frame, PlacementOnInput(state, input, frame));
        if (named.empty() || !folderReadable) {
            kept.reset(::fcntl(file.get(), F_DUPFD_CLOEXEC, 0));
            if (kept.get() < 0) throw std::runtime_error(path + ": write failed (" + std::strerror(errno) + ")");
        }
        if (!file.Close()) throw std::runtime_error(path + ": write failed (" + std::strerror(errno) + ")");
    } catch (const std::exception& e) {
        return fail(e.what());
    }

    // From here until its folder is synced, a signal waits: the file is either wholly in place or gone.
    signals.Defer();
    bool placed = false;
    if (named.empty()) {
        // A new output is linked straight under its name, and so never has another.
        if (!replacing && LinkUnnamed(kept.get(), folder.get(), where.name)) {
            placed = true;
        } else if (!replacing && errno != EEXIST) {
            return fail(path + ": cannot write (" + std::strerror(errno) + ")");
        } else {
            // Linking cannot replace a file: the unnamed one gets a fresh name beside it, then takes its place.
            for (int attempt = 0; attempt < kNameAttempts && named.empty(); ++attempt) {
                const std::string name = freshName();
                if (LinkUnnamed(kept.get(), folder.get(), name)) named = name;
                else if (errno != EEXIST) break;
            }
            if (named.empty()) return fail(path + ": cannot write (" + std::strerror(errno) + ")");
        }
    }
    if (!placed && ::renameat(folder.get(), named.c_str(), folder.get(), where.name.c_str()) != 0)
        return fail(path + ": cannot write (" + std::strerror(errno) + ")");
    named.clear();

    // The new name on the storage too, so that a file reported written is still there after a power loss.
    // A file system with nothing to sync for a folder says so with EINVAL, as it does for files.
    const bool synced =
        folderReadable ? ::fsync(folder.get()) == 0 || errno == EINVAL : ::syncfs(kept.get()) == 0;
    if (!synced)
        return Refuse(path + ": written, but its folder could not be synced (" + std::strerror(errno) +
                      "); it may not survive a power loss");
    Say("wrote " + path + " (" + std::to_string(frame.width()) + "x" + std::to_string(frame.height()) + ")");
    return 0;
}

}  // namespace velloran_tool
