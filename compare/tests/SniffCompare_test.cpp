// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin compare tests -- every kind of difference and finding once, over
// pairs of small buses that differ in one thing.
#include "compare/SniffCompare.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>

#include "sniffer/SnifferReport.h"
#include "platform/testing/ParamName.h"

namespace {

using compare::CompareOptions;

// A network card at 00:03.0 and a PLX 9056 board at 02:04.0, both usable.
void SmallBus(PciDeviceTableType& t) {
    std::memset(&t, 0, sizeof t);
    t.Count = 2;
    PciDeviceRecord& nic = t.Devices[0];
    nic.VendorId = 0x8086;
    nic.DeviceId = 0x100E;
    nic.Slot = 3;
    nic.ConfigRegs[0] = 0x100E8086;
    nic.ConfigRegs[1] = 0x02900007;
    nic.ConfigRegs[4] = 0xFEBC0000;
    nic.NumMemAddresses = 1;
    nic.MemPhysicalAddress[0] = nic.MemAddress[0] = 0xFEBC0000;
    nic.MemBytes[0] = 0x20000;
    nic.NumIOAddresses = 1;
    nic.IoAddress[0] = 0xC000;
    nic.IoBytes[0] = 0x40;
    nic.IoBar[0] = 1;
    nic.NumInterrupts = 1;
    nic.Interrupt = 11;
    PciDeviceRecord& plx = t.Devices[1];
    plx.Index = 1;
    plx.VendorId = plx.SubVendorId = 0x10B5;
    plx.DeviceId = plx.SubDeviceId = 0x9056;
    plx.Bus = 2;
    plx.Slot = 4;
    plx.IsPlx = true;
    plx.ConfigRegs[1] = 0x02900007;
    for (int k = 0; k < 64; ++k) plx.EepromWords[k] = static_cast<uint16_t>(0x1000 + k);
}

// What a comparison lists, one line per difference, one-side function and finding.
std::vector<std::string> Lines(const compare::Comparison& c) {
    std::vector<std::string> lines;
    for (const auto& f : c.Functions) {
        const std::string at = LocationText(f.Baseline ? *f.Baseline : *f.Current);
        if (!f.Baseline || !f.Current)
            lines.push_back(at + " only in " + (f.Baseline ? "baseline" : "current") +
                            (f.SameCardAt.empty() ? "" : ", same card at " + f.SameCardAt));
        for (const auto& d : f.Differences)
            lines.push_back(at + " " + d.What + ": " + d.Baseline + " -> " + d.Current +
                            (d.Detail.empty() ? "" : " (" + d.Detail + ")"));
        for (const auto& x : f.Findings)
            lines.push_back(at + " " + compare::SideName(x.Where) + " " + x.Kind);
    }
    return lines;
}

// A 64-bit memory BAR pair at BAR 0 of the PLX board, at `address`.
void Bar64(PciDeviceRecord& plx, uint64_t address) {
    plx.ConfigRegs[4] = static_cast<uint32_t>(address) | 0x4;
    plx.ConfigRegs[5] = static_cast<uint32_t>(address >> 32);
    plx.NumMemAddresses = 1;
    plx.MemBar[0] = 0;
    plx.MemBytes[0] = 0x1000;
    // The item's field carries the low half; the transfer address is per run.
    plx.MemPhysicalAddress[0] = static_cast<uint32_t>(address);
    plx.MemAddress[0] = address;
}

using Change = std::function<void(PciDeviceRecord& nic, PciDeviceRecord& plx)>;
const Change Nothing = [](PciDeviceRecord&, PciDeviceRecord&) {};

struct CompareCase {
    const char* Name;
    Change Baseline, Current;
    std::vector<std::string> Expected;
    bool AllBits = false;
};

void PrintTo(const CompareCase& c, std::ostream* out) {
    *out << c.Name;
}

class SniffPairs : public testing::TestWithParam<CompareCase> {};

TEST_P(SniffPairs, ListWhatDiffers) {
    auto a = std::make_unique<PciDeviceTableType>(), b = std::make_unique<PciDeviceTableType>();
    SmallBus(*a);
    SmallBus(*b);
    GetParam().Baseline(a->Devices[0], a->Devices[1]);
    GetParam().Current(b->Devices[0], b->Devices[1]);
    CompareOptions options;
    options.AllBits = GetParam().AllBits;
    const compare::Comparison c = compare::CompareSniffs(*a, *b, options);
    EXPECT_EQ(Lines(c), GetParam().Expected);
    EXPECT_EQ(c.Agree(), c.Differing == 0 && c.OnlyBaseline == 0 && c.OnlyCurrent == 0);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SniffPairs,
    testing::Values(
        CompareCase{"Same", Nothing, Nothing, {}},
        CompareCase{"CardMoved",
                    Nothing,
                    [](PciDeviceRecord& nic, PciDeviceRecord&) { nic.Slot = 5; },
                    {"00:03.0 moved: 00:03.0 -> 00:05.0"}},
        // Its resources are the bus's to give: one line, not one per register.
        CompareCase{"CardMovedWithItsResources",
                    Nothing,
                    [](PciDeviceRecord& nic, PciDeviceRecord&) {
                        nic.Slot = 5;
                        nic.MemPhysicalAddress[0] = nic.ConfigRegs[4] = 0xFEA00000;
                        nic.Interrupt = 10;
                        nic.ConfigRegs[1] = 0x02900003;
                    },
                    {"00:03.0 moved: 00:03.0 -> 00:05.0 (as expected on a move, these differ: memory BAR 0, "
                     "interrupt)",
                     "00:03.0 config 0x04 command/status: 02900007 -> 02900003 (Bus Master Enable on -> off)"}},
        CompareCase{"TwoLikeCardsOneMovedOneAdded",
                    Nothing,
                    [](PciDeviceRecord& nic, PciDeviceRecord& plx) {
                        nic.Slot = 5;
                        plx = nic;
                        plx.Slot = 6;
                    },
                    {"00:03.0 moved: 00:03.0 -> 00:05.0", "00:06.0 only in current, same card at 00:03.0",
                     "02:04.0 only in baseline"}},
        CompareCase{"Bar64MovedAbove4GiBInItsUpperHalf",
                    [](PciDeviceRecord&, PciDeviceRecord& plx) { Bar64(plx, 0x4000000000); },
                    [](PciDeviceRecord&, PciDeviceRecord& plx) { Bar64(plx, 0x5000000000); },
                    {"02:04.0 memory BAR 0: 0x0000004000000000, 0x00001000 bytes -> 0x0000005000000000, "
                     "0x00001000 bytes"}},
        CompareCase{"Bar64MovedInItsLowHalf",
                    [](PciDeviceRecord&, PciDeviceRecord& plx) { Bar64(plx, 0x4000000000); },
                    [](PciDeviceRecord&, PciDeviceRecord& plx) { Bar64(plx, 0x4010000000); },
                    {"02:04.0 memory BAR 0: 0x0000004000000000, 0x00001000 bytes -> 0x0000004010000000, "
                     "0x00001000 bytes"}},
        // Without the resource (not registered), the registers say it, the upper one by its name.
        CompareCase{"Bar64RegistersWithoutResource",
                    [](PciDeviceRecord&, PciDeviceRecord& plx) {
                        Bar64(plx, 0x4000000000);
                        plx.NumMemAddresses = 0;
                    },
                    [](PciDeviceRecord&, PciDeviceRecord& plx) {
                        Bar64(plx, 0x5000000000);
                        plx.NumMemAddresses = 0;
                    },
                    {"02:04.0 config 0x14 BAR0 upper half: 00000040 -> 00000050"}},
        // A refused registration reads no EEPROM: its zeros are no 64 differences.
        CompareCase{"EepromNotReadOnOneSide",
                    Nothing,
                    [](PciDeviceRecord&, PciDeviceRecord& plx) {
                        plx.FailCode = 9;
                        std::memset(plx.EepromWords, 0, sizeof plx.EepromWords);
                    },
                    {"02:04.0 registration: usable -> failed, code 9 (The WD_CardRegister() failed)",
                     "02:04.0 EEPROM words: read -> not read (not registered) (not compared)",
                     "02:04.0 current not-registered"}},
        CompareCase{"StatusAndCommandBitsByName",
                    Nothing,
                    [](PciDeviceRecord& nic, PciDeviceRecord&) { nic.ConfigRegs[1] = 0x22900005; },
                    {"00:03.0 config 0x04 command/status: 02900007 -> 22900005 (Memory Space Enable on -> off, "
                     "Received Master Abort set)",
                     "00:03.0 current status-received-master-abort"},
                    true},
        CompareCase{"CardGone",
                    Nothing,
                    [](PciDeviceRecord& nic, PciDeviceRecord&) {
                        nic.Bus = 9;
                        nic.DeviceId = 1;
                    },
                    {"00:03.0 only in baseline", "09:03.0 only in current"}},
        CompareCase{
            "Identifiers",
            Nothing,
            [](PciDeviceRecord&, PciDeviceRecord& plx) {
                plx.DeviceId = 0x9080;
                plx.SubDeviceId = 0x3056;
                plx.IsPlx = false;
            },
            {"02:04.0 vendor:device: 10B5:9056 -> 10B5:9080", "02:04.0 subsystem: 10B5:9056 -> 10B5:3056"}},
        CompareCase{"RegistrationRefused",
                    Nothing,
                    [](PciDeviceRecord&, PciDeviceRecord& plx) {
                        plx.FailCode = 9;
                        std::strcpy(plx.FailText, "P9080_CardIsUsable->Failed Card Register.\n");
                    },
                    {"02:04.0 registration: usable -> failed, code 9 (The WD_CardRegister() failed): "
                     "P9080_CardIsUsable->Failed Card Register.",
                     "02:04.0 EEPROM words: read -> not read (not registered) (not compared)",
                     "02:04.0 current not-registered"}},
        // The same failure copied through another system, and a code no text names read both ways.
        CompareCase{"SameFailureOtherwiseWritten",
                    [](PciDeviceRecord& nic, PciDeviceRecord&) {
                        nic.FailCode = 12;
                        std::strcpy(nic.FailText, "odd\r\n");
                    },
                    [](PciDeviceRecord& nic, PciDeviceRecord&) {
                        nic.FailCode = -1;
                        std::strcpy(nic.FailText, "odd\n");
                    },
                    {}},
        CompareCase{
            "Resources",
            Nothing,
            [](PciDeviceRecord& nic, PciDeviceRecord&) {
                nic.MemPhysicalAddress[0] = 0xFEB00000;
                nic.MemAddress[1] = nic.MemDirect[0] = 0x7F0012340000;  // per run: ignored
                nic.NumIOAddresses = 2;
                nic.IoBar[1] = 4;
                nic.IoAddress[1] = 0xD000;
                nic.IoBytes[1] = 0x20;
                nic.NumInterrupts = 0;
            },
            {"00:03.0 memory BAR 0: 0xFEBC0000, 0x00020000 bytes -> 0xFEB00000, 0x00020000 bytes",
             "00:03.0 I/O BAR 4: none -> 0x0000D000, 0x00000020 bytes", "00:03.0 interrupt: 11 -> none"}},
        CompareCase{"RegistersByName",
                    Nothing,
                    [](PciDeviceRecord& nic, PciDeviceRecord&) {
                        nic.ConfigRegs[4] = 0xFEB00000;
                        nic.ConfigRegs[15] = 0x0000010A;
                        nic.ConfigRegs[16] = 1;
                        nic.ConfigRegs[1] = 0x02900003;
                    },
                    {"00:03.0 config 0x04 command/status: 02900007 -> 02900003 (Bus Master Enable on -> off)",
                     "00:03.0 config 0x10 BAR0: FEBC0000 -> FEB00000",
                     "00:03.0 config 0x3C interrupt line/pin: 00000000 -> 0000010A",
                     "00:03.0 config 0x40: 00000000 -> 00000001"}},
        CompareCase{"StatusErrorBitsMasked",
                    Nothing,
                    [](PciDeviceRecord& nic, PciDeviceRecord&) { nic.ConfigRegs[1] |= 0xF9000000; },
                    // No register difference; the bits are findings of their own.
                    {"00:03.0 current status-detected-parity-error", "00:03.0 current status-signaled-system-error",
                     "00:03.0 current status-received-master-abort", "00:03.0 current status-received-target-abort",
                     "00:03.0 current status-signaled-target-abort",
                     "00:03.0 current status-master-data-parity-error"}},
        CompareCase{"StatusErrorBitsWithAllBits",
                    Nothing,
                    [](PciDeviceRecord& nic, PciDeviceRecord&) { nic.ConfigRegs[1] |= 0x01000000; },
                    {"00:03.0 config 0x04 command/status: 02900007 -> 03900007 (Master Data Parity Error set)",
                     "00:03.0 current status-master-data-parity-error"},
                    true},
        CompareCase{"EepromWord",
                    Nothing,
                    [](PciDeviceRecord&, PciDeviceRecord& plx) { plx.EepromWords[5] = 0xBEEF; },
                    {"02:04.0 EEPROM word 5: 1005 -> BEEF"}},
        CompareCase{"BlankEepromOnBothSilentOnOne",
                    [](PciDeviceRecord&, PciDeviceRecord& plx) { std::memset(plx.EepromWords, 0xFF, 128); },
                    [](PciDeviceRecord& nic, PciDeviceRecord& plx) {
                        std::memset(plx.EepromWords, 0xFF, 128);
                        nic.IsPlx = true;  // all zero
                    },
                    {"00:03.0 current eeprom-silent", "02:04.0 both eeprom-blank"}},
        // Code 7 with memory decode on is a finding, memory above 4 GiB or not.
        CompareCase{"DecodeOnCodeSeven",
                    [](PciDeviceRecord& nic, PciDeviceRecord& plx) {
                        nic.FailCode = plx.FailCode = 7;
                        plx.ConfigRegs[4] = 0x00000004;
                        plx.ConfigRegs[5] = 0x40;
                    },
                    [](PciDeviceRecord& nic, PciDeviceRecord& plx) {
                        nic.FailCode = plx.FailCode = 7;
                        nic.ConfigRegs[1] = 0x02900005;
                        plx.ConfigRegs[4] = 0x00000004;
                        plx.ConfigRegs[5] = 0x40;
                    },
                    {"00:03.0 config 0x04 command/status: 02900007 -> 02900005 (Memory Space Enable on -> off)",
                     "00:03.0 baseline decode-on-code-7", "02:04.0 both decode-on-code-7"}}),
    platform::testing::ParamName());

struct IgnoreCase {
    const char* Name;
    std::vector<std::string> Ignore, Only;
    Change Current;
    std::vector<std::string> Expected;
    std::map<std::string, int> Ignored;
};

void PrintTo(const IgnoreCase& c, std::ostream* out) {
    *out << c.Name;
}

class IgnoredFields : public testing::TestWithParam<IgnoreCase> {};

TEST_P(IgnoredFields, AreLeftOutAndCounted) {
    auto a = std::make_unique<PciDeviceTableType>(), b = std::make_unique<PciDeviceTableType>();
    SmallBus(*a);
    SmallBus(*b);
    GetParam().Current(b->Devices[0], b->Devices[1]);
    CompareOptions options;
    std::string error;
    for (const std::string& f : GetParam().Ignore) ASSERT_TRUE(compare::AddIgnored(options.Ignore, f, error)) << error;
    for (const std::string& l : GetParam().Only) {
        uint64_t key;
        ASSERT_TRUE(compare::ParseLocation(l, key)) << l;
        options.Only.push_back(key);
    }
    const compare::Comparison c = compare::CompareSniffs(*a, *b, options);
    EXPECT_EQ(Lines(c), GetParam().Expected);
    EXPECT_EQ(c.Ignored, GetParam().Ignored);
    EXPECT_EQ(c.Agree(), GetParam().Expected.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Fields, IgnoredFields,
    testing::Values(
        IgnoreCase{"Irq", {"irq"}, {},
                   [](PciDeviceRecord& nic, PciDeviceRecord&) {
                       nic.Interrupt = 10;
                       nic.ConfigRegs[15] = 0x0000000A;
                   },
                   {}, {{"irq", 2}}},
        IgnoreCase{"OneRegister", {"config:4"}, {},
                   [](PciDeviceRecord& nic, PciDeviceRecord&) { nic.ConfigRegs[1] = 0x02900003; }, {},
                   {{"config:0x04", 1}}},
        IgnoreCase{"EepromButNotTheRest", {"eeprom"}, {},
                   [](PciDeviceRecord& nic, PciDeviceRecord& plx) {
                       plx.EepromWords[1] = 0;
                       nic.ConfigRegs[2] = 1;
                   },
                   {"00:03.0 config 0x08 class/revision: 00000000 -> 00000001"}, {{"eeprom", 1}}},
        IgnoreCase{"LocationOfAMovedCard", {"location"}, {},
                   [](PciDeviceRecord& nic, PciDeviceRecord&) { nic.Slot = 5; }, {}, {{"location", 1}}},
        IgnoreCase{"OnlyOneFunction", {}, {"02:04.0"},
                   [](PciDeviceRecord& nic, PciDeviceRecord& plx) {
                       nic.ConfigRegs[2] = 1;
                       plx.EepromWords[9] = 0;
                   },
                   {"02:04.0 EEPROM word 9: 1009 -> 0000"}, {}}),
    platform::testing::ParamName());

TEST(IgnoredFields, UnknownFieldsAndLocationsAreRefused) {
    compare::IgnoreSet ignore;
    std::string error;
    for (const char* bad : {"irqs", "config:0x05", "config:0x100", "eeprom:64", "config:"})
        EXPECT_FALSE(compare::AddIgnored(ignore, bad, error)) << bad;
    uint64_t key;
    EXPECT_TRUE(compare::ParseLocation("0000:02:04.0", key));
    EXPECT_EQ(key, compare::LocationKey(2, 4, 0));
    for (const char* bad : {"02:04", "02:20.0", "02:04.8", "1:02:04.0", "02:04.0x"})
        EXPECT_FALSE(compare::ParseLocation(bad, key)) << bad;
}

}  // namespace
