// Running the built velloran-render in a folder and reading what it said, for the tests of the tool as users
// meet it.
#pragma once

#include <sys/wait.h>
#include <sys/inotify.h>
#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/TempHome.h"

#ifndef VELLORAN_RENDER_TOOL
#error "the build gives the tool's path"
#endif

namespace tooltest {

// A folder to work in, with the effect's log kept out of it.
struct Workspace {
    testsupport::ScopedHome home;
    testsupport::TempDir scratch;
    std::string folder = scratch.path() + "/work";
    Workspace() { std::filesystem::create_directory(folder); }
};

struct ToolRun {
    int exitCode = -1;
    std::string stdoutText;
    std::vector<std::string> errorLines;  // stderr lines that are not progress, result or warning lines
    std::string stderrText;
};

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

inline bool IsInformation(const std::string& line) {
    for (const char* prefix : {"velloran-render: output rectangle ", "velloran-render: renderer ",
                               "velloran-render: wrote ", "velloran-render: warning: "})
        if (line.rfind(prefix, 0) == 0) return true;
    return false;
}

// Runs the tool in `folder` with the arguments (none holding a quote), and with the `environment` given as
// NAME=VALUE words. What it prints is caught in a folder of the run's own, removed afterwards, so that parallel
// runs never share a file.
inline ToolRun RunTool(const std::string& folder, const std::string& arguments, const std::string& environment = "") {
    testsupport::TempDir capture;
    const std::string out = capture.path() + "/stdout.txt", err = capture.path() + "/stderr.txt";
    const std::string command = "cd '" + folder + "' && " + (environment.empty() ? "" : "env " + environment + " ") +
                                "'" VELLORAN_RENDER_TOOL "' " + arguments + " >'" + out + "' 2>'" + err + "'";
    const int status = std::system(command.c_str());
    ToolRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    run.stderrText = testsupport::ReadFile(err);
    run.stdoutText = testsupport::ReadFile(out);
    for (const std::string& line : Lines(run.stderrText))
        if (!IsInformation(line)) run.errorLines.push_back(line);
    return run;
}

// Every entry under the folder, relative to it.
inline std::set<std::string> Listing(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        names.insert(std::filesystem::relative(entry.path(), folder).string());
    return names;
}

// Signals `child` as soon as a file other than `output` in the folder that `watch` (from
// inotify_init1(IN_NONBLOCK), watching IN_MODIFY) watches is written to: the image going into its unnamed
// temporary file ("#" and its number), or into a named one where the file system has no unnamed files. Closes
// the watch, and returns the name of the file written to, empty when there was none; a child that wrote no
// such file within two minutes is killed.
inline std::string SignalWhenTemporaryIsWritten(int watch, pid_t child, int sig, const std::string& output) {
    std::string written;
    alignas(struct inotify_event) char events[4096];
    for (int waited = 0; written.empty() && waited < 120000; ++waited) {
        pollfd p{watch, POLLIN, 0};
        if (::poll(&p, 1, 1) <= 0) continue;
        const ssize_t n = ::read(watch, events, sizeof events);
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const struct inotify_event*>(events + at);
            if (written.empty() && (e->mask & IN_MODIFY) && e->len && std::string(e->name) != output) {
                ::kill(child, sig);
                written = e->name;
            }
            at += ssize_t(sizeof(struct inotify_event) + e->len);
        }
    }
    ::close(watch);
    if (written.empty()) ::kill(child, SIGKILL);
    return written;
}

// In a child about to run the tool: every signal at its default action and none blocked, whatever this
// process inherited (nohup, a shell's background job, a trap).
inline void DefaultSignals() {
    for (int sig = 1; sig < NSIG; ++sig)
        if (sig != SIGKILL && sig != SIGSTOP) ::signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

}  // namespace tooltest
