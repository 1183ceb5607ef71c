// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin PCI names tests -- the names lspci prints for identifiers the list
// knows, nothing for those it does not.
#include "pcinames/PciNames.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

TEST(PciNames, KnownIdentifiersHaveTheirNamesUnknownOnesNone) {
    if (!std::filesystem::exists("/usr/share/misc/pci.ids")) GTEST_SKIP() << "no pci.ids on this machine";
    EXPECT_EQ(pcinames::VendorName(0x10B5), "PLX Technology, Inc.");
    EXPECT_EQ(pcinames::DeviceName(0x10B5, 0x9056), "PCI9056 32-bit 66MHz PCI <-> IOBus Bridge");
    // Only the low 16 bits are an identifier, as the report shows them.
    EXPECT_EQ(pcinames::VendorName(0x910B5), "PLX Technology, Inc.");
    EXPECT_EQ(pcinames::DeviceName(0x10B5, 0xFFFE), "");
    EXPECT_EQ(pcinames::VendorName(0x0002), "");
}

}  // namespace
