// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin compare tests -- damaged, trimmed, re-encoded and driverless inputs:
// each is read or refused, and the problem says what it is and where.
#include "compare/SniffInput.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <regex>

#include "driver/testing/SimBus.h"
#include "log/wexerrorlog.h"
#include "platform/testing/ParamName.h"
#include "sniffer/ReportTexts.h"
#include "sniffer/SnifferReport.h"

namespace {

// Three functions at 00:00.0, 00:01.0 and 00:02.0, the last a PLX board.
std::unique_ptr<PciDeviceTableType> Table() {
    auto t = std::make_unique<PciDeviceTableType>();
    t->Count = 3;
    for (int i = 0; i < 3; ++i) {
        PciDeviceRecord& d = t->Devices[i];
        d.Index = d.Slot = static_cast<uint32_t>(i);
        d.VendorId = 0x8086;
        d.ConfigRegs[2] = 0x06800001;
    }
    t->Devices[2].IsPlx = true;
    return t;
}

std::string Report() {
    return FormatSniffReport(*Table());
}

// A log of the sniffs: each step logs one (a table) or what a scan without
// the driver logs before its report.
std::string Log(const std::vector<std::function<void()>>& steps) {
    simbus::LogFolder folder;
    for (const auto& step : steps) step();
    return folder.Text();
}
const std::function<void()> GoodSniff = [] { LogSniffReport(*Table()); };
const std::function<void()> NoHandle = [] {
    LogSourceError("SnifferUnit.cpp", 222, "GetPciCardInfo", reporttext::NoHandleText, reporttext::NoHandleCode);
};
const std::function<void()> Empty = [] { LogSniffReport(PciDeviceTableType{}); };

std::string Replace(std::string text, const std::string& what, const std::string& with, int nth = 1) {
    std::size_t at = std::string::npos;
    for (int i = 0; i < nth; ++i) at = text.find(what, at == std::string::npos ? 0 : at + 1);
    return at == std::string::npos ? text : text.replace(at, what.size(), with);
}

std::string Trimmed(const std::string& text) {
    return std::regex_replace(text, std::regex(" +(\r?\n)"), "$1");
}

std::string Utf16(const std::string& text) {
    std::string out = "\xFF\xFE";
    for (char c : text) out += std::string{c, '\0'};
    return out;
}

std::string LfFrom(std::string text, std::size_t from) {
    std::string tail = text.substr(from);
    tail = std::regex_replace(tail, std::regex("\r\n"), "\n");
    return text.substr(0, from) + tail;
}

struct InputCase {
    const char* Name;
    std::function<std::string()> Text;
    bool Reads;
    std::string Says;       // in the error, or in one of the problems
    int Count = -1;         // functions read; -1: not checked
    int Sniff = 0;          // the sniff taken by default; 0: not checked
    int UnreadAt = -1;      // a slot where the other side is not compared; -1: every slot is
};

void PrintTo(const InputCase& c, std::ostream* out) {
    *out << c.Name;
}

class DamagedInputs : public testing::TestWithParam<InputCase> {};

TEST_P(DamagedInputs, AreReadOrRefusedByName) {
    const InputCase& c = GetParam();
    compare::Sniff sniff;
    std::string error;
    const bool read = compare::ReadSniff(c.Text(), 0, sniff, error);
    ASSERT_EQ(read, c.Reads) << error;
    std::string said = error;
    for (const auto& p : sniff.Problems) said += std::to_string(p.Line) + ": " + p.Text + "\n";
    EXPECT_NE(said.find(c.Says), std::string::npos) << said;
    if (!read) return;
    if (c.Count >= 0) {
        EXPECT_EQ(sniff.Table->Count, c.Count) << said;
    }
    if (c.Sniff > 0) {
        EXPECT_EQ(sniff.Number, c.Sniff);
    }
    EXPECT_TRUE(std::is_sorted(sniff.Problems.begin(), sniff.Problems.end(),
                               [](const auto& a, const auto& b) { return a.Line < b.Line; }))
        << said;
    if (c.UnreadAt < 0) {
        EXPECT_TRUE(sniff.Unread.empty());
    } else {
        ASSERT_FALSE(sniff.Unread.empty()) << said;
        const uint64_t at = compare::LocationKey(0, static_cast<uint32_t>(c.UnreadAt), 0);
        EXPECT_TRUE(sniff.Unread.front().From <= at && at <= sniff.Unread.front().To);
        EXPECT_GT(sniff.Unread.front().From, 0u) << "the block before was read";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedInputs,
    testing::Values(
        // A sniff that never reached the driver is no sniff to compare.
        InputCase{"LogWithoutDriver", [] { return Log({NoHandle, Empty}); }, false,
                  "its sniff did not reach the driver (Could not get a WinDrvr Handle): nothing to compare"},
        InputCase{"DefaultSkipsASniffWithoutDriver", [] { return Log({GoodSniff, NoHandle, GoodSniff}); }, true, "", 3, 1},
        InputCase{"ReportWithoutDevices", [] { return std::string(reporttext::NoDevices) + "\r\n"; }, false,
                  "did not reach the driver"},
        // A field that lost digits damages its block, and the message names it.
        InputCase{"VendorDigitsDeleted",
                  [] { return Replace(Report(), "Vendor ID : 8086", "Vendor ID : ", 2); }, true,
                  "device block at line 30 skipped: line 32: the vendor ID: expected 4 hex digits, found none", 2, 0,
                  1},
        InputCase{"RegisterDigitDeleted", [] { return Replace(Report(), "06800001 ", "0680001 ", 3); }, true,
                  "config register 0x08: expected 8 hex digits, found 7", 2, 0, 2},
        // Stray text costs no block.
        InputCase{"StrayLineInLog",
                  [] { return Replace(Log({GoodSniff}), "\r\n\r\n0000", "\r\n\r\nhello there\r\n0000", 2); }, true,
                  "text after the device block, not read", 3},
        InputCase{"StrayLineInReport",
                  [] { return Replace(Report(), "\r\n-------------------------------------------\r\nPCI Device # 2",
                                      "\r\nhello there\r\n-------------------------------------------\r\nPCI Device # 2"); },
                  true, "text between the device blocks, not read", 3},
        InputCase{"TrimmedReport", [] { return Trimmed(Report()); }, true, "", 3},
        InputCase{"TrimmedLog", [] { return Trimmed(Log({GoodSniff})); }, true, "", 3},
        // Past the cut nothing is known: not compared, rather than removed.
        InputCase{"CutOffLog",
                  [] {
                      const std::string log = Log({GoodSniff});
                      return log.substr(0, log.find("PCI Device # 2") + 200);
                  },
                  true, "the sniff that starts here has no footer (cut off)", 1, 0, 1},
        InputCase{"Utf16Report", [] { return Utf16(Report()); }, true, "0: read as UTF-16 text", 3},
        InputCase{"LineEndsChangeHalfway", [] { return LfFrom(Report(), Report().find("PCI Device # 3")); }, true,
                  "the line ends change here from CR LF to LF; read as LF", 3}),
    platform::testing::ParamName());

}  // namespace
