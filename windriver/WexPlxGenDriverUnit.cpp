// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin windriver -- card registration and resource matching, configuration
// reads and address-space byte access on top of the driver requests.
#include "windriver/WexPlxGenDriverUnit.h"

#include <cstring>

namespace {

struct RegisterWidth {
    uint32_t Offset;
    uint32_t Bytes;
};

// Registers that ReadConfigRegister reads whole; any other offset reads the
// vendor identifier.
constexpr RegisterWidth ConfigWidths[] = {
    {0x00, 4}, {0x02, 2}, {0x04, 2}, {0x06, 2}, {0x08, 1}, {0x09, 3}, {0x0C, 1}, {0x0D, 1},
    {0x0E, 1}, {0x0F, 1}, {0x10, 4}, {0x14, 4}, {0x18, 4}, {0x1C, 4}, {0x20, 4}, {0x24, 4},
    {0x28, 4}, {0x2C, 4}, {0x2E, 2}, {0x30, 4}, {0x3C, 1}, {0x3D, 1}, {0x3E, 1}, {0x3F, 1},
};

uint32_t ConfigRead(DriverContext& context, uint32_t offset, uint32_t bytes, uint32_t* status = nullptr) {
    uint32_t word = 0;
    ConfigAccessRecord record{};
    record.Bus = context.Bus;
    record.Slot = context.Slot;
    record.Function = context.Function;
    record.Buffer = ClientAddress(&word, sizeof word);
    record.Offset = offset;
    record.Bytes = bytes;
    record.Direction = ConfigDirectionRead;
    const uint32_t answer = DriverRequest(WD_PciConfigDump, context.Handle, &record, sizeof record);
    if (status) *status = answer;
    switch (record.Bytes) {
    case 1: return word & 0xFFu;
    case 2: return word & 0xFFFFu;
    case 3: return word & 0xFFFFFFu;
    default: return word;
    }
}

void ClearSpaces(DriverContext& context) {
    std::memset(context.Spaces, 0, sizeof context.Spaces);
    context.InterruptHandle = 0;
}

uint32_t BarOffset(uint32_t space) { return space < 6 ? 0x10 + 4 * space : 0x30; }

// The resource item behind an active space, or nullptr.
const ResourceItem* SpaceItem(const DriverContext& context, uint32_t space) {
    if (!IsSpaceActive(context, space)) return nullptr;
    const uint32_t index = context.Spaces[space].ItemIndex;
    if (index >= MaxResourceItems) return nullptr;
    return &context.Registration.Card.Items[index];
}

uint32_t TransferCommandFor(bool isRead, uint32_t unit, bool isMemory) {
    if (unit > 2) return 0;
    const uint32_t first = isMemory ? (isRead ? ReadMemByte : WriteMemByte) : (isRead ? ReadPortByte : WritePortByte);
    return first + unit;
}

// Where the program itself reaches byte `offset` of a memory space through
// the driver's user-mode mapping, or nullptr when the mapping is not (or no
// longer) there. The whole 64-bit sum
// is the address: cutting it to 32 bits would point anywhere in a 64-bit
// process.
volatile uint8_t* DirectByte(const ResourceItem& item, uint32_t offset) {
    const uint64_t address = item.Mem.DirectAddress + offset;
    if (item.Mem.DirectAddress == 0 || !DirectAccessible(address, 1)) return nullptr;
    if constexpr (sizeof(uintptr_t) < sizeof(uint64_t)) {
        if ((address >> 32) != 0) return nullptr;
    }
    return reinterpret_cast<volatile uint8_t*>(static_cast<uintptr_t>(address));
}

}  // namespace

bool IsSpaceActive(const DriverContext& context, uint32_t space) {
    return space < AddressSpaceCount && context.Spaces[space].Active != 0;
}

uint32_t ReadConfigDword(DriverContext& context, uint32_t index) { return ConfigRead(context, index * 4, 4); }

uint32_t ReadConfigDword(DriverContext& context, uint32_t index, uint32_t& status) {
    return ConfigRead(context, index * 4, 4, &status);
}

bool TryReadConfigDword(DriverContext& context, uint32_t index, uint32_t& value) {
    uint32_t status = 0;
    value = ConfigRead(context, index * 4, 4, &status);
    if (status != 0) value = 0;
    return status == 0;
}

uint32_t ReadConfigRegister(DriverContext& context, uint32_t offset) {
    for (const RegisterWidth& r : ConfigWidths)
        if (r.Offset == offset) return ConfigRead(context, offset, r.Bytes);
    return ConfigRead(context, 0x00, 2);
}

bool DetectAddressSpaces(DriverContext& context, int32_t& code) {
    ClearSpaces(context);
    code = 0;
    bool hasMemory = false;
    const CardResourceBlock& card = context.Registration.Card;
    // The driver's count is not trusted past the block's capacity.
    const uint32_t count = card.NumItems < MaxResourceItems ? card.NumItems : MaxResourceItems;
    for (uint32_t i = 0; i < count; ++i) {
        const ResourceItem& item = card.Items[i];
        if (item.Type == ItemInterrupt) {
            if (context.InterruptHandle != 0) {
                code = CardSecondInterrupt;
                return false;
            }
            context.InterruptHandle = item.Int.Handle;
            continue;
        }
        if (item.Type != ItemMemory && item.Type != ItemIO) continue;
        const bool isMemory = item.Type == ItemMemory;
        const uint64_t address = isMemory ? uint64_t{item.Mem.PhysicalAddress} : item.IO.Address;
        hasMemory = hasMemory || isMemory;
        for (uint32_t j = 0; j < AddressSpaceCount; ++j) {
            if (context.Spaces[j].Active) continue;
            const uint32_t raw = ReadConfigRegister(context, BarOffset(j));
            uint32_t bar = raw;
            if (raw & 1u) {
                if (isMemory) continue;
                bar &= ~0x3u;
            } else {
                if (!isMemory) continue;
                bar &= ~0xFu;
            }
            // A register reading 0 is not implemented and is nobody's space.
            // Any other is matched on its low half only: a 64-bit memory BAR
            // above 4 GiB has a cleared low half of 0, the value the item's
            // 32-bit physical address field carries for it.
            if (raw == 0 || (address >> 32) != 0 || static_cast<uint32_t>(address) != bar) continue;
            context.Spaces[j] = {i, isMemory ? 1u : 0u, 1u};
            break;
        }
    }
    if (!hasMemory) return true;
    for (const AddressSpace& s : context.Spaces)
        if (s.Active) return true;
    code = CardNoMemorySpace;
    return false;
}

bool P9080_CardIsUsable(DriverContext& context) {
    // Never two registrations at once, and never an earlier card's spaces.
    ReleaseCard(context);
    ClearSpaces(context);
    LastErrorCode = 0;
    context.Registration.LockCheckOnly = 0;
    const uint32_t status =
        DriverRequest(WD_CardRegister, context.Handle, &context.Registration, sizeof context.Registration);
    if (status != 0) {
        SetLastError(CardRegisterFailed, CardRegisterFailedText);
        return false;
    }
    if (context.Registration.CardHandle == 0) {
        SetLastError(CardLockFailed, CardLockFailedText);
        return false;
    }
    context.Registered = true;
    int32_t code = 0;
    const bool usable = DetectAddressSpaces(context, code);
    if (!usable) {
        SetLastError(code, code == CardSecondInterrupt ? CardSecondInterruptText : CardNoMemorySpaceText);
    }
    return usable;
}

void ReleaseCard(DriverContext& context) {
    if (!context.Registered) return;
    // The status is not examined: a card the driver no longer knows is
    // released as far as we are concerned.
    DriverRequest(WD_CardUnregister, context.Handle, &context.Registration, sizeof context.Registration);
    context.Registered = false;
    ClearSpaces(context);
}

uint32_t TransferBlock(DriverContext& context, uint32_t space, uint32_t offset, bool isRead, void* buffer,
                       uint32_t byteCount, uint32_t unit) {
    const ResourceItem* item = SpaceItem(context, space);
    if (item == nullptr) return 0;
    const bool isMemory = context.Spaces[space].IsMemory != 0;
    TransferRecord record{};
    record.Command = TransferCommandFor(isRead, unit, isMemory);
    record.Address = (isMemory ? item->Mem.TransferAddress : item->IO.Address) + offset;
    record.Bytes = byteCount;
    record.AutoIncrement = 1;
    record.Options = 0;
    record.Data = ClientAddress(buffer, byteCount);
    return DriverRequest(WD_Transfer, context.Handle, &record, sizeof record);
}

// A memory space with a direct address is reached through it; one whose
// direct address is 0 (a driver that hands out no mapping) goes through
// transfers with the memory commands, as an I/O space does.
uint8_t ReadSpaceByte(DriverContext& context, uint32_t space, uint32_t offset) {
    const ResourceItem* item = SpaceItem(context, space);
    if (item == nullptr) return 0;
    if (context.Spaces[space].IsMemory && item->Mem.DirectAddress != 0) {
        volatile uint8_t* p = DirectByte(*item, offset);
        return p ? *p : 0;
    }
    uint8_t value = 0;
    if (TransferBlock(context, space, offset, true, &value, 1, 0) != 0) return 0;
    return value;
}

void WriteSpaceByte(DriverContext& context, uint32_t space, uint32_t offset, uint8_t value) {
    const ResourceItem* item = SpaceItem(context, space);
    if (item == nullptr) return;
    if (context.Spaces[space].IsMemory && item->Mem.DirectAddress != 0) {
        if (volatile uint8_t* p = DirectByte(*item, offset)) *p = value;
        return;
    }
    TransferBlock(context, space, offset, false, &value, 1, 0);
}
