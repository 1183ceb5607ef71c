// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin pcinfo -- gathers the machine's description through the platform
// layer and writes it to the log as six records.
#include "pcinfo/PcInfoUnit.h"

#include <cctype>

#include "log/wexerrorlog.h"
#include "pcinfo/PcInfoText.h"
#include "platform/Process.h"
#include "platform/SysInfo.h"

namespace {

const char* const ProcessorKey = "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";
const char* const ProductOptionsKey = "SYSTEM\\CurrentControlSet\\Control\\ProductOptions";

}  // namespace

std::string ReadRegistryText(platform::RegistryRoot root, const std::string& key, const std::string& value) {
    try {
        platform::RegistryKey opened;
        if (!platform::OpenRegistryKey(root, key, opened)) return "";
        auto found = opened.Values.find(value);
        return RegistryValueText(found == opened.Values.end() ? nullptr : &found->second);
    } catch (...) {
        return "";
    }
}

bool DriveSpace(char letter, uint64_t& totalBytes, uint64_t& freeBytes) {
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    if (upper < 'A' || upper > 'Z') return false;
    try {
        return platform::GetDriveSpace(upper, totalBytes, freeBytes);
    } catch (...) {
        return false;
    }
}

void WriteOsInfo() {
    try {
        OsData os;
        // For a 32-bit process WOW64 alone means a 64-bit system; a 64-bit
        // process runs on one by definition.
        os.Bits64 = platform::IsWow64Process() || sizeof(void*) == 8;
        platform::GetVersionInfo(os.Version);
        os.Suite = ReadRegistryText(LocalMachine, ProductOptionsKey, "ProductSuite");
        LogInfo(OsInfoText(os), 0, false);
    } catch (...) {
    }
}

void WriteMemoryInfo() {
    try {
        platform::MemoryStatus memory;
        platform::GetMemoryStatus(memory);  // its result is not looked at
        LogInfo(MemoryInfoText(memory), 0, false);
    } catch (...) {
    }
}

void WriteDiskInfo() {
    try {
        std::vector<DriveData> drives;
        for (char letter = 'C'; letter <= 'Z'; ++letter) {
            DriveData d;
            d.Letter = letter;
            if (!DriveSpace(letter, d.TotalBytes, d.FreeBytes)) continue;
            d.Type = platform::GetDriveType(letter);
            d.MountPoint = platform::DriveMountPoint(letter);
            drives.push_back(d);
        }
        LogInfo(DiskInfoText(drives), 0, false);
    } catch (...) {
    }
}

void WriteCpuInfo() {
    try {
        CpuData cpu;
        platform::GetSystemInfo(cpu.System);
        cpu.Speed = ReadRegistryText(LocalMachine, ProcessorKey, "~MHz");
        cpu.Vendor = ReadRegistryText(LocalMachine, ProcessorKey, "VendorIdentifier");
        cpu.Name = ReadRegistryText(LocalMachine, ProcessorKey, "ProcessorNameString");
        LogInfo(CpuInfoText(cpu), 0, false);
    } catch (...) {
    }
}

void WritePcInfo() {
    LogInfo(">>>>>>>>>>>>>>>>>   PC INFO  <<<<<<<<<<<<<<<<<<<<<<\r\n", 0, false);
    WriteOsInfo();
    WriteMemoryInfo();
    WriteDiskInfo();
    WriteCpuInfo();
    LogInfo(">>>>>>>>>>>>>>>>> END PC INFO <<<<<<<<<<<<<<<<<<<<<<\r\n", 0, false);
}
