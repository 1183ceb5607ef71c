// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin findings -- the findings added to the device table's JSON.
#include "findings/FindingsJson.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "sniffer/DeviceTableJson.h"

namespace findings {

namespace {

// Registers and widths are whole numbers and read best as such; a speed
// may be 2.5.
nlohmann::json Number(double v) {
    if (v >= 0 && v < 9007199254740992.0 && std::floor(v) == v) return static_cast<uint64_t>(v);
    return v;
}

}  // namespace

std::string SniffJson(const PciDeviceTableType& table, const std::vector<FunctionFindings>& all) {
    nlohmann::json j = nlohmann::json::parse(DeviceTableJson(table));
    auto& devices = j["Devices"];
    for (auto& device : devices) device["Findings"] = nlohmann::json::array();
    for (const FunctionFindings& f : all) {
        if (f.Index < 0 || static_cast<std::size_t>(f.Index) >= devices.size()) continue;
        auto& list = devices[static_cast<std::size_t>(f.Index)]["Findings"];
        for (const Finding& one : f.Found) {
            nlohmann::json values = nlohmann::json::object();
            for (const Value& v : one.Values) values[v.Name] = Number(v.Number);
            list.push_back({{"kind", one.Kind}, {"severity", SeverityName(one.Level)}, {"text", one.Text},
                            {"values", values}});
        }
    }
    return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace findings
