// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin PCI names -- Windows keeps no list of PCI identifiers a program can
// read, so the Windows build names nothing.
#include "pcinames/PciNames.h"

namespace pcinames {

std::string VendorName(uint32_t) {
    return {};
}
std::string DeviceName(uint32_t, uint32_t) {
    return {};
}

}  // namespace pcinames
