// Quorrin driver service -- the Unix-domain socket quorrin-driverd listens
// on, who may connect, and the loop that serves every client.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "driver/DriverService.h"

namespace driverd {

constexpr const char* DefaultSocketPath = "/run/quorrin/windrvr6";

// Who may talk to the service: root, the service's own user, or a member of
// group quorrin (primary or supplementary group of the peer).
bool PeerAllowed(uint32_t uid, uint32_t gid, const std::vector<uint32_t>& groups, uint32_t serviceUid,
                 std::optional<uint32_t> quorrinGid);

struct ServerOptions {
    std::string SocketPath = DefaultSocketPath;
    bool CreateFolder = false;    // create the socket's folder (0755) when missing
    std::FILE* Trace = nullptr;   // "<code hex8> <status hex8>" per answered request
    int ListenFd = -1;            // a listening socket handed over (socket activation): served as it is
    int IdleSeconds = 0;          // end after this long without a client; 0: never
};

// Binds the socket (replacing one left by a crashed service, refusing when
// another service answers on it), prints "ready", serves until SIGTERM or
// SIGINT or the idle time, removes the socket. A handed-over socket is served
// as it is: nothing is bound, changed or removed. Returns the exit status;
// messages go to stderr.
int RunServer(DriverService& service, const ServerOptions& options);

}  // namespace driverd
