// The few operating-system actions of the effect, one small function each. None goes through a shell.
#pragma once

#include <string>

// Opens a file, folder or web address with the desktop's default application (xdg-open on Linux, open on
// macOS); the path is handed over as one argument. Fire and forget: failures are not reported.
void OpenWithDefaultApplication(const std::string& path);

// The operating system's version text ("12" from /etc/os-release VERSION_ID on Linux, sw_vers on macOS);
// empty when it cannot be read.
std::string OperatingSystemVersion();
