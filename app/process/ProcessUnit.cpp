// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin app -- the log viewer's start and stop, the priority class of the
// program, and the 32-on-64-bit test.
#include "app/process/ProcessUnit.h"

#include "log/wexerrorlog.h"
#include "platform/Files.h"
#include "speaker/wexspeakerclass.h"

ProcessRecord ViewerProcess;

// Windows starts a program file only by its whole name, extension included.
#ifdef _WIN32
const char* const ViewerProgramFile = "ViewLogs.exe";
#else
const char* const ViewerProgramFile = "ViewLogs";
#endif

namespace {

const char* const ProgramNameForLog = "Quorrin";
// The log writes its file as "<name>.Log". The viewer is given that very
// name: "LOG" in capitals would name another, absent, file on a file system
// that tells letter cases apart.
const char* const LogExtension = "Log";

std::string& FallbackOverride() {
    static std::string folder;
    return folder;
}

}  // namespace

const std::string& ViewerFallbackFolder() {
    static const std::string built = ViewerFallbackBuiltIn;
    return FallbackOverride().empty() ? built : FallbackOverride();
}

void SetViewerFallbackFolderForTesting(const std::string& folder) { FallbackOverride() = folder; }

std::string DriverServiceProgram() { return ViewerFallbackFolder() + "quorrin-driverd"; }

void ShowLogViewer() {
    try {
        const std::string folder = StartFolder + platform::PathSeparator;
        KillProgram(ViewerProcess);
        const std::string commandLine = folder + ProgramNameForLog + "." + LogExtension;
        if (RunProgram(ViewerProgramFile, commandLine, true, ViewerProcess)) return;
        BeepError();
        LogInfo(std::string("Could Not Find ") + ViewerProgramFile +
                    ".  Looking in Debug Directory.  BUILD ERROR FOR INSTALL.",
                1, false);
        const std::string fallback = ViewerFallbackFolder() + ViewerProgramFile;
        if (RunProgram(fallback, commandLine, true, ViewerProcess)) return;
        BeepError();
        LogInfo("Could Not Find Debug  " + fallback + ".  Cannot View Log Files", 1, false);
    } catch (...) {
        // Out of memory for a path: no viewer, and nothing more to report.
    }
}

// A relative file resolves against the start folder, never PATH, and the
// program runs there: as if the start folder were the current directory,
// which is left as it is.
bool RunProgram(const std::string& programFile, const std::string& commandLine, bool idleStart,
                ProcessRecord& record) {
    return platform::StartProcess(programFile, commandLine, idleStart, record.Handle, StartFolderHandle());
}

void KillProgram(ProcessRecord& record) {
    if (record.Handle.Empty()) return;
    record.Handle.Terminate(1);
    record.Handle.Reset();
}

void SetProgramPriority(bool high, bool realtime) {
    platform::PriorityClass wanted = platform::PriorityClass::Normal;
    const char* name = "NORMAL";
    if (high) {
        wanted = platform::PriorityClass::High;
        name = "HIGH";
    } else if (realtime) {
        wanted = platform::PriorityClass::Realtime;
        name = "REALTIME";
    }
    if (platform::SetProcessPriority(wanted))
        LogText(std::string("SETTING PRIORITY OF APPLICATION TO ") + name, 0);
    else
        LogText(std::string("COULD NOT SET PRIORITY OF APPLICATION TO ") + name, 1);
}

bool IsWow64() { return platform::IsWow64Process(); }
