// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver transport -- opening and closing a connection to the
// driver service; DriverRequest, ClientAddress, DirectAccessible and
// DriverConnectionLost of WinDriverRequests.h are the transport's too.
#pragma once

#include <string>

#include "windriver/WinDriverRequests.h"

namespace transport {

// Connects to the service at `device` and waits for its welcome; a refused
// or silent service gives NoDriverHandle.
DriverHandle Open(const std::string& device);
void Close(DriverHandle handle);

}  // namespace transport
