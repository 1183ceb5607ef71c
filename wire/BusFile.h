// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin bus files -- the names the simulated-bus file (docs/simulated-bus.md)
// shares between the sniff that saves a machine and quorrin-driverd, which
// serves it again. Neither side owns them.
#pragma once

namespace busfile {

// The tag a saved bus carries; a file written by hand may leave it out.
constexpr const char* FormatTag = "quorrin-bus/1";

// The faults of a function: requests that fail as they failed when the bus
// was sniffed.
constexpr const char* CardInfoRefused = "card-info-refused";
constexpr const char* RegisterRefused = "register-refused";
constexpr const char* RegisterNoHandle = "register-no-handle";
constexpr const char* ConfigRefused = "config-refused";

}  // namespace busfile
