// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin pcinfo -- the texts of the PC information block, built from plain
// records so every line can be checked without the machine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "platform/SysInfo.h"

std::string OsName(uint32_t major, uint32_t minor, uint32_t platformId);
std::string PlatformText(uint32_t platformId);
std::string DriveTypeText(int driveType);
std::string ArchitectureText(uint32_t architecture);
std::string ProcessorTypeText(uint32_t processorType);

// The rendering of ReadRegistryText for a value of an opened key; nullptr
// for a value the key does not have.
std::string RegistryValueText(const platform::RegistryValue* value);

struct OsData {
    bool Bits64 = false;
    platform::VersionInfo Version;
    std::string Suite;  // ReadRegistryText of ProductSuite
};
std::string OsInfoText(const OsData& os);

std::string MemoryInfoText(const platform::MemoryStatus& memory);

struct DriveData {
    char Letter = 'C';
    uint64_t TotalBytes = 0;
    uint64_t FreeBytes = 0;
    int Type = 0;
    std::string MountPoint;  // shown after the letter when not empty
};
std::string DiskInfoText(const std::vector<DriveData>& drives);

struct CpuData {
    platform::SystemInfo System;
    std::string Speed;   // ReadRegistryText of "~MHz"
    std::string Vendor;  // of "VendorIdentifier"
    std::string Name;    // of "ProcessorNameString"
};
std::string CpuInfoText(const CpuData& cpu);
