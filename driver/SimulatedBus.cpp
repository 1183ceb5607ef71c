// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service -- the simulated bus backend.
#include "driver/SimulatedBus.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "driver/LspciText.h"
#include "driver/SerialEeprom.h"
#include "pci/LspciFormat.h"
#include "pci/PlxBridge.h"
#include "wire/BusFile.h"
#include "wire/DriverRecords.h"

namespace driverd {

namespace {

using nlohmann::json;

constexpr uint64_t MaxIoLength = 0x10000;
// Pages of one memory resource the service may come to hold, written ones
// only: far more than the access policy lets a client write.
constexpr std::size_t MaxWrittenPages = 16;

// Why a field does not fit; the loader adds file and function.
struct FormatError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

uint64_t Number(const json& value, const std::string& field, uint64_t max) {
    uint64_t n = 0;
    if (value.is_number_unsigned()) {
        n = value.get<uint64_t>();
    } else if (value.is_number_integer()) {
        throw FormatError(field + ": negative number");
    } else if (value.is_string()) {
        const std::string text = value.get<std::string>();
        if (text.size() < 3 || text.size() > 18 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
            throw FormatError(field + ": \"" + text + "\" is not a number or a \"0x...\" text");
        for (std::size_t i = 2; i < text.size(); ++i) {
            if (!std::isxdigit(static_cast<unsigned char>(text[i])))
                throw FormatError(field + ": \"" + text + "\" is not a hexadecimal number");
            n = n * 16 + std::stoul(text.substr(i, 1), nullptr, 16);
        }
    } else {
        throw FormatError(field + ": not a number");
    }
    if (n > max) throw FormatError(field + ": " + std::to_string(n) + " is larger than " + std::to_string(max));
    return n;
}

const json* Member(const json& object, const char* name) {
    auto it = object.find(name);
    return it == object.end() ? nullptr : &*it;
}

uint64_t Required(const json& object, const char* name, uint64_t max, const std::string& prefix = "") {
    const json* v = Member(object, name);
    if (!v) throw FormatError(prefix + name + ": missing");
    return Number(*v, prefix + name, max);
}

// The hex dump lspci -x/-xxx/-xxxx prints: "00: b5 10 ..." lines, with an
// optional "bb:dd.f description" line first.
std::vector<uint8_t> ParseConfigDump(const std::string& text) {
    std::vector<uint8_t> bytes(4096, 0);
    std::istringstream in(text);
    std::string line;
    bool highest = false;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        const std::string where = "config line " + std::to_string(number);
        const auto colon = line.find(':');
        const std::string head = colon == std::string::npos ? "" : line.substr(0, colon);
        const bool offsetLine = !head.empty() && head.size() <= 3 &&
            std::all_of(head.begin(), head.end(), [](unsigned char c) { return std::isxdigit(c); }) &&
            (colon + 1 == line.size() || line[colon + 1] == ' ');
        if (!offsetLine) {
            if (number == 1 && head.size() >= 2) continue;  // lspci's "02:04.0 Bridge: ..." line
            throw FormatError(where + ": expected \"offset: bytes\"");
        }
        const unsigned long offset = std::stoul(head, nullptr, 16);
        std::istringstream rest(line.substr(colon + 1));
        std::string byte;
        unsigned long at = offset;
        while (rest >> byte) {
            if (byte.size() != 2 || !std::isxdigit(static_cast<unsigned char>(byte[0])) ||
                !std::isxdigit(static_cast<unsigned char>(byte[1])))
                throw FormatError(where + ": \"" + byte + "\" is not a hex byte");
            if (at >= bytes.size()) throw FormatError(where + ": past the 4096 bytes of configuration space");
            bytes[at++] = static_cast<uint8_t>(std::stoul(byte, nullptr, 16));
            if (at > 256) highest = true;
        }
        if (at - offset > 16) throw FormatError(where + ": more than 16 bytes");
    }
    if (!highest) bytes.resize(256);
    return bytes;
}

// Memory of a resource: zero until written, a page held for each page
// written, so that a BAR of any size costs nothing (clients write only what
// the access policy allows). Private to the service; a client reaches it
// through transfers only.
class BarMemory {
public:
    static constexpr uint64_t PageBytes = 4096;
    uint8_t Read(uint64_t at) const {
        const auto it = pages_.find(at / PageBytes);
        return it == pages_.end() ? 0 : (*it->second)[at % PageBytes];
    }
    bool Write(uint64_t at, uint8_t value) {
        auto& page = pages_[at / PageBytes];
        if (!page) {
            if (pages_.size() > MaxWrittenPages) {
                pages_.erase(at / PageBytes);
                return false;
            }
            page = std::make_unique<std::array<uint8_t, PageBytes>>();
            page->fill(0);
        }
        (*page)[at % PageBytes] = value;
        return true;
    }

private:
    std::map<uint64_t, std::unique_ptr<std::array<uint8_t, PageBytes>>> pages_;
};

// An I/O resource: bytes that read back what was written.
class PortBlock {
public:
    explicit PortBlock(uint64_t length) : bytes_(length, 0) {}
    uint8_t Read(uint64_t offset) const { return bytes_[offset]; }
    void Write(uint64_t offset, uint8_t value) { bytes_[offset] = value; }

private:
    std::vector<uint8_t> bytes_;
};

// A PLX bridge's local register block, which BAR 0 (memory) and BAR 1 (I/O)
// both map, as on the real bridges, with the EEPROM behind the control byte.
class PlxRegisters {
public:
    static constexpr uint64_t Size = 0x200;
    PlxRegisters(uint16_t device, SerialEeprom eeprom) : eeprom_(std::move(eeprom)) {
        const uint32_t id = (uint32_t{device} << 16) | plx::VendorId;
        for (uint32_t i = 0; i < 4; ++i) bytes_[plx::IdOffset + i] = static_cast<uint8_t>(id >> (8 * i));
    }
    uint8_t Read(uint64_t offset) const {
        uint8_t v = bytes_[offset];
        if (offset == plx::EepromControlOffset)
            v = static_cast<uint8_t>((v & ~plx::EepromDataFromPart) | (eeprom_.DataOut() ? plx::EepromDataFromPart : 0));
        return v;
    }
    void Write(uint64_t offset, uint8_t value) {
        bytes_[offset] = value;
        if (offset == plx::EepromControlOffset)
            eeprom_.Drive(value & plx::EepromChipSelect, value & plx::EepromClock, value & plx::EepromDataToPart);
    }

private:
    uint8_t bytes_[Size] = {};
    SerialEeprom eeprom_;
};

struct SimFunction {
    Function Id;
    std::vector<uint8_t> Config;
    std::vector<Resource> Resources;
    std::vector<std::unique_ptr<BarMemory>> Memory;     // per resource, null when not memory
    std::vector<std::unique_ptr<PortBlock>> Ports;      // per resource, null when not I/O
    std::shared_ptr<PlxRegisters> Registers;            // a PLX bridge's, else null
    std::set<std::string> Faults;

    // The register block where resource `index` maps it (BAR 0 and 1 of a
    // PLX bridge, its first Size bytes), else null.
    PlxRegisters* RegistersAt(std::size_t index, uint64_t offset) const {
        const uint32_t bar = Resources[index].Bar;
        if (!Registers || Resources[index].Kind == ResourceKind::Interrupt || offset >= PlxRegisters::Size ||
            (bar != plx::RegistersMemoryBar && bar != plx::RegistersIoBar))
            return nullptr;
        return Registers.get();
    }
};

std::string LocationText(const Location& l) {
    char text[32];
    std::snprintf(text, sizeof text, "%02x:%02x.%x", l.Bus & 0xFFu, l.Slot & 0xFFu, l.Function & 0xFu);
    return text;
}

void TakeIds(SimFunction& fn) {
    fn.Id.VendorId = static_cast<uint16_t>(fn.Config[0] | fn.Config[1] << 8);
    fn.Id.DeviceId = static_cast<uint16_t>(fn.Config[2] | fn.Config[3] << 8);
}

// A resource and what backs it: memory or ports.
void AddResource(SimFunction& fn, const Resource& res) {
    fn.Memory.push_back(res.Kind == ResourceKind::Memory ? std::make_unique<BarMemory>() : nullptr);
    fn.Ports.push_back(res.Kind == ResourceKind::IO ? std::make_unique<PortBlock>(res.Length) : nullptr);
    fn.Resources.push_back(res);
}

// A PLX bridge's register block with the EEPROM behind its control byte (no
// part when `words` is none: the data line then reads 1, and every word 0xFFFF).
void AttachPlxRegisters(SimFunction& fn, const std::optional<std::vector<uint16_t>>& words) {
    if (!plx::IsBridge(fn.Id.VendorId, fn.Id.DeviceId)) return;
    fn.Registers = std::make_shared<PlxRegisters>(
        fn.Id.DeviceId, SerialEeprom(plx::EepromAddressBits(fn.Id.DeviceId), words.value_or(std::vector<uint16_t>{}),
                                     words.has_value()));
}

// A range of `length` bytes at `address`, within the 64-bit address space.
void CheckRange(uint64_t address, uint64_t length, const std::string& at) {
    if (address != 0 && length != 0 && address - 1 > UINT64_MAX - length)
        throw FormatError(at + "length: runs past the 64-bit address space");
}

// The dump as one text, or as a list of its lines (as a saved bus writes it).
std::string ConfigText(const json& c) {
    if (c.is_string()) return c.get<std::string>();
    if (!c.is_array()) throw FormatError("config: not a text or a list of texts");
    std::string text;
    for (std::size_t i = 0; i < c.size(); ++i) {
        if (!c[i].is_string()) throw FormatError("config[" + std::to_string(i) + "]: not a text");
        text += c[i].get<std::string>() + "\n";
    }
    return text;
}

SimFunction ParseFunction(const json& f) {
    if (!f.is_object()) throw FormatError("not an object");
    SimFunction fn;
    fn.Id.Where.Bus = static_cast<uint32_t>(Required(f, "bus", 255));
    fn.Id.Where.Slot = static_cast<uint32_t>(Required(f, "slot", 31));
    fn.Id.Where.Function = static_cast<uint32_t>(Required(f, "function", 7));
    fn.Config.assign(256, 0);
    if (const json* c = Member(f, "config")) fn.Config = ParseConfigDump(ConfigText(*c));
    if (const json* v = Member(f, "vendor")) {
        const auto id = Number(*v, "vendor", 0xFFFF);
        fn.Config[0] = id & 0xFF;
        fn.Config[1] = id >> 8;
    }
    if (const json* d = Member(f, "device")) {
        const auto id = Number(*d, "device", 0xFFFF);
        fn.Config[2] = id & 0xFF;
        fn.Config[3] = id >> 8;
    }
    TakeIds(fn);

    std::optional<std::vector<uint16_t>> words;
    if (const json* e = Member(f, "eeprom")) {
        if (!e->is_array()) throw FormatError("eeprom: not a list");
        const std::size_t capacity = fn.Id.DeviceId == plx::Device9080 ? plx::EepromWords9080 : plx::EepromWords9056;
        if (e->size() > capacity)
            throw FormatError("eeprom: " + std::to_string(e->size()) + " words, the part holds " + std::to_string(capacity));
        words.emplace();
        for (std::size_t i = 0; i < e->size(); ++i)
            words->push_back(static_cast<uint16_t>(Number((*e)[i], "eeprom[" + std::to_string(i) + "]", 0xFFFF)));
    }

    if (const json* r = Member(f, "resources")) {
        if (!r->is_array()) throw FormatError("resources: not a list");
        if (r->size() > MaxResourceItems)
            throw FormatError("resources: " + std::to_string(r->size()) + " items, at most " + std::to_string(MaxResourceItems));
        for (std::size_t i = 0; i < r->size(); ++i) {
            const json& item = (*r)[i];
            const std::string at = "resources[" + std::to_string(i) + "].";
            if (!item.is_object()) throw FormatError(at.substr(0, at.size() - 1) + ": not an object");
            const json* type = Member(item, "type");
            if (!type || !type->is_string()) throw FormatError(at + "type: missing or not a text");
            Resource res;
            const std::string t = type->get<std::string>();
            if (t == "memory" || t == "io") {
                res.Kind = t == "memory" ? ResourceKind::Memory : ResourceKind::IO;
                res.Bar = static_cast<uint32_t>(Required(item, "bar", 6, at));
                // The whole bus address, above 4 GiB too, as a 64-bit BAR
                // holds it. A memory length of 0 is what the driver's 32-bit
                // field gives for a BAR of 4 GiB or a multiple of it.
                res.Address = Required(item, "address", UINT64_MAX, at);
                res.Length = Required(item, "length", t == "memory" ? UINT64_MAX : MaxIoLength, at);
                if (t == "io" && res.Length == 0) throw FormatError(at + "length: 0");
                CheckRange(res.Address, res.Length, at);
            } else if (t == "interrupt") {
                res.Kind = ResourceKind::Interrupt;
                res.Number = static_cast<uint32_t>(Required(item, "number", 0xFFFFFFFF, at));
            } else {
                throw FormatError(at + "type: \"" + t + "\" is not memory, io or interrupt");
            }
            AddResource(fn, res);
        }
    }

    AttachPlxRegisters(fn, words);

    if (const json* faults = Member(f, "faults")) {
        if (!faults->is_array()) throw FormatError("faults: not a list");
        static const std::set<std::string> known = {busfile::CardInfoRefused, busfile::RegisterRefused,
                                                    busfile::ConfigRefused, busfile::RegisterNoHandle};
        for (std::size_t i = 0; i < faults->size(); ++i) {
            const json& one = (*faults)[i];
            const std::string at = "faults[" + std::to_string(i) + "]";
            if (!one.is_string() || !known.count(one.get<std::string>()))
                throw FormatError(at + ": not one of card-info-refused, register-refused, config-refused, register-no-handle");
            fn.Faults.insert(one.get<std::string>());
        }
    }
    return fn;
}

// A function of lspci text: no faults, and no EEPROM words to be had.
SimFunction FromLspci(const LspciFunction& f) {
    SimFunction fn;
    fn.Id.Where = f.Where;
    fn.Config = f.Config;
    TakeIds(fn);
    for (const Resource& res : f.Resources) AddResource(fn, res);
    AttachPlxRegisters(fn, std::nullopt);
    return fn;
}

class SimulatedBus final : public Bus {
public:
    explicit SimulatedBus(std::vector<SimFunction> functions) : functions_(std::move(functions)) {}

    std::vector<Function> Scan() override {
        std::vector<Function> list;
        for (const auto& f : functions_) list.push_back(f.Id);
        return list;
    }
    bool CardInfo(const Location& where, std::vector<Resource>& resources) override {
        const SimFunction* f = Find(where);
        if (!f || f->Faults.count(busfile::CardInfoRefused)) return false;
        resources = f->Resources;
        return true;
    }
    uint32_t ConfigSize(const Location& where) override {
        const SimFunction* f = Find(where);
        return f ? static_cast<uint32_t>(f->Config.size()) : 0;
    }
    bool ReadConfig(const Location& where, uint32_t offset, uint32_t bytes, uint32_t& value) override {
        const SimFunction* f = Find(where);
        if (!f || f->Faults.count(busfile::ConfigRefused) || bytes < 1 || bytes > 4 || offset + bytes > f->Config.size())
            return false;
        value = 0;
        for (uint32_t i = 0; i < bytes; ++i) value |= uint32_t{f->Config[offset + i]} << (8 * i);
        return true;
    }
    RegisterAnswer Register(const Location& where) override {
        const SimFunction* f = Find(where);
        if (!f || f->Faults.count(busfile::RegisterRefused)) return RegisterAnswer::Refused;
        if (f->Faults.count(busfile::RegisterNoHandle)) return RegisterAnswer::NoHandle;
        return RegisterAnswer::Granted;
    }
    void Unregister(const Location&) override {}
    // Functions here never change or vanish, so a transfer is Done or Failed.
    TransferResult Transfer(const Location& where, std::size_t index, uint64_t offset, uint32_t unitBytes,
                            bool isRead, bool autoIncrement, uint8_t* data, uint32_t bytes) override {
        SimFunction* f = Find(where);
        if (!f || index >= f->Resources.size() || unitBytes == 0 || bytes % unitBytes != 0)
            return TransferResult::Failed;
        const uint64_t span = autoIncrement ? bytes : unitBytes;
        if (offset > f->Resources[index].Length || span > f->Resources[index].Length - offset)
            return TransferResult::Failed;
        for (uint32_t done = 0; done < bytes; done += unitBytes) {
            const uint64_t at = offset + (autoIncrement ? done : 0);
            for (uint32_t i = 0; i < unitBytes; ++i) {
                uint8_t& byte = data[done + i];
                if (PlxRegisters* registers = f->RegistersAt(index, at + i)) {
                    if (isRead) byte = registers->Read(at + i); else registers->Write(at + i, byte);
                } else if (f->Memory[index]) {
                    if (isRead) byte = f->Memory[index]->Read(at + i);
                    else if (!f->Memory[index]->Write(at + i, byte)) return TransferResult::Failed;
                } else if (f->Ports[index]) {
                    if (isRead) byte = f->Ports[index]->Read(at + i); else f->Ports[index]->Write(at + i, byte);
                } else {
                    return TransferResult::Failed;
                }
            }
        }
        return TransferResult::Done;
    }

private:
    SimFunction* Find(const Location& where) {
        for (auto& f : functions_)
            if (f.Id.Where == where) return &f;
        return nullptr;
    }
    std::vector<SimFunction> functions_;
};

}  // namespace

namespace {

std::unique_ptr<Bus> LoadBusFile(const std::string& text, const std::string& name, std::string& error,
                                 std::vector<std::string>& notes) {
    json doc = json::parse(text, nullptr, false);
    if (doc.is_discarded()) {
        error = name + ": not valid JSON";
        return nullptr;
    }
    if (!doc.is_object() || !doc.contains("functions") || !doc["functions"].is_array()) {
        error = name + ": expected an object with a \"functions\" list";
        return nullptr;
    }
    std::vector<SimFunction> functions;
    const json& list = doc["functions"];
    for (std::size_t i = 0; i < list.size(); ++i) {
        const json& f = list[i];
        // The location names the function in every message once it is known.
        std::string where = "?";
        try {
            if (f.is_object() && f.contains("bus") && f.contains("slot") && f.contains("function"))
                where = LocationText({static_cast<uint32_t>(Number(f["bus"], "bus", 255)),
                                      static_cast<uint32_t>(Number(f["slot"], "slot", 31)),
                                      static_cast<uint32_t>(Number(f["function"], "function", 7))});
        } catch (const FormatError&) {
        }
        const std::string prefix = name + ": function " + std::to_string(i) + " (" + where + "): ";
        try {
            functions.push_back(ParseFunction(f));
        } catch (const FormatError& e) {
            error = prefix + e.what();
            return nullptr;
        } catch (const std::exception& e) {
            error = prefix + e.what();
            return nullptr;
        }
        for (std::size_t j = 0; j + 1 < functions.size(); ++j)
            if (functions[j].Id.Where == functions.back().Id.Where) {
                error = prefix + "bus, slot, function: the same as function " + std::to_string(j);
                return nullptr;
            }
    }
    std::stable_sort(functions.begin(), functions.end(),
                     [](const SimFunction& a, const SimFunction& b) { return a.Id.Where < b.Id.Where; });
    notes.push_back(name + ": a bus file of " + std::to_string(functions.size()) + " functions");
    return std::make_unique<SimulatedBus>(std::move(functions));
}

std::unique_ptr<Bus> LoadLspciText(const std::string& text, const std::string& name, std::string& error,
                                   std::vector<std::string>& notes) {
    std::vector<LspciFunction> read;
    std::vector<std::string> found;
    if (!ReadLspciText(text, read, found, error)) {
        error = name + ": " + error;
        return nullptr;
    }
    std::vector<SimFunction> functions;
    for (const LspciFunction& f : read) {
        try {
            functions.push_back(FromLspci(f));
        } catch (const std::exception& e) {
            error = name + ": line " + std::to_string(f.Line) + ": " + e.what();
            return nullptr;
        }
    }
    std::stable_sort(functions.begin(), functions.end(),
                     [](const SimFunction& a, const SimFunction& b) { return a.Id.Where < b.Id.Where; });
    notes.push_back(name + ": lspci text of " + std::to_string(functions.size()) + " functions");
    for (const std::string& note : found) notes.push_back(name + ": " + note);
    return std::make_unique<SimulatedBus>(std::move(functions));
}

}  // namespace

// The one place that tells the kinds apart: a bus file is a JSON object,
// lspci text opens with a function's line.
std::unique_ptr<Bus> LoadSimulatedBus(const std::string& text, const std::string& name, std::string& error,
                                      std::vector<std::string>& notes) {
    // JSON opens with a bracket; an empty file is no valid JSON either.
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos || text[first] == '{' || text[first] == '[')
        return LoadBusFile(text, name, error, notes);
    if (lspci::LooksLikeLspciText(text)) return LoadLspciText(text, name, error, notes);
    error = name + ": neither a bus file (JSON) nor the text of lspci -vv -xxx";
    return nullptr;
}

std::unique_ptr<Bus> LoadSimulatedBus(const std::string& text, const std::string& name, std::string& error) {
    std::vector<std::string> notes;
    return LoadSimulatedBus(text, name, error, notes);
}

std::unique_ptr<Bus> OpenSimulatedBus(const std::string& path, std::string& error, std::vector<std::string>& notes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be read";
        return nullptr;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return LoadSimulatedBus(text.str(), path, error, notes);
}

std::unique_ptr<Bus> OpenSimulatedBus(const std::string& path, std::string& error) {
    std::vector<std::string> notes;
    return OpenSimulatedBus(path, error, notes);
}

}  // namespace driverd
