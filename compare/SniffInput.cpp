// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin compare -- reading a sniff from whatever an engineer has kept: the
// log (several sniffs, records with codes and stamps), a copy of the window's
// report, or quorrin-sniff --json.
#include "compare/SniffInput.h"

#include <algorithm>
#include <cstring>
#include <fstream>

#include <nlohmann/json.hpp>

#include "log/LogReader.h"
#include "pci/LspciFormat.h"
#include "sniffer/DeviceTableJson.h"
#include "sniffer/ReportTexts.h"
#include "sniffer/SnifferReport.h"
#include "windriver/ReplayService.h"
#include "windriver/WinDriverRequests.h"

namespace compare {

namespace {

int LineAt(std::string_view text, std::size_t offset) {
    offset = std::min(offset, text.size());
    return 1 + static_cast<int>(
                   std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
}

std::size_t Offset(std::string_view text, std::string_view part) {
    return static_cast<std::size_t>(part.data() - text.data());
}

std::string_view WithoutLeadingBlanks(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // an editor's byte-order mark
    while (!text.empty() &&
           (text.front() == ' ' || text.front() == '\t' || text.front() == '\r' || text.front() == '\n'))
        text.remove_prefix(1);
    return text;
}

bool Pick(int wanted, int count, const std::vector<bool>& complete, int& chosen, std::string& error) {
    if (count == 0) {
        error = "holds no sniff report";
        return false;
    }
    if (wanted > count) {
        error = "holds " + std::to_string(count) + (count == 1 ? " sniff" : " sniffs") + ", not " +
                std::to_string(wanted);
        return false;
    }
    chosen = wanted > 0 ? wanted : count;
    if (wanted == 0)
        for (int i = count; i >= 1; --i)
            if (complete[i - 1]) {
                chosen = i;
                break;
            }
    return true;
}

void Describe(const ReportProblem& p, std::string_view text, std::size_t base, Sniff& sniff) {
    const int block = LineAt(text, base + p.Block);
    const int at = LineAt(text, base + p.At);
    std::string what = "device block at line " + std::to_string(block) + " skipped: ";
    if (at != block) what += "line " + std::to_string(at) + ": ";
    sniff.Problems.push_back({block, what + p.Text});
}

// The records of one sniff in a log: the header, the device blocks, the
// footer when it came.
struct LogSniff {
    const LogRecord* Header = nullptr;  // none for the no-devices sentence
    int32_t Count = 0;
    std::vector<const LogRecord*> Devices;
    bool Complete = false;
};

bool ReadLog(std::string_view text, int wanted, Sniff& sniff, std::string& error) {
    const std::string_view eol = ReportLineEnd(text);
    const std::vector<LogRecord> records = ReadLogRecords(text);
    std::vector<LogSniff> sniffs;
    LogSniff* open = nullptr;
    for (const LogRecord& r : records) {
        int32_t count;
        std::size_t end;
        if (r.Message == reporttext::NoDevices) {
            open = nullptr;
            sniffs.push_back({nullptr, 0, {}, true});
        } else if (ParseReportHeader(r.Message, eol, count, end)) {
            sniffs.push_back({&r, count, {}, false});
            open = &sniffs.back();
        } else if (open && StartsWithDeviceReport(r.Message, eol)) {
            open->Devices.push_back(&r);
        } else if (open && StartsWithReportFooter(r.Message, eol, end)) {
            open->Complete = true;
            open = nullptr;
        }
    }
    std::vector<bool> complete;
    for (const LogSniff& s : sniffs) complete.push_back(s.Complete);
    int chosen;
    if (!Pick(wanted, static_cast<int>(sniffs.size()), complete, chosen, error)) return false;
    const LogSniff& s = sniffs[chosen - 1];
    sniff.Kind = SourceKind::Log;
    sniff.Number = chosen;
    sniff.Of = static_cast<int>(sniffs.size());
    sniff.Complete = s.Complete;
    PciDeviceTableType& table = *sniff.Table;
    table.Count = 0;
    if (!s.Header) return true;
    PciDeviceRecord record;
    for (const LogRecord* r : s.Devices) {
        // LogInfoLine put one line end after the block.
        std::size_t end = 0;
        ReportProblem p;
        const bool read = ParseDeviceReport(r->Message, eol, record, end, p);
        const std::string_view after = read ? r->Message.substr(end) : std::string_view{};
        if (read && (after == eol || after.empty()) && table.Count < PciTableCapacity) {
            table.Devices[table.Count++] = record;
            continue;
        }
        if (read)
            p = {0, end,
                 table.Count < PciTableCapacity ? "text after the block" : "past the table's " + std::to_string(PciTableCapacity) + " records"};
        Describe(p, text, Offset(text, r->Message), sniff);
    }
    if (!s.Complete)
        sniff.Problems.push_back(
            {LineAt(text, s.Header->Offset), "the sniff that starts here has no footer (cut off)"});
    else if (static_cast<int32_t>(s.Devices.size()) != std::min(s.Count, PciTableCapacity))
        sniff.Problems.push_back(
            {LineAt(text, s.Header->Offset), "the header counts " + std::to_string(s.Count) + " devices, " +
                                                 std::to_string(s.Devices.size()) + " blocks follow"});
    return true;
}

bool ReadReports(std::string_view text, int wanted, Sniff& sniff, std::string& error) {
    // A text may hold several reports, pasted one after the other.
    std::vector<ReportReading> readings;
    std::vector<bool> complete;
    auto table = std::make_unique<PciDeviceTableType>();
    for (std::size_t at = 0; at < text.size();) {
        ReportReading r = ParseSniffReport(text.substr(at), *table);
        if (!r.Found) break;
        r.Begin += at;
        r.End += at;
        at = std::max(r.End, r.Begin + 1);
        complete.push_back(r.Complete);
        readings.push_back(std::move(r));
    }
    int chosen;
    if (!Pick(wanted, static_cast<int>(readings.size()), complete, chosen, error)) return false;
    const ReportReading& picked = readings[chosen - 1];
    const ReportReading again = ParseSniffReport(text.substr(picked.Begin), *sniff.Table);
    sniff.Kind = SourceKind::Report;
    sniff.Number = chosen;
    sniff.Of = static_cast<int>(readings.size());
    sniff.Complete = again.Complete;
    const std::string_view eol = ReportLineEnd(text);
    for (const ReportProblem& p : again.Problems) {
        if (!StartsWithDeviceReport(text.substr(picked.Begin + p.Block), eol))
            sniff.Problems.push_back({LineAt(text, picked.Begin + p.At), p.Text});
        else
            Describe(p, text, picked.Begin, sniff);
    }
    return true;
}

bool ReadJson(std::string_view text, int wanted, Sniff& sniff, std::string& error) {
    const DeviceTableJsonReading r = ReadDeviceTableJson(text, *sniff.Table);
    if (!r.Read) {
        error = std::to_string(LineAt(text, r.ErrorOffset)) + ": " + r.Error;
        return false;
    }
    if (wanted > 1) {
        error = "holds 1 sniff, not " + std::to_string(wanted);
        return false;
    }
    sniff.Kind = SourceKind::Json;
    for (const std::string& skipped : r.Skipped) sniff.Problems.push_back({0, skipped + "; left out"});
    if (r.Skipped.empty() && sniff.Table->Count != std::clamp(r.Count, 0, PciTableCapacity))
        sniff.Problems.push_back({0, "the table counts " + std::to_string(r.Count) + " devices, " +
                                         std::to_string(sniff.Table->Count) + " follow"});
    return true;
}

// A log whose first lines were lost or edited is still a log: any line that
// starts a record says so (no report line looks like one).
bool HoldsLogRecord(std::string_view text) {
    for (std::size_t line = 0; line < text.size();) {
        if (StartsLogRecord(text.substr(line))) return true;
        const std::size_t lf = text.find('\n', line);
        if (lf == std::string_view::npos) break;
        line = lf + 1;
    }
    return false;
}

// A quorrin-sniff --json text has its "Devices"; a bus file, written by hand
// or saved, has its "functions".
bool IsBusFile(std::string_view text) {
    const nlohmann::json doc = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    return doc.is_object() && doc.contains("functions") && !doc.contains("Devices");
}

std::string& ReplayProgram() {
    static std::string program;
    return program;
}

// The recorded bus sniffed as quorrin-sniff --bus sniffs it, without a log
// (none is started here, so the scan's records go nowhere).
bool Replay(const std::string& path, Sniff& sniff, std::string& error) {
    if (ReplayProgram().empty()) {
        error = path + ": a recorded bus, and no service to replay it";
        return false;
    }
    ReplayService service;
    if (!service.Start(ReplayProgram(), path, error)) return false;
    const std::string previous = DriverDevice();
    SetDriverDevice(service.Socket());
    auto captures = std::make_unique<PciCaptureTable>();
    GetPciCardInfo(PciTableCapacity, *sniff.Table, *captures);
    const bool reached = captures->Complete && LastErrorCode != 1;
    SetDriverDevice(previous);
    if (!reached) {
        error = path + ": the service replaying it did not answer to the end of the sniff";
        return false;
    }
    return true;
}

}  // namespace

const char* SourceKindName(SourceKind kind) {
    switch (kind) {
        case SourceKind::Log:
            return "log";
        case SourceKind::Report:
            return "report";
        case SourceKind::Json:
            return "json";
        case SourceKind::BusFile:
            return "bus";
        case SourceKind::Lspci:
            return "lspci";
        case SourceKind::Live:
            return "live";
        case SourceKind::Unknown:
            break;
    }
    return "unknown";
}

SourceKind KindOf(std::string_view text) {
    const std::string_view start = WithoutLeadingBlanks(text);
    if (start.starts_with('{')) return IsBusFile(text) ? SourceKind::BusFile : SourceKind::Json;
    if (HoldsLogRecord(start)) return SourceKind::Log;
    const std::string_view eol = ReportLineEnd(text);
    const std::string header = std::string(eol) + std::string(reporttext::DashLine72Length, '-') +
                               std::string(eol) + std::string(reporttext::DashLine72Length, '-') +
                               std::string(eol) + reporttext::CountLead;
    if (text.find(header) != std::string_view::npos || start.starts_with(reporttext::NoDevices))
        return SourceKind::Report;
    if (lspci::LooksLikeLspciText(text)) return SourceKind::Lspci;
    return SourceKind::Unknown;
}

void SetReplayProgram(const std::string& program) { ReplayProgram() = program; }

bool ReadSniff(std::string_view text, int wanted, Sniff& sniff, std::string& error) {
    switch (KindOf(text)) {
        case SourceKind::Json:
            return ReadJson(text, wanted, sniff, error);
        case SourceKind::Log:
            return ReadLog(text, wanted, sniff, error);
        case SourceKind::Report:
            return ReadReports(text, wanted, sniff, error);
        case SourceKind::BusFile:
        case SourceKind::Lspci:
            error = "a recorded bus, sniffed from its file";
            return false;
        case SourceKind::Live:
        case SourceKind::Unknown:
            break;
    }
    error = "1: neither a Quorrin log, a sniff report, quorrin-sniff --json, a bus file nor lspci text";
    return false;
}

bool LoadSniff(const std::string& path, int wanted, Sniff& sniff, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be read";
        return false;
    }
    std::string text;
    char block[1 << 16];
    while (in.read(block, sizeof block) || in.gcount() > 0)
        text.append(block, static_cast<std::size_t>(in.gcount()));
    if (in.bad()) {
        error = path + ": cannot be read";
        return false;
    }
    sniff.Source = path;
    const SourceKind kind = KindOf(text);
    if (kind == SourceKind::BusFile || kind == SourceKind::Lspci) {
        if (wanted > 1) {
            error = path + ": holds 1 sniff, not " + std::to_string(wanted);
            return false;
        }
        sniff.Kind = kind;
        return Replay(path, sniff, error);
    }
    if (!ReadSniff(text, wanted, sniff, error)) {
        error = path + (error.front() >= '0' && error.front() <= '9' ? ":" : ": ") + error;
        return false;
    }
    return true;
}

}  // namespace compare
