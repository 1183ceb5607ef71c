// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin sniffer tests -- the report read back: parse(format(table)) gives
// the table again for random tables (the scan tests read back every bus they
// scan), and damage is named and skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>

#include "sniffer/SnifferReport.h"

namespace {

std::string Lf(std::string text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return out;
}

std::unique_ptr<PciDeviceTableType> NewTable() {
    return std::make_unique<PciDeviceTableType>();
}

// Tables no scan makes: any counts, codes without a reason, driver texts with
// their own line ends, values cut by their fields, resources above 4 GiB.
void FillRandom(std::mt19937_64& random, PciDeviceTableType& t) {
    std::memset(&t, 0, sizeof t);
    auto pick = [&](uint64_t limit) { return random() % limit; };
    auto value = [&] { return pick(3) == 0 ? random() : pick(2) ? random() & 0xFFFFFFFF : pick(0x10000); };
    t.Count = static_cast<int32_t>(1 + pick(100));
    for (int i = 0; i < t.Count; ++i) {
        PciDeviceRecord& d = t.Devices[i];
        d.Index = pick(8) ? static_cast<uint32_t>(i) : static_cast<uint32_t>(random());
        d.VendorId = static_cast<uint32_t>(value());
        d.DeviceId = static_cast<uint32_t>(value());
        d.SubVendorId = static_cast<uint32_t>(pick(0x10000));
        d.Bus = static_cast<uint32_t>(pick(4) ? pick(256) : value());
        d.Slot = static_cast<uint32_t>(pick(32));
        d.Function = static_cast<uint32_t>(pick(8));
        d.NumMemAddresses = static_cast<int32_t>(pick(12)) - 2;
        d.NumIOAddresses = static_cast<int32_t>(pick(12)) - 2;
        d.NumInterrupts = static_cast<int32_t>(pick(4)) - 1;
        d.Interrupt = static_cast<uint32_t>(value());
        for (int k = 0; k < 8; ++k) {
            d.MemBytes[k] = static_cast<uint32_t>(value());
            d.MemAddress[k] = value();
            d.MemDirect[k] = value();
            d.MemPhysicalAddress[k] = value();
            d.MemBar[k] = static_cast<uint32_t>(value());
            d.IoBytes[k] = static_cast<uint32_t>(value());
            d.IoAddress[k] = value();
            d.IoBar[k] = static_cast<uint32_t>(pick(7));
        }
        for (auto& r : d.ConfigRegs) r = static_cast<uint32_t>(random());
        d.IsPlx = pick(3) == 0;
        for (auto& w : d.EepromWords) w = static_cast<uint16_t>(random());
        d.FailCode = pick(2) ? 0 : static_cast<int32_t>(pick(15)) - 2;
        static const char letters[] = "Pa9_->. \n\r-:()";
        const std::size_t length = pick(5) == 0 ? sizeof d.FailText : pick(60);
        for (std::size_t k = 0; k < length; ++k) d.FailText[k] = letters[pick(sizeof letters - 1)];
    }
}

TEST(ReportParser, RandomTablesComeBackAsTheyWereShownWithEitherLineEnd) {
    std::mt19937_64 random(14);
    auto table = NewTable(), parsed = NewTable();
    for (int round = 0; round < 60; ++round) {
        FillRandom(random, *table);
        const std::string crlf = FormatSniffReport(*table);
        // A copy turned into LF cannot keep a CR that stood before a line feed.
        for (auto& d : table->Devices) std::replace(std::begin(d.FailText), std::end(d.FailText), '\r', ' ');
        const std::string lf = Lf(FormatSniffReport(*table));
        for (const std::string* text : {&crlf, &lf}) {
            const ReportReading r = ParseSniffReport(*text, *parsed);
            ASSERT_TRUE(r.Complete) << round;
            ASSERT_TRUE(r.Problems.empty()) << round << ": " << r.Problems[0].Text;
            EXPECT_EQ(r.HeaderCount, table->Count);
            EXPECT_EQ(r.End, text->size());
            const std::string again = FormatSniffReport(*parsed);
            ASSERT_EQ(text == &crlf ? again : Lf(again), *text) << "round " << round;
        }
    }
}

TEST(ReportParser, DamagedAndCutBlocksAreNamedAndSkipped) {
    auto table = NewTable(), parsed = NewTable();
    table->Count = 3;
    for (int i = 0; i < 3; ++i) {
        table->Devices[i].Index = i;
        table->Devices[i].Slot = i;
    }
    const std::string report = FormatSniffReport(*table);
    std::string damaged = report;
    const std::size_t second = damaged.find("   NumIOAddresses", damaged.find("PCI Device # 2"));
    damaged[second + 3] = 'X';  // a damaged label
    ReportReading r = ParseSniffReport(damaged, *parsed);
    EXPECT_TRUE(r.Complete);
    ASSERT_EQ(r.Problems.size(), 1u) << r.Problems[1].Text;
    EXPECT_EQ(r.Problems[0].Block, damaged.find(std::string(43, '-') + "\r\nPCI Device # 2"));
    EXPECT_EQ(r.Problems[0].At, second);
    EXPECT_EQ(r.Problems[0].Text, "expected \"   NumIOAddresses \"");
    ASSERT_EQ(parsed->Count, 2);
    EXPECT_EQ(parsed->Devices[1].Slot, 2u);

    const std::string cut =
        report.substr(0, report.find("  PCI Registers", report.find("PCI Device # 3")) + 20);
    r = ParseSniffReport(cut, *parsed);
    EXPECT_FALSE(r.Complete);
    ASSERT_EQ(r.Problems.size(), 1u);
    EXPECT_EQ(r.Problems[0].Text, "the text ends inside the block (cut off)");
    EXPECT_EQ(parsed->Count, 2);

    r = ParseSniffReport("No PCI Devices to Log.  Assume something broke\r\n", *parsed);
    EXPECT_TRUE(r.Found && r.Complete);
    EXPECT_EQ(r.HeaderCount, 0);
    EXPECT_EQ(parsed->Count, 0);
    EXPECT_FALSE(ParseSniffReport("PCI Sniff Results", *parsed).Found);
}

}  // namespace
