// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin findings -- the sniff's metrics in the Prometheus text format.
#include "findings/Metrics.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>
#include <utility>

#include "pcinames/PciNames.h"
#include "platform/ReplaceFile.h"
#include "sniffer/SnifferReport.h"

namespace findings {

namespace {

// A label value as the format asks: backslash, quote and line feed escaped.
// Bytes of names that are not UTF-8 are kept; pci.ids is ASCII.
std::string Quoted(const std::string& value) {
    std::string out = "\"";
    for (char c : value) {
        if (c == '\\' || c == '"') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out + "\"";
}

std::string Hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*x", digits, value);
    return text;
}

// The shortest text that reads back as the same double.
std::string NumberText(double v) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, v).ptr;
    return std::string(text, end);
}

class Writer {
public:
    void Family(const char* name, const char* help) {
        text_ += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " gauge\n";
    }
    void Sample(const char* name, const std::string& labels, double value) {
        text_ += name;
        if (!labels.empty()) text_ += "{" + labels + "}";
        text_ += " " + NumberText(value) + "\n";
    }
    std::string Take() { return std::move(text_); }

private:
    std::string text_;
};

std::string Location(const PciDeviceRecord& d) { return "location=" + Quoted(LocationText(d)); }

}  // namespace

std::string MetricsText(const PciDeviceTableType& table, const PciCaptureTable* captures,
                        const std::vector<FunctionFindings>& all, const SniffRun& run) {
    Writer w;
    const int32_t count = table.Count < 0 ? 0 : std::min<int32_t>(table.Count, PciTableCapacity);
    w.Family("quorrin_sniff_timestamp_seconds", "When the last sniff began, in seconds since 1970.");
    w.Sample("quorrin_sniff_timestamp_seconds", "", run.Time);
    w.Family("quorrin_sniff_duration_seconds", "How long the last sniff took.");
    w.Sample("quorrin_sniff_duration_seconds", "", run.Duration);
    w.Family("quorrin_driver_reached", "1 when the last sniff reached the driver, else 0.");
    w.Sample("quorrin_driver_reached", "", run.DriverReached ? 1 : 0);
    w.Family("quorrin_functions", "PCI functions the last sniff found.");
    w.Sample("quorrin_functions", "", count);

    w.Family("quorrin_function_info", "A PCI function the last sniff found, with its identifiers and names.");
    for (int32_t i = 0; i < count; ++i) {
        const PciDeviceRecord& d = table.Devices[i];
        std::string labels = Location(d) + ",vendor=" + Quoted(Hex(d.VendorId, 4)) +
                             ",device=" + Quoted(Hex(d.DeviceId, 4)) + ",subsystem_vendor=" +
                             Quoted(Hex(d.SubVendorId, 4)) + ",subsystem_device=" + Quoted(Hex(d.SubDeviceId, 4)) +
                             ",class=" + Quoted(Hex(d.ConfigRegs[2] >> 8, 6)) +
                             ",vendor_name=" + Quoted(pcinames::VendorName(d.VendorId)) +
                             ",device_name=" + Quoted(pcinames::DeviceName(d.VendorId, d.DeviceId));
        w.Sample("quorrin_function_info", labels, 1);
    }
    w.Family("quorrin_function_registered", "1 when the function passed the driver's card check, else 0.");
    for (int32_t i = 0; i < count; ++i)
        w.Sample("quorrin_function_registered", Location(table.Devices[i]), table.Devices[i].FailCode == 0 ? 1 : 0);
    w.Family("quorrin_function_fail_code", "The card check's failure code (0 when it passed).");
    for (int32_t i = 0; i < count; ++i)
        w.Sample("quorrin_function_fail_code", Location(table.Devices[i]), table.Devices[i].FailCode);

    struct Link {
        std::string Labels;
        ExpressLink Of;
    };
    std::vector<Link> links;
    for (int32_t i = 0; i < count; ++i) {
        const PciDeviceRecord& d = table.Devices[i];
        const ConfigView config = captures && i < captures->Count ? ViewOf(d, captures->Functions[i].Config) : ViewOf(d);
        const ExpressLink link = LinkOf(config);
        if (link.Present) links.push_back({Location(d), link});
    }
    const struct {
        const char* Name;
        const char* Help;
        double (*Value)(const ExpressLink&);
    } linkSeries[] = {
        {"quorrin_link_width", "Lanes the PCI Express link trained to (0 while it is down).",
         [](const ExpressLink& l) { return double(l.Width); }},
        {"quorrin_link_capable_width", "Lanes the function's PCI Express link can use.",
         [](const ExpressLink& l) { return double(l.CapableWidth); }},
        {"quorrin_link_speed_gts", "Speed the PCI Express link runs at, in GT/s (0 while it is down).",
         [](const ExpressLink& l) { return l.Speed; }},
        {"quorrin_link_capable_speed_gts", "Highest speed the function's PCI Express link can run at, in GT/s.",
         [](const ExpressLink& l) { return l.CapableSpeed; }},
    };
    for (const auto& series : linkSeries) {
        w.Family(series.Name, series.Help);
        for (const Link& l : links) w.Sample(series.Name, l.Labels, series.Value(l.Of));
    }

    // A kind can come more than once for one function (two unassigned
    // BARs): one series, counting them.
    w.Family("quorrin_finding", "Findings of one kind on a function in the last sniff.");
    for (const FunctionFindings& f : all) {
        std::map<std::pair<std::string, std::string>, int> kinds;
        for (const Finding& one : f.Found) ++kinds[{one.Kind, SeverityName(one.Level)}];
        for (const auto& [key, n] : kinds)
            w.Sample("quorrin_finding",
                     "location=" + Quoted(f.Location) + ",kind=" + Quoted(key.first) + ",severity=" +
                         Quoted(key.second),
                     n);
    }
    const Tally tally = TallyOf(all);
    w.Family("quorrin_findings", "Findings of the last sniff, by severity.");
    w.Sample("quorrin_findings", "severity=\"error\"", tally.Errors);
    w.Sample("quorrin_findings", "severity=\"warning\"", tally.Warnings);
    w.Sample("quorrin_findings", "severity=\"note\"", tally.Notes);
    return w.Take();
}

bool WriteMetrics(const std::string& path, const std::string& text, std::string& error) {
    return platform::ReplaceFileContents(path, text, error);
}

}  // namespace findings
