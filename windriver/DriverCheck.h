// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin windriver -- the start-up check that the driver answers, with one
// attempt to install it through DriverTools/WindriverLoad.bat.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/Files.h"

bool CheckDriver();
bool InstallDriver();

// "WINDRIVER Version " + N / 100 + "." + N % 100.
std::string DriverVersionLine(uint32_t versionNumber);

// StartFolder + "/DriverTools/WindriverLoad.bat", by plain concatenation.
std::string InstallScriptPath(const std::string& startFolder);

// Starts the install script and does not wait for it, under the system's
// command interpreter, in `folder`. True once the interpreter has been
// executed.
bool StartInstallScript(const std::string& scriptPath, const platform::Folder& folder);

// Tests put their own start in place of StartInstallScript; an empty one
// restores it.
using InstallStarter = std::function<bool(const std::string& scriptPath, const platform::Folder& folder)>;
void SetInstallStarterForTesting(InstallStarter starter);
