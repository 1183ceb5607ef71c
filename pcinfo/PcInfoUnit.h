// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin pcinfo -- the operating-system, memory, disk and processor block
// written to the log at every start.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Registry.h"

void WritePcInfo();
void WriteOsInfo();
void WriteMemoryInfo();
void WriteDiskInfo();
void WriteCpuInfo();

// HKEY_LOCAL_MACHINE of the Windows registry.
constexpr platform::RegistryRoot LocalMachine = platform::RegistryRoot::LocalMachine;

// A registry value as text: strings as stored, a dword as a signed number,
// anything else (or a missing value) as its bytes in " (...)"; empty when
// the key cannot be opened.
std::string ReadRegistryText(platform::RegistryRoot root, const std::string& key, const std::string& value);

// Total and free bytes of a drive, "A" to "Z" in either case.
bool DriveSpace(char letter, uint64_t& totalBytes, uint64_t& freeBytes);
