// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- the classic Windows queries of version, memory
// status, drives and processor.
#include "platform/SysInfo.h"

#include <windows.h>

// windows.h makes GetDriveType a macro for its A/W variants; ours is a
// function of its own name.
#undef GetDriveType

namespace platform {

namespace {

bool DriveLetterOk(char letter) { return letter >= 'A' && letter <= 'Z'; }

}  // namespace

// The classic 148-byte record: the service pack comes as text, and the call
// answers on every Windows release the program may meet.
bool GetVersionInfo(VersionInfo& info) {
    OSVERSIONINFOA version{};
    static_assert(sizeof version == 148);
    version.dwOSVersionInfoSize = sizeof version;
    if (!::GetVersionExA(&version)) return false;
    info.Major = version.dwMajorVersion;
    info.Minor = version.dwMinorVersion;
    info.Build = version.dwBuildNumber;
    info.PlatformId = version.dwPlatformId;
    version.szCSDVersion[sizeof version.szCSDVersion - 1] = '\0';
    info.ServicePack = version.szCSDVersion;
    info.SystemName = "Windows";
    return true;
}

bool GetMemoryStatus(MemoryStatus& status) {
    MEMORYSTATUSEX memory{};
    static_assert(sizeof memory == 64);
    memory.dwLength = sizeof memory;
    if (!::GlobalMemoryStatusEx(&memory)) return false;
    status.TotalPhys = memory.ullTotalPhys;
    status.AvailPhys = memory.ullAvailPhys;
    status.TotalPageFile = memory.ullTotalPageFile;
    status.AvailPageFile = memory.ullAvailPageFile;
    status.TotalVirtual = memory.ullTotalVirtual;
    status.AvailVirtual = memory.ullAvailVirtual;
    return true;
}

// "C:", no backslash: the total size and all free bytes of that drive (the
// bytes free to this caller are not wanted).
bool GetDriveSpace(char letter, uint64_t& totalBytes, uint64_t& freeBytes) {
    if (!DriveLetterOk(letter)) return false;
    const char root[] = {letter, ':', '\0'};
    ULARGE_INTEGER available{}, total{}, free{};
    // A drive without a medium must not stop the report with a system box.
    const UINT previous = ::SetErrorMode(SEM_FAILCRITICALERRORS);
    const BOOL ok = ::GetDiskFreeSpaceExA(root, &available, &total, &free);
    ::SetErrorMode(previous);
    if (!ok) return false;
    totalBytes = total.QuadPart;
    freeBytes = free.QuadPart;
    return true;
}

// The type query wants the root with its backslash: "C:" alone names the
// drive's current folder and can read as "no root directory".
int GetDriveType(char letter) {
    if (!DriveLetterOk(letter)) return DRIVE_NO_ROOT_DIR;
    const char root[] = {letter, ':', '\\', '\0'};
    return static_cast<int>(::GetDriveTypeA(root));
}

// A letter names its drive by itself here.
std::string DriveMountPoint(char) {
    return "";
}

// Not the native variant: a 32-bit process on 64-bit Windows is shown the
// 32-bit view, as the report expects.
bool GetSystemInfo(SystemInfo& info) {
    SYSTEM_INFO system{};
    ::GetSystemInfo(&system);
    info.Architecture = system.wProcessorArchitecture;
    info.OemId = static_cast<int32_t>(system.dwOemId);
    info.ActiveProcessorMask = static_cast<uint32_t>(system.dwActiveProcessorMask);
    info.NumberOfProcessors = system.dwNumberOfProcessors;
    info.ProcessorType = system.dwProcessorType;
    info.ProcessorLevel = system.wProcessorLevel;
    info.ProcessorRevision = system.wProcessorRevision;
    info.PageSize = system.dwPageSize;
    return true;
}

}  // namespace platform
