// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin test support -- the instructions of a 93CS46/93CS56 serial EEPROM
// as the bits a client clocks in, and the control-byte writes that clock
// them through a PLX bridge, as an attacker (or a programmer) would.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "pci/PlxBridge.h"

namespace microwire {

struct Instruction {
    std::string Name;
    std::vector<int> Bits;  // start bit first
};

// Start bit, opcode, `addressBits` of address, then `data` (16 bits) when given.
inline Instruction Make(const std::string& name, unsigned opcode, unsigned address, unsigned addressBits,
                        const uint16_t* data = nullptr) {
    Instruction i{name, {1, static_cast<int>((opcode >> 1) & 1), static_cast<int>(opcode & 1)}};
    for (unsigned b = addressBits; b-- > 0;) i.Bits.push_back(static_cast<int>((address >> b) & 1));
    if (data)
        for (int b = 15; b >= 0; --b) i.Bits.push_back((*data >> b) & 1);
    return i;
}

// The six that change the part or its write-enable latch, with EWEN first:
// EWEN, WRITE word 3 := 0xDEAD, ERASE word 5, ERAL, WRAL 0x1234, EWDS.
inline std::vector<Instruction> WriteInstructions(unsigned addressBits) {
    static const uint16_t dead = 0xDEAD, all = 0x1234;
    const unsigned top = addressBits - 2;  // the extended instructions' two address bits
    return {Make("EWEN", 0b00, 0b11u << top, addressBits), Make("WRITE", 0b01, 3, addressBits, &dead),
            Make("ERASE", 0b11, 5, addressBits), Make("ERAL", 0b00, 0b10u << top, addressBits),
            Make("WRAL", 0b00, 0b01u << top, addressBits, &all), Make("EWDS", 0b00, 0, addressBits)};
}

// Clocks one instruction in through control-byte writes, each given to
// `write`, which says whether the write was taken: chip select low, chip
// select high, then per bit the data line, the clock up, the clock down, and
// chip select low at the end. Returns the index of the first write refused,
// -1 when all were taken.
inline int ClockIn(const Instruction& instruction, const std::function<bool(uint8_t)>& write) {
    int index = 0, refused = -1;
    auto put = [&](uint8_t value) {
        if (!write(value) && refused < 0) refused = index;
        ++index;
    };
    put(0);
    put(plx::EepromChipSelect);
    for (int bit : instruction.Bits) {
        const uint8_t v = plx::EepromChipSelect | (bit ? plx::EepromDataToPart : 0);
        put(v);
        put(v | plx::EepromClock);
        put(v);
    }
    put(0);
    return refused;
}

// The index ClockIn gives for the first edge that makes anything but READ:
// the first opcode bit that is not 1, or the second that is not 0.
inline int FirstForbiddenWrite(const Instruction& instruction) {
    const int firstBitWrites = 2;  // chip select low, then high
    if (instruction.Bits[1] != 1) return firstBitWrites + 3 * 1 + 1;
    return firstBitWrites + 3 * 2 + 1;
}

// One word read as the sniff reads it, through `read` (a byte of the
// register space) and `write` (the control byte): the even word's READ, and
// for an odd index 16 clocks more into the next word.
inline uint16_t ReadWordAsTheSniff(const std::function<uint8_t(uint32_t)>& read,
                                   const std::function<void(uint8_t)>& write, unsigned index) {
    const uint8_t keep = plx::EepromOutputEnable;
    auto control = [&] { return read(plx::EepromControlOffset); };
    auto end = [&] { write(control() & keep); };
    const int n = 3 + static_cast<int>(read(plx::IdDeviceLowOffset) == plx::IdDeviceLow9056
                                           ? plx::EepromAddressBits9056
                                           : plx::EepromAddressBits9080);
    uint16_t bits = static_cast<uint16_t>((((index & 0xFEu) << (16 - n)) & 0x1FFF) | plx::EepromReadInstruction);
    end();
    write(control() | plx::EepromChipSelect);
    const uint8_t base = control() & plx::EepromChipSelect;
    for (int i = 0; i < n; ++i, bits = static_cast<uint16_t>(bits << 1)) {
        const uint8_t v = base | ((bits & 0x8000u) ? plx::EepromDataToPart : 0);
        write(v);
        write(v | plx::EepromClock);
        write(v);
    }
    write(keep | plx::EepromChipSelect);
    uint16_t acc = 0;
    for (int b = 0; b < ((index & 1) ? 32 : 16); ++b) {
        write(control() | plx::EepromChipSelect | plx::EepromClock);
        const uint8_t r = control();
        acc = static_cast<uint16_t>(acc << 1 | ((r & plx::EepromDataFromPart) ? 1 : 0));
        write(r & (keep | plx::EepromChipSelect));
    }
    end();
    return acc;
}

}  // namespace microwire
