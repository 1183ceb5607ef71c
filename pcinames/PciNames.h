// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin PCI names -- vendor and device names from the system's list of PCI
// identifiers (pci.ids through libpci on Linux; the Windows build has none).
#pragma once

#include <cstdint>
#include <string>

namespace pcinames {

// Empty when the list is missing or does not know the identifier.
std::string VendorName(uint32_t vendor);
std::string DeviceName(uint32_t vendor, uint32_t device);

}  // namespace pcinames
