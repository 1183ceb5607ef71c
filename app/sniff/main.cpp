// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin sniff front end -- quorrin-sniff: one sniff of the PCI bus with the
// program's start and end around it, for machines without a display.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/shell/CommandLine.h"
#include "app/shell/MainWindowModel.h"
#include "app/shell/ProgramLife.h"
#include "app/shell/RecordedBus.h"
#include "findings/FindingsJson.h"
#include "findings/Metrics.h"
#include "sniffer/DeviceTableJson.h"
#include "log/wexerrorlog.h"
#include "pcinfo/PcInfoUnit.h"
#include "platform/Console.h"
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
constexpr int ExitMetricsNotWritten = 4;
constexpr int ExitFindings = 5;

std::string Usage() {
    return std::string("usage: quorrin-sniff [--device PATH | --bus FILE] [--save-bus FILE] [--json] [--check]\n"
                       "                     [--metrics FILE] [--beep]\n"
                       "  Sniffs the PCI bus once through the driver, prints the report\n"
                       "  and writes Quorrin.Log in the current folder.\n"
                       "  --device PATH    the driver device to use instead of ") +
           DefaultDriverDevice +
           "\n"
           "  --bus FILE       sniff a recorded bus instead of this machine's: a bus file,\n"
           "                   a saved sniff (--save-bus) or the text of lspci -vv -xxx,\n"
           "                   served by a private quorrin-driverd for this run\n"
           "  --save-bus FILE  save the sniffed bus as a bus file that --bus replays\n"
           "  --json           print the device table as JSON instead of the report,\n"
           "                   each function with its findings\n"
           "  --check          print the findings instead of the report, one a line:\n"
           "                   location, severity (error, warning, note), text\n"
           "  --metrics FILE   write the sniff as Prometheus metrics into FILE (through a\n"
           "                   temporary file and a rename); prints no report unless\n"
           "                   --json or --check asks for one\n"
           "  --beep           sound the window's Done pattern at the end\n"
           "  --help           this text\n"
           "  --version        the program's name and version\n"
           "Exit status: 0 driver reached, 2 driver not reached, 1 usage error or a\n"
           "bus that cannot be replayed or saved, 3 another copy of Quorrin is running\n"
           "(its log is left alone), 4 the metrics file could not be written, 5 with\n"
           "--check: an error or warning was found.\n";
}

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
    bool check = false;
    std::string metrics;
    bool device = false;
    std::string busFile, saveBus;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            platform::WriteInfoText(Usage());
            return ExitDriverReached;
        } else if (arg == "--version") {
            platform::WriteInfoText(VersionText("quorrin-sniff"));
            return ExitDriverReached;
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--check") {
            check = true;
        } else if (arg == "--metrics" && i + 1 < argc && argv[i + 1][0] != '\0') {
            metrics = argv[++i];
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
            const bool needsValue = arg == "--device" || arg == "--bus" || arg == "--save-bus" || arg == "--metrics";
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

    findings::SniffRun run;
    run.Time = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    const auto began = std::chrono::steady_clock::now();
    GetPciCardInfo(PciTableCapacity, PciDeviceTable);
    run.Duration = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    // OpenDriver leaves code 1 when it got no handle, and so does a scan that
    // lost the driver on the way; each card's check result is taken, so a
    // scan that had the driver throughout ends at 0.
    const bool reached = LastErrorCode != 1;
    run.DriverReached = reached;
    const auto found = findings::FindingsOfTable(PciDeviceTable, &PciCaptures);
    // Logged first: a reader that quits (head, less) must not cost the log
    // its report.
    LogSniffReport(PciDeviceTable);
    const bool saved = saveBus.empty() || SaveSniffedBus(saveBus, error);
    if (!saved) std::fprintf(stderr, "quorrin-sniff: could not save the bus: %s\n", error.c_str());
    bool metricsWritten = true;
    if (!metrics.empty() &&
        !findings::WriteMetrics(metrics, findings::MetricsText(PciDeviceTable, &PciCaptures, found, run), error)) {
        std::fprintf(stderr, "quorrin-sniff: --metrics: %s\n", error.c_str());
        metricsWritten = false;
    }
    std::string out;
    if (json) {
        out = findings::SniffJson(PciDeviceTable, found) + "\n";
    } else if (check) {
        for (const std::string& line : findings::FindingLines(found)) out += line + "\n";
    } else if (metrics.empty()) {
        out = FormatSniffReport(PciDeviceTable) + "\r\n";
    }
    switch (platform::WriteStandardOutput(out.data(), out.size())) {
        case platform::OutputResult::Closed:
            // The end of the output: the log ends, and the status is a closed pipe's.
            endRequest = platform::OutputClosedRequest();
            EndAsAsked();
        case platform::OutputResult::Ended:
            GoOn();
            EndAsAsked();
        case platform::OutputResult::Written:
        case platform::OutputResult::Failed:
            break;
    }
    // The Done pattern is the window's; here it would cost 0.4 s for nothing.
    if (beep && GoOn()) BeepDone();
    if (!GoOn()) EndAsAsked();
    EndErrorLog(false);
    StopBusReplay();
    const findings::Tally tally = findings::TallyOf(found);
    if (!reached) return ExitNoDriver;
    if (!saved) return ExitUsage;
    if (!metricsWritten) return ExitMetricsNotWritten;
    return check && tally.Errors + tally.Warnings > 0 ? ExitFindings : ExitDriverReached;
}
