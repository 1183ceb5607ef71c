// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin windriver -- the driver presence check and the single install
// attempt; everything it finds goes into the log with code 1.
#include "windriver/DriverCheck.h"

#include "log/wexerrorlog.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "windriver/WinDriverRequests.h"

namespace {

const char* const Separator = ">>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>";
const char* const NotLoaded = "HARDWARE DRIVER NOT LOADED.  CANNOT NOT TALK TO HARDWARE!!!!!!!!!!!!!!";
const char* const Attempting = "Attempting to install HARDWARE DRIVER..........";
const char* const InstallFailed =
    "ATTEMPT TO INSTALL HARDWARE DRIVER FAILED.  CANNOT NOT TALK TO HARDWARE!!!!!!!!!!!!!!";

InstallStarter& Starter() {
    static InstallStarter starter;
    return starter;
}

}  // namespace

std::string DriverVersionLine(uint32_t versionNumber) {
    return "WINDRIVER Version " + std::to_string(versionNumber / 100) + "." +
           std::to_string(versionNumber % 100);
}

std::string InstallScriptPath(const std::string& startFolder) {
    return startFolder + platform::PathSeparator + "DriverTools" + platform::PathSeparator +
           "WindriverLoad.bat";
}

bool StartInstallScript(const std::string& scriptPath, const platform::Folder& folder) {
    return platform::StartBatchFile(scriptPath, folder);
}

void SetInstallStarterForTesting(InstallStarter starter) { Starter() = std::move(starter); }

bool CheckDriver() {
    try {
        if (!ProbeDriver()) {
            LogText(NotLoaded, 1);
            if (!InstallDriver()) return false;
        }
        LogText(Separator, 1);
        VersionRecord version{};
        GetDriverVersion(&version);
        LogText(DriverVersionLine(version.Version), 1);
        LogText(Separator, 1);
        return true;
    } catch (...) {
        // Out of memory for a message: the check reports the driver absent.
        return false;
    }
}

bool InstallDriver() {
    LogText(Attempting, 1);
    const std::string path = InstallScriptPath(StartFolder);
    // Reached through the start folder held open, and started in its
    // DriverTools folder: the program's own current directory is not
    // changed, which every thread shares.
    const platform::Folder& start = StartFolderHandle();
    const std::string tools = "DriverTools";
    if (!platform::CanOpenForReading(start, tools + platform::PathSeparator + "WindriverLoad.bat")) {
        LogText("    .... Tried to run " + path +
                    "  and it does not exist.  Located on your Install CD and put it here.",
                1);
        LogText(InstallFailed, 1);
        return false;
    }
    const platform::Folder folder = start.Sub(tools);
    const bool started = folder.IsOpen() && (Starter() ? Starter()(path, folder) : StartInstallScript(path, folder));
    if (!started) {
        LogText("    .... Tried to run " + path + "  and it failed", 1);
        LogText(InstallFailed, 1);
        return false;
    }
    // The script runs on by itself; only a driver that is up already counts.
    const bool answers = ProbeDriver();
    if (!answers) LogText(InstallFailed, 1);
    return answers;
}
