// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin pcinfo -- the lookup tables and the section texts.
#include "pcinfo/PcInfoText.h"

#include <algorithm>
#include <cstring>

#include "format/NumberFormat.h"

namespace {

const char* const NL = "\r\n";
constexpr double BytesPerMB = 1024000.0;  // 1000 x 1024, as the block has always counted
constexpr std::size_t RegistryBufferSize = 4096;

std::string MB(uint64_t bytes) { return DecimalText(static_cast<double>(bytes) / BytesPerMB, 10, 3); }

// A folder name may hold any byte but the log's line ends must stay its own.
std::string Printable(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }, '?');
    return text;
}

}  // namespace

std::string OsName(uint32_t major, uint32_t minor, uint32_t platformId) {
    switch (major) {
        case 3: return minor == 51 ? "Windows NT 3.51" : "Unknown (NT 3.X ?)";
        case 4:
            if (minor == 10) return "Windows 98";
            if (minor == 90) return "Windows Me";
            if (minor == 0) return platformId == 2 ? "Windows NT 4.0" : "Windows 95";
            return "Windows ??";
        case 5:
            if (minor == 0) return "Windows 2000";
            if (minor == 1) return "Windows XP";
            if (minor == 2) return "Windows Server 2003 family";
            return "Newer Windows Version";
        case 6:
            if (minor == 0) return "Vista";
            if (minor == 1) return "Windows 7";
            return "Newer Windows Version";
        default: return "";
    }
}

std::string PlatformText(uint32_t platformId) {
    switch (platformId) {
        case 0: return "Win32s under Windows 3.x";
        case 1: return "Windows 95, Windows 98, or Windows Me.";
        case 2: return "Windows NT, Windows 2000, Windows XP, Windows 7, or Windows Server 2003 family.";
        default: return "A Windows version NOT SUPPORTED at this time";
    }
}

std::string DriveTypeText(int driveType) {
    switch (driveType) {
        case 0: return "The drive type cannot be determined.";
        case 1: return "The root directory does not exist.";
        case 2: return "Removable.";
        case 3: return "Fixed.";
        case 4: return "Remote (network).";
        case 5: return "CD-ROM.";
        case 6: return "RAM disk.";
        default: return "The drive type is not valid.";
    }
}

std::string ArchitectureText(uint32_t architecture) {
    static const char* const names[] = {
        "PROCESSOR_ARCHITECTURE_INTEL", "PROCESSOR_ARCHITECTURE_MIPS",  "PROCESSOR_ARCHITECTURE_ALPHA",
        "PROCESSOR_ARCHITECTURE_PPC",   "PROCESSOR_ARCHITECTURE_SHX",   "PROCESSOR_ARCHITECTURE_ARM",
        "PROCESSOR_ARCHITECTURE_IA64",  "PROCESSOR_ARCHITECTURE_ALPHA64", "PROCESSOR_ARCHITECTURE_MSIL",
    };
    return architecture < std::size(names) ? names[architecture] : "PROCESSOR_ARCHITECTURE_UNKNOWN";
}

std::string ProcessorTypeText(uint32_t processorType) {
    switch (processorType) {
        case 386: return "Intel 386";
        case 486: return "Intel 486";
        case 586: return "Intel Pentium";
        case 601: return "PPC 601";
        case 603: return "PPC 603";
        case 604: return "PPC 604";
        case 620: return "PPC 620";
        case 860: return "Intel 860";
        case 2000: return "MIPS R2000";
        case 3000: return "MIPS R3000";
        case 4000: return "MIPS R4000";
        case 21064: return "ALPHA 21064";
        default: return "";
    }
}

std::string RegistryValueText(const platform::RegistryValue* value) {
    using platform::RegistryType;
    if (value && (value->Type == RegistryType::String || value->Type == RegistryType::ExpandString))
        return std::string(value->Data.c_str());  // up to its terminator, not expanded
    if (value && value->Type == RegistryType::Dword) {
        if (value->Data.size() != 4) return "";  // not readable as a dword
        uint32_t raw = 0;
        for (int i = 0; i < 4; ++i)
            raw |= static_cast<uint32_t>(static_cast<unsigned char>(value->Data[i])) << (8 * i);
        return std::to_string(static_cast<int32_t>(raw));
    }
    // Binary, any other type, or no value: the bytes but the last, a zero
    // byte shown as two blanks. A value past the read buffer shows what the
    // buffer holds.
    std::string body;
    if (value) {
        const std::size_t size = std::min(value->Data.size(), RegistryBufferSize);
        for (std::size_t i = 0; i + 1 < size; ++i) {
            const char c = value->Data[i];
            if (c != '\0')
                body += c;
            else
                body += "  ";
        }
    }
    return " (" + body + ")";
}

std::string OsInfoText(const OsData& os) {
    const platform::VersionInfo& v = os.Version;
    // The Windows names belong to the Windows platforms only; on any other
    // the system names itself, so it is never taken for a Windows release.
    const std::string name = v.PlatformId <= 2 ? OsName(v.Major, v.Minor, v.PlatformId) : v.SystemName;
    std::string t = ".......  O/S INFO ......." + std::string(NL);
    t += "  O/S Bits      : " + std::string(os.Bits64 ? "64" : "32") + NL;
    t += "  Major Version : " + DecimalText(v.Major, 5, 0) + NL;
    t += "  Minor Version : " + DecimalText(v.Minor, 5, 0) + NL;
    t += "  O/S Name      : " + name + NL;
    t += "  Build         : " + DecimalText(v.Build, 9, 0) + NL;
    t += "  Platform ID   : (" + DecimalText(v.PlatformId, 5, 0) + ")  " + PlatformText(v.PlatformId) + NL;
    t += "  Service Pack  : " + v.ServicePack + NL;
    if (!os.Suite.empty()) t += "  Product Suite : " + os.Suite + NL;
    t += NL;
    return t;
}

std::string MemoryInfoText(const platform::MemoryStatus& m) {
    std::string t = ".......  PC MEMORY INFO ......." + std::string(NL);
    t += "  Memory (Total)              : " + MB(m.TotalPhys) + " MB " + NL;
    t += "  Memory (Available)          : " + MB(m.AvailPhys) + " MB " + NL;
    t += "  Page(Swap)File (Total)      : " + MB(m.TotalPageFile) + " MB " + NL;
    t += "  Page(Swap)File (Available)  : " + MB(m.AvailPageFile) + " MB " + NL;
    t += "  Virtual Memory (Total)      : " + MB(m.TotalVirtual) + " MB " + NL;
    t += "  Virtual Memory (Available)  : " + MB(m.AvailVirtual) + " MB " + NL;
    t += NL;
    return t;
}

std::string DiskInfoText(const std::vector<DriveData>& drives) {
    std::string t = ".......  DISK INFO ......." + std::string(NL);
    for (const DriveData& d : drives) {
        t += "Disk " + std::string(1, d.Letter);
        if (!d.MountPoint.empty()) t += "  (" + Printable(d.MountPoint) + ")";
        t += NL;
        t += "  Total Space : " + MB(d.TotalBytes) + " MBytes " + NL;
        t += "  Free Space  : " + MB(d.FreeBytes) + " MBytes " + NL;
        t += "    Drive Type  : " + DriveTypeText(d.Type) + NL;
        t += NL;
    }
    t += "  Number of Drives : " + DecimalText(static_cast<double>(drives.size()), 3, 0) + NL + NL;
    return t;
}

std::string CpuInfoText(const CpuData& cpu) {
    const platform::SystemInfo& s = cpu.System;
    std::string level;
    if (s.Architecture == 0)
        level = "x86 Family " + std::to_string(s.ProcessorLevel) + " Model " +
                std::to_string(s.ProcessorRevision >> 8) + " Stepping " +
                std::to_string(s.ProcessorRevision & 0xFF);
    const std::string speed = cpu.Speed.empty() ? "N/A" : cpu.Speed + " MHz";
    std::string oem = std::to_string(s.OemId);
    if (!cpu.Vendor.empty()) oem += " (" + cpu.Vendor + ")";
    std::string t = ".......  CPU INFO ......." + std::string(NL);
    t += "  Architecture                : " + ArchitectureText(s.Architecture) + NL;
    t += "  OEM ID (vendor)             : " + oem + NL;
    t += "  Active processor mask       : " + Hex32Text(s.ActiveProcessorMask, 2, true) + NL;
    t += "  Number of processors        : " + DecimalText(s.NumberOfProcessors, 2, 0) + NL;
    t += "  Processor type              : " + ProcessorTypeText(s.ProcessorType) + NL;
    if (!level.empty()) t += "  Processor level             : " + level + NL;
    t += "  Processor name              : " + cpu.Name + NL;
    t += "  Speed (registry)            : " + speed + NL;
    t += "  Processor Revision          : " + DecimalText(s.ProcessorRevision, 9, 0) + NL;
    t += "  Page size (KBytes)          : " + DecimalText(s.PageSize / 1024, 3, 0) + NL;
    t += NL;
    return t;
}
