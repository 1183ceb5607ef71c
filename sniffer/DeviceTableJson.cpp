// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin sniffer -- turning the device table into JSON and back.
#include "sniffer/DeviceTableJson.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "pcinames/PciNames.h"
#include "sniffer/SnifferReport.h"

namespace {

template <typename T, std::size_t N>
nlohmann::json Array(const T (&values)[N], int32_t count) {
    nlohmann::json a = nlohmann::json::array();
    for (int32_t i = 0; i < count && i < static_cast<int32_t>(N); ++i) a.push_back(values[i]);
    return a;
}

nlohmann::json Record(const PciDeviceRecord& d) {
    nlohmann::json r;
    r["Index"] = d.Index;
    r["VendorId"] = d.VendorId;
    r["DeviceId"] = d.DeviceId;
    r["SubVendorId"] = d.SubVendorId;
    r["SubDeviceId"] = d.SubDeviceId;
    r["ConfigRegs"] = Array(d.ConfigRegs, ConfigDwordCount);
    r["IsPlx"] = d.IsPlx;
    if (d.IsPlx) r["EepromWords"] = Array(d.EepromWords, EepromWordCount);
    r["Bus"] = d.Bus;
    r["Slot"] = d.Slot;
    r["Function"] = d.Function;
    r["NumMemAddresses"] = d.NumMemAddresses;
    r["NumIOAddresses"] = d.NumIOAddresses;
    r["NumInterrupts"] = d.NumInterrupts;
    // The arrays hold the resources the counts name, nothing beyond.
    r["MemBytes"] = Array(d.MemBytes, d.NumMemAddresses);
    r["MemAddress"] = Array(d.MemAddress, d.NumMemAddresses);
    r["MemDirect"] = Array(d.MemDirect, d.NumMemAddresses);
    r["MemPhysicalAddress"] = Array(d.MemPhysicalAddress, d.NumMemAddresses);
    r["MemBar"] = Array(d.MemBar, d.NumMemAddresses);
    r["IoBytes"] = Array(d.IoBytes, d.NumIOAddresses);
    r["IoAddress"] = Array(d.IoAddress, d.NumIOAddresses);
    r["IoBar"] = Array(d.IoBar, d.NumIOAddresses);
    r["Interrupt"] = d.Interrupt;
    r["FailCode"] = d.FailCode;
    r["FailText"] = std::string(d.FailText, strnlen(d.FailText, sizeof d.FailText));
    r["Location"] = LocationText(d);
    r["ClassCode"] = d.ConfigRegs[pcireg::ClassRevision / 4] >> 8;
    const std::string vendor = pcinames::VendorName(d.VendorId);
    if (!vendor.empty()) r["VendorName"] = vendor;
    const std::string device = pcinames::DeviceName(d.VendorId, d.DeviceId);
    if (!device.empty()) r["DeviceName"] = device;
    return r;
}

// A field that is missing or does not fit its record.
struct BadField : std::runtime_error {
    using std::runtime_error::runtime_error;
};

template <typename T>
T Number(const nlohmann::json& object, const char* name) {
    const auto it = object.find(name);
    if (it == object.end()) throw BadField(std::string(name) + " is missing");
    if (it->is_number_integer()) {
        if (it->is_number_unsigned()) {
            const auto v = it->get<uint64_t>();
            if (v <= static_cast<uint64_t>(std::numeric_limits<T>::max())) return static_cast<T>(v);
        } else {
            const auto v = it->get<int64_t>();
            if (v >= static_cast<int64_t>(std::numeric_limits<T>::min()) &&
                (v < 0 || static_cast<uint64_t>(v) <= static_cast<uint64_t>(std::numeric_limits<T>::max())))
                return static_cast<T>(v);
        }
    }
    throw BadField(std::string(name) + " is not a number that fits");
}

template <typename T, std::size_t N>
void Numbers(const nlohmann::json& object, const char* name, T (&values)[N], int32_t count) {
    const auto it = object.find(name);
    const std::size_t wanted = static_cast<std::size_t>(std::clamp<int32_t>(count, 0, N));
    if (it == object.end() || !it->is_array() || it->size() != wanted)
        throw BadField(std::string(name) + " is not an array of " + std::to_string(wanted) + " numbers");
    for (std::size_t i = 0; i < wanted; ++i) {
        nlohmann::json one = {{name, (*it)[i]}};
        values[i] = Number<T>(one, name);
    }
}

PciDeviceRecord ReadRecord(const nlohmann::json& r) {
    if (!r.is_object()) throw BadField("not an object");
    PciDeviceRecord d{};
    d.Index = Number<uint32_t>(r, "Index");
    d.VendorId = Number<uint32_t>(r, "VendorId");
    d.DeviceId = Number<uint32_t>(r, "DeviceId");
    d.SubVendorId = Number<uint32_t>(r, "SubVendorId");
    d.SubDeviceId = Number<uint32_t>(r, "SubDeviceId");
    Numbers(r, "ConfigRegs", d.ConfigRegs, ConfigDwordCount);
    const auto plx = r.find("IsPlx");
    if (plx == r.end() || !plx->is_boolean()) throw BadField("IsPlx is not true or false");
    d.IsPlx = plx->get<bool>();
    if (d.IsPlx) Numbers(r, "EepromWords", d.EepromWords, EepromWordCount);
    d.Bus = Number<uint32_t>(r, "Bus");
    d.Slot = Number<uint32_t>(r, "Slot");
    d.Function = Number<uint32_t>(r, "Function");
    d.NumMemAddresses = Number<int32_t>(r, "NumMemAddresses");
    d.NumIOAddresses = Number<int32_t>(r, "NumIOAddresses");
    d.NumInterrupts = Number<int32_t>(r, "NumInterrupts");
    Numbers(r, "MemBytes", d.MemBytes, d.NumMemAddresses);
    Numbers(r, "MemAddress", d.MemAddress, d.NumMemAddresses);
    Numbers(r, "MemDirect", d.MemDirect, d.NumMemAddresses);
    Numbers(r, "MemPhysicalAddress", d.MemPhysicalAddress, d.NumMemAddresses);
    Numbers(r, "MemBar", d.MemBar, d.NumMemAddresses);
    Numbers(r, "IoBytes", d.IoBytes, d.NumIOAddresses);
    Numbers(r, "IoAddress", d.IoAddress, d.NumIOAddresses);
    Numbers(r, "IoBar", d.IoBar, d.NumIOAddresses);
    d.Interrupt = Number<uint32_t>(r, "Interrupt");
    d.FailCode = Number<int32_t>(r, "FailCode");
    const auto text = r.find("FailText");
    if (text == r.end() || !text->is_string()) throw BadField("FailText is not a text");
    const std::string& fail = text->get_ref<const std::string&>();
    std::memcpy(d.FailText, fail.data(), std::min(fail.size(), sizeof d.FailText));
    return d;
}

}  // namespace

std::string DeviceTableJson(const PciDeviceTableType& table) {
    nlohmann::json j;
    j["format"] = "quorrin-sniff/1";
    j["Count"] = table.Count;
    j["Devices"] = nlohmann::json::array();
    for (int32_t i = 0; i < table.Count && i < PciTableCapacity; ++i)
        j["Devices"].push_back(Record(table.Devices[i]));
    // A text the program did not write itself (an odd byte in a record) is
    // replaced rather than breaking the whole document.
    return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

DeviceTableJsonReading ReadDeviceTableJson(std::string_view text, PciDeviceTableType& table) {
    DeviceTableJsonReading reading;
    table.Count = 0;
    nlohmann::json j;
    try {
        j = nlohmann::json::parse(text.begin(), text.end());
    } catch (const nlohmann::json::parse_error& e) {
        reading.Error = "not valid JSON";
        reading.ErrorOffset = e.byte > 0 ? e.byte - 1 : 0;
        return reading;
    } catch (const nlohmann::json::exception&) {
        // A number no double holds (1e999) is refused without its place.
        reading.Error = "not valid JSON (a number out of range)";
        return reading;
    }
    const auto count = j.is_object() ? j.find("Count") : j.end();
    const auto devices = j.is_object() ? j.find("Devices") : j.end();
    if (count == j.end() || !count->is_number_integer() || devices == j.end() || !devices->is_array()) {
        reading.Error = "not the device table of quorrin-sniff --json (no Count and Devices)";
        return reading;
    }
    if (const auto format = j.find("format"); format != j.end() && *format != "quorrin-sniff/1") {
        reading.Error = "a device table of another format: " + format->dump();
        return reading;
    }
    try {
        reading.Count = Number<int32_t>(j, "Count");
    } catch (const BadField& e) {
        reading.Error = e.what();
        return reading;
    }
    reading.Read = true;
    for (std::size_t i = 0; i < devices->size(); ++i) {
        try {
            const PciDeviceRecord d = ReadRecord((*devices)[i]);
            if (table.Count == PciTableCapacity) throw BadField("past the table's " + std::to_string(PciTableCapacity) + " records");
            table.Devices[table.Count++] = d;
        } catch (const std::exception& e) {
            reading.Skipped.push_back("device " + std::to_string(i + 1) + ": " + e.what());
        }
    }
    return reading;
}
