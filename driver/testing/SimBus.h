// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin test support -- building simulated buses for quorrin-driverd, and
// reading back the log a test wrote.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "log/wexerrorlog.h"
#include "platform/testing/FileText.h"
#include "platform/testing/TempFolder.h"
#include "speaker/wexspeakerclass.h"

namespace simbus {

inline std::string Hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "\"0x%llX\"", static_cast<unsigned long long>(value));
    return text;
}

// One function of a simulated bus. The BAR registers are set to match the
// resources added, as a configured card's would be.
struct SimFunction {
    uint32_t Bus = 0, Slot = 0, Function = 0;
    uint8_t Config[4096] = {};
    bool Extended = false;  // a 4096-byte space; set by a write past 0xFF
    std::vector<std::string> Resources;
    std::vector<uint16_t> Eeprom;
    bool HasEeprom = false;
    std::vector<std::string> Faults;

    SimFunction(uint32_t bus, uint32_t slot, uint32_t function) : Bus(bus), Slot(slot), Function(function) {}
    SimFunction& Dword(uint32_t offset, uint32_t value) {
        for (int i = 0; i < 4; ++i) Config[offset + i] = static_cast<uint8_t>(value >> (8 * i));
        Extended = Extended || offset >= 256;
        return *this;
    }
    // A PCI Express capability at `at` (the list's only entry), so that the
    // scan reads the extended space.
    SimFunction& Express(uint8_t at = 0x40) {
        Config[0x06] |= 0x10;
        Config[0x34] = at;
        Config[at] = 0x10;
        Config[at + 1] = 0;
        return *this;
    }
    SimFunction& Byte(uint32_t offset, uint8_t value) {
        Config[offset] = value;
        Extended = Extended || offset >= 256;
        return *this;
    }
    SimFunction& Word(uint32_t offset, uint16_t value) {
        return Byte(offset, static_cast<uint8_t>(value)).Byte(offset + 1, static_cast<uint8_t>(value >> 8));
    }
    // A capability at `at` whose next pointer is `next` (0 ends the list);
    // the list head points at the first one added.
    SimFunction& Capability(uint8_t at, uint8_t id, uint8_t next) {
        Config[0x06] |= 0x10;
        if (Config[0x34] == 0) Config[0x34] = at;
        return Byte(at, id).Byte(at + 1, next);
    }
    // A PCI Express capability at `at` (next pointer `next`) of the given
    // port type, its link able to train to x`capableWidth` at speed code
    // `capableSpeed` and trained to x`width` at `speed` (1 is 2.5 GT/s,
    // 2 is 5, 3 is 8).
    SimFunction& ExpressPort(uint8_t at, uint8_t next, uint8_t type, unsigned capableWidth, unsigned capableSpeed,
                             unsigned width, unsigned speed) {
        Capability(at, 0x10, next).Word(at + 2, static_cast<uint16_t>(0x0002 | type << 4));
        return Dword(at + 0x0C, capableSpeed | capableWidth << 4).Word(at + 0x12, static_cast<uint16_t>(speed | width << 4));
    }
    SimFunction& Ids(uint16_t vendor, uint16_t device) { return Dword(0, vendor | (uint32_t{device} << 16)); }
    SimFunction& Memory(uint32_t bar, uint32_t address, uint32_t length, bool setBar = true) {
        Resource("memory", bar, address, length);
        if (setBar) Dword(bar < 6 ? 0x10 + 4 * bar : 0x30, address);
        return *this;
    }
    // A 64-bit memory BAR: the low register with type bits 0x4, the upper
    // half in the register after it.
    SimFunction& Memory64(uint32_t bar, uint64_t address, uint32_t length) {
        Resource("memory", bar, address, length);
        return Dword(0x10 + 4 * bar, static_cast<uint32_t>(address) | 0x4u)
            .Dword(0x14 + 4 * bar, static_cast<uint32_t>(address >> 32));
    }
    SimFunction& Io(uint32_t bar, uint32_t address, uint32_t length, bool setBar = true) {
        Resource("io", bar, address, length);
        if (setBar) Dword(bar < 6 ? 0x10 + 4 * bar : 0x30, address | 1u);
        return *this;
    }
    void Resource(const char* type, uint32_t bar, uint64_t address, uint32_t length) {
        Resources.push_back(std::string("{\"type\":\"") + type + "\",\"bar\":" + std::to_string(bar) +
                            ",\"address\":" + Hex(address) + ",\"length\":" + Hex(length) + "}");
    }
    SimFunction& Interrupt(uint32_t number) {
        Resources.push_back("{\"type\":\"interrupt\",\"number\":" + std::to_string(number) + "}");
        return *this;
    }
    SimFunction& Fault(const std::string& name) {
        Faults.push_back(name);
        return *this;
    }
    SimFunction& WithEeprom(const std::vector<uint16_t>& words) {
        Eeprom = words;
        HasEeprom = true;
        return *this;
    }

    std::string Json() const {
        std::ostringstream j;
        j << "{\"bus\":" << Bus << ",\"slot\":" << Slot << ",\"function\":" << Function << ",\"config\":\"";
        const int size = Extended ? 4096 : 256;
        for (int row = 0; row < size; row += 16) {
            char line[8];
            std::snprintf(line, sizeof line, Extended ? "%03x:" : "%02x:", row);
            j << line;
            for (int i = 0; i < 16; ++i) {
                char b[4];
                std::snprintf(b, sizeof b, " %02x", Config[row + i]);
                j << b;
            }
            if (row != size - 16) j << "\\n";
        }
        j << "\",\"resources\":[";
        for (std::size_t i = 0; i < Resources.size(); ++i) j << (i ? "," : "") << Resources[i];
        j << "]";
        if (HasEeprom) {
            j << ",\"eeprom\":[";
            for (std::size_t i = 0; i < Eeprom.size(); ++i) j << (i ? "," : "") << Hex(Eeprom[i]);
            j << "]";
        }
        if (!Faults.empty()) {
            j << ",\"faults\":[";
            for (std::size_t i = 0; i < Faults.size(); ++i) j << (i ? "," : "") << "\"" << Faults[i] << "\"";
            j << "]";
        }
        j << "}";
        return j.str();
    }
};

inline std::string BusJson(const std::vector<SimFunction>& functions) {
    std::string j = "{\"functions\":[";
    for (std::size_t i = 0; i < functions.size(); ++i) j += (i ? "," : "") + functions[i].Json();
    return j + "]}";
}

// A PLX board as it comes configured: registers in BAR 0 (memory) and BAR 1
// (I/O, where the EEPROM control byte lives), a local space in BAR 2, one
// interrupt.
inline SimFunction PlxBoard(uint32_t bus, uint32_t slot, uint16_t device, const std::vector<uint16_t>& eeprom,
                            uint32_t base = 0xF0000000, uint32_t port = 0xE000) {
    SimFunction f(bus, slot, 0);
    f.Ids(0x10B5, device).Dword(0x2C, (uint32_t{device} << 16) | 0x10B5);
    f.Memory(0, base, 0x200).Io(1, port, 0x100).Memory(2, base + 0x100000, 0x10000).Interrupt(11);
    if (!eeprom.empty()) f.WithEeprom(eeprom);
    return f;
}

// Distinct words, so that a word read from the wrong address shows.
inline std::vector<uint16_t> PatternWords(int count, uint16_t seed) {
    std::vector<uint16_t> words;
    for (int i = 0; i < count; ++i) words.push_back(static_cast<uint16_t>(seed * 0x101 + i * 0x1357 + (i << 12)));
    return words;
}

class SilentTones : public ToneSink {
public:
    void Beep(unsigned, int) override {}
    void Pause(int) override {}
};

struct Record {
    int Code;
    std::string Message;
};

// Runs the error log in a fresh folder for one test, with silent beeps.
class LogFolder {
public:
    LogFolder() {
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
        SetToneSink(&tones_);
        StartErrorLog(false, "1.2", "Quorrin", "/");
    }
    ~LogFolder() {
        EndErrorLog(false);
        SetToneSink(nullptr);
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
    }
    const std::string& Dir() const { return dir_; }
    std::string Text() const { return platform::testing::ReadFile(dir_ + "/Quorrin.Log"); }
    // The records of the log; a record runs until the next line that starts
    // with a code, two blanks and a stamp.
    std::vector<Record> Records() const { return Parse(Text()); }

    static bool RecordStart(const std::string& t, std::size_t p) {
        static const char shape[] = "999999  999:99:99:99.999999  ";
        for (std::size_t i = 0; shape[i]; ++i) {
            if (p + i >= t.size()) return false;
            const char c = t[p + i];
            if (shape[i] == '9' ? (c < '0' || c > '9') : c != shape[i]) return false;
        }
        return true;
    }
    static std::vector<Record> Parse(const std::string& t) {
        std::vector<Record> records;
        const std::size_t head = 29;
        std::size_t p = 0;
        while (p < t.size() && RecordStart(t, p)) {
            std::size_t next = p + head;
            while (true) {
                next = t.find("\r\n", next);
                if (next == std::string::npos || next + 2 == t.size() || RecordStart(t, next + 2)) break;
                next += 2;
            }
            const std::size_t end = next == std::string::npos ? t.size() : next;
            records.push_back({std::atoi(t.substr(p, 6).c_str()), t.substr(p + head, end - p - head)});
            p = end == t.size() ? end : end + 2;
        }
        return records;
    }

private:
    platform::testing::TempFolder folder_{"quorrin-log-"};
    std::string dir_ = folder_.Path();
    std::filesystem::path previous_;
    SilentTones tones_;
};

}  // namespace simbus
