// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin compare -- writing a comparison out.
#include "compare/CompareOutput.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "pcinames/PciNames.h"
#include "sniffer/SnifferReport.h"

namespace compare {

namespace {

// Keys in the order written: the format first, the summary last.
using Json = nlohmann::ordered_json;

constexpr char Format[] = "quorrin-compare/2";
constexpr int ExitAgree = 0, ExitUnread = 1, ExitDiffer = 4;
// A run of this many words or registers is said on one line, its first few shown.
constexpr std::size_t RunLength = 4;
constexpr std::size_t RunShown = 3;

enum class Tone { Plain, Bold, Gone, Came, Warn };

std::string Paint(const OutputStyle& style, Tone tone, const std::string& text) {
    static const char* const codes[] = {"", "\x1b[1m", "\x1b[31m", "\x1b[32m", "\x1b[33m"};
    if (!style.Color || tone == Tone::Plain) return text;
    return codes[static_cast<int>(tone)] + text + "\x1b[0m";
}

const PciDeviceRecord& Either(const FunctionComparison& f) {
    return f.Baseline ? *f.Baseline : *f.Current;
}

bool Shown(const FunctionComparison& f) {
    return f.Changed() || !f.NotCompared.empty();
}

std::string Ids(const PciDeviceRecord& d) {
    char text[16];
    std::snprintf(text, sizeof text, "%04X:%04X", d.VendorId & 0xFFFF, d.DeviceId & 0xFFFF);
    return text;
}

std::string Name(const PciDeviceRecord& d) {
    const std::string vendor = pcinames::VendorName(d.VendorId);
    const std::string device = vendor.empty() ? "" : pcinames::DeviceName(d.VendorId, d.DeviceId);
    return device.empty() ? vendor : vendor + " " + device;
}

std::string Heading(const PciDeviceRecord& d) {
    const std::string name = Name(d);
    return LocationText(d) + "  " + Ids(d) + (name.empty() ? "" : "  " + name);
}

std::string Plural(int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string SourceLine(const char* role, const Sniff& s, const OutputStyle& style) {
    std::string line = std::string(role) + s.Source;
    if (s.Kind == SourceKind::Live)
        line = std::string(role) + "live sniff through " + s.Source;
    else
        line += " (" + std::string(SourceKindName(s.Kind)) + ", sniff " + std::to_string(s.Number) + " of " +
                std::to_string(s.Of) + (s.Complete ? "" : ", cut off") + ")";
    line += ": " + Plural(s.Table->Count, "function", "functions") + "\n";
    for (const SourceProblem& p : s.Problems) {
        const std::string where = s.Source + (p.Line > 0 ? ":" + std::to_string(p.Line) : "") + ": ";
        line += "  " + Paint(style, p.Note ? Tone::Plain : Tone::Warn, where + (p.Note ? "note: " : "") + p.Text) + "\n";
    }
    return line;
}

std::string DifferenceLine(const Difference& x) {
    if (x.Kind == DifferenceKind::Location)
        return "moved " + x.Baseline + " -> " + x.Current + (x.Detail.empty() ? "" : " (" + x.Detail + ")");
    return x.What + ": " + x.Baseline + " -> " + x.Current + (x.Detail.empty() ? "" : " (" + x.Detail + ")");
}

// The differences one per line; a run of EEPROM words or of registers
// beside each other on one.
std::vector<std::string> DifferenceLines(const std::vector<Difference>& list) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < list.size();) {
        const Difference& first = list[i];
        const bool runs = (first.Kind == DifferenceKind::Eeprom || first.Kind == DifferenceKind::Config) &&
                          first.Index >= 0 && first.Detail.empty();
        const int step = first.Kind == DifferenceKind::Eeprom ? 1 : 4;
        std::size_t end = i + 1;
        while (runs && end < list.size() && list[end].Kind == first.Kind && list[end].Detail.empty() &&
               list[end].Index == list[end - 1].Index + step)
            ++end;
        if (end - i < RunLength) {
            for (; i < end; ++i) lines.push_back(DifferenceLine(list[i]));
            continue;
        }
        const auto name = [&first](int index) {
            char text[16];
            if (first.Kind == DifferenceKind::Eeprom)
                std::snprintf(text, sizeof text, "%d", index);
            else
                std::snprintf(text, sizeof text, "0x%02X", index);
            return std::string(text);
        };
        std::string line = std::string(first.Kind == DifferenceKind::Eeprom ? "EEPROM words " : "config ") +
                           name(first.Index) + "-" + name(list[end - 1].Index) + " differ: ";
        for (std::size_t k = i; k < i + RunShown; ++k)
            line += (k == i ? "" : ", ") + name(list[k].Index) + ": " + list[k].Baseline + " -> " + list[k].Current;
        lines.push_back(line + ", ... (" + std::to_string(end - i - RunShown) + " more)");
        i = end;
    }
    return lines;
}

std::string Changes(const Comparison& c, const OutputStyle& style) {
    std::string text;
    for (const FunctionComparison& f : c.Functions) {
        if (!Shown(f)) continue;
        const PciDeviceRecord& d = Either(f);
        text += "\n" + Paint(style, Tone::Bold, Heading(d)) + "\n";
        if (!f.NotCompared.empty()) {
            text += "  " + Paint(style, Tone::Warn, "not compared: " + f.NotCompared) + "\n";
        } else if (!f.Baseline || !f.Current) {
            const bool baseline = f.Baseline != nullptr;
            std::string line = baseline ? "only in baseline" : "only in current";
            if (!f.SameCardAt.empty())
                line += " (the same card is at " + f.SameCardAt + (baseline ? " in current)" : " in baseline)");
            text += "  " + Paint(style, baseline ? Tone::Gone : Tone::Came, line) + "\n";
        }
        for (const std::string& line : DifferenceLines(f.Differences)) text += "  " + line + "\n";
        for (const Finding& x : f.Findings) {
            if (x.Where == Side::Both) continue;
            const bool cleared = x.Where == Side::Baseline;
            text += "  " + Paint(style, cleared ? Tone::Came : Tone::Gone,
                                 std::string(cleared ? "cleared finding: " : "new finding: ") + x.Text) + "\n";
        }
    }
    return text;
}

std::string Standing(const Comparison& c, const OutputStyle& style) {
    std::string text;
    for (const FunctionComparison& f : c.Functions)
        for (const Finding& x : f.Findings)
            if (x.Where == Side::Both) text += "  " + Heading(Either(f)) + ": " + x.Text + "\n";
    if (text.empty()) return text;
    return "\n" + Paint(style, Tone::Bold, "Standing findings (on both sides):") + "\n" + text;
}

std::string Summary(const Comparison& c, const CompareOptions& o, const OutputStyle& style) {
    std::string s = "Summary: " + Plural(c.Matched, "function", "functions") + " matched by location, ";
    if (c.Moved) s += std::to_string(c.Moved) + " moved, ";
    s += c.Differing == 0 ? std::string("none differs") : Plural(c.Differing, "differs", "differ");
    if (c.OnlyBaseline) s += ", " + std::to_string(c.OnlyBaseline) + " only in baseline";
    if (c.OnlyCurrent) s += ", " + std::to_string(c.OnlyCurrent) + " only in current";
    if (c.NotCompared) s += ", " + std::to_string(c.NotCompared) + " not compared";
    s += ", " + Plural(c.StandingFindings, "standing finding", "standing findings");
    if (!o.Ignore.Named.empty()) {
        s += "; ignored:";
        for (std::size_t i = 0; i < o.Ignore.Named.size(); ++i) {
            std::string key = o.Ignore.Named[i] == "interrupt" ? "irq" : o.Ignore.Named[i];
            if (key.starts_with("config:")) {
                char name[16];
                std::snprintf(name, sizeof name, "config:0x%02lX", std::strtol(key.c_str() + 7, nullptr, 16));
                key = name;
            }
            const auto n = c.Ignored.find(key);
            s += (i ? ", " : " ") + o.Ignore.Named[i] + " (" + std::to_string(n == c.Ignored.end() ? 0 : n->second) + ")";
        }
    }
    if (!o.OnlyNamed.empty()) {
        s += "; only";
        for (std::size_t i = 0; i < o.OnlyNamed.size(); ++i) s += (i ? ", " : " ") + o.OnlyNamed[i];
    }
    switch (c.Result()) {
        case Verdict::Agree:
            return s + ": " + Paint(style, Tone::Came, "the sniffs agree.") + "\n";
        case Verdict::Differ:
            return s + ": " + Paint(style, Tone::Gone, "the sniffs differ.") + "\n";
        case Verdict::Incomplete:
            break;
    }
    return s + ": " + Paint(style, Tone::Warn, "the sniffs agree where both could be read.") + "\n";
}

const char* VerdictName(Verdict v) {
    static const char* const names[] = {"agree", "differ", "incomplete"};
    return names[static_cast<int>(v)];
}

Json SourceJson(const Sniff& s) {
    Json j = {
        {"source", s.Source},     {"kind", SourceKindName(s.Kind)}, {"sniff", s.Number},        {"of", s.Of},
        {"complete", s.Complete}, {"functions", s.Table->Count},    {"problems", Json::array()}};
    for (const SourceProblem& p : s.Problems) {
        Json one = {{"line", p.Line}, {"text", p.Text}};
        if (p.Note) one["note"] = true;
        j["problems"].push_back(one);
    }
    return j;
}

Json FunctionJson(const FunctionComparison& f) {
    const PciDeviceRecord& d = Either(f);
    Json one = {{"location", LocationText(d)}, {"ids", Ids(d)}};
    const std::string name = Name(d);
    if (!name.empty()) one["name"] = name;
    one["presence"] = f.Moved ? "moved" : f.Baseline && f.Current ? "both" : f.Baseline ? "baseline" : "current";
    if (f.Moved) one["movedTo"] = LocationText(*f.Current);
    if (!f.SameCardAt.empty()) one["sameCardAt"] = f.SameCardAt;
    if (!f.NotCompared.empty()) one["notCompared"] = f.NotCompared;
    one["differences"] = Json::array();
    for (const Difference& x : f.Differences) {
        Json diff = {{"kind", DifferenceKindName(x.Kind)}};
        if (x.Index >= 0) diff["index"] = x.Index;
        diff["what"] = x.What;
        diff["baseline"] = x.Kind == DifferenceKind::Location ? LocationText(*f.Baseline) : x.Baseline;
        diff["current"] = x.Kind == DifferenceKind::Location ? LocationText(*f.Current) : x.Current;
        if (!x.Detail.empty()) diff["detail"] = x.Detail;
        one["differences"].push_back(diff);
    }
    one["findings"] = Json::array();
    for (const Finding& x : f.Findings)
        one["findings"].push_back({{"side", SideName(x.Where)},
                                   {"change", x.Where == Side::Both       ? "standing"
                                              : x.Where == Side::Current ? "new"
                                                                         : "cleared"},
                                   {"kind", x.Kind},
                                   {"severity", findings::SeverityName(x.Level)},
                                   {"text", x.Text}});
    return one;
}

Json ComparisonObject(const Sniff& baseline, const Sniff& current, const Comparison& c, const CompareOptions& o) {
    Json j = {{"format", Format},
              {"baseline", SourceJson(baseline)},
              {"current", SourceJson(current)},
              {"functions", Json::array()}};
    for (const FunctionComparison& f : c.Functions)
        if (Shown(f) || std::any_of(f.Findings.begin(), f.Findings.end(), [](auto& x) { return x.Where == Side::Both; }))
            j["functions"].push_back(FunctionJson(f));
    Json ignored = Json::object();
    for (const auto& [field, n] : c.Ignored) ignored[field] = n;
    j["summary"] = {{"matched", c.Matched},
                    {"moved", c.Moved},
                    {"differ", c.Differing},
                    {"onlyBaseline", c.OnlyBaseline},
                    {"onlyCurrent", c.OnlyCurrent},
                    {"notCompared", c.NotCompared},
                    {"changes", c.Changes},
                    {"standingFindings", c.StandingFindings},
                    {"ignored", ignored},
                    {"only", o.OnlyNamed},
                    {"verdict", VerdictName(c.Result())},
                    {"agree", c.Agree()}};
    return j;
}

std::string Dump(const Json& j) {
    return j.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace

int ExitStatusOf(const Comparison& c) {
    switch (c.Result()) {
        case Verdict::Agree:
            return ExitAgree;
        case Verdict::Differ:
            return ExitDiffer;
        case Verdict::Incomplete:
            break;
    }
    return ExitUnread;
}

int ExitStatusOf(const std::vector<LabEntry>& lab) {
    int status = ExitAgree;
    for (const LabEntry& e : lab) {
        const int one = e.Problem.empty() ? ExitStatusOf(e.Result) : ExitUnread;
        if (one == ExitUnread) return ExitUnread;
        status = std::max(status, one);
    }
    return status;
}

std::string ComparisonText(const Sniff& baseline, const Sniff& current, const Comparison& c,
                           const CompareOptions& options, const OutputStyle& style) {
    return SourceLine("baseline: ", baseline, style) + SourceLine("current:  ", current, style) + Changes(c, style) +
           Standing(c, style) + "\n" + Summary(c, options, style);
}

std::string LabText(const Sniff& baseline, const std::vector<LabEntry>& lab, const CompareOptions& options,
                    const OutputStyle& style) {
    std::string text = SourceLine("baseline: ", baseline, style) + "\n";
    std::size_t width = 0;
    for (const LabEntry& e : lab) width = std::max(width, e.Path.size());
    for (const LabEntry& e : lab) {
        std::string row;
        Tone tone = Tone::Plain;
        if (!e.Problem.empty()) {
            row = "problem: " + e.Problem;
            tone = Tone::Warn;
        } else if (e.Result.Result() == Verdict::Differ) {
            row = "differs: " + Plural(e.Result.Changes, "change", "changes");
            tone = Tone::Gone;
        } else if (e.Result.Result() == Verdict::Incomplete) {
            row = "incomplete: " + Plural(e.Result.NotCompared, "function", "functions") + " not compared";
            tone = Tone::Warn;
        } else {
            row = "agree";
            tone = Tone::Came;
        }
        text += "  " + e.Path + std::string(width - e.Path.size() + 2, ' ') + Paint(style, tone, row) + "\n";
    }
    for (const LabEntry& e : lab) {
        if (!e.Problem.empty() || e.Result.Result() == Verdict::Agree) continue;
        text += "\n" + SourceLine("current:  ", e.Current, style) + Changes(e.Result, style) +
                Standing(e.Result, style) + "\n" + Summary(e.Result, options, style);
    }
    return text;
}

std::string ComparisonJson(const Sniff& baseline, const Sniff& current, const Comparison& c,
                           const CompareOptions& options) {
    return Dump(ComparisonObject(baseline, current, c, options));
}

std::string LabJson(const Sniff& baseline, const std::vector<LabEntry>& lab, const CompareOptions& options) {
    std::string text;
    for (const LabEntry& e : lab) {
        if (e.Problem.empty()) {
            text += ComparisonJson(baseline, e.Current, e.Result, options);
            continue;
        }
        text += Dump(Json{{"format", Format},
                          {"baseline", SourceJson(baseline)},
                          {"current", {{"source", e.Path}, {"problem", e.Problem}}},
                          {"summary", {{"verdict", "problem"}, {"agree", false}}}});
    }
    return text;
}

}  // namespace compare
