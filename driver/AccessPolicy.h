// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service -- what a client may do to this machine, in one
// place. The service consults it once for every request, whichever bus
// backend serves it; nothing else grants anything.
//
// - Who: root, the service's own user and members of group quorrin
//   (PeerAllowed). Everyone else is closed before the welcome frame.
// - Configuration space: every listed function's may be read, up to its size
//   (256 or 4096 bytes). It is never written (ConfigAccessAllowed).
// - BARs: only the PLX 9056/9080 register bytes the sniff touches, through
//   the register space of BAR 0 (memory) or BAR 1 (I/O), one byte per
//   transfer, of a card this connection holds registered. Reads: the
//   ReadableRegisters. Writes: the WritableRegisters, only the bits they name,
//   and on the EEPROM lines only what clocks a READ into the part
//   (EepromLines). Every other transfer is refused, whatever the device.
//   Reads have side effects on hardware (interrupt causes clear, queues pop,
//   a local-bus read nothing answers stalls the bus), so none is served
//   that the program does not make.
// - Limits: MaxConnectionsPerUser, MaxRegistrationsPerConnection and
//   MaxRegistrationsPerUser (root exempt from the per-user ones), one
//   registration of a card at a time, and RegistrationLapse.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "pci/PlxBridge.h"

namespace driverd {

bool PeerAllowed(uint32_t uid, uint32_t gid, const std::vector<uint32_t>& groups, uint32_t serviceUid,
                 std::optional<uint32_t> quorrinGid);

constexpr std::size_t MaxConnectionsPerUser = 32;
// A scan holds one card at a time; a few leave room for a tool that holds
// two, and none for one member keeping a machine's cards from root's sniff.
constexpr std::size_t MaxRegistrationsPerConnection = 4;
constexpr std::size_t MaxRegistrationsPerUser = 8;
constexpr bool CountsAgainstUserCaps(uint32_t uid) {
    return uid != 0;
}
// A registration that no request of its holder has used for this long is
// released: a stuck or hostile client cannot keep a card.
constexpr std::chrono::seconds RegistrationLapse{10};

// Direction 1 (read) only.
bool ConfigAccessAllowed(uint32_t direction);

// A range of register bytes of a device's BAR: `First` to `Last` inclusive.
struct RegisterRange {
    uint16_t VendorId;
    uint16_t DeviceId;
    uint32_t Bar;
    uint64_t First;
    uint64_t Last;
};

// CNTRL (0x6C-0x6F, the EEPROM lines in its top byte) and PCIIDR
// (0x70-0x73, the byte 0x72 that tells a 9056), in both register spaces.
constexpr RegisterRange ReadableRegisters[] = {
    {plx::VendorId, plx::Device9056, plx::RegistersMemoryBar, plx::CntrlOffset, plx::IdOffset + 3},
    {plx::VendorId, plx::Device9056, plx::RegistersIoBar, plx::CntrlOffset, plx::IdOffset + 3},
    {plx::VendorId, plx::Device9080, plx::RegistersMemoryBar, plx::CntrlOffset, plx::IdOffset + 3},
    {plx::VendorId, plx::Device9080, plx::RegistersIoBar, plx::CntrlOffset, plx::IdOffset + 3},
};

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

// Where an instruction clocked into a bridge's EEPROM stands, as far as the
// service has let it go. Kept per device (the part is one, whichever BAR or
// connection drives it), set to Unknown at every registration.
enum class EepromPhase {
    Unknown,  // chip select not yet seen low: the part may be inside anything
    Idle,     // selected afresh: leading zeros, then the start bit
    Opcode1,  // after the start bit: must be 1
    Opcode2,  // must be 0
    Reading,  // a READ: address and data bits, until chip select falls
};
struct EepromLines {
    EepromPhase Phase = EepromPhase::Unknown;
    uint8_t Driven = 0;  // the driven lines as the service last wrote them
};

// One transfer as the service resolved it against a registration.
struct TransferAsk {
    uint16_t VendorId;
    uint16_t DeviceId;
    uint32_t Bar;
    uint64_t Offset;
    uint32_t UnitBytes;
    uint32_t Bytes;      // in all; one address when they are all to one offset
    bool IsRead;
    const uint8_t* Data;  // the bytes a write brings
};

enum class Verdict { Allowed, Denied, ReadFailed };

// The one decision on a transfer. For a write `readNow` reads the byte as
// it is (nullopt when the bus fails), and `lines` is the device's EEPROM
// state, advanced when the write is allowed; a refused write leaves both
// the byte and the state as they were.
Verdict JudgeTransfer(const TransferAsk& ask, EepromLines& lines,
                      const std::function<std::optional<uint8_t>()>& readNow);

// The steps of JudgeTransfer, named for the tests and for the README's
// account of them.
const RegisterRange* FindReadableRegister(const TransferAsk& ask);
const WritableRegister* FindWritableRegister(const TransferAsk& ask);
constexpr bool WriteKeepsGuardedBits(const WritableRegister& r, uint8_t current, uint8_t value) {
    return ((current ^ value) & static_cast<uint8_t>(~r.ChangeableBits)) == 0;
}
// Whether writing `value` over the control byte that reads `current` can
// make the part take anything but a READ; advances `lines` when not.
bool EepromWriteAllowed(EepromLines& lines, uint8_t current, uint8_t value);

}  // namespace driverd
