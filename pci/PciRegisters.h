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

// The command and status registers' bits, and the header's other registers
// a comparison names.
constexpr uint32_t HeaderType = 0x0E;
constexpr uint32_t BaseAddress0 = 0x10;
constexpr uint32_t BaseAddressCount = 6;        // type 0; a bridge (type 1) has two
constexpr uint32_t BridgeBaseAddressCount = 2;
constexpr uint32_t SubsystemIds = 0x2C;
constexpr uint32_t ExpansionRom = 0x30;
constexpr uint32_t InterruptLine = 0x3C;        // line, pin, min grant, max latency
constexpr uint32_t ClassRevision = 0x08;
constexpr uint8_t HeaderTypeMask = 0x7F;        // bit 7: a multi-function device
constexpr uint8_t HeaderTypeBridge = 1;

constexpr uint32_t BarSpaceIo = 0x1;            // bit 0 of a BAR: I/O, not memory
constexpr uint32_t BarMemoryTypeMask = 0x6;
constexpr uint32_t BarMemoryType64 = 0x4;       // the next BAR holds the upper half

constexpr uint16_t CommandIoSpace = 0x0001;
constexpr uint16_t CommandMemorySpace = 0x0002;
constexpr uint16_t CommandBusMaster = 0x0004;
constexpr uint16_t CommandSpecialCycles = 0x0008;
constexpr uint16_t CommandMemoryWriteInvalidate = 0x0010;
constexpr uint16_t CommandVgaPaletteSnoop = 0x0020;
constexpr uint16_t CommandParityErrorResponse = 0x0040;
constexpr uint16_t CommandSteppingControl = 0x0080;
constexpr uint16_t CommandSerrEnable = 0x0100;
constexpr uint16_t CommandFastBackToBack = 0x0200;
constexpr uint16_t CommandInterruptDisable = 0x0400;

constexpr uint16_t StatusInterrupt = 0x0008;
constexpr uint16_t Status66MHz = 0x0020;
constexpr uint16_t StatusFastBackToBack = 0x0080;
constexpr uint16_t StatusMasterDataParityError = 0x0100;
constexpr uint16_t StatusDevselMask = 0x0600;   // timing: 0 fast, 1 medium, 2 slow
constexpr uint16_t StatusSignaledTargetAbort = 0x0800;
constexpr uint16_t StatusReceivedTargetAbort = 0x1000;
constexpr uint16_t StatusReceivedMasterAbort = 0x2000;
constexpr uint16_t StatusSignaledSystemError = 0x4000;
constexpr uint16_t StatusDetectedParityError = 0x8000;
// The bits the bus sets and software clears by writing 1.
constexpr uint16_t StatusErrorBits = StatusMasterDataParityError | StatusSignaledTargetAbort |
                                     StatusReceivedTargetAbort | StatusReceivedMasterAbort |
                                     StatusSignaledSystemError | StatusDetectedParityError;

}  // namespace pcireg
