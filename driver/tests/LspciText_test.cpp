// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service tests -- lspci's text read as a bus: the resources
// each kind of line gives, and the line every malformed text is refused at.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/LspciText.h"
#include "driver/SimulatedBus.h"
#include "platform/testing/ParamName.h"

namespace driverd {
namespace {

// 256 bytes of hex dump: vendor and device, the rest 0.
std::string Dump(uint16_t vendor = 0x8086, uint16_t device = 0x1237, int bytes = 256) {
    std::string text;
    for (int row = 0; row < bytes; row += 16) {
        char line[16];
        std::snprintf(line, sizeof line, "%02x:", row);
        text += line;
        for (int i = 0; i < 16; ++i) {
            unsigned b = 0;
            if (row == 0 && i < 4) b = i < 2 ? (vendor >> (8 * i)) & 0xFF : (device >> (8 * (i - 2))) & 0xFF;
            char hex[16];
            std::snprintf(hex, sizeof hex, " %02x", b);
            text += hex;
        }
        text += "\n";
    }
    return text;
}

// One function as lspci -vv -xxx writes it, with `lines` among its -v lines.
std::string Block(const std::string& lines, const std::string& head = "00:02.0 VGA compatible controller: Acme X") {
    return head + "\n\tControl: I/O+ Mem+ BusMaster+\n\tStatus: Cap+ 66MHz-\n" + lines + Dump() + "\n";
}

Resource Mem(uint32_t bar, uint64_t address, uint64_t length) {
    return {ResourceKind::Memory, bar, address, length, 0};
}
Resource Io(uint32_t bar, uint64_t address, uint64_t length) { return {ResourceKind::IO, bar, address, length, 0}; }
Resource Irq(uint32_t number) { return {ResourceKind::Interrupt, 0, 0, 0, number}; }

struct SnippetCase {
    const char* Name;
    std::string Text;
    std::vector<Resource> Expected;
};
class LspciSnippets : public testing::TestWithParam<SnippetCase> {};

TEST_P(LspciSnippets, GiveTheResourcesTheKernelHolds) {
    std::vector<LspciFunction> functions;
    std::vector<std::string> notes;
    std::string error;
    ASSERT_TRUE(ReadLspciText(GetParam().Text, functions, notes, error)) << error;
    ASSERT_EQ(functions.size(), 1u);
    EXPECT_EQ(functions[0].Resources, GetParam().Expected);
    EXPECT_EQ(functions[0].Config.size(), 256u);
    EXPECT_EQ(functions[0].Config[0], 0x86);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LspciSnippets,
    testing::Values(
        SnippetCase{"Memory32", Block("\tRegion 0: Memory at f7e00000 (32-bit, non-prefetchable) [size=128K]\n"),
                    {Mem(0, 0xF7E00000, 0x20000)}},
        SnippetCase{"Memory64Above4GiB", Block("\tRegion 2: Memory at 6000000000 (64-bit, prefetchable) [size=16G]\n"),
                    {Mem(2, 0x6000000000, 16ull << 30)}},
        SnippetCase{"IoPorts", Block("\tRegion 4: I/O ports at e000 [size=32]\n"), {Io(4, 0xE000, 32)}},
        SnippetCase{"DisabledStillHeld",
                    Block("\tRegion 1: Memory at f0000000 (32-bit, prefetchable) [disabled] [size=256M]\n"),
                    {Mem(1, 0xF0000000, 256ull << 20)}},
        SnippetCase{"Virtual", Block("\tRegion 0: Memory at 4000000000 (64-bit, non-prefetchable) [virtual] [size=512K]\n"),
                    {Mem(0, 0x4000000000, 512 << 10)}},
        SnippetCase{"UnassignedWithASizeAtZero",
                    Block("\tRegion 5: Memory at <unassigned> (32-bit, non-prefetchable) [size=4K]\n"),
                    {Mem(5, 0, 4096)}},
        SnippetCase{"IgnoredWithoutSizeIsNone", Block("\tRegion 3: I/O ports at <ignored> [disabled]\n"), {}},
        SnippetCase{"RomAsBar6", Block("\tExpansion ROM at fb000000 [disabled] [size=64K]\n"),
                    {Mem(6, 0xFB000000, 64 << 10)}},
        SnippetCase{"RomVirtualDisabledByCommand", Block("\tExpansion ROM at 000c0000 [virtual] [disabled by cmd] [size=128K]\n"),
                    {Mem(6, 0xC0000, 128 << 10)}},
        SnippetCase{"SizeInBytesAndTerabytes",
                    Block("\tRegion 0: I/O ports at 1000 [size=8]\n"
                          "\tRegion 2: Memory at 10000000000 (64-bit, prefetchable) [size=1T]\n"),
                    {Io(0, 0x1000, 8), Mem(2, 0x10000000000, 1ull << 40)}},
        SnippetCase{"InterruptWithAPin", Block("\tInterrupt: pin A routed to IRQ 16\n"), {Irq(16)}},
        SnippetCase{"NoPinNoInterrupt", Block("\tInterrupt: pin ? routed to IRQ 255\n"), {}},
        SnippetCase{"IrqZeroNoInterrupt", Block("\tInterrupt: pin B routed to IRQ 0\n"), {}},
        // lspci writes the interrupt first, the ROM last; the items come in
        // BAR order, the ROM, then the interrupt, as sysfs lists them.
        SnippetCase{"OrderOfAWholeFunction",
                    Block("\tInterrupt: pin A routed to IRQ 11\n"
                          "\tRegion 2: I/O ports at d000 [size=256]\n"
                          "\tRegion 0: Memory at fe000000 (32-bit, non-prefetchable) [size=16M]\n"
                          "\tExpansion ROM at c0000 [disabled] [size=128K]\n"
                          "\tCapabilities: [50] Power Management version 3\n"
                          "\t\tFlags: PMEClk- DSI- D1- D2- AuxCurrent=0mA\n"
                          "\tKernel driver in use: acme\n"),
                    {Mem(0, 0xFE000000, 16 << 20), Io(2, 0xD000, 256), Mem(6, 0xC0000, 128 << 10), Irq(11)}},
        SnippetCase{"CapabilityRegionsAreNotTheFunctions",
                    Block("\tCapabilities: [160 v1] Single Root I/O Virtualization (SR-IOV)\n"
                          "\t\tRegion 0: Memory at 0000004000100000 (64-bit, prefetchable)\n"),
                    {}},
        SnippetCase{"PastedWithBlanksAndCrLf",
                    "00:02.0 VGA compatible controller: Acme X\r\n    Control: I/O+ Mem+\r\n"
                    "    Region 0: Memory at f7e00000 (32-bit, non-prefetchable) [size=4K]\r\n"
                    "        Region 1: Memory at f8000000 (64-bit, prefetchable)\r\n" +
                        Dump() + "\r\n",
                    {Mem(0, 0xF7E00000, 4096)}},
        SnippetCase{"DomainAndNumericIds",
                    Block("\tRegion 0: Memory at f7e00000 (32-bit, non-prefetchable) [size=4K]\n",
                          "0000:00:02.0 VGA compatible controller [0300]: Acme X [8086:1237] (rev 02)"),
                    {Mem(0, 0xF7E00000, 4096)}},
        SnippetCase{"ToolMessagesAreSkipped",
                    "lspci: Unable to load libkmod resources: error -2\n" +
                        Block("\tRegion 0: I/O ports at 1000 [size=8]\n") + "pcilib: sysfs_read_vpd: read failed\n",
                    {Io(0, 0x1000, 8)}}),
    platform::testing::ParamName());

struct MalformedCase {
    const char* Name;
    std::string Text;
    std::string Error;  // the start of the message
};
class LspciMalformed : public testing::TestWithParam<MalformedCase> {};

TEST_P(LspciMalformed, IsRefusedAtItsLine) {
    std::vector<LspciFunction> functions;
    std::vector<std::string> notes;
    std::string error;
    EXPECT_FALSE(ReadLspciText(GetParam().Text, functions, notes, error));
    EXPECT_EQ(error.substr(0, GetParam().Error.size()), GetParam().Error) << error;
}

const std::string Head = "00:02.0 VGA compatible controller: Acme X\n\tControl: I/O+ Mem+\n";

INSTANTIATE_TEST_SUITE_P(
    Texts, LspciMalformed,
    testing::Values(
        MalformedCase{"NotLspci", "Hello, this is my machine\n", "line 1: not lspci output"},
        MalformedCase{"Empty", "", "line 1: not lspci output: no function in it"},
        MalformedCase{"NoVerboseLines", "00:02.0 VGA compatible controller: Acme X\n" + Dump() + "\n",
                      "line 1: 00:02.0 has no -v lines"},
        MalformedCase{"OneVOnly",
                      "00:02.0 VGA compatible controller: Acme X\n\tFlags: bus master, fast devsel\n"
                      "\tMemory at f7e00000 (32-bit, non-prefetchable) [size=4K]\n" + Dump(),
                      "line 3: a region without its BAR number"},
        MalformedCase{"SecondDomain",
                      Block("", "0001:00:00.0 Host bridge: Acme Y"), "line 1: 0001:00:00.0 is in PCI domain 0001"},
        MalformedCase{"CutInTheType", Head + "\tRegion 0: Memory at f7e00000 (32-bit, non-pref", "line 3: cut off"},
        MalformedCase{"CutInTheSize", Head + "\tRegion 0: Memory at f7e00000 (32-bit, non-prefetchable) [size=12",
                      "line 3: cut off"},
        MalformedCase{"CutHexLine", Head + Dump().substr(0, 52 * 2 + 3 + 3 * 7), "line 5: cut off: 7 of the line's 16 bytes"},
        MalformedCase{"DumpStopsShort", Head + Dump(0x8086, 0x1237, 80), "line 8: 00:02.0: the hex dump stops after 80 bytes"},
        MalformedCase{"NoDump", Head + "\n", "line 1: 00:02.0 has no hex dump"},
        MalformedCase{"AddressWithoutSize",
                      Block("\tRegion 0: Memory at f7e00000 (32-bit, non-prefetchable)\n"), "line 4: the region has no [size=...]"},
        MalformedCase{"UnknownUnit", Block("\tRegion 0: I/O ports at 1000 [size=12X]\n"), "line 4: \"[size=12X]\" is not a size"},
        MalformedCase{"SizeOverflows", Block("\tRegion 0: Memory at 0 (64-bit, prefetchable) [size=99999999T]\n"),
                      "line 4: \"[size=99999999T]\" is not a size"},
        MalformedCase{"PastTheAddressSpace",
                      Block("\tRegion 0: Memory at ffffffffffff0000 (64-bit, prefetchable) [size=1M]\n"),
                      "line 4: the range runs past the 64-bit address space"},
        MalformedCase{"IoPastItsSpace", Block("\tRegion 0: I/O ports at 1000 [size=1M]\n"),
                      "line 4: I/O ports of more than the 64 KiB"},
        MalformedCase{"UnknownFlag", Block("\tRegion 0: I/O ports at 1000 [bogus] [size=8]\n"),
                      "line 4: \"[bogus]\" is not a flag lspci writes"},
        MalformedCase{"NoSuchBar", Block("\tRegion 6: I/O ports at 1000 [size=8]\n"), "line 4: \"Region 6\" names no BAR"},
        MalformedCase{"BarTwice", Block("\tRegion 0: I/O ports at 1000 [size=8]\n\tRegion 0: I/O ports at 2000 [size=8]\n"),
                      "line 5: region 0 is listed twice"},
        MalformedCase{"BadInterrupt", Block("\tInterrupt: pin A routed to IRQ sixteen\n"), "line 4: \"Interrupt: pin A"},
        MalformedCase{"FunctionTwice", Block("") + Block(""), "line 21: 00:02.0 is listed twice"},
        MalformedCase{"GapInTheDump", Head + "00: 86 80 37 12 00 00 00 00 00 00 00 00 00 00 00 00\n"
                                             "20: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n",
                      "line 4: the hex dump goes on at 20, not at 10"},
        MalformedCase{"NotAHexByte", Head + "00: 86 80 37 12 zz 00 00 00 00 00 00 00 00 00 00 00\n",
                      "line 3: \"zz\" is not a hex byte"}),
    platform::testing::ParamName());

TEST(LspciText, NotesWhatCannotBeReplayed) {
    const std::string plx = "02:04.0 Bridge: PLX Technology, Inc. PCI9056\n\tControl: I/O+ Mem+\n"
                            "\tRegion 1: I/O ports at e000 [size=256]\n" + Dump(0x10B5, 0x9056, 64) + "\n";
    std::vector<LspciFunction> functions;
    std::vector<std::string> notes;
    std::string error;
    ASSERT_TRUE(ReadLspciText(plx, functions, notes, error)) << error;
    ASSERT_EQ(functions.size(), 1u);
    EXPECT_EQ(functions[0].Config.size(), 256u);  // a 64-byte dump: the rest reads 0
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_NE(notes[0].find("02:04.0: lspci dumped 64 bytes"), std::string::npos) << notes[0];
    EXPECT_NE(notes[1].find("02:04.0: a PLX 9056 bridge; lspci cannot read its serial EEPROM"), std::string::npos)
        << notes[1];
}

// The loader tells the kinds apart by their content and names the file.
TEST(LspciText, LoaderTakesEitherKindAndRefusesOthers) {
    std::string error;
    std::vector<std::string> notes;
    EXPECT_NE(LoadSimulatedBus(Block(""), "a.txt", error, notes), nullptr) << error;
    EXPECT_EQ(notes, std::vector<std::string>{"a.txt: lspci text of 1 functions"});
    notes.clear();
    EXPECT_NE(LoadSimulatedBus(R"({"functions": [{"bus": 0, "slot": 1, "function": 0,
        "config": ["00: 86 80 37 12 00 00 00 00 00 00 00 00 00 00 00 00", "f0: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01"],
        "resources": [{"type": "memory", "bar": 0, "address": "0x4000000000", "length": "0x100000000"},
                      {"type": "memory", "bar": 2, "address": 0, "length": 0}]}]})",
                               "b.json", error, notes),
              nullptr)
        << error;
    EXPECT_EQ(notes, std::vector<std::string>{"b.json: a bus file of 1 functions"});
    EXPECT_EQ(LoadSimulatedBus("Quorrin.Log\n", "c.txt", error, notes), nullptr);
    EXPECT_EQ(error, "c.txt: neither a bus file (JSON) nor the text of lspci -vv -xxx");
    EXPECT_EQ(LoadSimulatedBus(Head, "d.txt", error, notes), nullptr);
    EXPECT_EQ(error, "d.txt: line 1: 00:02.0 has no hex dump: run lspci with -xxx or -xxxx");
}

}  // namespace
}  // namespace driverd
