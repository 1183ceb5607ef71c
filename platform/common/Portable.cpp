// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- the pieces that read the same on every system.
#include "platform/Process.h"
#include "platform/Registry.h"

namespace platform {

RegistryValue StringValue(const std::string& text, RegistryType type) {
    RegistryValue value;
    value.Type = type;
    value.Data = text;
    value.Data.push_back('\0');
    return value;
}

RegistryValue DwordValue(uint32_t number) {
    RegistryValue value;
    value.Type = RegistryType::Dword;
    for (int i = 0; i < 4; ++i) value.Data.push_back(static_cast<char>((number >> (8 * i)) & 0xFF));
    return value;
}

// The nice value each class stands for, so both systems answer alike.
int NiceValueFor(PriorityClass priority) {
    switch (priority) {
        case PriorityClass::Idle: return 19;
        case PriorityClass::Normal: return 0;
        case PriorityClass::High: return -10;
        case PriorityClass::Realtime: return -20;
    }
    return 0;
}

}  // namespace platform
