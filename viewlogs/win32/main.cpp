// SPDX-License-Identifier: GPL-2.0-or-later
// ViewLogs.exe -- shows the file its command line names and follows it.
#include <windows.h>

#include "viewlogs/core/LogFollower.h"
#include "viewlogs/win32/ViewerWindow.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    // The whole rest of the command line is the path, blanks and all.
    return viewlogs::RunViewer(instance, viewlogs::PathFromCommandLine(GetCommandLineA()), show);
}
