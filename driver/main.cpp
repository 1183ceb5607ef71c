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

int Usage() {
    std::fprintf(
        stderr,
        "usage: quorrin-driverd (--bus FILE | --real) [--socket PATH] [--trace FILE] [--idle SECONDS]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string busFile, socketPath, tracePath, idle;
    bool real = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--bus" && hasValue) busFile = argv[++i];
        else if (arg == "--socket" && hasValue) socketPath = argv[++i];
        else if (arg == "--trace" && hasValue) tracePath = argv[++i];
        else if (arg == "--idle" && hasValue) idle = argv[++i];
        else if (arg == "--real") real = true;
        else return Usage();
    }
    if (real == !busFile.empty()) return Usage();
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
#ifdef QUORRIN_HAVE_REAL_BUS
        bus = driverd::OpenRealBus(error);
#else
        error = "the real bus backend is not part of this build";
#endif
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
