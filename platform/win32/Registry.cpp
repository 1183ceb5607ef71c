// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- read-only registry access: a key is opened for
// reading and all its values are copied out.
#include "platform/Registry.h"

#include <windows.h>

#include <vector>

namespace platform {

bool OpenRegistryKey(RegistryRoot root, const std::string& path, RegistryKey& key) {
    if (root != RegistryRoot::LocalMachine) return false;
    HKEY opened = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
    DWORD count = 0, longestName = 0, longestData = 0;
    if (::RegQueryInfoKeyA(opened, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &longestName,
                           &longestData, nullptr, nullptr) != ERROR_SUCCESS) {
        ::RegCloseKey(opened);
        return false;
    }
    RegistryKey result;
    std::vector<char> name(longestName + 1);
    std::vector<BYTE> data(longestData + 1);
    for (DWORD index = 0; index < count; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataLength = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        const LONG status =
            ::RegEnumValueA(opened, index, name.data(), &nameLength, nullptr, &type, data.data(), &dataLength);
        // A value that changed size under us is skipped rather than cut.
        if (status != ERROR_SUCCESS) continue;
        RegistryValue value;
        value.Type = static_cast<RegistryType>(type);
        value.Data.assign(reinterpret_cast<const char*>(data.data()), dataLength);
        result.Values[std::string(name.data(), nameLength)] = std::move(value);
    }
    ::RegCloseKey(opened);
    key = std::move(result);
    return true;
}

}  // namespace platform
