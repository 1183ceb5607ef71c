// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin -- the program: the one window and the loop.
#include "app/shell/CommandLine.h"
#include "app/shell/ProgramLife.h"
#include "app/shell/RealShellServices.h"
#include "app/win32/TMainForm.h"
#include "app/win32/Win32MessageBoxes.h"
#include "log/wexerrorlog.h"

int main(int argc, char** argv) {
    // Answered before anything starts: no window, no log, no driver check.
    if (AnswerInfoRequest(argc, argv, "quorrin", WindowUsage("quorrin", false))) return 0;
    Win32MessageBoxSink boxes;
    SetMessageBoxSink(&boxes);
    RealShellServices services;
    TMainForm form(services);
    form.Show();
    form.RunMessageLoop();
    // The loop can also end without a close (the session ending): the log
    // still gets its end, the viewer and the timer still stop.
    if (!ProgramClosing) ShutDown(form.Model());
    SetMessageBoxSink(nullptr);
    return 0;
}
