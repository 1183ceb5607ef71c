// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin app -- the process-wide state of the shell.
#include "app/shell/ProgramLife.h"

MainWindowModel* MainForm = nullptr;
std::unique_ptr<bormulttimerclass> MultTimer;
double CurrentTime = 0.0;
