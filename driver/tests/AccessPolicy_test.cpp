// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the EEPROM line rule: which control-byte writes may clock a bit
// into the part, from each phase of an instruction.
#include "driver/AccessPolicy.h"

#include <gtest/gtest.h>

namespace {

using driverd::EepromLines;
using driverd::EepromPhase;

constexpr uint8_t Clk = plx::EepromClock, Cs = plx::EepromChipSelect, Di = plx::EepromDataToPart,
                  Released = plx::EepromOutputEnable, FromPart = plx::EepromDataFromPart;

TEST(EepromLineRule, OnlyTheEdgesOfAReadPass) {
    const struct {
        const char* name;
        EepromPhase phase;  // as the service left the lines at `current`
        uint8_t current, value;
        bool allowed;
        EepromPhase after;
    } cases[] = {
        {"start bit", EepromPhase::Idle, Cs | Di, Cs | Di | Clk, true, EepromPhase::Opcode1},
        {"leading zero", EepromPhase::Idle, Cs, Cs | Clk, true, EepromPhase::Idle},
        {"opcode 1 then", EepromPhase::Opcode1, Cs | Di, Cs | Di | Clk, true, EepromPhase::Opcode2},
        {"opcode 0 first", EepromPhase::Opcode1, Cs, Cs | Clk, false, EepromPhase::Opcode1},
        {"opcode 0 second", EepromPhase::Opcode2, Cs, Cs | Clk, true, EepromPhase::Reading},
        {"opcode 1 second", EepromPhase::Opcode2, Cs | Di, Cs | Di | Clk, false, EepromPhase::Opcode2},
        {"anything once reading", EepromPhase::Reading, Cs | Di | Released, Cs | Di | Released | Clk, true,
         EepromPhase::Reading},
        {"data line changed with the edge", EepromPhase::Reading, Cs, Cs | Di | Clk, false, EepromPhase::Reading},
        {"chip select raised with the edge", EepromPhase::Idle, 0, Cs | Clk, false, EepromPhase::Idle},
        {"chip select dropped with the edge", EepromPhase::Reading, Cs, Clk, false, EepromPhase::Reading},
        {"an edge while the 9056 lets go of the data pin", EepromPhase::Idle, Cs | Released,
         Cs | Released | Clk, false, EepromPhase::Idle},
        {"an edge into an instruction not seen from its start", EepromPhase::Unknown, Cs, Cs | Clk, false,
         EepromPhase::Unknown},
        {"the clock with chip select low", EepromPhase::Unknown, 0, Clk, true, EepromPhase::Idle},
        {"chip select falls: afresh", EepromPhase::Opcode2, Cs | Di, Di, true, EepromPhase::Idle},
        {"the read-only bits do not count", EepromPhase::Opcode1, Cs | Di | FromPart, Cs | Di | Clk, true,
         EepromPhase::Opcode2},
    };
    for (const auto& c : cases) {
        EepromLines lines{c.phase, static_cast<uint8_t>(c.current & ~FromPart)};
        EXPECT_EQ(driverd::EepromWriteAllowed(lines, c.current, c.value), c.allowed) << c.name;
        EXPECT_EQ(lines.Phase, c.after) << c.name;
    }
}

// Lines that read otherwise than the service wrote them were driven by
// someone else: the instruction is judged as unknown until chip select falls.
TEST(EepromLineRule, LinesMovedBehindTheServicesBackMakeItUnknown) {
    EepromLines lines{EepromPhase::Reading, Cs};
    EXPECT_FALSE(driverd::EepromWriteAllowed(lines, Cs | Di, Cs | Di | Clk));
    EXPECT_TRUE(driverd::EepromWriteAllowed(lines, Cs | Di, 0));
    EXPECT_EQ(lines.Phase, EepromPhase::Idle);
}

}  // namespace
