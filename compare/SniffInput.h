// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin compare -- one side of a comparison: a sniff read from a log, a
// saved report text or quorrin-sniff's JSON, or a recorded bus (a bus file,
// a saved sniff, lspci's text) sniffed through a private service; the kind
// is told from the content.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sniffer/SnifferUnit.h"

namespace compare {

enum class SourceKind { Log, Report, Json, BusFile, Lspci, Live, Unknown };
// "log", "report", "json", "bus", "lspci", "live", "unknown"
const char* SourceKindName(SourceKind kind);

// What a text is; the one place that tells the kinds apart.
SourceKind KindOf(std::string_view text);

// The stand-in driver service that sniffs a recorded bus (quorrin-driverd).
// Until one is set a recorded bus is refused.
void SetReplayProgram(const std::string& program);

// A part of the source that could not be read and was left out, or (a note)
// something said about the source that lost nothing. Line 0 when the source
// has no lines to name.
struct SourceProblem {
    int Line = 0;
    std::string Text;
    bool Note = false;
};

// Bus, slot and function as one number that sorts as the locations do.
inline uint64_t LocationKey(uint32_t bus, uint32_t slot, uint32_t function) {
    return static_cast<uint64_t>(bus) << 32 | (slot & 0xFFFFu) << 16 | (function & 0xFFFFu);
}
inline uint64_t LocationKey(const PciDeviceRecord& d) { return LocationKey(d.Bus, d.Slot, d.Function); }

// Locations a side could not read (a damaged block, the part after a cut):
// from and to inclusive. What the other side has there is not compared.
struct UnreadLocations {
    uint64_t From = 0, To = 0;
    int Line = 0;
    bool CutOff = false;
};

struct Sniff {
    std::string Source;  // the file's path ("-": standard input), or the driver device of a live sniff
    SourceKind Kind = SourceKind::Live;
    int Number = 1;  // which sniff of the source, from 1
    int Of = 1;      // how many it holds
    bool Complete = true;
    std::unique_ptr<PciDeviceTableType> Table = std::make_unique<PciDeviceTableType>();
    std::vector<SourceProblem> Problems;  // in line order
    std::vector<UnreadLocations> Unread;
};

// The sniff numbered `wanted` (from 1), or with 0 the last complete one that
// reached the driver (else the last that reached it). False with `error`
// ("LINE: why", or "why" alone) when the text holds no such sniff, the sniff
// did not reach the driver, or the text is none of the kinds. A recorded bus
// is sniffed from its file only (LoadSniff).
bool ReadSniff(std::string_view text, int wanted, Sniff& sniff, std::string& error);

// ReadSniff on a file ("-": standard input), or a recorded bus sniffed
// through a private service, with no log written; `error` then begins with
// the path, and says why a file cannot be read.
bool LoadSniff(const std::string& path, int wanted, Sniff& sniff, std::string& error);

}  // namespace compare
