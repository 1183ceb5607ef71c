// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the capability walk: lists as cards and hostile files give them,
// the entries walked and where a list breaks; random spaces never hang it
// or lead it out of bounds.
#include "pci/CapabilityList.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "platform/testing/ParamName.h"

namespace {

struct ListCase {
    const char* Name;
    std::vector<std::pair<uint32_t, uint32_t>> Dwords;  // offset, value
    pcicap::List Which;
    std::vector<uint32_t> Offsets;  // the entries walked, in order
    pcicap::Break Broken;
    uint32_t At, Target;
};

constexpr uint32_t CapList = 0x00100000;  // the status register's Capabilities List bit

const ListCase Lists[] = {
    {"NoListBit", {{0x34, 0x40}, {0x40, 0x0001}}, pcicap::List::Standard, {}, pcicap::Break::None, 0, 0},
    {"TwoEntries", {{0x04, CapList}, {0x34, 0x40}, {0x40, 0x5001}, {0x50, 0x0005}}, pcicap::List::Standard,
     {0x40, 0x50}, pcicap::Break::None, 0, 0},
    {"ReservedLowBitsMasked", {{0x04, CapList}, {0x34, 0x43}, {0x40, 0x0001}}, pcicap::List::Standard, {0x40},
     pcicap::Break::None, 0, 0},
    {"CardBusHead", {{0x04, CapList}, {0x0C, 0x00020000}, {0x14, 0x80}, {0x80, 0x0001}}, pcicap::List::Standard,
     {0x80}, pcicap::Break::None, 0, 0},
    {"SelfLoop", {{0x04, CapList}, {0x34, 0x40}, {0x40, 0x4001}}, pcicap::List::Standard, {0x40},
     pcicap::Break::Loop, 0x40, 0x40},
    {"HeadIntoHeader", {{0x04, CapList}, {0x34, 0x3C}}, pcicap::List::Standard, {}, pcicap::Break::IntoHeader, 0x34,
     0x3C},
    {"ExtendedTwo", {{0x100, 0x14010001}, {0x140, 0x0001000B}}, pcicap::List::Extended, {0x100, 0x140},
     pcicap::Break::None, 0, 0},
    {"ExtendedAllOnesIsNone", {{0x100, 0xFFFFFFFF}}, pcicap::List::Extended, {}, pcicap::Break::None, 0, 0},
    {"ExtendedBelow", {{0x100, 0x0C010001}}, pcicap::List::Extended, {0x100}, pcicap::Break::IntoHeader, 0x100,
     0xC0},
};

class CapabilityLists : public testing::TestWithParam<ListCase> {};

TEST_P(CapabilityLists, WalkAndBreak) {
    const ListCase& c = GetParam();
    std::vector<uint8_t> bytes(4096);
    for (const auto& [offset, value] : c.Dwords) std::memcpy(&bytes[offset], &value, 4);
    pcicap::Walk walk({bytes.data(), 4096}, c.Which);
    std::vector<uint32_t> offsets;
    pcicap::Entry e;
    while (walk.Next(e)) offsets.push_back(e.Offset);
    EXPECT_EQ(offsets, c.Offsets);
    EXPECT_EQ(walk.Broken(), c.Broken);
    if (c.Broken != pcicap::Break::None) {
        EXPECT_EQ(walk.BrokenAt(), c.At);
        EXPECT_EQ(walk.BrokenTarget(), c.Target);
    }
}

INSTANTIATE_TEST_SUITE_P(Lists, CapabilityLists, testing::ValuesIn(Lists), platform::testing::ParamName());

// Hostile spaces: every entry lies inside the bytes, none comes twice, and
// the walk ends (a loop would run this test into its timeout).
TEST(CapabilityWalk, RandomSpacesStayInBoundsAndEnd) {
    std::mt19937 random(20);
    for (int round = 0; round < 2000; ++round) {
        const uint32_t size = round % 3 == 0 ? 256 : round % 3 == 1 ? 4096 : 64 + random() % 4032;
        std::vector<uint8_t> bytes(size);
        for (auto& b : bytes) b = static_cast<uint8_t>(random());
        bytes[6] |= 0x10;
        for (const auto list : {pcicap::List::Standard, pcicap::List::Extended}) {
            pcicap::Walk walk({bytes.data(), size}, list);
            std::vector<bool> seen(4096);
            pcicap::Entry e;
            int entries = 0;
            while (walk.Next(e)) {
                ASSERT_LE(e.Offset + (list == pcicap::List::Standard ? 2 : 4), size);
                ASSERT_FALSE(seen[e.Offset]) << "round " << round;
                seen[e.Offset] = true;
                ASSERT_LT(++entries, 1024);
            }
        }
    }
}

TEST(CapabilityWalk, ReadsPastTheEndGiveZero) {
    const uint8_t bytes[4] = {0x11, 0x22, 0x33, 0x44};
    const pcicap::Space space{bytes, 4};
    EXPECT_EQ(space.Dword(0), 0x44332211u);
    EXPECT_EQ(space.Word(3), 0x0044u);
    EXPECT_EQ(space.Dword(0xFFFFFFFE), 0u);
}

}  // namespace
