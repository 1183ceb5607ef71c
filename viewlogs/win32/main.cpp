// SPDX-License-Identifier: GPL-2.0-or-later
// ViewLogs.exe -- shows the file its command line names and follows it.
#include <windows.h>

#include <string>

#include "platform/Console.h"
#include "viewlogs/core/LogFollower.h"
#include "viewlogs/win32/ViewerWindow.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    // The whole rest of the command line is the path, blanks and all.
    const std::string path = viewlogs::PathFromCommandLine(GetCommandLineA());
    if (const std::string answer = viewlogs::InfoAnswer(path); !answer.empty()) {
        platform::WriteInfoText(answer);
        return 0;
    }
    return viewlogs::RunViewer(instance, path, show);
}
