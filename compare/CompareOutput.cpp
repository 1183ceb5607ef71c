// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin compare -- writing a comparison out.
#include "compare/CompareOutput.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "pcinames/PciNames.h"
#include "sniffer/SnifferReport.h"

namespace compare {

namespace {

// Keys in the order written: the format first, the summary last.
using Json = nlohmann::ordered_json;

const PciDeviceRecord& Either(const FunctionComparison& f) {
    return f.Baseline ? *f.Baseline : *f.Current;
}

bool Shown(const FunctionComparison& f) {
    return f.Differs() || !f.Findings.empty();
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

std::string Plural(int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string SourceLine(const char* role, const Sniff& s) {
    std::string line = std::string(role) + s.Source;
    if (s.Kind == SourceKind::Live)
        line = std::string(role) + "live sniff through " + s.Source;
    else
        line += " (" + std::string(SourceKindName(s.Kind)) + ", sniff " + std::to_string(s.Number) + " of " +
                std::to_string(s.Of) + (s.Complete ? "" : ", cut off") + ")";
    line += ": " + Plural(s.Table->Count, "function", "functions") + "\n";
    for (const SourceProblem& p : s.Problems)
        line += "  " + s.Source + (p.Line > 0 ? ":" + std::to_string(p.Line) : "") + ": " + p.Text + "\n";
    return line;
}

std::string OneSide(const FunctionComparison& f) {
    const bool baseline = f.Baseline != nullptr;
    std::string line = baseline ? "  only in baseline" : "  only in current";
    if (!f.SameCardAt.empty())
        line += " (the same card is at " + f.SameCardAt + (baseline ? " in current)" : " in baseline)");
    return line + "\n";
}

std::string Summary(const Comparison& c) {
    std::string s =
        "Summary: " + Plural(c.Matched, "function", "functions") + " matched by location, " +
        (c.Differing == 0 ? std::string("none differs") : Plural(c.Differing, "differs", "differ"));
    if (c.OnlyBaseline) s += ", " + std::to_string(c.OnlyBaseline) + " only in baseline";
    if (c.OnlyCurrent) s += ", " + std::to_string(c.OnlyCurrent) + " only in current";
    s += ", " + Plural(c.FindingCount, "finding", "findings");
    return s + (c.Agree() ? ": the sniffs agree.\n" : ": the sniffs differ.\n");
}

Json SourceJson(const Sniff& s) {
    Json j = {
        {"source", s.Source},     {"kind", SourceKindName(s.Kind)}, {"sniff", s.Number},        {"of", s.Of},
        {"complete", s.Complete}, {"functions", s.Table->Count},    {"problems", Json::array()}};
    for (const SourceProblem& p : s.Problems) j["problems"].push_back({{"line", p.Line}, {"text", p.Text}});
    return j;
}

}  // namespace

std::string ComparisonText(const Sniff& baseline, const Sniff& current, const Comparison& c) {
    std::string text = SourceLine("baseline: ", baseline) + SourceLine("current:  ", current);
    for (const FunctionComparison& f : c.Functions) {
        if (!Shown(f)) continue;
        const PciDeviceRecord& d = Either(f);
        const std::string name = Name(d);
        text += "\n" + LocationText(d) + "  " + Ids(d) + (name.empty() ? "" : "  " + name) + "\n";
        if (!f.Baseline || !f.Current) text += OneSide(f);
        for (const Difference& x : f.Differences)
            text += "  " + x.What + ": " + x.Baseline + " -> " + x.Current + "\n";
        for (const Finding& x : f.Findings)
            text += "  finding (" + std::string(SideName(x.Where)) + "): " + x.Text + "\n";
    }
    return text + "\n" + Summary(c);
}

std::string ComparisonJson(const Sniff& baseline, const Sniff& current, const Comparison& c) {
    Json j = {{"format", "quorrin-compare/1"},
              {"baseline", SourceJson(baseline)},
              {"current", SourceJson(current)},
              {"functions", Json::array()}};
    for (const FunctionComparison& f : c.Functions) {
        if (!Shown(f)) continue;
        const PciDeviceRecord& d = Either(f);
        Json one = {{"location", LocationText(d)}, {"ids", Ids(d)}};
        const std::string name = Name(d);
        if (!name.empty()) one["name"] = name;
        one["presence"] = f.Baseline && f.Current ? "both" : f.Baseline ? "baseline" : "current";
        if (!f.SameCardAt.empty()) one["sameCardAt"] = f.SameCardAt;
        one["differences"] = Json::array();
        for (const Difference& x : f.Differences) {
            Json diff = {{"kind", DifferenceKindName(x.Kind)}};
            if (x.Index >= 0) diff["index"] = x.Index;
            diff["what"] = x.What;
            diff["baseline"] = x.Baseline;
            diff["current"] = x.Current;
            one["differences"].push_back(diff);
        }
        one["findings"] = Json::array();
        for (const Finding& x : f.Findings)
            one["findings"].push_back(
                {{"side", SideName(x.Where)}, {"kind", x.Kind}, {"text", x.Text}});
        j["functions"].push_back(one);
    }
    j["summary"] = {{"matched", c.Matched},           {"differ", c.Differing},
                    {"onlyBaseline", c.OnlyBaseline}, {"onlyCurrent", c.OnlyCurrent},
                    {"findings", c.FindingCount},     {"agree", c.Agree()}};
    return j.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace compare
