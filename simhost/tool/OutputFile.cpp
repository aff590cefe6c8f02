#include "simhost/tool/OutputFile.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "simhost/ImageIO.h"
#include "simhost/tool/Options.h"

namespace velloran_tool {

namespace {

// While the frame is written, SIGINT or SIGTERM removes the temporary file and then ends the tool as the
// signal would have. The name is copied into a fixed buffer: a handler may not allocate.
char gTemporary[PATH_MAX + 1];
volatile std::sig_atomic_t gHaveTemporary = 0;

extern "C" void RemoveTemporaryAndEnd(int sig) {
    if (gHaveTemporary) ::unlink(gTemporary);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

class RemovedOnSignal {
public:
    explicit RemovedOnSignal(const std::string& path) {
        if (path.size() > PATH_MAX) return;  // too long to create anyway
        std::memcpy(gTemporary, path.c_str(), path.size() + 1);
        gHaveTemporary = 1;
        struct sigaction action {};
        action.sa_handler = RemoveTemporaryAndEnd;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &oldInt_);
        ::sigaction(SIGTERM, &action, &oldTerm_);
    }
    ~RemovedOnSignal() {
        ::sigaction(SIGINT, &oldInt_, nullptr);
        ::sigaction(SIGTERM, &oldTerm_, nullptr);
        gHaveTemporary = 0;
    }
    RemovedOnSignal(const RemovedOnSignal&) = delete;
    RemovedOnSignal& operator=(const RemovedOnSignal&) = delete;

private:
    struct sigaction oldInt_ {}, oldTerm_ {};
};

}  // namespace

int WriteOutputFile(const std::string& path, const simhost::SimWorld& frame) {
    const std::string temporary = TemporaryNameBeside(path);
    RemovedOnSignal guard(temporary);
    try {
        simhost::WriteImage(temporary, frame);
    } catch (const std::exception& e) {
        std::remove(temporary.c_str());
        // The message names the file the user asked for, not the temporary one.
        std::string why = e.what();
        for (size_t at = why.find(temporary); at != std::string::npos; at = why.find(temporary, at + path.size()))
            why.replace(at, temporary.size(), path);
        std::fprintf(stderr, "velloran-render: %s\n", why.c_str());
        return 1;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        std::remove(temporary.c_str());
        std::fprintf(stderr, "velloran-render: %s: cannot write (%s)\n", path.c_str(), std::strerror(error));
        return 1;
    }
    std::fprintf(stderr, "velloran-render: wrote %s (%dx%d)\n", path.c_str(), int(frame.width()), int(frame.height()));
    return 0;
}

}  // namespace velloran_tool
