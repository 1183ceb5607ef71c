// Quorrin sniff front end -- quorrin-sniff: one sniff of the PCI bus with the
// program's start and end around it, for machines without a display.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/sniff/DeviceTableJson.h"
#include "log/wexerrorlog.h"
#include "pcinfo/PcInfoUnit.h"
#include "platform/Files.h"
#include "sniffer/SnifferUnit.h"
#include "speaker/wexspeakerclass.h"
#include "windriver/DriverCheck.h"
#include "windriver/WinDriverRequests.h"

namespace {

// The shell's ProgramName and ProgramVersion, until the shell library
// exports them.
constexpr char SniffProgramName[] = "Quorrin";
constexpr char SniffProgramVersion[] = "1.2";

constexpr int ExitDriverReached = 0;
constexpr int ExitUsage = 1;
constexpr int ExitNoDriver = 2;

std::string Usage() {
    return std::string("usage: quorrin-sniff [--device PATH] [--json]\n"
                       "  Sniffs the PCI bus once through the driver, prints the report\n"
                       "  and writes Quorrin.Log in the current folder.\n"
                       "  --device PATH  the driver device to use instead of ") +
           DefaultDriverDevice +
           "\n"
           "  --json         print the device table as JSON instead of the report\n"
           "  --help         this text\n"
           "Exit status: 0 driver reached, 2 driver not reached, 1 usage error.\n";
}

void Write(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

}  // namespace

int main(int argc, char** argv) {
    bool json = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(Usage().c_str(), stdout);
            return ExitDriverReached;
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--device" && i + 1 < argc && argv[i + 1][0] != '\0') {
            SetDriverDevice(argv[++i]);
        } else {
            std::fprintf(stderr, "quorrin-sniff: %s: %s\n%s",
                         arg == "--device" ? "--device needs a path" : "unknown argument", arg.c_str(), Usage().c_str());
            return ExitUsage;
        }
    }

    const char subFolder[] = {platform::PathSeparator, '\0'};
    StartErrorLog(false, SniffProgramVersion, SniffProgramName, subFolder);
    WritePcInfo();
    CheckDriver();

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
    BeepDone();
    EndErrorLog(false);
    return reached ? ExitDriverReached : ExitNoDriver;
}
