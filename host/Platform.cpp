#include "host/Platform.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <vector>

extern char** environ;

namespace {

// Starts argv[0] found on PATH with the given arguments and waits for it, so no zombie is left behind.
// The opener itself returns at once on every desktop.
void RunDetached(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return;
    int status = 0;
    waitpid(pid, &status, 0);
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
