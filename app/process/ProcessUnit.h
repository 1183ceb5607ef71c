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
