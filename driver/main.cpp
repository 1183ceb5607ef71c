// SPDX-License-Identifier: GPL-2.0-or-later
// quorrin-driverd -- the stand-in for the WinDriver kernel driver: serves the
// driver requests on a Unix-domain socket from a simulated or the real bus.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "driver/Bus.h"
#include "driver/DriverService.h"
#include "driver/linux/Activation.h"
#include "driver/linux/SocketServer.h"

namespace {

constexpr char UsageText[] =
    "usage: quorrin-driverd (--real [--sysfs DIR] | --bus FILE) [--socket PATH] [--trace FILE] [--idle SECONDS]\n"
    "  Serves Quorrin's driver requests on a Unix-domain socket (SOCK_SEQPACKET).\n"
    "  --real          this machine's PCI bus (libpci and sysfs; the whole\n"
    "                  configuration space needs root)\n"
    "  --sysfs DIR     with --real: the sysfs tree at DIR instead of /sys (for tests)\n"
    "  --bus FILE      the simulated bus described in the JSON file FILE\n"
    "  --socket PATH   listen on PATH instead of /run/quorrin/windrvr6\n"
    "  --trace FILE    append one line per answered request to FILE\n"
    "  --idle SECONDS  end after SECONDS (1 to 86400) without a client\n"
    "  --help          this text\n"
    "  --version       the program's name and version\n"
    "Handed a listening socket by systemd, it serves that one instead.\n"
    "Exit status: 0 stopped (SIGTERM, SIGINT or the idle time), 1 the bus or the\n"
    "socket could not be opened, 2 usage error.\n";

int Usage() {
    std::fputs(UsageText, stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string busFile, socketPath, tracePath, idle, sysfs;
    bool real = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        // Answered before anything is opened, taken or bound.
        if (arg == "--help" || arg == "-h") {
            std::fputs(UsageText, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::fputs("quorrin-driverd " QUORRIN_VERSION "\n", stdout);
            return 0;
        }
        if (arg == "--bus" && hasValue) busFile = argv[++i];
        else if (arg == "--socket" && hasValue) socketPath = argv[++i];
        else if (arg == "--trace" && hasValue) tracePath = argv[++i];
        else if (arg == "--idle" && hasValue) idle = argv[++i];
        else if (arg == "--sysfs" && hasValue) sysfs = argv[++i];
        else if (arg == "--real") real = true;
        else return Usage();
    }
    if (real == !busFile.empty() || (!sysfs.empty() && !real)) return Usage();
    int idleSeconds = 0;
    if (!idle.empty()) {
        char* end = nullptr;
        const long value = std::strtol(idle.c_str(), &end, 10);
        if (*end != '\0' || value < 1 || value > 86400) return Usage();
        idleSeconds = static_cast<int>(value);
    }
    // A wrong handed-over socket is refused before the bus is opened.
    const driverd::ActivatedSocket activated = driverd::TakeActivatedSocket();
    if (!activated.Error.empty()) {
        std::fprintf(stderr, "quorrin-driverd: %s\n", activated.Error.c_str());
        return 1;
    }

    std::string error;
    std::vector<std::string> notes;
    std::unique_ptr<driverd::Bus> bus;
    if (real) {
        bus = sysfs.empty() ? driverd::OpenRealBus(error) : driverd::OpenRealBus(error, sysfs);
    } else {
        bus = driverd::OpenSimulatedBus(busFile, error, notes);
    }
    if (!bus) {
        std::fprintf(stderr, "quorrin-driverd: %s\n", error.c_str());
        return 1;
    }
    // Before "ready": whoever started the service reads them as what it
    // should know about the bus it serves.
    for (const std::string& note : notes) std::fprintf(stderr, "quorrin-driverd: %s\n", note.c_str());

    driverd::ServerOptions options;
    options.ListenFd = activated.Fd;
    options.IdleSeconds = idleSeconds;
    if (!socketPath.empty()) options.SocketPath = socketPath;
    else options.CreateFolder = true;
    std::FILE* trace = nullptr;
    if (!tracePath.empty()) {
        trace = std::fopen(tracePath.c_str(), "a");
        if (!trace) {
            std::fprintf(stderr, "quorrin-driverd: cannot open %s: %s\n", tracePath.c_str(), std::strerror(errno));
            return 1;
        }
        options.Trace = trace;
    }
    driverd::DriverService service(*bus, real ? "quorrin-driverd 11.10 real bus" : "quorrin-driverd 11.10 simulated bus");
    const int status = driverd::RunServer(service, options);
    if (trace) std::fclose(trace);
    return status;
}
