// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the serial EEPROM model on its own: every instruction does to the
// part what a 93CS46/93CS56 does, so the guarded service is shown against a
// model that can change.
#include "driver/SerialEeprom.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "driver/testing/Microwire.h"
#include "pci/PlxBridge.h"

namespace {

using driverd::SerialEeprom;

void Clock(SerialEeprom& part, const microwire::Instruction& instruction, std::size_t cutAfter = SIZE_MAX) {
    microwire::Instruction sent = instruction;
    if (cutAfter < sent.Bits.size()) sent.Bits.resize(cutAfter);
    microwire::ClockIn(sent, [&](uint8_t v) {
        part.Drive(v & plx::EepromChipSelect, v & plx::EepromClock, v & plx::EepromDataToPart);
        return true;
    });
}

TEST(SerialEeprom, EveryWriteInstructionActsOnlyWhileWritesAreEnabled) {
    for (unsigned bits : {plx::EepromAddressBits9056, plx::EepromAddressBits9080}) {
        const unsigned words = 1u << bits;
        std::vector<uint16_t> start(words);
        for (unsigned i = 0; i < words; ++i) start[i] = static_cast<uint16_t>(0x0101 * i);
        const auto six = microwire::WriteInstructions(bits);
        const auto& ewen = six[0];
        const auto& write = six[1];
        const auto& erase = six[2];
        const auto& eral = six[3];
        const auto& wral = six[4];
        const auto& ewds = six[5];
        auto with = [&](std::vector<std::pair<unsigned, uint16_t>> changes) {
            std::vector<uint16_t> w = start;
            for (auto [at, value] : changes) w[at] = value;
            return w;
        };
        const struct {
            const char* name;
            std::vector<const microwire::Instruction*> sequence;
            std::vector<uint16_t> expected;
        } cases[] = {
            {"WRITE at power-up: the latch is off", {&write}, start},
            {"EWEN, WRITE word 3", {&ewen, &write}, with({{3, 0xDEAD}})},
            {"EWEN, ERASE word 5", {&ewen, &erase}, with({{5, 0xFFFF}})},
            {"EWEN, ERAL", {&ewen, &eral}, std::vector<uint16_t>(words, 0xFFFF)},
            {"EWEN, WRAL", {&ewen, &wral}, std::vector<uint16_t>(words, 0x1234)},
            {"EWEN, EWDS, WRITE", {&ewen, &ewds, &write}, start},
            {"EWEN, WRITE, ERASE the same latch", {&ewen, &write, &erase}, with({{3, 0xDEAD}, {5, 0xFFFF}})},
        };
        for (const auto& c : cases) {
            SerialEeprom part(bits, start, true);
            for (const auto* i : c.sequence) Clock(part, *i);
            EXPECT_EQ(part.Words(), c.expected) << c.name << ", " << bits << " address bits";
        }
        // A WRITE whose chip select falls before its last data bit does nothing.
        SerialEeprom part(bits, start, true);
        Clock(part, ewen);
        Clock(part, write, write.Bits.size() - 1);
        EXPECT_EQ(part.Words(), start) << bits;
    }
}

}  // namespace
