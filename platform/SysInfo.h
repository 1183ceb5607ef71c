// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- the system's version, memory status, drives and
// processor description, in the shape of the classic Windows queries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// The platform identifier this system reports: outside the Windows ones (0
// to 2), so the report never takes Linux for a Windows release.
constexpr uint32_t PlatformIdLinux = 100;

struct VersionInfo {
    uint32_t Major = 0;       // kernel release: 6 of "6.1.0-18-amd64"
    uint32_t Minor = 0;       // 1
    uint32_t Build = 0;       // 0, the patch level
    uint32_t PlatformId = 0;
    std::string ServicePack;  // the distribution's PRETTY_NAME
    std::string SystemName;   // "Linux"
};
bool GetVersionInfo(VersionInfo& info);
// "6.1.0-18-amd64" -> 6, 1, 0; missing or non-numeric parts are 0.
void ParseKernelRelease(const std::string& release, uint32_t& major, uint32_t& minor,
                        uint32_t& build);
// PRETTY_NAME of an os-release text, unquoted; empty when absent.
std::string PrettyNameOf(const std::string& osRelease);

// Byte counts of the memory status.
struct MemoryStatus {
    uint64_t TotalPhys = 0;
    uint64_t AvailPhys = 0;
    uint64_t TotalPageFile = 0;  // physical memory and swap
    uint64_t AvailPageFile = 0;  // available memory and free swap
    uint64_t TotalVirtual = 0;   // the process's user address space
    uint64_t AvailVirtual = 0;   // less what the process has mapped
};
bool GetMemoryStatus(MemoryStatus& status);
// From /proc/meminfo text, the address-space size and the process's VmSize.
MemoryStatus MemoryStatusFrom(const std::string& meminfo, uint64_t addressSpace, uint64_t vmSize);

// Drives: the mounted file systems stand in for the letters from C on.
struct Mount {
    unsigned Id = 0;        // the mount's own number and that of the mount it sits on
    unsigned ParentId = 0;
    std::string MountPoint;
    std::string FsType;
    std::string Source;
    std::string Root;  // the part of the file system mounted there
    unsigned DevMajor = 0;
    unsigned DevMinor = 0;
};
std::vector<Mount> ParseMountInfo(const std::string& mountinfo);
// The mounts that get letters, in letter order: "/" first, then every other
// file system on a block device or the network that is in view (not mounted
// over, nor below a folder something was mounted over later), once each.
std::vector<Mount> DriveMounts(const std::vector<Mount>& mounts);
// The drive-type number of a file system (2 removable, 3 fixed, 4 remote,
// 5 CD-ROM, 6 RAM disk).
int DriveTypeOf(const std::string& fsType, bool removable);

// letter "C" is DriveMounts()[0]; false for a letter without a drive.
bool GetDriveSpace(char letter, uint64_t& totalBytes, uint64_t& freeBytes);
int GetDriveType(char letter);  // 1 for a letter without a drive
// The folder a letter after C stands for ("/home"), so a reader can tell the
// drives apart; empty for C (the root), for a letter without a drive, and on
// Windows, where the letter is the drive's own name.
std::string DriveMountPoint(char letter);

struct SystemInfo {
    uint16_t Architecture = 0;
    int32_t OemId = 0;  // the first 32-bit field: architecture and reserved word
    uint32_t ActiveProcessorMask = 0;
    uint32_t NumberOfProcessors = 0;
    uint32_t ProcessorType = 0;
    uint16_t ProcessorLevel = 0;
    uint16_t ProcessorRevision = 0;
    uint32_t PageSize = 0;
};
constexpr uint16_t ArchitectureUnknown = 0xFFFF;
bool GetSystemInfo(SystemInfo& info);
// From the kernel's machine name and /proc/cpuinfo text; the mask, count and
// page size are left as they are.
void FillProcessorInfo(const std::string& machine, const std::string& cpuinfo, SystemInfo& info);

}  // namespace platform
