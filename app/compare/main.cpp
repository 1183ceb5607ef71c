// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin compare front end -- quorrin-compare: what changed between two
// sniffs, or between one golden sniff and several, from logs, saved reports
// or JSON, or against a sniff made now.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/process/ProcessUnit.h"
#include "app/shell/CommandLine.h"
#include "compare/CompareOutput.h"
#include "compare/SniffCompare.h"
#include "compare/SniffInput.h"
#include "platform/Console.h"
#include "platform/Terminal.h"
#include "sniffer/SnifferUnit.h"
#include "windriver/WinDriverRequests.h"

namespace {

constexpr int ExitAgree = 0;
constexpr int ExitUsage = 1;
constexpr int ExitNoDriver = 2;

std::string Usage() {
    return std::string(
               "usage: quorrin-compare [options] BASELINE [CURRENT...]\n"
               "  Compares sniffs of the PCI bus function by function. Each is a Quorrin.Log,\n"
               "  a saved sniff report or the output of quorrin-sniff --json (\"-\": standard\n"
               "  input), or a recorded bus (a bus file, one that quorrin-sniff saved, the\n"
               "  text of lspci -vv -xxx), sniffed through a private quorrin-driverd. Several\n"
               "  CURRENT files are each held against BASELINE: one row per file, then each\n"
               "  one's changes. Without CURRENT the bus is sniffed now through the driver\n"
               "  (no log is written).\n"
               "  --sniff N         take sniff N (from 1) of the file named next\n"
               "                    (default: the last complete one that reached the driver)\n"
               "  --ignore FIELD,.. leave out identifiers, registration, memory, io, irq,\n"
               "                    config, config:OFFSET, eeprom, eeprom:WORD, location or\n"
               "                    findings (repeatable)\n"
               "  --only LOCATION,.. compare only these functions (02:04.0; repeatable)\n"
               "  --all-bits        also compare the status register's error bits\n"
               "  --json            print the comparison as JSON (one object per CURRENT)\n"
               "  --color=WHEN      colours: auto (on a terminal, unless NO_COLOR is set),\n"
               "                    always or never\n"
               "  --device PATH     the driver device for a sniff made now, instead of ") +
           DefaultDriverDevice +
           "\n"
           "  --help            this text\n"
           "  --version         the program's name and version\n"
           "Exit status: 0 the sniffs agree, 4 they differ, 1 usage error, a file that\n"
           "cannot be read or functions that could not be compared, 2 the driver could\n"
           "not be reached (or was lost) for a sniff made now.\n";
}

int UsageError(const std::string& what) {
    std::fprintf(stderr, "quorrin-compare: %s\n%s", what.c_str(), Usage().c_str());
    return ExitUsage;
}

struct Side {
    std::string Path;
    int Sniff;
};

// "a,b,c" into its parts; false on an empty part.
bool Split(std::string_view list, std::vector<std::string>& parts) {
    while (true) {
        const std::size_t comma = list.find(',');
        const std::string_view part = list.substr(0, comma);
        if (part.empty()) return false;
        parts.emplace_back(part);
        if (comma == std::string_view::npos) return true;
        list.remove_prefix(comma + 1);
    }
}

bool WantColor(const std::string& when) {
    if (when == "always") return true;
    if (when == "never") return false;
    const char* noColor = std::getenv("NO_COLOR");
    return !(noColor && *noColor) && platform::StandardOutputShowsColor();
}

void Print(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace

int main(int argc, char** argv) {
    compare::SetReplayProgram(DriverServiceProgram());
    compare::CompareOptions options;
    bool json = false;
    int sniff = 0;
    std::string color = "auto";
    std::vector<Side> sides;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc && argv[i + 1][0] != '\0';
        if (arg == "--help" || arg == "-h") {
            platform::WriteInfoText(Usage());
            return ExitAgree;
        } else if (arg == "--version") {
            platform::WriteInfoText(VersionText("quorrin-compare"));
            return ExitAgree;
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--all-bits") {
            options.AllBits = true;
        } else if (arg.starts_with("--color=")) {
            color = arg.substr(8);
            if (color != "auto" && color != "always" && color != "never")
                return UsageError("--color takes auto, always or never: " + color);
        } else if (arg == "--device" && hasValue) {
            SetDriverDevice(argv[++i]);
        } else if (arg == "--sniff" && hasValue) {
            char* end = nullptr;
            const long n = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || n < 1 || n > 1000000)
                return UsageError("--sniff needs a number from 1: " + std::string(argv[i]));
            sniff = static_cast<int>(n);
        } else if (arg == "--ignore" && hasValue) {
            std::vector<std::string> fields;
            if (!Split(argv[++i], fields)) return UsageError("--ignore needs fields: " + std::string(argv[i]));
            std::string error;
            for (const std::string& f : fields)
                if (!compare::AddIgnored(options.Ignore, f, error)) return UsageError(error);
        } else if (arg == "--only" && hasValue) {
            std::vector<std::string> places;
            if (!Split(argv[++i], places)) return UsageError("--only needs locations: " + std::string(argv[i]));
            for (const std::string& p : places) {
                uint64_t key;
                if (!compare::ParseLocation(p, key))
                    return UsageError("--only takes locations as lspci writes them (02:04.0), not " + p);
                options.Only.push_back(key);
                options.OnlyNamed.push_back(p);
            }
        } else if (arg.starts_with("-") && arg != "-") {
            const bool needsValue = arg == "--device" || arg == "--sniff" || arg == "--ignore" || arg == "--only";
            return UsageError(needsValue ? arg + " needs a value" : "unknown option: " + arg);
        } else {
            if (arg == "-")
                for (const Side& s : sides)
                    if (s.Path == "-") return UsageError("standard input (-) named twice");
            sides.push_back({arg, sniff});
            sniff = 0;
        }
    }
    if (sides.empty()) return UsageError("no BASELINE named");
    if (sniff != 0) return UsageError("--sniff names no file after it");

    const compare::OutputStyle style{!json && WantColor(color)};
    compare::Sniff baseline;
    std::string error;
    if (!compare::LoadSniff(sides[0].Path, sides[0].Sniff, baseline, error)) {
        std::fprintf(stderr, "quorrin-compare: %s\n", error.c_str());
        return ExitUsage;
    }

    if (sides.size() == 1) {
        compare::Sniff current;
        GetPciCardInfo(PciTableCapacity, *current.Table);
        // OpenDriver leaves code 1 when it got no handle; a scan that lost the
        // driver on the way does too, with the functions it had found.
        if (LastErrorCode == 1) {
            std::fprintf(stderr,
                         current.Table->Count > 0
                             ? "quorrin-compare: lost the connection to the driver through %s during the sniff\n"
                             : "quorrin-compare: the driver could not be reached through %s\n",
                         DriverDevice().c_str());
            return ExitNoDriver;
        }
        current.Source = DriverDevice();
        const compare::Comparison result = compare::CompareSniffs(baseline, current, options);
        Print(json ? compare::ComparisonJson(baseline, current, result, options)
                   : compare::ComparisonText(baseline, current, result, options, style));
        return compare::ExitStatusOf(result);
    }

    std::vector<compare::LabEntry> lab(sides.size() - 1);
    for (std::size_t k = 1; k < sides.size(); ++k) {
        compare::LabEntry& e = lab[k - 1];
        e.Path = sides[k].Path;
        if (!compare::LoadSniff(sides[k].Path, sides[k].Sniff, e.Current, error)) {
            std::fprintf(stderr, "quorrin-compare: %s\n", error.c_str());
            // The row names the file already.
            std::string_view why(error);
            if (why.starts_with(e.Path)) why.remove_prefix(e.Path.size());
            e.Problem = why.starts_with(": ") ? std::string(why.substr(2))
                        : why.starts_with(":") ? "line " + std::string(why.substr(1))
                                               : std::string(why);
            continue;
        }
        e.Result = compare::CompareSniffs(baseline, e.Current, options);
    }
    if (lab.size() == 1 && lab[0].Problem.empty()) {
        Print(json ? compare::ComparisonJson(baseline, lab[0].Current, lab[0].Result, options)
                   : compare::ComparisonText(baseline, lab[0].Current, lab[0].Result, options, style));
    } else if (lab.size() > 1) {
        Print(json ? compare::LabJson(baseline, lab, options) : compare::LabText(baseline, lab, options, style));
    }
    return compare::ExitStatusOf(lab);
}
