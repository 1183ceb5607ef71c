// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver wire -- the frames the client and quorrin-driverd
// exchange over their SOCK_SEQPACKET connection, one message per frame.
//
// A request frame is a header, the request record exactly as the caller
// built it, and for a transfer that writes the bytes to write. A reply frame
// is a header with the status, the record as the service left it, and any
// data the caller's pointer field named (the configuration result word, the
// bytes a transfer read). No descriptor ever rides along: every access to a
// card is a request the service checks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wire/DriverRecords.h"

namespace wire {

constexpr uint32_t RequestMagic = 0x51524551u;  // "QERQ" little-endian
constexpr uint32_t ReplyMagic = 0x50535251u;    // "QRSP"
constexpr uint32_t WelcomeMagic = 0x4c455751u;  // "QWEL": sent once on accept

struct FrameHeader {
    uint32_t Magic;
    uint32_t CodeOrStatus;  // request code in a request, status in a reply
    uint32_t RecordSize;
    uint32_t DataSize;
};
static_assert(sizeof(FrameHeader) == 16);

// Largest transfer one request may move, and so the largest frame.
constexpr uint32_t MaxTransferBytes = 64 * 1024;
constexpr uint32_t MaxRecordSize = sizeof(PciScanRecord);
constexpr std::size_t MaxFrameSize = sizeof(FrameHeader) + MaxRecordSize + MaxTransferBytes;

// Statuses of our own; 0 is success as for every request.
constexpr uint32_t StatusUnknownRequest = 0x20000001u;
constexpr uint32_t StatusBadRecord = 0x20000002u;     // size or a field out of bounds
constexpr uint32_t StatusNoSuchCard = 0x20000003u;
constexpr uint32_t StatusRefused = 0x20000004u;       // the bus refused (or a simulated fault)
constexpr uint32_t StatusOutOfRange = 0x20000005u;    // outside what this client registered
constexpr uint32_t StatusNotRegistered = 0x20000006u; // unknown card handle
constexpr uint32_t StatusBadBuffer = 0x20000007u;     // client side: unknown token or short buffer
constexpr uint32_t StatusDenied = 0x20000008u;        // a write the access policy does not allow
constexpr uint32_t StatusLimit = 0x20000009u;         // more registrations than one connection may hold
constexpr uint32_t StatusNoAnswer = 0xFFFFFFFFu;

// Bytes per unit of a transfer command, 0 for an unknown command.
constexpr uint32_t TransferUnitBytes(uint32_t command) {
    switch (command) {
    case ReadPortByte: case WritePortByte: case ReadMemByte: case WriteMemByte: return 1;
    case ReadPortWord: case WritePortWord: case ReadMemWord: case WriteMemWord: return 2;
    case ReadPortDword: case WritePortDword: case ReadMemDword: case WriteMemDword: return 4;
    default: return 0;
    }
}
constexpr bool TransferIsRead(uint32_t command) {
    return (command >= ReadPortByte && command <= ReadPortDword) ||
           (command >= ReadMemByte && command <= ReadMemDword);
}
constexpr bool TransferIsMemory(uint32_t command) { return command >= ReadMemByte; }

// A memory item's physical-address field holds 32 bits; the service keeps
// the upper half of a BAR above 4 GiB in the item's driver-own word, so that
// the item still names the whole bus address.
constexpr uint64_t ItemMemoryAddress(const ResourceItem& item) {
    return (uint64_t{item.Mem.DriverOwn} << 32) | item.Mem.PhysicalAddress;
}

// Size of the record a request code carries, 0 for an unknown code.
constexpr uint32_t RecordSizeOf(uint32_t code) {
    switch (code) {
    case WD_Version: return sizeof(VersionRecord);
    case WD_PciScanCards: return sizeof(PciScanRecord);
    case WD_PciGetCardInfo: return sizeof(CardInfoRecord);
    case WD_CardRegister: case WD_CardUnregister: return sizeof(CardRegisterRecord);
    case WD_PciConfigDump: return sizeof(ConfigAccessRecord);
    case WD_Transfer: return sizeof(TransferRecord);
    default: return 0;
    }
}

}  // namespace wire
