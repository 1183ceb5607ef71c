// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin app -- the ordered start-up and shutdown, and the terminate handler.
#include "app/shell/ProgramLife.h"

#include <atomic>
#include <cstdlib>
#include <exception>

#include "app/process/ProcessUnit.h"
#include "app/shell/MainWindowModel.h"
#include "app/shell/RecordedBus.h"
#include "log/wexerrorlog.h"
#include "pcinfo/PcInfoUnit.h"
#include "platform/Clock.h"
#include "platform/Files.h"

void StartUp(MainWindowModel& form) {
    const char subFolder[] = {platform::PathSeparator, '\0'};
    StartErrorLog(false, ProgramVersion, ProgramName, subFolder);
    LogBusReplay();
    WritePcInfo();
    std::set_terminate(AbnormalTermination);
    MultTimer = std::make_unique<bormulttimerclass>(false);
    form.ReadClock(CurrentTime);
    form.LastTitleTime = CurrentTime;
    SetProgramPriority(true, false);
    form.UpdateTitle();
}

void ShutDown(MainWindowModel& form) {
    (void)form;
    ProgramClosing = true;
    platform::SleepMs(50);
    KillProgram(ViewerProcess);
    MultTimer.reset();
    EndErrorLog(false);
    StopBusReplay();
}

void ShutDownAtExit() {
    if (MainForm != nullptr && !ProgramClosing) ShutDown(*MainForm);
}

void AbnormalTermination() {
    // A fault inside this handler must not bring us back here for ever.
    static std::atomic<bool> entered{false};
    if (entered.exchange(true)) std::_Exit(AbnormalExitStatus);
    try {
        LogError("Abnormal Program Termination", 5000, false);
        if (MainForm != nullptr) ShutDown(*MainForm);
    } catch (...) {
    }
    std::_Exit(AbnormalExitStatus);
}
