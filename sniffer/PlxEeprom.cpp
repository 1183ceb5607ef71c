// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin sniffer -- the PLX serial EEPROM reader: chip select, clock and
// data lines driven one register access at a time, with no delays.
#include "sniffer/PlxEeprom.h"

namespace {
// The lines as the bridge sees them: data out goes to the part.
constexpr uint8_t Clock = plx::EepromClock;
constexpr uint8_t ChipSelect = plx::EepromChipSelect;
constexpr uint8_t DataOut = plx::EepromDataToPart;
constexpr uint8_t DataIn = plx::EepromDataFromPart;
constexpr uint8_t Bit7 = plx::EepromOutputEnable;
// A start bit and two opcode bits go before the address.
constexpr int InstructionBits = 3;
}  // namespace

uint8_t EepromReadControl(EepromRegisters& registers) { return registers.ReadByte(EepromControlOffset); }

void EepromWriteControl(EepromRegisters& registers, uint8_t value) {
    registers.WriteByte(EepromControlOffset, value);
}

void EepromEnd(EepromRegisters& registers) {
    EepromWriteControl(registers, EepromReadControl(registers) & Bit7);
}

void EepromStart(EepromRegisters& registers) {
    EepromEnd(registers);
    EepromWriteControl(registers, EepromReadControl(registers) | ChipSelect);
}

int EepromAddressBits(EepromRegisters& registers) {
    const bool is9056 = registers.ReadByte(PlxIdOffset) == plx::IdDeviceLow9056;
    return InstructionBits + static_cast<int>(is9056 ? plx::EepromAddressBits9056 : plx::EepromAddressBits9080);
}

void EepromShiftOut(EepromRegisters& registers, uint16_t bits, int count) {
    const uint8_t base = EepromReadControl(registers) & ChipSelect;
    for (; count > 0; --count) {
        const uint8_t v = base | ((bits & 0x8000u) ? DataOut : 0);
        EepromWriteControl(registers, v);
        EepromWriteControl(registers, v | Clock);
        EepromWriteControl(registers, v);
        bits = static_cast<uint16_t>(bits << 1);
    }
}

void EepromSendCommand(EepromRegisters& registers, uint16_t address, uint16_t instruction) {
    const int n = EepromAddressBits(registers);
    const uint16_t placed = static_cast<uint16_t>((address << (16 - n)) & 0x1FFF);
    EepromStart(registers);
    EepromShiftOut(registers, static_cast<uint16_t>(placed | instruction), n);
}

uint16_t EepromReadWord(EepromRegisters& registers, uint32_t index) {
    index &= 0xFF;
    uint16_t acc = 0;
    const int bits = (index & 1) ? 32 : 16;
    // An odd word is read through the even one below it: the part streams on
    // into the next word, and the last 16 bits clocked in are the odd word.
    EepromSendCommand(registers, static_cast<uint16_t>(index & 0xFE), EepromReadInstruction);
    EepromWriteControl(registers, Bit7 | ChipSelect);
    for (int b = 0; b < bits; ++b) {
        acc = static_cast<uint16_t>(acc << 1);
        EepromWriteControl(registers, EepromReadControl(registers) | ChipSelect | Clock);
        const uint8_t r = EepromReadControl(registers);
        if (r & DataIn) acc = static_cast<uint16_t>(acc + 1);
        EepromWriteControl(registers, r & (Bit7 | ChipSelect));
    }
    EepromEnd(registers);
    return acc;
}

void ReadPlxEeprom(EepromRegisters& registers, uint32_t count, uint16_t* words) {
    for (uint32_t i = 0; i < count; ++i) words[i] = EepromReadWord(registers, i);
}

void ReadPlxEeprom(DriverContext& context, uint32_t count, uint16_t* words) {
    CardRegisters registers(context);
    ReadPlxEeprom(registers, count, words);
}

uint16_t EepromReadWord(DriverContext& context, uint32_t index) {
    CardRegisters registers(context);
    return EepromReadWord(registers, index);
}
