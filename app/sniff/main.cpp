// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin sniff front end -- quorrin-sniff: one sniff of the PCI bus with the
// program's start and end around it, for machines without a display.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/shell/MainWindowModel.h"
#include "app/shell/ProgramLife.h"
#include "app/shell/RecordedBus.h"
#include "sniffer/DeviceTableJson.h"
#include "log/wexerrorlog.h"
#include "pcinfo/PcInfoUnit.h"
#include "platform/EndRequests.h"
#include "platform/Files.h"
#include "sniffer/SnifferUnit.h"
#include "speaker/wexspeakerclass.h"
#include "windriver/DriverCheck.h"
#include "windriver/WinDriverRequests.h"

namespace {

constexpr int ExitDriverReached = 0;
constexpr int ExitUsage = 1;
constexpr int ExitNoDriver = 2;
constexpr int ExitAlreadyRunning = AbnormalExitStatus;

std::string Usage() {
    return std::string("usage: quorrin-sniff [--device PATH | --bus FILE] [--save-bus FILE] [--json] [--beep]\n"
                       "  Sniffs the PCI bus once through the driver, prints the report\n"
                       "  and writes Quorrin.Log in the current folder.\n"
                       "  --device PATH    the driver device to use instead of ") +
           DefaultDriverDevice +
           "\n"
           "  --bus FILE       sniff a recorded bus instead of this machine's: a bus file,\n"
           "                   a saved sniff (--save-bus) or the text of lspci -vv -xxx,\n"
           "                   served by a private quorrin-driverd for this run\n"
           "  --save-bus FILE  save the sniffed bus as a bus file that --bus replays\n"
           "  --json           print the device table as JSON instead of the report\n"
           "  --beep           sound the window's Done pattern at the end\n"
           "  --help           this text\n"
           "Exit status: 0 driver reached, 2 driver not reached, 1 usage error or a\n"
           "bus that cannot be replayed or saved, 3 another copy of Quorrin is running\n"
           "(its log is left alone).\n";
}

void Write(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

// The first request from outside to end (SIGTERM, SIGHUP, Ctrl+C), taken
// between the steps: the steps still to come are left out, the log ends.
int endRequest = 0;
bool GoOn() {
    if (endRequest == 0) endRequest = platform::TakeEndRequest();
    return endRequest == 0;
}
[[noreturn]] void EndAsAsked() {
    EndErrorLog(false);
    StopBusReplay();
    platform::EndAsRequested(endRequest);
}

}  // namespace

int main(int argc, char** argv) {
    // First, before anything could start a thread.
    platform::CatchEndRequests();
    bool json = false;
    bool beep = false;
    bool device = false;
    std::string busFile, saveBus;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(Usage().c_str(), stdout);
            return ExitDriverReached;
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--beep") {
            beep = true;
        } else if (arg == "--device" && i + 1 < argc && argv[i + 1][0] != '\0') {
            SetDriverDevice(argv[++i]);
            device = true;
        } else if (arg == "--bus" && i + 1 < argc && argv[i + 1][0] != '\0') {
            busFile = argv[++i];
        } else if (arg == "--save-bus" && i + 1 < argc && argv[i + 1][0] != '\0') {
            saveBus = argv[++i];
        } else {
            const bool needsValue = arg == "--device" || arg == "--bus" || arg == "--save-bus";
            std::fprintf(stderr, "quorrin-sniff: %s: %s\n%s", needsValue ? "needs a value" : "unknown argument",
                         arg.c_str(), Usage().c_str());
            return ExitUsage;
        }
    }

    if (device && !busFile.empty()) {
        std::fprintf(stderr, "quorrin-sniff: --device and --bus name two drivers\n%s", Usage().c_str());
        return ExitUsage;
    }

    // As a second window would: the running copy keeps its log, and while
    // this one runs no window starts beside it.
    if (AlreadyRunning()) {
        std::fprintf(stderr, "%s\n", AlreadyRunningText);
        return ExitAlreadyRunning;
    }

    std::string error;
    if (!busFile.empty() && !StartBusReplay(busFile, error)) {
        std::fprintf(stderr, "quorrin-sniff: %s\n", error.c_str());
        return ExitUsage;
    }
    const char subFolder[] = {platform::PathSeparator, '\0'};
    StartErrorLog(false, ProgramVersion, ProgramName, subFolder);
    LogBusReplay();
    WritePcInfo();
    if (GoOn()) CheckDriver();
    if (!GoOn()) EndAsAsked();

    GetPciCardInfo(PciTableCapacity, PciDeviceTable);
    // OpenDriver leaves code 1 when it got no handle, and so does a scan that
    // lost the driver on the way; each card's check result is taken, so a
    // scan that had the driver throughout ends at 0.
    const bool reached = LastErrorCode != 1;
    if (json) {
        Write(DeviceTableJson(PciDeviceTable) + "\n");
    } else {
        Write(FormatSniffReport(PciDeviceTable) + "\r\n");
    }
    std::fflush(stdout);
    LogSniffReport(PciDeviceTable);
    const bool saved = saveBus.empty() || SaveSniffedBus(saveBus, error);
    if (!saved) std::fprintf(stderr, "quorrin-sniff: could not save the bus: %s\n", error.c_str());
    // The Done pattern is the window's; here it would cost 0.4 s for nothing.
    if (beep && GoOn()) BeepDone();
    if (!GoOn()) EndAsAsked();
    EndErrorLog(false);
    StopBusReplay();
    return !reached ? ExitNoDriver : saved ? ExitDriverReached : ExitUsage;
}
