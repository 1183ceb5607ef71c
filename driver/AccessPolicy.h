// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service -- what a client may do to this machine, in one
// place. The service consults it for every request, whichever bus backend
// serves it; nothing else grants anything.
//
// - Who: root, the service's own user and members of group quorrin
//   (PeerAllowed). Everyone else is closed before the welcome frame.
// - Configuration space: every listed function's may be read, up to its size
//   (256 or 4096 bytes). It is never written: the decoder refuses any other
//   direction.
// - BARs: read in units of 1, 2 or 4 bytes, aligned to the unit, inside a
//   resource of a card this connection holds registered. No descriptor or
//   mapping ever leaves the service, so an unregistered card or a closed
//   connection is out of reach at once. A function a kernel driver is bound
//   to (looked up at every transfer) is that driver's: only PLX 9056/9080
//   bridges are reached then (MayAccessBars).
// - Writes: only the registers of WritableRegisters, one byte at a time, and
//   only the bits they name may change.
// - Limits: MaxConnectionsPerUser (root exempt), MaxRegistrationsPerConnection,
//   and one registration of a card at a time across all connections.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "pci/PlxBridge.h"

namespace driverd {

bool PeerAllowed(uint32_t uid, uint32_t gid, const std::vector<uint32_t>& groups, uint32_t serviceUid,
                 std::optional<uint32_t> quorrinGid);

constexpr std::size_t MaxConnectionsPerUser = 32;
constexpr std::size_t MaxRegistrationsPerConnection = 100;  // a scan holds one at a time
constexpr bool CountsAgainstConnectionCap(uint32_t uid) {
    return uid != 0;
}

bool MayAccessBars(bool boundToDriver, uint16_t vendorId, uint16_t deviceId);

// A register a client may write: one byte at `Offset` of BAR `Bar` of the
// device. A write may change only `ChangeableBits`; every other bit must be
// written as it reads at that moment.
struct WritableRegister {
    uint16_t VendorId;
    uint16_t DeviceId;
    uint32_t Bar;
    uint64_t Offset;
    uint8_t ChangeableBits;
};

// The PLX bridges' EEPROM control byte (the top byte of CNTRL), in the
// memory-mapped and the I/O-mapped register space: the three lines to the
// part, the two read-only bits, and the 9056's EEDO input enable (read-only
// on the 9080), which the reader sets with chip select. Reload and reset are
// not among them: no member may reset a board or reload its configuration.
constexpr uint8_t EepromControlBits = plx::EepromClock | plx::EepromChipSelect | plx::EepromDataToPart |
                                      plx::EepromDataFromPart | plx::EepromPresent | plx::EepromOutputEnable;
static_assert(EepromControlBits == 0x9F);
constexpr WritableRegister WritableRegisters[] = {
    {plx::VendorId, plx::Device9056, plx::RegistersMemoryBar, plx::EepromControlOffset, EepromControlBits},
    {plx::VendorId, plx::Device9056, plx::RegistersIoBar, plx::EepromControlOffset, EepromControlBits},
    {plx::VendorId, plx::Device9080, plx::RegistersMemoryBar, plx::EepromControlOffset, EepromControlBits},
    {plx::VendorId, plx::Device9080, plx::RegistersIoBar, plx::EepromControlOffset, EepromControlBits},
};

// The entry that covers a write of `bytes` bytes in units of `unitBytes` at
// `offset` of BAR `bar`, or nullptr: every other write is refused.
const WritableRegister* FindWritableRegister(uint16_t vendorId, uint16_t deviceId, uint32_t bar,
                                             uint64_t offset, uint32_t unitBytes, uint32_t bytes);

constexpr bool WriteKeepsGuardedBits(const WritableRegister& r, uint8_t current, uint8_t value) {
    return ((current ^ value) & static_cast<uint8_t>(~r.ChangeableBits)) == 0;
}

}  // namespace driverd
