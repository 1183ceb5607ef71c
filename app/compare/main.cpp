// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin compare front end -- quorrin-compare: what changed between two
// sniffs, from logs, saved reports or JSON, or against a sniff made now.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/process/ProcessUnit.h"
#include "compare/CompareOutput.h"
#include "compare/SniffCompare.h"
#include "compare/SniffInput.h"
#include "sniffer/SnifferUnit.h"
#include "windriver/WinDriverRequests.h"

namespace {

constexpr int ExitAgree = 0;
constexpr int ExitUsage = 1;
constexpr int ExitNoDriver = 2;
constexpr int ExitDiffer = 4;

std::string Usage() {
    return std::string(
               "usage: quorrin-compare [options] BASELINE [CURRENT]\n"
               "  Compares two sniffs of the PCI bus function by function. Each side is a\n"
               "  Quorrin.Log, a saved sniff report or the output of quorrin-sniff --json;\n"
               "  or a recorded bus (a bus file, a quorrin-sniff --save-bus file, the text\n"
               "  of lspci -vv -xxx), sniffed through a private quorrin-driverd;\n"
               "  without CURRENT the bus is sniffed now through the driver (no log is written).\n"
               "  --sniff N       take sniff N (from 1) of the logs named after it\n"
               "                  (default: the last complete one)\n"
               "  --all-bits      also compare the status register's error bits\n"
               "  --json          print the comparison as JSON\n"
               "  --device PATH   the driver device for a sniff made now, instead of ") +
           DefaultDriverDevice +
           "\n"
           "  --help          this text\n"
           "Exit status: 0 the sniffs agree, 4 they differ, 1 usage error or unreadable file,\n"
           "2 the driver could not be reached.\n";
}

int UsageError(const std::string& what) {
    std::fprintf(stderr, "quorrin-compare: %s\n%s", what.c_str(), Usage().c_str());
    return ExitUsage;
}

struct Side {
    std::string Path;
    int Sniff;
};

}  // namespace

int main(int argc, char** argv) {
    compare::SetReplayProgram(DriverServiceProgram());
    compare::CompareOptions options;
    bool json = false;
    int sniff = 0;
    std::vector<Side> sides;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc && argv[i + 1][0] != '\0';
        if (arg == "--help" || arg == "-h") {
            std::fputs(Usage().c_str(), stdout);
            return ExitAgree;
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--all-bits") {
            options.AllBits = true;
        } else if (arg == "--device" && hasValue) {
            SetDriverDevice(argv[++i]);
        } else if (arg == "--sniff" && hasValue) {
            char* end = nullptr;
            const long n = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || n < 1 || n > 1000000)
                return UsageError("--sniff needs a number from 1: " + std::string(argv[i]));
            sniff = static_cast<int>(n);
        } else if (arg.starts_with("-") && arg != "-") {
            return UsageError(arg == "--device" || arg == "--sniff" ? arg + " needs a value"
                                                                    : "unknown option: " + arg);
        } else if (sides.size() == 2) {
            return UsageError("more than two sniffs named: " + arg);
        } else {
            sides.push_back({arg, sniff});
        }
    }
    if (sides.empty()) return UsageError("no BASELINE named");

    compare::Sniff baseline, current;
    std::string error;
    if (!compare::LoadSniff(sides[0].Path, sides[0].Sniff, baseline, error) ||
        (sides.size() == 2 && !compare::LoadSniff(sides[1].Path, sides[1].Sniff, current, error))) {
        std::fprintf(stderr, "quorrin-compare: %s\n", error.c_str());
        return ExitUsage;
    }
    if (sides.size() == 1) {
        GetPciCardInfo(PciTableCapacity, *current.Table);
        // OpenDriver leaves code 1 when it got no handle.
        if (LastErrorCode == 1) {
            std::fprintf(stderr, "quorrin-compare: the driver could not be reached through %s\n",
                         DriverDevice().c_str());
            return ExitNoDriver;
        }
        current.Source = DriverDevice();
    }

    const compare::Comparison result = compare::CompareSniffs(*baseline.Table, *current.Table, options);
    const std::string out = json ? compare::ComparisonJson(baseline, current, result)
                                 : compare::ComparisonText(baseline, current, result);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return result.Agree() ? ExitAgree : ExitDiffer;
}
