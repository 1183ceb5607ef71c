// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service -- the Unix-domain socket quorrin-driverd listens
// on, who may connect, and the loop that serves every client.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/DriverService.h"
#include "driver/linux/Descriptor.h"

namespace driverd {

constexpr const char* DefaultSocketPath = "/run/quorrin/windrvr6";

struct ServerOptions {
    std::string SocketPath = DefaultSocketPath;
    bool CreateFolder = false;    // create the socket's folder (0755) when missing
    std::FILE* Trace = nullptr;   // "<code hex8> <status hex8>" per answered request
    int ListenFd = -1;            // a listening socket handed over (socket activation): served as it is
    int IdleSeconds = 0;          // end after this long without a client; 0: never
};

// The group whose members may connect, gid of "quorrin" when it exists. Looked
// up at start and on SIGHUP only: the lookup opens /etc/group, and a service
// out of descriptors must not take a member for a stranger.
std::optional<uint32_t> LookUpQuorrinGroup();

// The supplementary groups a connected peer had when it connected, from the
// kernel (SO_PEERGROUPS): not looked up by its pid, which another process may
// have by now.
std::vector<uint32_t> PeerGroups(int fd);

// The listening socket the service bound itself, with the lock that makes it
// the only service on that path. Closing it removes the socket file (only
// while it is still ours); the lock file PATH.lock stays, so that two
// services starting together always lock the same file.
class Listener {
public:
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    int Fd() const { return socket_.Get(); }

private:
    friend std::unique_ptr<Listener> OpenListener(const ServerOptions& options, std::optional<uint32_t> group,
                                                  std::string& error);
    Listener() = default;
    bool OpenFolder(const ServerOptions& options, std::string& error);
    bool TakeLock(std::string& error);
    bool ReplaceStaleSocket(std::string& error);
    bool Bind(std::string& error);
    bool GiveToGroup(std::optional<uint32_t> group, std::string& error);
    bool Listen(std::string& error);

    std::string path_;
    std::string name_;  // the socket's name in folder_
    Descriptor folder_;
    Descriptor lock_;
    Descriptor socket_;
    ino_t inode_ = 0;
    dev_t device_ = 0;
};

// Its named steps: opens the socket's folder (every step after names the
// socket relative to it), takes PATH.lock (refusing at once when another
// service holds it), replaces a socket file left by a crashed service, binds
// with the umask giving mode 0660, gives the socket to `group` (the
// service's own when none) without following a symlink, and listens.
// nullptr with the reason in `error` otherwise.
std::unique_ptr<Listener> OpenListener(const ServerOptions& options, std::optional<uint32_t> group,
                                       std::string& error);

// Serves clients on the listening socket `listenFd` until `signalFd` (a
// signalfd of SIGTERM, SIGINT and SIGHUP) gives SIGTERM or SIGINT or, with
// options.IdleSeconds, that long passes without a client; SIGHUP looks the
// group up again. The socket may be one OpenListener made or one passed in
// ready to accept. Returns the exit status.
int ServeClients(DriverService& service, int listenFd, int signalFd, std::optional<uint32_t> group,
                 const ServerOptions& options);

// Blocks SIGTERM, SIGINT and SIGHUP into a signalfd, looks the group up,
// opens the listener (or takes the handed-over ListenFd as it is: nothing
// bound, locked, changed or removed), prints "ready", serves until SIGTERM
// or SIGINT comes or the idle time ends, removes the socket. Returns the
// exit status; messages go to stderr.
int RunServer(DriverService& service, const ServerOptions& options);

}  // namespace driverd
