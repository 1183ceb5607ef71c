// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service -- taking the socket passed by socket activation.
#include "driver/linux/Activation.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <systemd/sd-daemon.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace driverd {

ActivatedSocket TakeActivatedSocket() {
    ActivatedSocket taken;
    const int count = sd_listen_fds(1);
    if (count == 0) return taken;
    if (count < 0) {
        taken.Error = std::string("socket activation: ") + std::strerror(-count);
        return taken;
    }
    if (count != 1) {
        taken.Error = "socket activation: " + std::to_string(count) + " descriptors passed, one expected";
        return taken;
    }
    const int fd = SD_LISTEN_FDS_START;
    if (sd_is_socket_unix(fd, SOCK_SEQPACKET, 1, nullptr, 0) <= 0) {
        taken.Error =
            "socket activation: the passed descriptor is not a listening SOCK_SEQPACKET Unix socket";
        return taken;
    }
    // The manager's socket is blocking; a peer gone between poll and accept
    // must not stall the loop. The flag is the open file's, harmless to the
    // manager, which never accepts on it.
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0 || fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) {
        taken.Error = std::string("socket activation: ") + std::strerror(errno);
        return taken;
    }
    taken.Fd = fd;
    return taken;
}

}  // namespace driverd
