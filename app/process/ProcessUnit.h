// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin app -- starting and stopping the log viewer, the program's priority
// class, and whether it runs as 32-bit code on a 64-bit system.
#pragma once

#include <string>

#include "platform/Process.h"

struct ProcessRecord {
    platform::ProcessHandle Handle;  // empty when none
};

extern ProcessRecord ViewerProcess;

void ShowLogViewer();
bool RunProgram(const std::string& programFile, const std::string& commandLine, bool idleStart,
                ProcessRecord& record);
void KillProgram(ProcessRecord& record);
void SetProgramPriority(bool high, bool realtime);
bool IsWow64();

// The viewer's file name on this platform: "ViewLogs.exe" on Windows,
// "ViewLogs" here.
extern const char* const ViewerProgramFile;

// The folder, ending in a separator, searched for the viewer when the start
// folder has none, fixed at build time (FallbackFolder.cpp): the build's bin
// folder for the programs of the build tree, the installed folder for the
// installed ones. A test may set another (an empty text restores it).
extern const char* const ViewerFallbackBuiltIn;
const std::string& ViewerFallbackFolder();
// The stand-in driver service a recorded bus is replayed through: in the same
// folder as the viewer (the installed libexec folder, or the build's bin).
std::string DriverServiceProgram();
void SetViewerFallbackFolderForTesting(const std::string& folder);
