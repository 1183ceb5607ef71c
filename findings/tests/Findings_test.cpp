// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the health findings: configuration spaces and records, and the
// findings each must give (healthy ones give none), the JSON and the metrics.
#include "findings/Findings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "driver/testing/SimBus.h"
#include "findings/FindingsJson.h"
#include "findings/Metrics.h"
#include "platform/testing/ParamName.h"

namespace {

using simbus::SimFunction;

struct Case {
    const char* Name;
    std::function<void(SimFunction&, PciDeviceRecord&)> Build;
    std::vector<std::string> Expected;  // "kind severity", in order
    uint32_t Size = 4096;               // bytes the findings may read
    const char* Text = nullptr;         // the first finding's text, where it matters
};

// An endpoint at 02:00.0 with memory decode on and one assigned BAR.
SimFunction Endpoint() {
    SimFunction f(2, 0, 0);
    f.Ids(0x8086, 0x10D3).Dword(0x04, 0x00100006).Dword(0x08, 0x02000000).Memory(0, 0xFE000000, 0x20000);
    return f;
}
// Its PCI Express capability at 0x40 (an endpoint, x8 at 5 GT/s, trained
// fully), then MSI at 0x80.
SimFunction& AsExpress(SimFunction& f) { return f.ExpressPort(0x40, 0x80, 0x0, 8, 2, 8, 2).Capability(0x80, 0x05, 0); }
// Advanced Error Reporting first in the extended list.
SimFunction& WithAer(SimFunction& f, uint32_t uncorrectable, uint32_t correctable) {
    return f.Dword(0x100, 0x00010001).Dword(0x104, uncorrectable).Dword(0x110, correctable);
}

const Case Cases[] = {
    {"PlainHealthyDevice", [](SimFunction&, PciDeviceRecord&) {}, {}},
    {"ExpressWithMsiAndNoInterruptLine",
     [](SimFunction& f, PciDeviceRecord&) {
         AsExpress(f).Word(0x82, 0x0001).Byte(0x3D, 1);
         WithAer(f, 0, 0);
     },
     {}},
    {"StatusBitsByName",
     [](SimFunction& f, PciDeviceRecord&) { f.Word(0x06, 0xF900); },
     {"status-detected-parity-error error", "status-signaled-system-error error",
      "status-received-master-abort warning", "status-received-target-abort error",
      "status-signaled-target-abort error", "status-master-data-parity-error error"},
     256,
     "status register: Detected Parity Error"},
    {"MasterAbortOnAHostBridgeIsANote",
     [](SimFunction& f, PciDeviceRecord&) { f.Dword(0x08, 0x06000000).Word(0x06, 0x2000); },
     {"status-received-master-abort note"}},
    {"LinkNarrowAndSlow",
     [](SimFunction& f, PciDeviceRecord&) { f.ExpressPort(0x40, 0, 0x0, 8, 2, 4, 1); },
     {"link-narrow warning", "link-slow note"},
     4096,
     "link x4 at 2.5 GT/s; the card can do x8 at 5 GT/s; the slot may be narrower"},
    {"RootPortTrainsToItsCard",
     [](SimFunction& f, PciDeviceRecord&) { f.ExpressPort(0x40, 0, 0x4, 16, 3, 4, 1); },
     {}},
    {"LinkDownIsNotJudged", [](SimFunction& f, PciDeviceRecord&) { f.ExpressPort(0x40, 0, 0x0, 8, 2, 0, 0); }, {}},
    {"DeviceStatusBits",
     [](SimFunction& f, PciDeviceRecord&) { AsExpress(f).Word(0x4A, 0x000F); },
     {"devsta-correctable note", "devsta-non-fatal error", "devsta-fatal error", "devsta-unsupported-request note"}},
    {"AerBitsInTheWholeSpace",
     [](SimFunction& f, PciDeviceRecord&) { WithAer(AsExpress(f), 1u << 14, 1u << 6 | 1u << 1); },
     {"aer-completion-timeout error", "aer-bad-tlp note", "aer-correctable-other note"},
     4096,
     "AER uncorrectable: Completion Timeout"},
    {"AerUnseenInA256ByteLog",
     [](SimFunction& f, PciDeviceRecord&) { WithAer(AsExpress(f), 1u << 14, 1u << 6); },
     {},
     256},
    {"Unassigned64BitBar",
     [](SimFunction& f, PciDeviceRecord&) { f.Dword(0x18, 0x0000000C).Dword(0x1C, 0); },
     {"bar-unassigned warning"},
     256,
     "BAR 2 (64-bit prefetchable memory) is implemented but holds no address: the firmware assigned none"},
    {"UnassignedIoBar", [](SimFunction& f, PciDeviceRecord&) { f.Dword(0x14, 0x00000001); },
     {"bar-unassigned warning"}},
    {"BarAbove4GiBIsAssigned",
     [](SimFunction& f, PciDeviceRecord&) { f.Memory64(2, 0x4000000000, 0x80000); },
     {}},
    {"BarWithAResourceIsAssigned",
     [](SimFunction& f, PciDeviceRecord& d) {
         f.Dword(0x18, 0x00000004);
         d.MemBar[d.NumMemAddresses++] = 2;
     },
     {}},
    {"BridgeBusNumbersAreNoBars",
     [](SimFunction& f, PciDeviceRecord&) { f.Byte(0x0E, 0x01).Dword(0x18, 0x00030201).Dword(0x1C, 0x0000F1F1); },
     {}},
    {"UnroutedPin",
     [](SimFunction& f, PciDeviceRecord&) { AsExpress(f).Byte(0x3D, 1); },
     {"irq-unrouted warning"},
     4096,
     "interrupt pin INTA# has no routed interrupt, and neither MSI nor MSI-X is enabled"},
    {"RoutedPin",
     [](SimFunction& f, PciDeviceRecord& d) {
         f.Byte(0x3C, 11).Byte(0x3D, 1);
         d.NumInterrupts = 1;
         d.Interrupt = 11;
     },
     {}},
    {"MsiXEnabledPin",
     [](SimFunction& f, PciDeviceRecord&) { f.Capability(0x70, 0x11, 0).Word(0x72, 0x8000).Byte(0x3D, 2); },
     {}},
    {"LoopingList",
     [](SimFunction& f, PciDeviceRecord&) { f.Capability(0x40, 0x01, 0x50).Capability(0x50, 0x05, 0x40); },
     {"caplist-loop error"},
     256,
     "capability list loops: the entry at 0x50 points back to 0x40"},
    {"ListIntoTheHeader",
     [](SimFunction& f, PciDeviceRecord&) { f.Capability(0x40, 0x01, 0).Byte(0x34, 0x20); },
     {"caplist-into-header error"},
     256,
     "capability list points below 0x40: the list head at 0x34 points to 0x20"},
    {"ListOutsideAShortSpace",
     [](SimFunction& f, PciDeviceRecord&) { f.Capability(0x40, 0x01, 0x80); },
     {"caplist-outside error"},
     0x60,
     "capability list points outside the space read: the entry at 0x40 points to 0x80"},
    {"ExtendedListLoops",
     [](SimFunction& f, PciDeviceRecord&) {
         f.Express(0x40).Dword(0x100, 0x14010001).Dword(0x140, 0x1001000B);
     },
     {"ext-caplist-loop error"},
     4096,
     "extended capability list loops: the entry at 0x140 points back to 0x100"},
    {"ExtendedListBelowItsArea",
     [](SimFunction& f, PciDeviceRecord&) { f.Express(0x40).Dword(0x100, 0x0801000B); },
     {"ext-caplist-into-header error"}},
    {"ExpressCapabilityAtTheEndOfTheSpace",
     [](SimFunction& f, PciDeviceRecord&) { f.Capability(0xFC, 0x10, 0).Word(0xFE, 0x0002); },
     {},
     256},
    {"NoAnswerReadsAllOnes",
     [](SimFunction& f, PciDeviceRecord&) { std::memset(f.Config, 0xFF, sizeof f.Config); },
     {"no-answer error"}},
    {"RegisterRefused",
     [](SimFunction&, PciDeviceRecord& d) { d.FailCode = 9; },
     {"not-registered warning"}},
    {"DecodeOnWithCode7",
     [](SimFunction&, PciDeviceRecord& d) { d.FailCode = 7; },
     {"decode-on-code-7 error"}},
    {"BlankPlxEeprom",
     [](SimFunction& f, PciDeviceRecord& d) {
         f.Ids(0x10B5, 0x9056);
         d.IsPlx = true;
         std::fill(std::begin(d.EepromWords), std::end(d.EepromWords), 0xFFFF);
     },
     {"eeprom-blank warning"}},
};

class FindingsTable : public testing::TestWithParam<Case> {};

// The record as the scan fills it from this function: its resources and
// its first 256 configuration bytes.
PciDeviceRecord RecordOf(const SimFunction& f) {
    PciDeviceRecord d{};
    d.Bus = f.Bus;
    d.Slot = f.Slot;
    d.Function = f.Function;
    d.NumMemAddresses = 1;
    d.MemBar[0] = 0;
    std::memcpy(d.ConfigRegs, f.Config, sizeof d.ConfigRegs);
    return d;
}

TEST_P(FindingsTable, GivesItsFindings) {
    const Case& c = GetParam();
    auto f = std::make_unique<SimFunction>(Endpoint());
    PciDeviceRecord d{};
    c.Build(*f, d);
    PciDeviceRecord record = RecordOf(*f);
    // What the case set in the record, over what the scan would have set.
    record.FailCode = d.FailCode;
    record.IsPlx = d.IsPlx;
    std::memcpy(record.EepromWords, d.EepromWords, sizeof d.EepromWords);
    record.NumInterrupts = d.NumInterrupts;
    record.Interrupt = d.Interrupt;
    for (int i = 0; i < d.NumMemAddresses; ++i) record.MemBar[record.NumMemAddresses++] = d.MemBar[i];
    const auto found = findings::FindingsOf(record, {f->Config, c.Size});
    std::vector<std::string> got;
    for (const auto& one : found) got.push_back(one.Kind + " " + findings::SeverityName(one.Level));
    EXPECT_EQ(got, c.Expected);
    if (c.Text && !found.empty()) {
        EXPECT_EQ(found.front().Text, c.Text);
    }
}

INSTANTIATE_TEST_SUITE_P(Spaces, FindingsTable, testing::ValuesIn(Cases), platform::testing::ParamName());

// The numbers behind a finding travel with it, and the table's view is the
// scan's whole space only when it belongs to the record.
TEST(Findings, ValuesAndTheSpaceOfTheRecord) {
    static PciDeviceTableType table{};
    static PciCaptureTable spaces{};
    auto f = std::make_unique<SimFunction>(Endpoint());
    f->ExpressPort(0x40, 0, 0x0, 8, 2, 4, 1);
    WithAer(*f, 1u << 4, 0);
    table.Count = spaces.Count = 1;
    table.Devices[0] = RecordOf(*f);
    spaces.Functions[0].Config.Size = 4096;
    std::memcpy(spaces.Functions[0].Config.Bytes, f->Config, 4096);

    auto all = findings::FindingsOfTable(table, &spaces);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].Location, "02:00.0");
    ASSERT_EQ(all[0].Found.size(), 3u);
    EXPECT_EQ(all[0].Found[2].Kind, "aer-data-link-protocol");
    const auto& values = all[0].Found[0].Values;
    ASSERT_EQ(values.size(), 4u);
    EXPECT_EQ(values[0].Name, "width");
    EXPECT_EQ(values[0].Number, 4);
    EXPECT_EQ(values[3].Number, 5);  // capable GT/s
    EXPECT_EQ(findings::FindingLines(all)[0],
              "02:00.0  warning  link x4 at 2.5 GT/s; the card can do x8 at 5 GT/s; the slot may be narrower");
    const findings::Tally tally = findings::TallyOf(all);
    EXPECT_EQ(tally.Errors, 1);
    EXPECT_EQ(tally.Warnings, 1);
    EXPECT_EQ(tally.Notes, 1);

    // A space left from another scan is not this record's: the 256 bytes are.
    spaces.Functions[0].Config.Bytes[0] ^= 1;
    all = findings::FindingsOfTable(table, &spaces);
    EXPECT_EQ(all[0].Found.size(), 2u) << "the AER bits came from a space that was not the record's";
}

TEST(Findings, JsonCarriesKindSeverityTextAndValues) {
    static PciDeviceTableType table{};
    auto f = std::make_unique<SimFunction>(Endpoint());
    f->ExpressPort(0x40, 0, 0x0, 8, 2, 8, 1);
    table.Count = 2;
    table.Devices[0] = RecordOf(*f);
    table.Devices[1] = RecordOf(Endpoint());
    const auto j = nlohmann::json::parse(findings::SniffJson(table, findings::FindingsOfTable(table, nullptr)));
    ASSERT_EQ(j["Devices"].size(), 2u);
    const auto& slow = j["Devices"][0]["Findings"];
    ASSERT_EQ(slow.size(), 1u);
    EXPECT_EQ(slow[0]["kind"], "link-slow");
    EXPECT_EQ(slow[0]["severity"], "note");
    EXPECT_EQ(slow[0]["text"], "link x8 at 2.5 GT/s; the card can do x8 at 5 GT/s; devices slow an idle link to save power");
    EXPECT_EQ(slow[0]["values"]["speed"], 2.5);
    EXPECT_TRUE(slow[0]["values"]["width"].is_number_unsigned());
    EXPECT_EQ(j["Devices"][1]["Findings"].size(), 0u);
    // Everything else is the table's JSON as before.
    EXPECT_EQ(j["Devices"][1]["Location"], "02:00.0");
}

TEST(Findings, MetricsCountAKindOnceAndEscapeLabels) {
    static PciDeviceTableType table{};
    auto f = std::make_unique<SimFunction>(Endpoint());
    f->Dword(0x14, 0x00000001).Dword(0x18, 0x00000001).ExpressPort(0x40, 0, 0x0, 8, 2, 4, 2);
    table.Count = 1;
    table.Devices[0] = RecordOf(*f);
    table.Devices[0].FailCode = 9;
    const auto all = findings::FindingsOfTable(table, nullptr);
    const std::string text = findings::MetricsText(table, nullptr, all, {true, 1700000000.5, 0.25});
    for (const char* line : {
             "quorrin_finding{location=\"02:00.0\",kind=\"bar-unassigned\",severity=\"warning\"} 2\n",
             "quorrin_function_registered{location=\"02:00.0\"} 0\n",
             "quorrin_function_fail_code{location=\"02:00.0\"} 9\n",
             "quorrin_link_width{location=\"02:00.0\"} 4\n",
             "quorrin_link_capable_speed_gts{location=\"02:00.0\"} 5\n",
             "quorrin_sniff_timestamp_seconds 1700000000.5\n",
             "quorrin_driver_reached 1\n",
             "quorrin_findings{severity=\"warning\"} 4\n",
         })
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
}

}  // namespace
