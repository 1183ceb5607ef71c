// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin sniffer tests -- the sniff report's exact texts, from hand-filled
// device records, and the log records it writes.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "sniffer/SnifferUnit.h"
#include "driver/testing/SimBus.h"
#include "platform/testing/ParamName.h"

namespace {

const std::string D72 = "------------------------------------------------------------------------";
const std::string D43 = "-------------------------------------------";
const std::string D9 = "---------";

// The record the report examples are built around: the third device, a PLX
// 9056 at 02:04.0 whose check failed to register.
PciDeviceRecord PlxRecord() {
    PciDeviceRecord d{};
    d.Index = 2;
    d.VendorId = 0x10b5;
    d.DeviceId = 0x9056;
    d.SubVendorId = 0x10B5;
    d.SubDeviceId = 0x9056;
    d.Bus = 2;
    d.Slot = 4;
    d.Function = 0;
    d.IsPlx = true;
    d.NumMemAddresses = 1;
    d.MemBytes[0] = 0x200;
    d.MemAddress[0] = 0xF0000000;
    d.MemDirect[0] = 0x7F001000;
    d.MemPhysicalAddress[0] = 0xF0000000;
    d.MemBar[0] = 0;
    d.NumIOAddresses = 1;
    d.IoAddress[0] = 0xE000;
    d.IoBytes[0] = 0x100;
    d.IoBar[0] = 1;
    d.NumInterrupts = 1;
    d.Interrupt = 11;
    d.FailCode = 9;
    std::strcpy(d.FailText, "P9080_CardIsUsable->Failed Card Register.\n");
    for (int k = 0; k < 64; ++k) d.ConfigRegs[k] = k == 0 ? 0x905610B5 : 0x8086;
    for (int k = 0; k < 64; ++k) d.EepromWords[k] = k == 0 ? 0x9056 : 0x10B5;
    return d;
}

std::string Row(const std::string& value) {
    std::string row;
    for (int i = 0; i < 8; ++i) row += value + " ";
    return row + "\r\n";
}

TEST(SnifferReport, PlxDeviceBlockToTheCharacter) {
    PciDeviceTableType table{};
    table.Count = 3;
    table.Devices[2] = PlxRecord();
    const std::string expected =
        D43 + "\r\n"
        "PCI Device # 3 Info\r\n"
        "     Vendor ID : 10B5     Device ID : 9056     SubVendor ID : 10B5     SubDevice ID : 9056     \r\n"
        "     Location     Bus : 0002     Slot : 0004     Function : 0000     \r\n"
        "\r\n" + D9 + "\r\n"
        "  This Device Failed:  The WD_CardRegister() failed   \r\n"
        "  P9080_CardIsUsable->Failed Card Register.\n\r\n" + D9 + "\r\n"
        "\r\n"
        "  Memory, I/O, Interrupt Info\r\n"
        "   NumMemAddresses 1\r\n"
        "      Mem Bytes            MemIndex(0)  0x00000200\r\n"
        "      Mem Address          MemIndex(0)  0xF0000000\r\n"
        "      Mem Direct           MemIndex(0)  0x7F001000\r\n"
        "      Mem Physical Address MemIndex(0)  0xF0000000\r\n"
        "      Mem BAR              MemIndex(0)  0\r\n"
        "   NumIOAddresses 1\r\n"
        "      I/O Address   IO Index(0)  0x0000E000\r\n"
        "      I/O Bytes     IO Index(0)  0x00000100\r\n"
        "      I/O BAR       IO Index(0)  1\r\n"
        "   NumInterrupts 1\r\n"
        "      Interrupt     11\r\n"
        "\r\n"
        "  PCI Registers\r\n"
        "905610B5 00008086 00008086 00008086 00008086 00008086 00008086 00008086 \r\n" +
        Row("00008086") + Row("00008086") + Row("00008086") + Row("00008086") + Row("00008086") +
        Row("00008086") + Row("00008086") +
        "\r\n"
        "\r\n"
        "  PLX EEProm Registers\r\n"
        "9056 10B5 10B5 10B5 10B5 10B5 10B5 10B5 \r\n" +
        Row("10B5") + Row("10B5") + Row("10B5") + Row("10B5") + Row("10B5") + Row("10B5") + Row("10B5") + "\r\n";
    EXPECT_EQ(FormatDeviceReport(2, table), expected);
}

struct SectionCase {
    const char* Name;
    std::function<void(PciDeviceRecord&)> Setup;
    std::string (*Format)(const PciDeviceRecord&);
    std::string Expected;
};

class SnifferSections : public testing::TestWithParam<SectionCase> {};

TEST_P(SnifferSections, ExactText) {
    PciDeviceRecord d{};
    GetParam().Setup(d);
    EXPECT_EQ(GetParam().Format(d), GetParam().Expected);
}

const std::string EmptyResources =
    "\r\n  Memory, I/O, Interrupt Info\r\n   NumMemAddresses 0\r\n   NumIOAddresses 0\r\n   NumInterrupts 0\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, SnifferSections,
    testing::Values(
        SectionCase{"UsableDeviceHasNoFailureBox", [](PciDeviceRecord& d) { d.FailCode = 0; }, FormatDeviceFailure, ""},
        SectionCase{"UnknownCodeLeavesOutTheReasonLine",
                    [](PciDeviceRecord& d) {
                        d.FailCode = 12;
                        std::strcpy(d.FailText, "odd\n");
                    },
                    FormatDeviceFailure, "\r\n" + D9 + "\r\n  This Device Failed:    odd\n\r\n" + D9 + "\r\n"},
        SectionCase{"NegativeCodeHasNoReasonEither",
                    [](PciDeviceRecord& d) { d.FailCode = -1; }, FormatDeviceFailure,
                    "\r\n" + D9 + "\r\n  This Device Failed:    \r\n" + D9 + "\r\n"},
        SectionCase{"CodeFiveReason",
                    [](PciDeviceRecord& d) {
                        d.FailCode = 5;
                        std::strcpy(d.FailText, "P9080_CardIsUsable->Failed locking device.\n");
                    },
                    FormatDeviceFailure,
                    "\r\n" + D9 +
                        "\r\n  This Device Failed:  Failed locking the device..should have been shared but not on "
                        "open   \r\n  P9080_CardIsUsable->Failed locking device.\n\r\n" +
                        D9 + "\r\n"},
        SectionCase{"CodeSixReason", [](PciDeviceRecord& d) { d.FailCode = 6; }, FormatDeviceFailure,
                    "\r\n" + D9 + "\r\n  This Device Failed:  Cant find interrupt and one supposed to be there   \r\n  \r\n" +
                        D9 + "\r\n"},
        SectionCase{"CodeSevenReason", [](PciDeviceRecord& d) { d.FailCode = 7; }, FormatDeviceFailure,
                    "\r\n" + D9 +
                        "\r\n  This Device Failed:  A memory space is not active or correct (probably in dos mode)   "
                        "\r\n  \r\n" +
                        D9 + "\r\n"},
        SectionCase{"FailTextWithoutTerminatorStopsAtTheField",
                    [](PciDeviceRecord& d) {
                        d.FailCode = 3;
                        std::memset(d.FailText, 'x', sizeof d.FailText);
                    },
                    FormatDeviceFailure,
                    "\r\n" + D9 + "\r\n  This Device Failed:  No cards found with matching device and vendor id   \r\n  " +
                        std::string(1024, 'x') + "\r\n" + D9 + "\r\n"},
        SectionCase{"NoResourcesBox", [](PciDeviceRecord&) {}, FormatNoResources,
                    "\r\n" + D9 + "\r\n  This Device Has No Resources  \r\n" + D9 + "\r\n"},
        SectionCase{"NegativeCountsCountAsNone",
                    [](PciDeviceRecord& d) {
                        d.NumMemAddresses = -1;
                        d.NumIOAddresses = -3;
                    },
                    FormatNoResources, "\r\n" + D9 + "\r\n  This Device Has No Resources  \r\n" + D9 + "\r\n"},
        SectionCase{"AnInterruptIsAResource", [](PciDeviceRecord& d) { d.NumInterrupts = 1; }, FormatNoResources, ""},
        SectionCase{"NoResourcesStillListsTheCounts", [](PciDeviceRecord&) {}, FormatResourceInfo, EmptyResources},
        SectionCase{"TwoMemoryResourcesNumberedFromZero",
                    [](PciDeviceRecord& d) {
                        d.NumMemAddresses = 2;
                        d.MemBytes[0] = 0x1000;
                        d.MemBytes[1] = 0x20;
                        d.MemAddress[1] = 0xFEBFF000;
                        d.MemBar[1] = 2;
                    },
                    FormatResourceInfo,
                    "\r\n  Memory, I/O, Interrupt Info\r\n   NumMemAddresses 2\r\n"
                    "      Mem Bytes            MemIndex(0)  0x00001000\r\n"
                    "      Mem Address          MemIndex(0)  0x00000000\r\n"
                    "      Mem Direct           MemIndex(0)  0x00000000\r\n"
                    "      Mem Physical Address MemIndex(0)  0x00000000\r\n"
                    "      Mem BAR              MemIndex(0)  0\r\n"
                    "      Mem Bytes            MemIndex(1)  0x00000020\r\n"
                    "      Mem Address          MemIndex(1)  0xFEBFF000\r\n"
                    "      Mem Direct           MemIndex(1)  0x00000000\r\n"
                    "      Mem Physical Address MemIndex(1)  0x00000000\r\n"
                    "      Mem BAR              MemIndex(1)  2\r\n"
                    "   NumIOAddresses 0\r\n   NumInterrupts 0\r\n"},
        // A resource above 4 GiB keeps all its digits: cut to eight, 0x4000080000
        // would read as 0x00000040.
        SectionCase{"AddressAbove4GiBShowsAllSixteenDigits",
                    [](PciDeviceRecord& d) {
                        d.NumMemAddresses = 1;
                        d.MemBytes[0] = 0x80000;
                        d.MemAddress[0] = 0x4000080000ull;
                        d.MemDirect[0] = 0x7F3A12345000ull;
                        d.MemPhysicalAddress[0] = 0xFFFFFFFF;
                    },
                    FormatResourceInfo,
                    "\r\n  Memory, I/O, Interrupt Info\r\n   NumMemAddresses 1\r\n"
                    "      Mem Bytes            MemIndex(0)  0x00080000\r\n"
                    "      Mem Address          MemIndex(0)  0x0000004000080000\r\n"
                    "      Mem Direct           MemIndex(0)  0x00007F3A12345000\r\n"
                    "      Mem Physical Address MemIndex(0)  0xFFFFFFFF\r\n"
                    "      Mem BAR              MemIndex(0)  0\r\n"
                    "   NumIOAddresses 0\r\n   NumInterrupts 0\r\n"},
        SectionCase{"InterruptLineShowsTheNumber",
                    [](PciDeviceRecord& d) {
                        d.NumInterrupts = 2;
                        d.Interrupt = 255;
                    },
                    FormatResourceInfo,
                    "\r\n  Memory, I/O, Interrupt Info\r\n   NumMemAddresses 0\r\n   NumIOAddresses 0\r\n"
                    "   NumInterrupts 2\r\n      Interrupt     255\r\n"},
        SectionCase{"CountsPastTheArraysListOnlyEight",
                    [](PciDeviceRecord& d) {
                        d.NumIOAddresses = 9;
                        for (int i = 0; i < 8; ++i) d.IoBar[i] = 5;
                    },
                    FormatResourceInfo,
                    [] {
                        std::string text = "\r\n  Memory, I/O, Interrupt Info\r\n   NumMemAddresses 0\r\n   NumIOAddresses 9\r\n";
                        for (int i = 0; i < 8; ++i) {
                            const std::string n = std::to_string(i);
                            text += "      I/O Address   IO Index(" + n + ")  0x00000000\r\n";
                            text += "      I/O Bytes     IO Index(" + n + ")  0x00000000\r\n";
                            text += "      I/O BAR       IO Index(" + n + ")  5\r\n";
                        }
                        return text + "   NumInterrupts 0\r\n";
                    }()},
        SectionCase{"NonPlxHasNoEepromSection", [](PciDeviceRecord& d) { d.EepromWords[0] = 0x9056; },
                    FormatEepromRegisters, ""},
        SectionCase{"ZeroRegistersAreEightDigits", [](PciDeviceRecord&) {}, FormatPciRegisters,
                    "\r\n  PCI Registers\r\n" + Row("00000000") + Row("00000000") + Row("00000000") + Row("00000000") +
                        Row("00000000") + Row("00000000") + Row("00000000") + Row("00000000") + "\r\n"},
        SectionCase{"LargeIndexIsCutToFiveDigits", [](PciDeviceRecord& d) { d.Index = 1234567; }, FormatDeviceHeader,
                    D43 + "\r\nPCI Device # 12345 Info\r\n"
                          "     Vendor ID : 0000     Device ID : 0000     SubVendor ID : 0000     SubDevice ID : 0000     \r\n"
                          "     Location     Bus : 0000     Slot : 0000     Function : 0000     \r\n"}),
    platform::testing::ParamName());

const std::string Header3 = "\r\n" + D72 + "\r\n" + D72 + "\r\nPCI Sniff Results.  Found 3 PCI Devices on the Bus\r\n" +
                            D72 + "\r\n" + D72;
const std::string Footer = "\r\n" + D72 + "\r\n" + D72 + "\r\n                  End of PCI Sniff Report \r\n" + D72 +
                           "\r\n" + D72;

TEST(SnifferReport, EmptyTableIsOneSentence) {
    PciDeviceTableType table{};
    EXPECT_EQ(FormatSniffReport(table), "No PCI Devices to Log.  Assume something broke");
    table.Count = -4;
    EXPECT_EQ(FormatSniffReport(table), "No PCI Devices to Log.  Assume something broke");
}

TEST(SnifferReport, WholeReportIsHeaderBlocksFooterWithNothingBetween) {
    PciDeviceTableType table{};
    table.Count = 3;
    for (int i = 0; i < 3; ++i) table.Devices[i].Index = i;
    const std::string report = FormatSniffReport(table);
    EXPECT_EQ(report, Header3 + FormatDeviceReport(0, table) + FormatDeviceReport(1, table) +
                          FormatDeviceReport(2, table) + Footer);
    // The header's last dash line runs on into the first block's.
    EXPECT_NE(report.find("\r\n" + std::string(115, '-') + "\r\nPCI Device # 1 Info"), std::string::npos);
}

TEST(SnifferReport, CountBeyondTheTableReportsOnlyItsRecords) {
    static PciDeviceTableType table{};
    table.Count = 150;
    for (int i = 0; i < PciTableCapacity; ++i) table.Devices[i].Index = i;
    const std::string report = FormatSniffReport(table);
    EXPECT_NE(report.find("Found 150 PCI Devices"), std::string::npos);
    EXPECT_NE(report.find("PCI Device # 100 Info"), std::string::npos);
    EXPECT_EQ(report.find("PCI Device # 101 Info"), std::string::npos);
    EXPECT_EQ(FormatDeviceReport(100, table), "");
    EXPECT_EQ(FormatDeviceReport(-1, table), "");
}

TEST(SnifferReportLog, ThreeDevicesMakeFiveRecords) {
    simbus::LogFolder log;
    PciDeviceTableType table{};
    table.Count = 3;
    for (int i = 0; i < 3; ++i) table.Devices[i].Index = i;
    table.Devices[2] = PlxRecord();
    const std::size_t before = log.Records().size();
    LogSniffReport(table);
    const auto records = log.Records();
    ASSERT_EQ(records.size(), before + 5);
    const int codes[] = {3, 1, 2, 3, 3};
    const std::string messages[] = {Header3, FormatDeviceReport(0, table) + "\r\n", FormatDeviceReport(1, table) + "\r\n",
                                    FormatDeviceReport(2, table) + "\r\n", Footer + "\r\n"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(records[before + i].Code, codes[i]) << "record " << i;
        EXPECT_EQ(records[before + i].Message, messages[i]) << "record " << i;
    }
}

TEST(SnifferReportLog, EmptyTableLogsTheSentenceOnceWithCodeZero) {
    simbus::LogFolder log;
    PciDeviceTableType table{};
    const std::size_t before = log.Records().size();
    LogSniffReport(table);
    const auto records = log.Records();
    ASSERT_EQ(records.size(), before + 1);
    EXPECT_EQ(records.back().Code, 0);
    EXPECT_EQ(records.back().Message, "No PCI Devices to Log.  Assume something broke");
}

}  // namespace
