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

// A folder text that begins with a drive letter gets its drive selected
// first, in either letter case.
void MakeCurrent(const std::string& folder) {
    if (folder.size() > 2 && folder[1] == ':') {
        char letter = folder[0];
        if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
        platform::SelectDrive(letter);
    }
    platform::SetCurrentDir(folder);
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

bool StartInstallScript(const std::string& scriptPath) {
    return platform::StartBatchFile(scriptPath);
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
    if (!platform::CanOpenForReading(path)) {
        LogText("    .... Tried to run " + path +
                    "  and it does not exist.  Located on your Install CD and put it here.",
                1);
        LogText(InstallFailed, 1);
        return false;
    }
    MakeCurrent(StartFolder + platform::PathSeparator + "DriverTools");
    const bool started = Starter() ? Starter()(path) : StartInstallScript(path);
    if (!started) {
        LogText("    .... Tried to run " + path + "  and it failed", 1);
        LogText(InstallFailed, 1);
        MakeCurrent(StartFolder);
        return false;
    }
    // The script runs on by itself; only a driver that is up already counts.
    const bool answers = ProbeDriver();
    if (!answers) LogText(InstallFailed, 1);
    MakeCurrent(StartFolder);
    return answers;
}
