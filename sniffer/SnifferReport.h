// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin sniffer -- reading the sniff report back into the device table: the
// window's text or a saved copy of it (CR LF or LF line ends), and the
// report's records in a log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sniffer/SnifferUnit.h"

// The location as lspci writes it: "02:04.0".
std::string LocationText(const PciDeviceRecord& record);

// A part of a report that could not be read. Offsets count from the start of
// the text handed in.
struct ReportProblem {
    std::size_t Block = 0;  // where the device block (or the part) begins
    std::size_t At = 0;     // where the reading went wrong
    std::string Text;
    bool CutOff = false;  // the text ends inside it
    bool Note = false;    // nothing was lost: stray text between the blocks
    // A damaged block whose location lines were read names its function.
    bool Located = false;
    uint32_t Bus = 0, Slot = 0, Function = 0;
    int32_t ReadBefore = 0;  // the records read before it
};

struct ReportReading {
    std::size_t Begin = 0, End = 0;  // the report's extent in the text
    int32_t HeaderCount = -1;        // the count its header names; 0 for the no-devices sentence
    bool Found = false;              // a header or the no-devices sentence was there
    bool Complete = false;           // the footer (or the no-devices sentence) was read
    std::vector<ReportProblem> Problems;
};

// "\r\n" when the text's first line ends so, else "\n".
std::string_view ReportLineEnd(std::string_view text);

// The first report in `text`, as FormatSniffReport writes it. Every block read
// fills the next record of the table (all else zero); Count is the number of
// records read. A damaged or cut-off block is skipped and named in Problems;
// text between the blocks is named as a note. Blanks that end a line may be
// missing (a trimmed copy); a field must have all its digits.
// Fields the report does not show read as zero; a failure box without a
// reason line gives FailCode -1.
ReportReading ParseSniffReport(std::string_view text, PciDeviceTableType& table);

// One device block as FormatDeviceReport writes it, from the start of `text`.
// True with `end` just past the block; false with the problem.
bool ParseDeviceReport(std::string_view text, std::string_view lineEnd, PciDeviceRecord& record,
                       std::size_t& end, ReportProblem& problem);

// The report's header (its count) and footer, each from the start of `text`.
bool ParseReportHeader(std::string_view text, std::string_view lineEnd, int32_t& count, std::size_t& end);
bool StartsWithReportFooter(std::string_view text, std::string_view lineEnd, std::size_t& end);
bool StartsWithDeviceReport(std::string_view text, std::string_view lineEnd);
