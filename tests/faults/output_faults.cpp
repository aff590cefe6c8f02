// Preloaded into a test's child process: makes one step of writing the tool's output file fail, as a full disk,
// a failing disk or a network file system would, so that each of the writer's failure paths can be reached.
// The environment chooses:
//   VELLORAN_NO_UNNAMED_FILES=1   opening an unnamed file (O_TMPFILE) fails with EOPNOTSUPP, as on a file
//                                 system without them
//   VELLORAN_OUTPUT_FAULT=        last-byte:N   a write into the output that reaches its Nth byte: ENOSPC
//                                 fsync         syncing the output file: EIO
//                                 close         closing the output file (it is closed all the same): EIO
//                                 link          giving a file a name (linkat): EIO
//                                 rename        renaming a file: EIO
//                                 folder-sync   syncing a folder: EIO
//                                 fs-sync       syncing a whole file system (syncfs): EIO
//   VELLORAN_UNREADABLE_FOLDER=P  opening the folder P for reading fails with EACCES, as for a folder the
//                                 user may write into but not list
// The output file is the one opened unnamed or under a name holding ".partial-"; nothing else is touched.
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

template <typename F>
F Real(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

std::atomic<int> gOutput{-1};

bool Fault(const char* which) {
    const char* chosen = std::getenv("VELLORAN_OUTPUT_FAULT");
    return chosen && std::strncmp(chosen, which, std::strlen(which)) == 0;
}

// The byte whose write fails under last-byte:N, or -1.
long long LastByte() {
    const char* chosen = std::getenv("VELLORAN_OUTPUT_FAULT");
    if (!chosen || std::strncmp(chosen, "last-byte:", 10) != 0) return -1;
    return std::atoll(chosen + 10);
}

bool Unnamed(int flags) { return (flags & O_TMPFILE) == O_TMPFILE; }

int Failed(int error) {
    errno = error;
    return -1;
}

using OpenAt = int (*)(int, const char*, int, ...);

int OpenAtThrough(const char* realName, int dirfd, const char* path, int flags, mode_t mode) {
    if (Unnamed(flags) && std::getenv("VELLORAN_NO_UNNAMED_FILES")) return Failed(EOPNOTSUPP);
    const int fd = Real<OpenAt>(realName)(dirfd, path, flags, mode);
    if (fd >= 0 && (Unnamed(flags) || ((flags & O_CREAT) && std::strstr(path, ".partial-")))) gOutput = fd;
    return fd;
}

mode_t ModeArgument(int flags, va_list args) {
    return (flags & O_CREAT) || Unnamed(flags) ? mode_t(va_arg(args, int)) : 0;
}

ssize_t PwriteThrough(const char* realName, int fd, const void* bytes, size_t count, off_t offset) {
    using Pwrite = ssize_t (*)(int, const void*, size_t, off_t);
    const long long last = LastByte();
    if (fd == gOutput && last > 0 && offset + (long long)count >= last) {
        errno = ENOSPC;
        return -1;
    }
    return Real<Pwrite>(realName)(fd, bytes, count, offset);
}

bool IsFolder(int fd) {
    struct stat s {};
    return fstat(fd, &s) == 0 && S_ISDIR(s.st_mode);
}

}  // namespace

#define VISIBLE extern "C" __attribute__((visibility("default")))

VISIBLE int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArgument(flags, args);
    va_end(args);
    const char* unreadable = std::getenv("VELLORAN_UNREADABLE_FOLDER");
    if (unreadable && std::strcmp(path, unreadable) == 0 && (flags & O_DIRECTORY) && !(flags & O_PATH))
        return Failed(EACCES);
    return Real<int (*)(const char*, int, ...)>("open")(path, flags, mode);
}

VISIBLE int openat(int dirfd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArgument(flags, args);
    va_end(args);
    return OpenAtThrough("openat", dirfd, path, flags, mode);
}

VISIBLE int openat64(int dirfd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArgument(flags, args);
    va_end(args);
    return OpenAtThrough("openat64", dirfd, path, flags, mode);
}

VISIBLE ssize_t pwrite(int fd, const void* bytes, size_t count, off_t offset) {
    return PwriteThrough("pwrite", fd, bytes, count, offset);
}

VISIBLE ssize_t pwrite64(int fd, const void* bytes, size_t count, off_t offset) {
    return PwriteThrough("pwrite64", fd, bytes, count, offset);
}

VISIBLE int fsync(int fd) {
    if (fd == gOutput && Fault("fsync")) return Failed(EIO);
    if (Fault("folder-sync") && IsFolder(fd)) return Failed(EIO);
    return Real<int (*)(int)>("fsync")(fd);
}

VISIBLE int syncfs(int fd) {
    if (Fault("fs-sync")) return Failed(EIO);
    return Real<int (*)(int)>("syncfs")(fd);
}

VISIBLE int close(int fd) {
    int expected = fd;
    const bool output = fd >= 0 && gOutput.compare_exchange_strong(expected, -1);
    const int result = Real<int (*)(int)>("close")(fd);
    if (output && result == 0 && Fault("close")) return Failed(EIO);
    return result;
}

VISIBLE int linkat(int olddirfd, const char* oldpath, int newdirfd, const char* newpath, int flags) {
    if (Fault("link")) return Failed(EIO);
    return Real<int (*)(int, const char*, int, const char*, int)>("linkat")(olddirfd, oldpath, newdirfd, newpath, flags);
}

VISIBLE int renameat(int olddirfd, const char* oldpath, int newdirfd, const char* newpath) {
    if (Fault("rename")) return Failed(EIO);
    return Real<int (*)(int, const char*, int, const char*)>("renameat")(olddirfd, oldpath, newdirfd, newpath);
}
