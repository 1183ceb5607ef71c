// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin app -- the shell's calls into the real subsystems.
#pragma once

#include "app/shell/MainWindowModel.h"

class RealShellServices : public ShellServices {
public:
    bool AlreadyRunning() override;
    void StartUp(MainWindowModel& form) override;
    void ShutDown(MainWindowModel& form) override;
    void EndSecondCopy() override;
    void CheckDriver() override;
    void ScanBus(unsigned capacity) override;
    std::string FormatReport() override;
    void LogReport() override;
    void BeepDone() override;
    void ShowLogViewer() override;
    SniffFindings Findings() override;
    bool SaveBus(const std::string& path, std::string& error) override;
    bool ReadClock(double& reading) override;
};
