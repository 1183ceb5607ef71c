// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin sniffer tests -- a sniffed bus saved and served again gives the
// same report, byte for byte, on the examples, the buses the scan tests do
// not build (the scan tests replay each of theirs) and this machine's; and
// this machine's lspci text, replayed, gives what its real bus gives.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "driver/testing/SimBus.h"
#include "driver/testing/TestBus.h"
#include "platform/testing/ParamName.h"
#include "platform/testing/TempFolder.h"
#include "sniffer/BusFile.h"
#include "sniffer/SnifferUnit.h"

namespace {

using simbus::SimFunction;

// A scan's table and what it kept beside it.
struct Scan {
    std::unique_ptr<PciDeviceTableType> Table = std::make_unique<PciDeviceTableType>();
    std::unique_ptr<PciCaptureTable> Captures = std::make_unique<PciCaptureTable>();
    std::string Report() const { return FormatSniffReport(*Table); }
    std::string Saved() const { return BusFileText(*Table, *Captures); }
};

Scan Sniff(const TestBus& bus) {
    bus.Use();
    Scan s;
    GetPciCardInfo(PciTableCapacity, *s.Table, *s.Captures);
    return s;
}

std::string Example(const char* name) {
    std::ifstream in(std::string(QUORRIN_SOURCE_DIR) + "/examples/" + name);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

SimFunction Nic(uint32_t slot) {
    return SimFunction(0, slot, 0)
        .Ids(0x8086, 0x100E)
        .Dword(0x08, 0x02000003)
        .Dword(0x2C, 0x001E8086)
        .Memory(0, 0xFEBC0000, 0x20000)
        .Io(1, 0xC000, 0x40)
        .Interrupt(11);
}

// A function the builder cannot make: BARs of 512 MiB and of 4 GiB, whose
// length the driver's 32-bit field cannot hold (the service then refuses to
// register it).
const char* const BigBars = R"({"bus": 5, "slot": 0, "function": 0, "vendor": "0x10DE", "device": "0x1EB8",
  "config": "00: de 10 b8 1e 06 00 10 00 a1 00 02 03 00 00 00 00\n10: 0c 00 00 e0 00 00 00 00 0c 00 00 00 40 00 00 00",
  "resources": [{"type": "memory", "bar": 0, "address": "0xE0000000", "length": "0x20000000"},
                {"type": "memory", "bar": 2, "address": "0x4000000000", "length": "0x100000000"}]})";

std::string BusOf(const std::vector<SimFunction>& functions, const std::string& extra = "") {
    std::string json = simbus::BusJson(functions);
    if (!extra.empty()) json.insert(json.size() - 2, (functions.empty() ? "" : ",") + extra);
    return json;
}

struct BusCase {
    const char* Name;
    std::string Json;
};
class SaveThenReplay : public testing::TestWithParam<BusCase> {};

TEST_P(SaveThenReplay, GivesTheSameReportByteForByte) {
    TestBus original(GetParam().Json);
    const Scan first = Sniff(original);
    ASSERT_TRUE(first.Captures->Complete);
    const std::string saved = first.Saved();
    ASSERT_FALSE(nlohmann::json::parse(saved, nullptr, false).is_discarded()) << saved;

    TestBus replayed(saved);
    const Scan second = Sniff(replayed);
    EXPECT_EQ(second.Report(), first.Report());
    // Nothing the scan keeps is lost on the way: the replay saves the same file.
    EXPECT_EQ(second.Saved(), saved);
}

INSTANTIATE_TEST_SUITE_P(
    Buses, SaveThenReplay,
    testing::Values(
        BusCase{"DemoBusChanged", Example("demo-bus-changed.json")}, BusCase{"DemoLspci", Example("demo-lspci.txt")},
        BusCase{"EepromsBlankAndOutOfReach",
                BusOf({simbus::PlxBoard(3, 0, 0x9056, {}),
                       SimFunction(3, 1, 0).Ids(0x10B5, 0x9080).Memory(0, 0xF0000000, 0x200).Io(1, 0xE000, 0x100, false)})},
        BusCase{"Above4GiB", BusOf({SimFunction(0, 3, 0).Ids(0x1AF4, 0x1045).Memory64(0, 0x4000000000, 0x80000).Interrupt(5)})},
        BusCase{"BigBars", BusOf({Nic(1)}, BigBars)}),
    platform::testing::ParamName());

TEST(BusFile, ThisMachinesBusReplaysAsSniffed) {
    std::unique_ptr<TestBus> real;
    try {
        real = std::make_unique<TestBus>(TestBus::Real());
    } catch (const std::exception& e) {
        GTEST_SKIP() << "no real-bus service: " << e.what();
    }
    const Scan first = Sniff(*real);
    TestBus replayed(first.Saved());
    EXPECT_EQ(Sniff(replayed).Report(), first.Report());
}

TEST(BusFile, OnlyAWholeSniffIsSaved) {
    platform::testing::TempFolder folder("quorrin-busfile-");
    Scan none;  // no scan yet
    std::string error;
    EXPECT_FALSE(SaveBusFile(folder.Path() + "/a.json", *none.Table, *none.Captures, error));
    EXPECT_EQ(error, "no whole sniff to save: the last one did not reach the driver to its end");

    TestBus bus(BusOf({Nic(3)}));
    const Scan s = Sniff(bus);
    EXPECT_FALSE(SaveBusFile(folder.Path() + "/no-such-folder/a.json", *s.Table, *s.Captures, error));
    EXPECT_EQ(error, folder.Path() + "/no-such-folder/a.json: cannot be written");
    ASSERT_TRUE(SaveBusFile(folder.Path() + "/a.json", *s.Table, *s.Captures, error)) << error;
    std::ifstream in(folder.Path() + "/a.json");
    std::ostringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), s.Saved());
}

// This machine's lspci text, served as a bus, against its real bus: every
// field lspci carries (the EEPROM it cannot give aside, and the status
// register, which may change between two reads).
std::string LspciText() {
    std::string text;
    std::FILE* p = popen("lspci -vvv -xxxx 2>/dev/null", "r");
    if (!p) return text;
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, p)) > 0) text.append(buffer, got);
    pclose(p);
    return text;
}

void Comparable(PciDeviceRecord& d, PciConfigSpace& space) {
    d.ConfigRegs[1] &= 0xFFFF;
    space.Bytes[6] = space.Bytes[7] = 0;
    std::memset(d.EepromWords, 0, sizeof d.EepromWords);
}

TEST(BusFile, LspciTextReplaysAsTheRealBus) {
    std::unique_ptr<TestBus> real;
    try {
        real = std::make_unique<TestBus>(TestBus::Real());
    } catch (const std::exception& e) {
        GTEST_SKIP() << "no real-bus service: " << e.what();
    }
    Scan fromReal = Sniff(*real);
    const std::string text = LspciText();
    if (text.empty()) GTEST_SKIP() << "lspci gave nothing";
    TestBus fromText(text);
    Scan replayed = Sniff(fromText);
    ASSERT_EQ(replayed.Table->Count, fromReal.Table->Count);
    ASSERT_GT(replayed.Table->Count, 0);
    for (int i = 0; i < replayed.Table->Count; ++i) {
        PciDeviceRecord& a = fromReal.Table->Devices[i];
        PciDeviceRecord& b = replayed.Table->Devices[i];
        Comparable(a, fromReal.Captures->Functions[i].Config);
        Comparable(b, replayed.Captures->Functions[i].Config);
        EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << FormatDeviceReport(i, *fromReal.Table) << "\nreplayed as\n"
                                                    << FormatDeviceReport(i, *replayed.Table);
        const PciConfigSpace& x = fromReal.Captures->Functions[i].Config;
        const PciConfigSpace& y = replayed.Captures->Functions[i].Config;
        EXPECT_EQ(x.Size, y.Size) << i;
        EXPECT_EQ(std::memcmp(x.Bytes, y.Bytes, sizeof x.Bytes), 0) << i;
    }
}

}  // namespace
