// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin sniffer -- writing the sniffed machine as a bus file.
#include "sniffer/BusFile.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

#include "wire/BusFile.h"
#include "windriver/WexPlxGenDriverUnit.h"
#include "windriver/WinDriverRequests.h"

namespace {

std::string Hex(uint64_t value, int digits = 1) {
    char text[32];
    std::snprintf(text, sizeof text, "\"0x%0*llX\"", digits, static_cast<unsigned long long>(value));
    return text;
}

// One line of the hex dump as lspci -xxx (-xxxx past the first 256 bytes)
// prints it.
std::string DumpLine(const uint8_t* bytes, uint32_t offset, bool wide) {
    char line[80];
    int at = std::snprintf(line, sizeof line, wide ? "%03x:" : "%02x:", offset);
    for (uint32_t i = 0; i < 16; ++i) at += std::snprintf(line + at, sizeof line - at, " %02x", bytes[offset + i]);
    return line;
}

// The space as read. Past the standard 256 bytes only the lines holding
// something are written, and the last one, which makes the space 4096 bytes.
std::vector<std::string> ConfigLines(const PciConfigSpace& space) {
    const uint32_t size = space.Size == pcireg::ExpressConfigSize ? pcireg::ExpressConfigSize : pcireg::ConfigSize;
    const bool wide = size > pcireg::ConfigSize;
    std::vector<std::string> lines;
    for (uint32_t offset = 0; offset < size; offset += 16) {
        const bool zero = std::all_of(space.Bytes + offset, space.Bytes + offset + 16, [](uint8_t b) { return b == 0; });
        if (offset >= pcireg::ConfigSize && zero && offset + 16 != size) continue;
        lines.push_back(DumpLine(space.Bytes, offset, wide));
    }
    return lines;
}

// The card-information items as the driver gave them; types the scan does
// not know are left out, as it leaves them out.
std::vector<std::string> ResourceLines(const CardResourceBlock& card) {
    std::vector<std::string> lines;
    const int32_t count = std::min(static_cast<int32_t>(card.NumItems), static_cast<int32_t>(MaxResourceItems));
    for (int32_t i = 0; i < count; ++i) {
        const ResourceItem& item = card.Items[i];
        if (item.Type == ItemMemory) {
            lines.push_back("{\"type\": \"memory\", \"bar\": " + std::to_string(item.Mem.Bar) +
                            ", \"address\": " + Hex(MemoryItemAddress(item)) + ", \"length\": " + Hex(item.Mem.Bytes) +
                            "}");
        } else if (item.Type == ItemIO) {
            lines.push_back("{\"type\": \"io\", \"bar\": " + std::to_string(item.IO.Bar) + ", \"address\": " +
                            Hex(item.IO.Address) + ", \"length\": " + Hex(item.IO.Bytes) + "}");
        } else if (item.Type == ItemInterrupt) {
            lines.push_back("{\"type\": \"interrupt\", \"number\": " + std::to_string(item.Int.Number) + "}");
        }
    }
    return lines;
}

// The requests that failed, as the faults that make them fail again. The
// registration's answer is the record's code: 9 a refused registration, 5
// one without a card handle.
std::vector<std::string> Faults(const PciDeviceRecord& record, const PciFunctionCapture& capture) {
    std::vector<std::string> faults;
    if (capture.CardInfoStatus != 0) faults.push_back(busfile::CardInfoRefused);
    if (record.FailCode == CardRegisterFailed) faults.push_back(busfile::RegisterRefused);
    if (record.FailCode == CardLockFailed) faults.push_back(busfile::RegisterNoHandle);
    if (capture.ConfigReadsRefused == static_cast<uint32_t>(ConfigDwordCount)) faults.push_back(busfile::ConfigRefused);
    return faults;
}

void List(std::string& out, const char* key, const std::vector<std::string>& items, const char* indent,
          std::size_t perLine = 1) {
    out += std::string(",\n      \"") + key + "\": [";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i % perLine == 0) out += std::string(i ? ",\n" : "\n") + indent;
        else out += ", ";
        out += items[i];
    }
    out += items.empty() ? "]" : "\n      ]";
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string FunctionText(const PciDeviceRecord& record, const PciFunctionCapture& capture) {
    std::string out = "    {\n      \"bus\": " + std::to_string(record.Bus) + ", \"slot\": " +
                      std::to_string(record.Slot) + ", \"function\": " + std::to_string(record.Function);
    out += ",\n      \"vendor\": " + Hex(record.VendorId, 4) + ", \"device\": " + Hex(record.DeviceId, 4);
    std::vector<std::string> config;
    for (const std::string& line : ConfigLines(capture.Config)) config.push_back(Quoted(line));
    List(out, "config", config, "        ");
    List(out, "resources", ResourceLines(capture.CardInfo), "        ");
    if (record.IsPlx && capture.EepromReached) {
        std::vector<std::string> words;
        for (uint16_t w : record.EepromWords) words.push_back(Hex(w, 4));
        List(out, "eeprom", words, "        ", 8);
    }
    std::vector<std::string> faults;
    for (const std::string& f : Faults(record, capture)) faults.push_back(Quoted(f));
    if (!faults.empty()) List(out, "faults", faults, "        ", faults.size());
    return out + "\n    }";
}

}  // namespace

std::string BusFileText(const PciDeviceTableType& table, const PciCaptureTable& captures) {
    std::string out = std::string("{\n  \"format\": \"") + busfile::FormatTag + "\",\n  \"functions\": [";
    const int32_t count = std::clamp(std::min(table.Count, captures.Count), 0, PciTableCapacity);
    for (int32_t i = 0; i < count; ++i)
        out += std::string(i ? ",\n" : "\n") + FunctionText(table.Devices[i], captures.Functions[i]);
    return out + (count ? "\n  ]\n}\n" : "]\n}\n");
}

bool SaveBusFile(const std::string& path, const PciDeviceTableType& table, const PciCaptureTable& captures,
                 std::string& error) {
    if (!captures.Complete || captures.Count != table.Count) {
        error = "no whole sniff to save: the last one did not reach the driver to its end";
        return false;
    }
    const std::string text = BusFileText(table, captures);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
        error = path + ": cannot be written";
        return false;
    }
    return true;
}
