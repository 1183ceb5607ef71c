// Quorrin sniff front end -- turning the device table into JSON.
#include "app/sniff/DeviceTableJson.h"

#include <cstring>
#include <nlohmann/json.hpp>

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
    r["ConfigRegs"] = Array(d.ConfigRegs, 64);
    r["IsPlx"] = d.IsPlx;
    if (d.IsPlx) r["EepromWords"] = Array(d.EepromWords, 64);
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
    return r;
}

}  // namespace

std::string DeviceTableJson(const PciDeviceTableType& table) {
    nlohmann::json j;
    j["Count"] = table.Count;
    j["Devices"] = nlohmann::json::array();
    for (int32_t i = 0; i < table.Count && i < PciTableCapacity; ++i) j["Devices"].push_back(Record(table.Devices[i]));
    // A text the program did not write itself (an odd byte in a record) is
    // replaced rather than breaking the whole document.
    return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}
