// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin app -- saving the sniffed bus and replaying a recorded one.
#include "app/shell/RecordedBus.h"

#include <memory>

#include "app/process/ProcessUnit.h"
#include "log/wexerrorlog.h"
#include "sniffer/BusFile.h"
#include "sniffer/SnifferUnit.h"
#include "windriver/ReplayService.h"
#include "windriver/WinDriverRequests.h"

namespace {

std::unique_ptr<ReplayService>& Replay() {
    static std::unique_ptr<ReplayService> replay;
    return replay;
}

}  // namespace

bool StartBusReplay(const std::string& busFile, std::string& error) {
    auto replay = std::make_unique<ReplayService>();
    if (!replay->Start(DriverServiceProgram(), busFile, error)) return false;
    SetDriverDevice(replay->Socket());
    Replay() = std::move(replay);
    return true;
}

bool BusReplayActive() { return Replay() != nullptr; }

void LogBusReplay() {
    if (!Replay()) return;
    LogInfo("REPLAYING THE RECORDED BUS " + Replay()->BusFile() + " (the PC information is this machine's)", 0,
            false);
    for (const std::string& note : Replay()->Notes()) LogInfo(note, 0, false);
}

void StopBusReplay() { Replay().reset(); }

bool SaveSniffedBus(const std::string& path, std::string& error) {
    if (!SaveBusFile(path, PciDeviceTable, PciCaptures, error)) {
        LogInfo("Could not save the sniffed bus: " + error, 1, false);
        return false;
    }
    LogInfo("Saved the sniffed bus in " + path, 0, false);
    return true;
}
