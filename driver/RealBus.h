// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service -- the real-bus backend: this machine's PCI
// functions through libpci (scan, configuration space) and sysfs (resources,
// BAR access). OpenRealBus() is declared in driver/Bus.h.
#pragma once

#include <cstdint>
#include <string>

namespace driverd {

// What the backend says once on standard error when it runs without the
// privilege to read past the standard header.
inline constexpr const char* ShortConfigNotice =
    "only 64 bytes of configuration space are readable without root";

// "DDDD:BB:SS.F", the name of a function's folder below /sys/bus/pci/devices.
std::string SysfsName(uint32_t domain, uint32_t bus, uint32_t slot, uint32_t function);

}  // namespace driverd
