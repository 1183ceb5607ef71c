// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service -- the listening socket a service manager passes
// (socket activation: LISTEN_FDS and LISTEN_PID, as systemd sets them).
#pragma once

#include <string>

namespace driverd {

struct ActivatedSocket {
    int Fd = -1;        // the passed listening socket, -1 when none was passed
    std::string Error;  // why a passed descriptor cannot be served; empty when fine
};

// Takes the socket passed to this process, if any, and clears the variables
// so that nothing started later sees them. Exactly one descriptor is
// accepted, and only a listening SOCK_SEQPACKET Unix-domain socket; it is
// made non-blocking and close-on-exec.
ActivatedSocket TakeActivatedSocket();

}  // namespace driverd
