// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin windriver -- the per-scan driver context, the card-usable check,
// configuration reads and byte access to a card's address spaces.
#pragma once

#include <cstdint>

#include "windriver/WinDriverRequests.h"

// Spaces 0-5 are base address registers 0-5, space 6 the expansion ROM.
constexpr int AddressSpaceCount = 7;

struct AddressSpace {
    uint32_t ItemIndex;  // item of Registration.Card that backs the space
    uint32_t IsMemory;
    uint32_t Active;
};

struct DriverContext {
    DriverHandle Handle;
    uint32_t Bus;
    uint32_t Slot;
    uint32_t Function;
    CardRegisterRecord Registration;
    AddressSpace Spaces[AddressSpaceCount];
    uint32_t InterruptHandle;
    // A card whose registration gave a handle stays registered after the
    // check, so its register space (and the mapping of a memory space) is
    // still there for the EEPROM read; ReleaseCard ends it.
    bool Registered;
};

// The card-usable check's failure codes and the texts that go with them.
constexpr int32_t CardLockFailed = 5;  // registered, but no card handle
constexpr int32_t CardSecondInterrupt = 6;
constexpr int32_t CardNoMemorySpace = 7;  // memory items, none matched to a BAR
constexpr int32_t CardRegisterFailed = 9;
constexpr const char* CardLockFailedText = "P9080_CardIsUsable->Failed locking device.\n";
constexpr const char* CardSecondInterruptText =
    "P9080_CardIsUsable->Card does not have all items (Interrupt) expected for the card\n";
constexpr const char* CardNoMemorySpaceText =
    "P9080_CardIsUsable->Card does not have all items (Addr Space) expected for the card\n";
constexpr const char* CardRegisterFailedText = "P9080_CardIsUsable->Failed Card Register.\n";

// Registers the card that Bus/Slot/Function and Registration describe and
// matches its resources to base address registers. False with LastErrorCode
// set to one of the codes above. On any outcome with a card handle the card
// is left registered until ReleaseCard.
bool P9080_CardIsUsable(DriverContext& context);

// Sends WD_CardUnregister for a card the check left registered, and clears
// the address-space table; nothing when no card is registered.
void ReleaseCard(DriverContext& context);

bool DetectAddressSpaces(DriverContext& context, int32_t& code);
bool IsSpaceActive(const DriverContext& context, uint32_t space);

// A refused read yields 0.
uint32_t ReadConfigDword(DriverContext& context, uint32_t index);
// The same read, with the request's status beside the value as it left it.
uint32_t ReadConfigDword(DriverContext& context, uint32_t index, uint32_t& status);
uint32_t ReadConfigRegister(DriverContext& context, uint32_t offset);
// As ReadConfigDword, but false when the driver refused the read (past the
// function's space, say), with value 0.
bool TryReadConfigDword(DriverContext& context, uint32_t index, uint32_t& value);

// unit: 0 byte, 1 16-bit word, 2 32-bit word. Result: the request's status,
// or 0 without a request when the space is not active.
uint32_t TransferBlock(DriverContext& context, uint32_t space, uint32_t offset, bool isRead, void* buffer,
                       uint32_t byteCount, uint32_t unit);

// A memory space with a direct address is reached through that mapping, one
// without (direct address 0) through TransferBlock, as an I/O space is. A
// space that is not active, a mapping that is gone, or a refused transfer
// reads 0 and writes nothing.
uint8_t ReadSpaceByte(DriverContext& context, uint32_t space, uint32_t offset);
void WriteSpaceByte(DriverContext& context, uint32_t space, uint32_t offset, uint8_t value);
