// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin sniffer tests -- the bus scan into the device table, through a
// private driver service on simulated buses (and on this machine's bus);
// every bus scanned is also saved and replayed.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "driver/testing/TestBus.h"
#include "format/NumberFormat.h"
#include "sniffer/BusFile.h"
#include "sniffer/SnifferReport.h"
#include "sniffer/SnifferUnit.h"
#include "driver/testing/SimBus.h"
#include "windriver/WinDriverRequests.h"
#include "platform/testing/ParamName.h"

namespace {

using simbus::SimFunction;

PciDeviceTableType& Table() {
    static PciDeviceTableType table;
    return table;
}

// The report of every table these tests scan reads back field for field.
void ExpectReportReadsBack(const PciDeviceTableType& t) {
    static PciDeviceTableType parsed;
    const ReportReading r = ParseSniffReport(FormatSniffReport(t), parsed);
    EXPECT_TRUE(r.Complete && r.Problems.empty()) << (r.Problems.empty() ? "" : r.Problems[0].Text);
    ASSERT_EQ(parsed.Count, std::max(t.Count, 0));
    for (int i = 0; i < t.Count; ++i)
        EXPECT_EQ(std::memcmp(&parsed.Devices[i], &t.Devices[i], sizeof(PciDeviceRecord)), 0)
            << FormatDeviceReport(i, t) << "\nread back as\n"
            << FormatDeviceReport(i, parsed);
}

// Every whole scan these tests make, saved as a bus file and served again,
// gives the same report, and saves the same file again.
void ExpectSavedBusReplays(const PciDeviceTableType& t, const TestBus& original) {
    if (!PciCaptures.Complete) return;  // a scan that lost its driver is not saved
    static PciDeviceTableType replayed;
    static PciCaptureTable captures;
    const std::string saved = BusFileText(t, PciCaptures);
    TestBus bus(saved);
    bus.Use();
    GetPciCardInfo(PciTableCapacity, replayed, captures);
    original.Use();
    EXPECT_EQ(FormatSniffReport(replayed), FormatSniffReport(t));
    EXPECT_EQ(BusFileText(replayed, captures), saved);
}

// Scans the bus with a fresh (all-zero) table.
PciDeviceTableType& Sniff(const TestBus& bus, uint32_t capacity = PciTableCapacity) {
    bus.Use();
    std::memset(&Table(), 0, sizeof Table());
    GetPciCardInfo(capacity, Table());
    ExpectReportReadsBack(Table());
    ExpectSavedBusReplays(Table(), bus);
    return Table();
}

SimFunction HostBridge() { return SimFunction(0, 0, 0).Ids(0x8086, 0x1237).Dword(0x08, 0x06000002); }
SimFunction Nic() {
    return SimFunction(0, 3, 0)
        .Ids(0x8086, 0x100E)
        .Dword(0x08, 0x02000003)
        .Dword(0x2C, 0x001E8086)
        .Memory(0, 0xFEBC0000, 0x20000)
        .Io(1, 0xC000, 0x40)
        .Interrupt(11);
}

TEST(Scan, ThreeDevicesInBusOrderWithEverything) {
    const auto words = simbus::PatternWords(64, 0x56);
    TestBus bus(simbus::BusJson({simbus::PlxBoard(2, 4, 0x9056, words), Nic(), HostBridge()}));
    const auto& t = Sniff(bus);
    ASSERT_EQ(t.Count, 3);
    const PciDeviceRecord& host = t.Devices[0];
    EXPECT_EQ(host.VendorId, 0x8086u);
    EXPECT_EQ(host.DeviceId, 0x1237u);
    EXPECT_EQ(host.FailCode, 0);
    EXPECT_STREQ(host.FailText, "");
    EXPECT_EQ(host.NumMemAddresses + host.NumIOAddresses + host.NumInterrupts, 0);
    EXPECT_EQ(host.ConfigRegs[2], 0x06000002u);

    const PciDeviceRecord& nic = t.Devices[1];
    EXPECT_EQ(nic.Index, 1u);
    EXPECT_EQ(nic.Slot, 3u);
    EXPECT_EQ(nic.SubVendorId, 0x8086u);
    EXPECT_EQ(nic.SubDeviceId, 0x001Eu);
    EXPECT_EQ(nic.NumMemAddresses, 1);
    EXPECT_EQ(nic.MemBytes[0], 0x20000u);
    EXPECT_EQ(nic.MemPhysicalAddress[0], 0xFEBC0000u);
    EXPECT_EQ(nic.MemAddress[0], 0xFEBC0000u);  // filled in by the registration
    EXPECT_EQ(nic.MemDirect[0], 0u);            // the service hands out no mapping
    EXPECT_EQ(nic.NumIOAddresses, 1);
    EXPECT_EQ(nic.IoAddress[0], 0xC000u);
    EXPECT_EQ(nic.IoBar[0], 1u);
    EXPECT_EQ(nic.NumInterrupts, 1);
    EXPECT_EQ(nic.Interrupt, 11u);
    EXPECT_FALSE(nic.IsPlx);

    const PciDeviceRecord& plx = t.Devices[2];
    EXPECT_EQ(plx.Bus, 2u);
    EXPECT_EQ(plx.Slot, 4u);
    EXPECT_TRUE(plx.IsPlx);
    EXPECT_EQ(plx.FailCode, 0);
    EXPECT_EQ(plx.NumMemAddresses, 2);
    EXPECT_EQ(plx.MemBar[1], 2u);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(plx.EepromWords[i], words[i]) << i;
    EXPECT_EQ(plx.ConfigRegs[0], 0x905610B5u);
    EXPECT_EQ(plx.ConfigRegs[4], 0xF0000000u);
    EXPECT_EQ(plx.ConfigRegs[5], 0xE001u);
    EXPECT_EQ(plx.SubDeviceId, 0x9056u);
    // 64 configuration reads per function, one transfer per register access.
    EXPECT_EQ(bus.CountRequests(WD_PciScanCards), 1);
    EXPECT_EQ(bus.CountRequests(WD_PciGetCardInfo), 3);
    EXPECT_EQ(bus.CountRequests(WD_Transfer), 32 * 106 + 32 * 170);

    // The report of this scan goes to the log as five records.
    simbus::LogFolder log;
    const std::size_t before = log.Records().size();
    LogSniffReport(t);
    const auto records = log.Records();
    ASSERT_EQ(records.size(), before + 5);
    EXPECT_EQ(records[before + 3].Message, FormatDeviceReport(2, t) + "\r\n");
    EXPECT_NE(records[before + 3].Message.find("  PLX EEProm Registers\r\n"), std::string::npos);
}

struct FailCase {
    const char* Name;
    SimFunction Card;
    int32_t Code;
    const char* Text;
};
class ScanFailures : public testing::TestWithParam<FailCase> {};

TEST_P(ScanFailures, CodeAndTextReachTheRecord) {
    TestBus bus(simbus::BusJson({GetParam().Card}));
    const auto& t = Sniff(bus);
    ASSERT_EQ(t.Count, 1);
    EXPECT_EQ(t.Devices[0].FailCode, GetParam().Code);
    EXPECT_STREQ(t.Devices[0].FailText, GetParam().Text);
    // A failed card still gets its identifiers and configuration space.
    EXPECT_EQ(t.Devices[0].VendorId, 0x1000u);
    EXPECT_EQ(t.Devices[0].ConfigRegs[0], 0x00301000u);
    EXPECT_EQ(LastErrorCode, 0);  // taken
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ScanFailures,
    testing::Values(
        FailCase{"Usable", SimFunction(0, 1, 0).Ids(0x1000, 0x30).Io(0, 0xD000, 0x100), 0, ""},
        FailCase{"NoHandle", SimFunction(0, 1, 0).Ids(0x1000, 0x30).Fault("register-no-handle"), 5,
                 "P9080_CardIsUsable->Failed locking device.\n"},
        FailCase{"TwoInterrupts", SimFunction(0, 1, 0).Ids(0x1000, 0x30).Interrupt(3).Interrupt(4), 6,
                 "P9080_CardIsUsable->Card does not have all items (Interrupt) expected for the card\n"},
        FailCase{"MemoryWithoutRegister", SimFunction(0, 1, 0).Ids(0x1000, 0x30).Memory(1, 0xF4000000, 0x100, false),
                 7, "P9080_CardIsUsable->Card does not have all items (Addr Space) expected for the card\n"},
        FailCase{"Refused", SimFunction(0, 1, 0).Ids(0x1000, 0x30).Fault("register-refused"), 9,
                 "P9080_CardIsUsable->Failed Card Register.\n"}),
    platform::testing::ParamName());

TEST(Scan, NineMemoryItemsRecordEightAndStop) {
    SimFunction f(0, 1, 0);
    f.Ids(0x1000, 0x31);
    for (uint32_t i = 0; i < 9; ++i) f.Memory(i % 6, 0xE0000000 + i * 0x10000, 0x1000, false);
    f.Interrupt(10);
    TestBus bus(simbus::BusJson({f}));
    const auto& d = Sniff(bus).Devices[0];
    EXPECT_EQ(d.NumMemAddresses, 8);
    EXPECT_EQ(d.MemPhysicalAddress[7], 0xE0070000u);
    EXPECT_EQ(d.NumInterrupts, 0);  // listed after the eighth memory item
    EXPECT_EQ(d.Interrupt, 0u);
}

TEST(Scan, EightIoItemsStopTheWalkToo) {
    SimFunction f(0, 1, 0);
    f.Ids(0x1000, 0x32);
    for (uint32_t i = 0; i < 8; ++i) f.Io(i % 6, 0x1000 + i * 0x100, 0x10, false);
    f.Memory(0, 0xF0000000, 0x100, false);
    TestBus bus(simbus::BusJson({f}));
    const auto& d = Sniff(bus).Devices[0];
    EXPECT_EQ(d.NumIOAddresses, 8);
    EXPECT_EQ(d.IoAddress[7], 0x1700u);
    EXPECT_EQ(d.NumMemAddresses, 0);
}

TEST(Scan, TwoInterruptsCountTwoAndKeepTheSecond) {
    TestBus bus(simbus::BusJson({SimFunction(0, 1, 0).Ids(0x1000, 0x33).Interrupt(5).Interrupt(9)}));
    const auto& d = Sniff(bus).Devices[0];
    EXPECT_EQ(d.NumInterrupts, 2);
    EXPECT_EQ(d.Interrupt, 9u);
}

TEST(Scan, PlxWhoseRegistrationFailsReadsZerosWithoutTransfers) {
    auto plx = simbus::PlxBoard(1, 0, 0x9056, simbus::PatternWords(64, 1)).Fault("register-refused");
    // An earlier good card leaves its spaces set up: they must not be reused.
    TestBus bus(simbus::BusJson({simbus::PlxBoard(0, 5, 0x9080, simbus::PatternWords(64, 2), 0xF8000000, 0xB000), plx}));
    const auto& t = Sniff(bus);
    ASSERT_EQ(t.Count, 2);
    EXPECT_EQ(t.Devices[0].FailCode, 0);
    EXPECT_EQ(t.Devices[0].EepromWords[63], simbus::PatternWords(64, 2)[63]);
    EXPECT_EQ(t.Devices[1].FailCode, 9);
    EXPECT_TRUE(t.Devices[1].IsPlx);
    for (uint16_t w : t.Devices[1].EepromWords) EXPECT_EQ(w, 0);
    EXPECT_EQ(bus.CountRequests(WD_Transfer), 32 * 100 + 32 * 164);  // the 9080's only
}

TEST(Scan, PlxWhoseCheckFailsAfterRegisteringStillReadsItsEeprom) {
    const auto words = simbus::PatternWords(64, 9);
    TestBus bus(simbus::BusJson({simbus::PlxBoard(1, 0, 0x9056, words).Interrupt(12)}));
    const auto& d = Sniff(bus).Devices[0];
    EXPECT_EQ(d.FailCode, 6);
    EXPECT_TRUE(d.IsPlx);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(d.EepromWords[i], words[i]) << i;
}

TEST(Scan, Plx9080UsesTheShortInstruction) {
    const auto words = simbus::PatternWords(64, 0x80);
    TestBus bus(simbus::BusJson({simbus::PlxBoard(3, 1, 0x9080, words)}));
    const auto& d = Sniff(bus).Devices[0];
    EXPECT_TRUE(d.IsPlx);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(d.EepromWords[i], words[i]) << i;
    EXPECT_EQ(bus.CountRequests(WD_Transfer), 8448);
}

TEST(Scan, Plx9054IsNotABridgeForTheReader) {
    auto f = simbus::PlxBoard(3, 1, 0x9054, simbus::PatternWords(64, 4));
    TestBus bus(simbus::BusJson({f}));
    const auto& d = Sniff(bus).Devices[0];
    EXPECT_FALSE(d.IsPlx);
    for (uint16_t w : d.EepromWords) EXPECT_EQ(w, 0);
    EXPECT_EQ(bus.CountRequests(WD_Transfer), 0);
}

std::vector<SimFunction> ManyFunctions(int n) {
    std::vector<SimFunction> functions;
    for (int i = 0; i < n; ++i)
        functions.push_back(SimFunction(i / 32, i % 32, 0).Ids(0x1234, static_cast<uint16_t>(i)).Io(0, 0x100 + i * 0x10, 0x10));
    return functions;
}

TEST(Scan, MoreThanAHundredFunctionsFillTheTable) {
    TestBus bus(simbus::BusJson(ManyFunctions(130)));
    const auto& t = Sniff(bus);
    ASSERT_EQ(t.Count, 100);
    EXPECT_EQ(t.Devices[99].DeviceId, 99u);
    EXPECT_EQ(t.Devices[99].Bus, 3u);
    EXPECT_EQ(t.Devices[99].Slot, 3u);
    EXPECT_EQ(bus.CountRequests(WD_PciGetCardInfo), 100);
}

TEST(Scan, CapacityLimitsTheCount) {
    TestBus bus(simbus::BusJson(ManyFunctions(10)));
    auto& t = Sniff(bus, 4);
    EXPECT_EQ(t.Count, 4);
    EXPECT_EQ(bus.CountRequests(WD_PciGetCardInfo), 4);
    EXPECT_EQ(t.Devices[4].VendorId, 0u);
    // A caller's capacity past the table's is held to the table.
    TestBus big(simbus::BusJson(ManyFunctions(101)));
    EXPECT_EQ(Sniff(big, 5000).Count, 100);
}

TEST(Scan, EveryRegistrationIsReleasedExactlyOnce) {
    std::vector<SimFunction> functions = {
        HostBridge(), Nic(), simbus::PlxBoard(1, 0, 0x9056, simbus::PatternWords(64, 1)),
        SimFunction(1, 1, 0).Ids(0x1000, 1).Fault("register-refused"),
        SimFunction(1, 2, 0).Ids(0x1000, 2).Fault("register-no-handle"),
        SimFunction(1, 3, 0).Ids(0x1000, 3).Interrupt(1).Interrupt(2),
        SimFunction(1, 4, 0).Ids(0x1000, 4).Memory(0, 0xF5000000, 0x100, false)};
    TestBus bus(simbus::BusJson(functions));
    Sniff(bus);
    std::map<std::string, int> outcomes;
    for (const auto& line : bus.Trace()) outcomes[line]++;
    char registered[32], unregistered[32];
    std::snprintf(registered, sizeof registered, "%08x 00000000", WD_CardRegister);
    std::snprintf(unregistered, sizeof unregistered, "%08x 00000000", WD_CardUnregister);
    // Five registrations answer with status 0 (one of them without a card
    // handle); the four with a handle are each released once, and only they.
    EXPECT_EQ(outcomes[registered], 6);
    EXPECT_EQ(bus.CountRequests(WD_CardRegister), 7);
    EXPECT_EQ(outcomes[unregistered], 5);
    EXPECT_EQ(bus.CountRequests(WD_CardUnregister), 5);
    // Each release is the last request of its own card, before the next
    // card's information request: cards in bus order.
    std::vector<std::vector<unsigned>> perCard;
    for (const auto& line : bus.Trace()) {
        const unsigned code = std::stoul(line.substr(0, 8), nullptr, 16);
        if (code == WD_PciGetCardInfo) perCard.emplace_back();
        if (!perCard.empty()) perCard.back().push_back(code);
    }
    ASSERT_EQ(perCard.size(), 7u);
    const int releases[] = {1, 1, 1, 0, 0, 1, 1};
    for (int c = 0; c < 7; ++c) {
        const auto& codes = perCard[c];
        EXPECT_EQ(std::count(codes.begin(), codes.end(), WD_CardUnregister), releases[c]) << "card " << c;
        if (releases[c]) {
            EXPECT_EQ(codes.back(), WD_CardUnregister) << "card " << c;
        }
    }
}

TEST(Scan, RefusedCardInformationGivesAnEmptyRecord) {
    TestBus bus(simbus::BusJson({Nic().Fault("card-info-refused")}));
    const auto& d = Sniff(bus).Devices[0];
    // With no items the service cannot tell which card is meant and refuses
    // the registration.
    EXPECT_EQ(d.FailCode, 9);
    EXPECT_EQ(d.NumMemAddresses + d.NumIOAddresses + d.NumInterrupts, 0);
    EXPECT_EQ(d.ConfigRegs[0], 0x100E8086u);
    EXPECT_NE(FormatDeviceReport(0, Table()).find("This Device Has No Resources"), std::string::npos);
}

// The driver gone in the middle of the EEPROM read: the cards after it read
// as zeros, one record (not one per request) says why, and the scan ends as
// one that did not reach the driver.
TEST(Scan, ADriverLostMidScanIsLoggedOnce) {
    simbus::LogFolder log;
    TestBus bus(simbus::BusJson({simbus::PlxBoard(0, 2, 0x9056, simbus::PatternWords(64, 1)), Nic()}));
    std::thread killer = bus.KillAfter(WD_Transfer, 100);
    const auto& t = Sniff(bus);
    killer.join();
    ASSERT_EQ(t.Count, 2);
    EXPECT_EQ(t.Devices[1].ConfigRegs[0], 0u);
    EXPECT_EQ(LastErrorCode, 1);
    int lost = 0;
    for (const auto& r : log.Records())
        lost +=
            r.Code == 1 && r.Message == "GetPciCardInfo: lost the connection to the driver during the scan";
    EXPECT_EQ(lost, 1);
}

TEST(Scan, RefusedConfigReadsAreZero) {
    TestBus bus(simbus::BusJson({Nic().Fault("config-refused")}));
    const auto& d = Sniff(bus).Devices[0];
    EXPECT_EQ(d.VendorId, 0x8086u);  // from the scan reply
    for (uint32_t r : d.ConfigRegs) EXPECT_EQ(r, 0u);
}

// Beside the table, the whole configuration space: the extended part only
// for a PCI Express function, and only where the driver gives it.
struct SpaceCase {
    const char* Name;
    SimFunction Function;
    uint32_t Size;
    uint32_t Offset;  // a double-word to find in the space
    uint32_t Value;
};
class ConfigSpaces : public testing::TestWithParam<SpaceCase> {};

TEST_P(ConfigSpaces, HoldWhatTheDriverGives) {
    const SpaceCase& c = GetParam();
    TestBus bus(simbus::BusJson({c.Function}));
    const auto& t = Sniff(bus);
    ASSERT_EQ(PciCaptures.Count, 1);
    const PciConfigSpace& space = PciCaptures.Functions[0].Config;
    EXPECT_EQ(space.Size, c.Size);
    EXPECT_EQ(std::memcmp(space.Bytes, t.Devices[0].ConfigRegs, sizeof t.Devices[0].ConfigRegs), 0);
    uint32_t value = 0;
    std::memcpy(&value, space.Bytes + c.Offset, sizeof value);
    EXPECT_EQ(value, c.Value);
}

INSTANTIATE_TEST_SUITE_P(
    Scan, ConfigSpaces,
    testing::Values(
        SpaceCase{"PlainFunctionStandardSpace", SimFunction(0, 1, 0).Ids(0x8086, 0x1237).Dword(0x100, 0x11111111),
                  256, 0x100, 0},
        SpaceCase{"ExpressFunctionExtendedSpace",
                  SimFunction(0, 1, 0).Ids(0x8086, 0x10D3).Express().Dword(0x100, 0x14820001).Dword(0xFFC, 0xCAFEF00D),
                  4096, 0xFFC, 0xCAFEF00D},
        SpaceCase{"ExpressFunctionTheDriverGives256", SimFunction(0, 1, 0).Ids(0x8086, 0x10D3).Express(), 256, 0x40,
                  0x10},
        SpaceCase{"LoopingListEnds", SimFunction(0, 1, 0).Ids(0x8086, 0x10D3).Express(0x40).Dword(0x40, 0x4001)
                                         .Dword(0x200, 0x22222222),
                  256, 0x200, 0}),
    platform::testing::ParamName());

TEST(Scan, EmptyBusCountsZero) {
    TestBus bus(simbus::BusJson({}));
    EXPECT_EQ(Sniff(bus).Count, 0);
    EXPECT_EQ(FormatSniffReport(Table()), "No PCI Devices to Log.  Assume something broke");
}

TEST(Scan, NoDriverLeavesTheTableAndLogsTheSourceRecord) {
    simbus::LogFolder log;
    const std::string expected = "[SnifferUnit.cpp:222 GetPciCardInfo()] Could not get a WinDrvr Handle";
    static PciDeviceTableType table{};
    SetDriverDevice(log.Dir() + "/no-such-socket");
    GetPciCardInfo(100, table);
    EXPECT_EQ(table.Count, 0);
    auto records = log.Records();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back().Code, 255);
    EXPECT_EQ(records.back().Message, expected);

    {
        TestBus bus(simbus::BusJson({Nic(), HostBridge()}));
        bus.Use();
        GetPciCardInfo(100, table);
    }
    ASSERT_EQ(table.Count, 2);
    static PciDeviceTableType copy;
    std::memcpy(&copy, &table, sizeof table);
    SetDriverDevice(log.Dir() + "/no-such-socket");
    GetPciCardInfo(100, table);
    EXPECT_EQ(std::memcmp(&copy, &table, sizeof table), 0);
    records = log.Records();
    EXPECT_EQ(records.back().Message, expected);
    int sourceRecords = 0;
    for (const auto& r : records) sourceRecords += r.Code == 255;
    EXPECT_EQ(sourceRecords, 2);
}

TEST(Scan, ServiceDyingMidScanEndsTheScanWithWhatWasRead) {
    std::vector<SimFunction> functions = {simbus::PlxBoard(0, 1, 0x9056, simbus::PatternWords(64, 1)), Nic()};
    for (auto& f : ManyFunctions(20)) {
        f.Bus += 4;
        functions.push_back(f);
    }
    TestBus bus(simbus::BusJson(functions));
    std::atomic<bool> done{false};
    std::thread killer([&] {
        // Well inside the first card's EEPROM read.
        while (!done && static_cast<int>(bus.Trace().size()) < 2000)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        bus.Kill();
    });
    const auto start = std::chrono::steady_clock::now();
    const auto& t = Sniff(bus);
    done = true;
    killer.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    ASSERT_EQ(t.Count, 22);
    EXPECT_TRUE(t.Devices[0].IsPlx);
    EXPECT_EQ(t.Devices[0].ConfigRegs[0], 0x905610B5u);  // read before the end
    // After the end nothing answers: the later cards are empty records.
    EXPECT_EQ(t.Devices[21].VendorId, 0x1234u);
    EXPECT_EQ(t.Devices[21].ConfigRegs[0], 0u);
    EXPECT_EQ(t.Devices[21].NumIOAddresses, 0);
    EXPECT_EQ(t.Devices[21].FailCode, 9);
    const std::string report = FormatSniffReport(t);
    EXPECT_NE(report.find("Found 22 PCI Devices"), std::string::npos);
}

TEST(Scan, DemoBusSniffsAsShipped) {
    std::ifstream in(std::string(QUORRIN_SOURCE_DIR) + "/examples/demo-bus.json");
    ASSERT_TRUE(in) << "examples/demo-bus.json is missing";
    std::stringstream json;
    json << in.rdbuf();
    TestBus bus(json.str());
    const auto& t = Sniff(bus);
    ASSERT_GE(t.Count, 4);
    int plx = 0;
    for (int i = 0; i < t.Count; ++i) {
        const PciDeviceRecord& d = t.Devices[i];
        EXPECT_EQ(d.FailCode, 0) << "device " << i << ": " << d.FailText;
        if (!d.IsPlx) continue;
        ++plx;
        // A PLX load starts with the device and vendor identifiers.
        EXPECT_EQ(d.EepromWords[0], d.DeviceId) << i;
        EXPECT_EQ(d.EepromWords[1], d.VendorId) << i;
        EXPECT_NE(d.EepromWords[2], 0xFFFF) << i;
    }
    EXPECT_EQ(plx, 2);
}

// This machine's own bus, compared with what lspci reads.
std::map<std::string, std::vector<uint8_t>> LspciConfig() {
    std::map<std::string, std::vector<uint8_t>> functions;
    std::FILE* p = popen("lspci -xxx 2>/dev/null", "r");
    if (!p) return functions;
    char line[512];
    std::string current;
    while (std::fgets(line, sizeof line, p)) {
        unsigned offset = 0;
        unsigned b[16];
        if (std::sscanf(line, "%x: %x %x %x %x %x %x %x %x %x %x %x %x %x %x %x %x", &offset, &b[0], &b[1], &b[2], &b[3],
                        &b[4], &b[5], &b[6], &b[7], &b[8], &b[9], &b[10], &b[11], &b[12], &b[13], &b[14], &b[15]) == 17 &&
            !current.empty()) {
            for (unsigned v : b) functions[current].push_back(static_cast<uint8_t>(v));
        } else if (line[0] != ' ' && line[0] != '\n' && std::strchr(line, ' ')) {
            current.assign(line, std::strchr(line, ' ') - line);
        }
    }
    pclose(p);
    return functions;
}

TEST(Scan, RealBusAgreesWithLspci) {
    const auto lspci = LspciConfig();
    if (lspci.empty()) GTEST_SKIP() << "lspci -xxx gave nothing";
    std::unique_ptr<TestBus> bus;
    try {
        bus = std::make_unique<TestBus>(TestBus::Real());
    } catch (const std::exception& e) {
        GTEST_SKIP() << "no real-bus service: " << e.what();
    }
    const auto& t = Sniff(*bus);
    ASSERT_EQ(t.Count, static_cast<int32_t>(std::min<std::size_t>(lspci.size(), 100)));
    for (int i = 0; i < t.Count; ++i) {
        const PciDeviceRecord& d = t.Devices[i];
        char name[16];
        std::snprintf(name, sizeof name, "%02x:%02x.%x", d.Bus, d.Slot, d.Function);
        const auto it = lspci.find(name);
        ASSERT_NE(it, lspci.end()) << name;
        const auto& bytes = it->second;
        ASSERT_GE(bytes.size(), 256u) << name;
        EXPECT_EQ(d.VendorId, bytes[0] | (bytes[1] << 8u)) << name;
        EXPECT_EQ(d.DeviceId, bytes[2] | (bytes[3] << 8u)) << name;
        for (int k = 0; k < 64; ++k) {
            const uint32_t v = bytes[4 * k] | (bytes[4 * k + 1] << 8u) | (bytes[4 * k + 2] << 16u) |
                               (uint32_t{bytes[4 * k + 3]} << 24u);
            // The status register (dword 1, upper half) may change between reads.
            if (k == 1) continue;
            EXPECT_EQ(d.ConfigRegs[k], v) << name << " dword " << k;
        }
        // A memory resource above 4 GiB shows its whole address and is not
        // matched to some other register.
        for (int m = 0; m < d.NumMemAddresses; ++m) {
            if (d.MemAddress[m] > 0xFFFFFFFFu) {
                EXPECT_NE(FormatDeviceReport(i, t).find(Hex64Text(static_cast<long double>(d.MemAddress[m]), 16, true)),
                          std::string::npos);
            }
        }
    }
}

}  // namespace
