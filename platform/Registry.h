// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- a read-only view of the few registry values the
// PC information report asks for, answered from the system's own sources.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace platform {

enum class RegistryRoot { LocalMachine };

// The stored types, with the Windows numbers.
enum class RegistryType { None = 0, String = 1, ExpandString = 2, Binary = 3, Dword = 4, MultiString = 7 };

struct RegistryValue {
    RegistryType Type = RegistryType::None;
    std::string Data;  // the stored bytes: text with its terminator, a dword little-endian
};

// The values of one key, by name.
struct RegistryKey {
    std::map<std::string, RegistryValue> Values;
};

// Key paths are written with "\" as in the registry. False for a key this
// system does not have.
bool OpenRegistryKey(RegistryRoot root, const std::string& path, RegistryKey& key);

// Value constructors in the registry's stored form.
RegistryValue StringValue(const std::string& text, RegistryType type = RegistryType::String);
RegistryValue DwordValue(uint32_t value);

// The processor key "HARDWARE\DESCRIPTION\System\CentralProcessor\0" built
// from /proc/cpuinfo text: "~MHz", "VendorIdentifier", "ProcessorNameString"
// for the first processor, each only when the text has it.
RegistryKey ProcessorKeyFromCpuInfo(const std::string& cpuinfo);

}  // namespace platform
