#include "host/Platform.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <vector>

extern char** environ;

namespace {

// Starts argv[0] found on PATH with the given arguments, no shell between, and waits for it, so no zombie is
// left behind; the opener hands the file to the desktop and returns. Its input is /dev/null, so that a
// console fallback cannot sit waiting on the host's terminal.
void RunDetached(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return;
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

void OpenWithDefaultApplication(const std::string& path) {
#ifdef __APPLE__
    RunDetached({"open", path});
#else
    RunDetached({"xdg-open", path});
#endif
}

std::string OperatingSystemVersion() {
#ifdef __APPLE__
    // sw_vers -productVersion, read through a pipe without a shell.
    int fds[2];
    if (pipe(fds) != 0) return "";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    char arg0[] = "sw_vers", arg1[] = "-productVersion";
    char* argv[] = {arg0, arg1, nullptr};
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, "sw_vers", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string out;
    if (rc == 0) {
        char buf[128];
        ssize_t n;
        while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, size_t(n));
        int status = 0;
        waitpid(pid, &status, 0);
    }
    close(fds[0]);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
#else
    std::ifstream release("/etc/os-release");
    std::string line;
    while (std::getline(release, line)) {
        if (line.rfind("VERSION_ID=", 0) != 0) continue;
        std::string value = line.substr(11);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return value;
    }
    return "";
#endif
}
