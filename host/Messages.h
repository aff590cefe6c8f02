// User messages through the host's return message, and the effect's error log file.
#pragma once

#include <string>

#include "sdk/AE_Effect.h"

// The effect's version, shown in the About text, user messages and log lines.
constexpr int kVersionMajor = 1;
constexpr int kVersionMinor = 0;
constexpr int kVersionRevision = 2;
// "1.0.2"
std::string VersionText();

// "Velloran 2 1.0.2: <text>\nCheck About & Support -> Open Error Log" into return_msg (at most 255 characters)
// with PF_OutFlag_DISPLAY_ERROR_MESSAGE, when display is on.
void SendMessage(std::string text, PF_OutData* out_data, bool display);
// Appends " err <err> err2 <err2>"; a plain user interrupt (517 with err2 0) shows nothing.
void SendMessageAppendErr(std::string text, PF_OutData* out_data, int err, int err2, bool display);

// The log folder ($HOME/Library/Logs/Quenholt), or the log file in it with withFile; creates the folder.
// Without HOME: "HOME environment variable not set".
std::string GetLogPath(PF_InData* in_data, bool withFile);
// Appends one time-stamped line; "" on success, else the reason the log could not be opened.
std::string LogError(const std::string& message, PF_InData* in_data);

bool fileExists(const std::string& path);
bool isFileAccessible(const std::string& path);
// Opens the file (or folder, or address) with the operating system's default application.
void OpenFileWithDefaultEditor(const std::string& path);
