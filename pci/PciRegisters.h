// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin PCI facts -- the configuration space registers, their bits and the
// capability IDs, each named once. Names follow the registers' own, in a
// namespace of their own so that they never meet libpci's macros.
#pragma once

#include <cstdint>

namespace pcireg {

// Sizes of the space: the standard header and capabilities, and a PCI
// Express function's extended space.
constexpr uint32_t ConfigSize = 256;
constexpr uint32_t ExpressConfigSize = 4096;

// The type 0/1 header.
constexpr uint32_t VendorId = 0x00;
constexpr uint32_t DeviceId = 0x02;
constexpr uint32_t Command = 0x04;
constexpr uint32_t Status = 0x06;
constexpr uint32_t CapabilityList = 0x34;  // pointer to the first capability

constexpr uint16_t StatusCapabilityList = 0x0010;

// A capability: its ID, then the offset of the next one (0 ends the list).
constexpr uint32_t CapabilityIdOffset = 0;
constexpr uint32_t CapabilityNextOffset = 1;
constexpr uint32_t CapabilityFirst = 0x40;     // capabilities live above the header
constexpr uint8_t CapabilityPointerMask = 0xFC;  // the low two bits are reserved

constexpr uint8_t CapabilityIdExpress = 0x10;

}  // namespace pcireg
