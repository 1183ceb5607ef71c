// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin app -- --help and --version, answered before anything starts.
#include "app/shell/CommandLine.h"

#include <string_view>

#include "app/shell/ProgramLife.h"
#include "platform/Console.h"

InfoRequest FindInfoRequest(int argc, const char* const* argv) {
    for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") return InfoRequest::Help;
        if (arg == "--version") return InfoRequest::Version;
    }
    return InfoRequest::None;
}

std::string VersionText(const std::string& program) {
    return program + " " + ProgramVersion + "\n";
}

std::string WindowUsage(const std::string& program, bool replays) {
    return "usage: " + program + (replays ? " [--bus FILE]\n       " + program + " [--help | --version]\n"
                                          : std::string(" [--help | --version]\n")) +
           "  Opens the window \"Corvane PCI Sniffer\". Its button lists every PCI function\n"
           "  with its resources, configuration space and PLX EEPROM, in the window and in\n"
           "  the log Quorrin.Log, which every start creates afresh in the current folder.\n"
           "  Only one copy runs per user.\n" +
           (replays ? std::string("  --bus FILE  sniff a recorded bus instead of this machine's: a bus file, a\n"
                                  "             saved sniff or the text of lspci -vv -xxx, served by a\n"
                                  "             private quorrin-driverd for this run\n")
                    : std::string()) +
           "  --help     this text\n"
           "  --version  the program's name and version\n" +
           std::string(replays ? "Exit status: 0 closed, 1 a bus that cannot be replayed, 3 another copy of this\n"
                      "user is running or the program failed (the log says why).\n"
                    : "Exit status: 0 closed, 3 another copy of this user is running or the program\n"
                      "failed (the log says why).\n");
}

bool AnswerInfoRequest(int argc, const char* const* argv, const std::string& program,
                       const std::string& usage) {
    switch (FindInfoRequest(argc, argv)) {
        case InfoRequest::Help:
            platform::WriteInfoText(usage);
            return true;
        case InfoRequest::Version:
            platform::WriteInfoText(VersionText(program));
            return true;
        case InfoRequest::None:
            break;
    }
    return false;
}
