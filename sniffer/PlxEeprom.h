// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin sniffer -- reading the serial EEPROM of a PLX 9056/9080 bridge by
// driving its lines through the bridge's EEPROM control byte.
#pragma once

#include <cstdint>

#include "pci/PlxBridge.h"
#include "windriver/WexPlxGenDriverUnit.h"

// The card's address space that maps the bridge's registers.
constexpr uint32_t PlxRegisterSpace = plx::RegistersIoBar;
constexpr uint32_t EepromControlOffset = plx::EepromControlOffset;
constexpr uint32_t PlxIdOffset = plx::IdDeviceLowOffset;
constexpr uint16_t EepromReadInstruction = plx::EepromReadInstruction;

// One byte of the bridge's register block. Every access happens, in order;
// none is cached or merged, because the serial protocol is made of them.
class EepromRegisters {
public:
    virtual ~EepromRegisters() = default;
    virtual uint8_t ReadByte(uint32_t offset) = 0;
    virtual void WriteByte(uint32_t offset, uint8_t value) = 0;
};

// Address space 1 of the context's card.
class CardRegisters final : public EepromRegisters {
public:
    explicit CardRegisters(DriverContext& context) : context_(context) {}
    uint8_t ReadByte(uint32_t offset) override { return ReadSpaceByte(context_, PlxRegisterSpace, offset); }
    void WriteByte(uint32_t offset, uint8_t value) override {
        WriteSpaceByte(context_, PlxRegisterSpace, offset, value);
    }

private:
    DriverContext& context_;
};

void ReadPlxEeprom(DriverContext& context, uint32_t count, uint16_t* words);
uint16_t EepromReadWord(DriverContext& context, uint32_t index);

// The steps, on any register block.
void ReadPlxEeprom(EepromRegisters& registers, uint32_t count, uint16_t* words);
uint16_t EepromReadWord(EepromRegisters& registers, uint32_t index);  // low 8 bits of index used
void EepromSendCommand(EepromRegisters& registers, uint16_t address, uint16_t instruction);
int EepromAddressBits(EepromRegisters& registers);  // 11 on a 9056, else 9
void EepromStart(EepromRegisters& registers);
void EepromEnd(EepromRegisters& registers);
void EepromShiftOut(EepromRegisters& registers, uint16_t bits, int count);
uint8_t EepromReadControl(EepromRegisters& registers);
void EepromWriteControl(EepromRegisters& registers, uint8_t value);
