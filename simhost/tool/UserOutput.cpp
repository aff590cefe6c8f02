#include "simhost/tool/UserOutput.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "simhost/tool/Progress.h"

namespace velloran_tool {

namespace {

std::FILE* gUser = nullptr;

bool IsOpen(int fd) { return ::fcntl(fd, F_GETFD) >= 0; }

void NullOnto(int fd) {
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0 && null != fd) {
        ::dup2(null, fd);
        ::close(null);
    }
}

int gFirstError = 0;  // why the first write that failed failed: the stream itself keeps only that one did

// Writes to the saved descriptor (or, for a closed standard output, fails as a closed descriptor does, so that
// asking for text then is an error rather than silence).
ssize_t WriteUser(void* cookie, const char* data, size_t size) {
    const int fd = int(reinterpret_cast<intptr_t>(cookie));
    size_t done = 0;
    while (done < size) {
        const ssize_t n = fd < 0 ? (errno = EBADF, -1) : ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (!gFirstError) gFirstError = n < 0 ? errno : EIO;
            return done > 0 ? ssize_t(done) : -1;
        }
        done += size_t(n);
    }
    return ssize_t(done);
}

int CloseUser(void* cookie) {
    const int fd = int(reinterpret_cast<intptr_t>(cookie));
    if (fd < 0 || ::close(fd) == 0) return 0;
    if (!gFirstError) gFirstError = errno;
    return -1;
}

}  // namespace

void SeparateUserOutput() {
    // A closed stderr would be taken by the next file opened (the output, the effect's log), and every
    // message would land in it.
    if (!IsOpen(STDERR_FILENO)) NullOnto(STDERR_FILENO);
    // Not inherited by anything the effect starts (a page opened with xdg-open).
    const int saved = IsOpen(STDOUT_FILENO) ? ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3) : -1;
    if (IsOpen(STDOUT_FILENO) && saved < 0) return;  // no descriptor to spare: stdout stays shared
    gUser = ::fopencookie(reinterpret_cast<void*>(intptr_t(saved)), "w",
                          cookie_io_functions_t{nullptr, WriteUser, nullptr, CloseUser});
    if (!gUser && saved >= 0) ::close(saved);
    if (!gUser) return;  // standard output stays the user's, shared with the effect
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    // Line by line, so that the effect's messages keep their place among the tool's wherever stderr leads.
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
}

std::FILE* UserOutput() { return gUser ? gUser : stdout; }

bool FinishUserOutput() {
    std::fflush(stdout);
    std::FILE* user = UserOutput();
    bool written = std::fflush(user) == 0 && !std::ferror(user);
    if (gUser) {
        written = std::fclose(gUser) == 0 && written;
        gUser = nullptr;
    }
    if (!written)
        Say(std::string("cannot write to standard output (") + std::strerror(gFirstError ? gFirstError : EIO) + ")");
    return written;
}

}  // namespace velloran_tool
