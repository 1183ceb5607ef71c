// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin compare tests -- every kind of difference and finding once, over
// pairs of small buses that differ in one thing.
#include "compare/SniffCompare.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
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
            lines.push_back(at + " " + d.What + ": " + d.Baseline + " -> " + d.Current);
        for (const auto& x : f.Findings)
            lines.push_back(at + " " + compare::SideName(x.Where) + " " + x.Kind);
    }
    return lines;
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
                    {"00:03.0 only in baseline, same card at 00:05.0",
                     "00:05.0 only in current, same card at 00:03.0"}},
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
                    {"00:03.0 config 0x04 command/status: 02900007 -> 02900003",
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
                    {"00:03.0 config 0x04 command/status: 02900007 -> 03900007",
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
                    {"00:03.0 config 0x04 command/status: 02900007 -> 02900005",
                     "00:03.0 baseline decode-on-code-7", "02:04.0 both decode-on-code-7"}}),
    platform::testing::ParamName());

}  // namespace
