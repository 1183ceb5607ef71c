// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin app -- the shell's calls into the real subsystems.
#include "app/shell/RealShellServices.h"

#include <cstdlib>

#include "app/process/ProcessUnit.h"
#include "app/shell/ProgramLife.h"
#include "findings/Findings.h"
#include "app/shell/RecordedBus.h"
#include "sniffer/SnifferUnit.h"
#include "speaker/wexspeakerclass.h"
#include "windriver/DriverCheck.h"

bool RealShellServices::AlreadyRunning() { return ::AlreadyRunning(); }
void RealShellServices::StartUp(MainWindowModel& form) { ::StartUp(form); }
void RealShellServices::ShutDown(MainWindowModel& form) { ::ShutDown(form); }
// Nothing has been opened yet: no log, no timer, no hardware.
void RealShellServices::EndSecondCopy() { std::_Exit(AbnormalExitStatus); }
void RealShellServices::CheckDriver() { (void)::CheckDriver(); }
void RealShellServices::ScanBus(unsigned capacity) { GetPciCardInfo(capacity, PciDeviceTable); }
std::string RealShellServices::FormatReport() { return FormatSniffReport(PciDeviceTable); }
void RealShellServices::LogReport() { LogSniffReport(PciDeviceTable); }
void RealShellServices::BeepDone() { ::BeepDone(); }
void RealShellServices::ShowLogViewer() { ::ShowLogViewer(); }
bool RealShellServices::SaveBus(const std::string& path, std::string& error) { return SaveSniffedBus(path, error); }

SniffFindings RealShellServices::Findings() {
    const auto all = findings::FindingsOfTable(PciDeviceTable, &PciCaptures);
    const findings::Tally tally = findings::TallyOf(all);
    return {tally.Errors, tally.Warnings, tally.Notes, findings::FindingLines(all)};
}

bool RealShellServices::ReadClock(double& reading) {
    if (!MultTimer) return false;
    reading = MultTimer->GetTime();
    return true;
}
