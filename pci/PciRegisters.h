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

// --- The header's registers and the command and status bits.

constexpr uint32_t ClassRevision = 0x08;      // class code << 8 | revision
constexpr uint32_t ClassHostBridge = 0x0600;  // base class and sub-class
constexpr uint32_t HeaderType = 0x0E;
constexpr uint8_t HeaderTypeLayoutMask = 0x7F;  // the top bit says multi-function
constexpr uint8_t HeaderTypeNormal = 0;
constexpr uint8_t HeaderTypeBridge = 1;
constexpr uint8_t HeaderTypeCardBus = 2;
constexpr uint32_t CardBusCapabilityList = 0x14;  // a CardBus bridge's list head
constexpr uint32_t SubsystemIds = 0x2C;
constexpr uint32_t ExpansionRom = 0x30;
constexpr uint32_t InterruptLine = 0x3C;  // line, then pin, min grant, max latency
constexpr uint32_t InterruptPin = 0x3D;   // 1-4 for INTA#-INTD#, 0 for none

// Base address registers: six in a normal header, two in a bridge's, one in
// a CardBus bridge's.
constexpr uint32_t BaseAddress0 = 0x10;
constexpr uint32_t BarCountNormal = 6;
constexpr uint32_t BarCountBridge = 2;
constexpr uint32_t BarCountCardBus = 1;
constexpr uint32_t BarSpaceIo = 0x01;  // bit 0 of a BAR: I/O, not memory
constexpr uint32_t BarIoAddressMask = ~0x03u;
constexpr uint32_t BarMemoryTypeMask = 0x06;
constexpr uint32_t BarMemoryType64 = 0x04;  // the next BAR holds the upper half
constexpr uint32_t BarMemoryPrefetchable = 0x08;
constexpr uint32_t BarMemoryAddressMask = ~0x0Fu;

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
constexpr uint16_t StatusDevselMask = 0x0600;  // timing: 0 fast, 1 medium, 2 slow
// The status register's error bits (the bus sets them, software writes 1 to clear).
constexpr uint16_t StatusMasterDataParityError = 0x0100;
constexpr uint16_t StatusSignaledTargetAbort = 0x0800;
constexpr uint16_t StatusReceivedTargetAbort = 0x1000;
constexpr uint16_t StatusReceivedMasterAbort = 0x2000;
constexpr uint16_t StatusSignaledSystemError = 0x4000;
constexpr uint16_t StatusDetectedParityError = 0x8000;
// The bits the bus sets and software clears by writing 1.
constexpr uint16_t StatusErrorBits = StatusMasterDataParityError | StatusSignaledTargetAbort |
                                     StatusReceivedTargetAbort | StatusReceivedMasterAbort |
                                     StatusSignaledSystemError | StatusDetectedParityError;

// MSI and MSI-X: each capability's message control word and its enable bit.
constexpr uint8_t CapabilityIdMsi = 0x05;
constexpr uint8_t CapabilityIdMsiX = 0x11;
constexpr uint32_t MsiControl = 0x02;
constexpr uint16_t MsiControlEnable = 0x0001;
constexpr uint32_t MsiXControl = 0x02;
constexpr uint16_t MsiXControlEnable = 0x8000;

// The PCI Express capability (offsets from its start).
constexpr uint32_t ExpressFlags = 0x02;
constexpr uint16_t ExpressFlagsTypeMask = 0x00F0;
constexpr unsigned ExpressFlagsTypeShift = 4;
constexpr uint8_t ExpressTypeEndpoint = 0x0;
constexpr uint8_t ExpressTypeLegacyEndpoint = 0x1;
constexpr uint8_t ExpressTypeRootPort = 0x4;
constexpr uint8_t ExpressTypeUpstreamPort = 0x5;
constexpr uint8_t ExpressTypeDownstreamPort = 0x6;
constexpr uint8_t ExpressTypeExpressToPciBridge = 0x7;
constexpr uint8_t ExpressTypePciToExpressBridge = 0x8;
constexpr uint8_t ExpressTypeRootIntegratedEndpoint = 0x9;
constexpr uint8_t ExpressTypeRootEventCollector = 0xA;
constexpr uint32_t ExpressDeviceStatus = 0x0A;
constexpr uint16_t DeviceStatusCorrectable = 0x0001;
constexpr uint16_t DeviceStatusNonFatal = 0x0002;
constexpr uint16_t DeviceStatusFatal = 0x0004;
constexpr uint16_t DeviceStatusUnsupportedRequest = 0x0008;
constexpr uint32_t ExpressLinkCapabilities = 0x0C;
constexpr uint32_t LinkCapabilitiesSpeedMask = 0x0000000F;
constexpr uint32_t LinkCapabilitiesWidthMask = 0x000003F0;
constexpr unsigned LinkWidthShift = 4;
constexpr uint32_t ExpressLinkStatus = 0x12;
constexpr uint16_t LinkStatusSpeedMask = 0x000F;
constexpr uint16_t LinkStatusWidthMask = 0x03F0;
// Link speed codes 1-6 in GT/s; 0 stands for a code this table lacks.
constexpr double LinkSpeedGts[] = {0, 2.5, 5, 8, 16, 32, 64};
constexpr double LinkSpeedOf(uint32_t code) {
    return code < sizeof LinkSpeedGts / sizeof LinkSpeedGts[0] ? LinkSpeedGts[code] : 0;
}

// The extended capability list of a PCI Express function: a dword header
// (ID, version, next offset) per entry, from 0x100 on.
constexpr uint32_t ExtendedCapabilityFirst = 0x100;
constexpr uint32_t ExtendedIdMask = 0x0000FFFF;
constexpr unsigned ExtendedNextShift = 20;
constexpr uint32_t ExtendedNextMask = 0xFFC;  // after the shift; low two bits reserved
constexpr uint16_t ExtendedIdAer = 0x0001;

// Advanced Error Reporting (offsets from its start) and its status bits.
constexpr uint32_t AerUncorrectableStatus = 0x04;
constexpr uint32_t AerCorrectableStatus = 0x10;
constexpr uint32_t AerUncorrectableDataLinkProtocol = 1u << 4;
constexpr uint32_t AerUncorrectableSurpriseDown = 1u << 5;
constexpr uint32_t AerUncorrectablePoisonedTlp = 1u << 12;
constexpr uint32_t AerUncorrectableFlowControlProtocol = 1u << 13;
constexpr uint32_t AerUncorrectableCompletionTimeout = 1u << 14;
constexpr uint32_t AerUncorrectableCompleterAbort = 1u << 15;
constexpr uint32_t AerUncorrectableUnexpectedCompletion = 1u << 16;
constexpr uint32_t AerUncorrectableReceiverOverflow = 1u << 17;
constexpr uint32_t AerUncorrectableMalformedTlp = 1u << 18;
constexpr uint32_t AerUncorrectableEcrc = 1u << 19;
constexpr uint32_t AerUncorrectableUnsupportedRequest = 1u << 20;
constexpr uint32_t AerUncorrectableAcsViolation = 1u << 21;
constexpr uint32_t AerUncorrectableInternal = 1u << 22;
constexpr uint32_t AerUncorrectableMulticastBlocked = 1u << 23;
constexpr uint32_t AerUncorrectableAtomicEgressBlocked = 1u << 24;
constexpr uint32_t AerUncorrectablePrefixBlocked = 1u << 25;
constexpr uint32_t AerUncorrectablePoisonedEgressBlocked = 1u << 26;
constexpr uint32_t AerCorrectableReceiver = 1u << 0;
constexpr uint32_t AerCorrectableBadTlp = 1u << 6;
constexpr uint32_t AerCorrectableBadDllp = 1u << 7;
constexpr uint32_t AerCorrectableReplayRollover = 1u << 8;
constexpr uint32_t AerCorrectableReplayTimeout = 1u << 12;
constexpr uint32_t AerCorrectableAdvisoryNonFatal = 1u << 13;
constexpr uint32_t AerCorrectableInternal = 1u << 14;
constexpr uint32_t AerCorrectableHeaderLogOverflow = 1u << 15;


}  // namespace pcireg
