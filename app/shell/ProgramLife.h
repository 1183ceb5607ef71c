// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin app -- the program's life: its name and version, the single-instance
// guard, the ordered start-up and shutdown, and the terminate handler.
#pragma once

#include <memory>
#include <string>

#include "timing/MultTimerUnit.h"

class MainWindowModel;

inline constexpr char ProgramName[] = "Quorrin";
inline constexpr char ProgramVersion[] = "1.2";

// The status a second copy and an abnormal termination end with.
inline constexpr int AbnormalExitStatus = 3;

// The one main window; set from the start of its construction.
extern MainWindowModel* MainForm;
// The window's clock source: from StartUp to ShutDown, otherwise none.
extern std::unique_ptr<bormulttimerclass> MultTimer;
// The latest clock reading, shown in the caption.
extern double CurrentTime;

// True when another copy of this user's (the window or quorrin-sniff) holds
// "Protect_" + ProgramName. The claim is kept for the rest of the process's
// life.
bool AlreadyRunning();
// The same guard under another name, so tests do not meet a running program.
bool AlreadyRunning(const std::string& guardName);

void StartUp(MainWindowModel& form);
// Safe to run more than once: every step checks and clears what it releases.
void ShutDown(MainWindowModel& form);
// For std::atexit: a toolkit that ends the process through exit() (Qt when
// its X connection is lost) still leaves the log its end and stops the
// viewer. Does nothing once ShutDown has run or without a window.
void ShutDownAtExit();
// The terminate handler: logs, shuts down, ends the process with status 3.
[[noreturn]] void AbnormalTermination();
