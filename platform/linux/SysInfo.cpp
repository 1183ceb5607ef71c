// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer on Linux -- version, memory status, drives and the
// processor description from uname, /proc, /sys and statvfs.
#include "platform/SysInfo.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <sstream>

#include "platform/Process.h"
#include "platform/linux/TextFile.h"

namespace platform {
namespace {

uint32_t LeadingNumber(const std::string& text, std::size_t& pos) {
    uint64_t value = 0;
    bool any = false;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
        if (value < 0xFFFFFFFFull) value = value * 10 + static_cast<unsigned>(text[pos] - '0');
        any = true;
        ++pos;
    }
    if (value > 0xFFFFFFFFull) value = 0xFFFFFFFFull;
    return any ? static_cast<uint32_t>(value) : 0;
}

// "Key:   value" lines of /proc/meminfo and /proc/self/status, in kB.
uint64_t KiloField(const std::string& text, const std::string& key) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.compare(0, key.size(), key) != 0 || line.size() <= key.size() ||
            line[key.size()] != ':')
            continue;
        std::istringstream rest(line.substr(key.size() + 1));
        uint64_t kb = 0;
        rest >> kb;
        return kb * 1024;
    }
    return 0;
}

// "key\t: value" lines of /proc/cpuinfo, first processor only.
std::string CpuField(const std::string& cpuinfo, const std::string& key) {
    std::istringstream lines(cpuinfo);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty()) break;  // end of the first processor's block
        std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string name = line.substr(0, colon);
        while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) name.pop_back();
        if (name != key) continue;
        std::size_t start = line.find_first_not_of(" \t", colon + 1);
        return start == std::string::npos ? std::string() : line.substr(start);
    }
    return {};
}

// mountinfo escapes blanks and a few other characters as \ooo.
std::string Unescape(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() &&
            std::isdigit(static_cast<unsigned char>(field[i + 1])) &&
            std::isdigit(static_cast<unsigned char>(field[i + 2])) &&
            std::isdigit(static_cast<unsigned char>(field[i + 3]))) {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                     (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

bool IsNetworkFs(const std::string& type) {
    static const char* const network[] = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "ncpfs",
                                          "afs", "ceph", "glusterfs", "fuse.sshfs", "9p"};
    for (const char* n : network)
        if (type == n) return true;
    return false;
}

std::vector<Mount> CurrentDrives() { return DriveMounts(ParseMountInfo(ReadWholeFile("/proc/self/mountinfo"))); }

bool DriveOf(char letter, Mount& mount) {
    char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    if (upper < 'C' || upper > 'Z') return false;
    std::vector<Mount> drives = CurrentDrives();
    std::size_t index = static_cast<std::size_t>(upper - 'C');
    if (index >= drives.size()) return false;
    mount = drives[index];
    return true;
}

bool IsRemovable(unsigned major, unsigned minor) {
    std::string base = "/sys/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
    // A partition's removable flag is its disk's, one folder up.
    std::string flag = ReadWholeFile(base + "/removable");
    if (flag.empty()) flag = ReadWholeFile(base + "/../removable");
    return !flag.empty() && flag[0] == '1';
}

uint64_t UserAddressSpace() {
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        return static_cast<uint64_t>(limit.rlim_cur);
    if (sizeof(void*) == 4) return IsWow64Process() ? (4ull << 30) : (3ull << 30);
#if defined(__x86_64__)
    return (1ull << 47) - 4096;  // the kernel's TASK_SIZE
#else
    return 1ull << 48;
#endif
}

}  // namespace

void ParseKernelRelease(const std::string& release, uint32_t& major, uint32_t& minor,
                        uint32_t& build) {
    uint32_t parts[3] = {0, 0, 0};
    std::size_t pos = 0;
    for (int i = 0; i < 3; ++i) {
        parts[i] = LeadingNumber(release, pos);
        if (pos >= release.size() || release[pos] != '.') break;
        ++pos;
    }
    major = parts[0];
    minor = parts[1];
    build = parts[2];
}

std::string PrettyNameOf(const std::string& osRelease) {
    std::istringstream lines(osRelease);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("PRETTY_NAME=", 0) != 0) continue;
        std::string value = line.substr(12);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return value;
    }
    return {};
}

bool GetVersionInfo(VersionInfo& info) {
    utsname u{};
    if (uname(&u) != 0) return false;
    ParseKernelRelease(u.release, info.Major, info.Minor, info.Build);
    info.PlatformId = PlatformIdLinux;
    info.SystemName = u.sysname;
    std::string osRelease = ReadWholeFile("/etc/os-release");
    if (osRelease.empty()) osRelease = ReadWholeFile("/usr/lib/os-release");
    info.ServicePack = PrettyNameOf(osRelease);
    return true;
}

MemoryStatus MemoryStatusFrom(const std::string& meminfo, uint64_t addressSpace, uint64_t vmSize) {
    MemoryStatus s;
    s.TotalPhys = KiloField(meminfo, "MemTotal");
    s.AvailPhys = KiloField(meminfo, "MemAvailable");
    if (s.AvailPhys == 0) s.AvailPhys = KiloField(meminfo, "MemFree");  // kernels before 3.14
    // Windows' page-file figures count physical memory and the page file
    // together; the kernel's commit limit is another number altogether.
    s.TotalPageFile = s.TotalPhys + KiloField(meminfo, "SwapTotal");
    s.AvailPageFile = s.AvailPhys + KiloField(meminfo, "SwapFree");
    s.TotalVirtual = addressSpace;
    s.AvailVirtual = vmSize < addressSpace ? addressSpace - vmSize : 0;
    return s;
}

bool GetMemoryStatus(MemoryStatus& status) {
    std::string meminfo = ReadWholeFile("/proc/meminfo");
    if (meminfo.empty()) return false;
    status = MemoryStatusFrom(meminfo, UserAddressSpace(),
                              KiloField(ReadWholeFile("/proc/self/status"), "VmSize"));
    return true;
}

std::vector<Mount> ParseMountInfo(const std::string& mountinfo) {
    // id parent major:minor root mountpoint options [optional...] - type source super
    std::vector<Mount> mounts;
    std::istringstream lines(mountinfo);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string id, parent, dev, root, point, options, field;
        if (!(fields >> id >> parent >> dev >> root >> point >> options)) continue;
        while (fields >> field && field != "-") {
        }
        if (field != "-") continue;
        Mount m;
        if (!(fields >> m.FsType >> m.Source)) continue;
        std::size_t at = 0;
        m.Id = LeadingNumber(id, at);
        at = 0;
        m.ParentId = LeadingNumber(parent, at);
        std::size_t colon = dev.find(':');
        if (colon == std::string::npos) continue;
        std::size_t pos = 0;
        m.DevMajor = LeadingNumber(dev, pos);
        pos = colon + 1;
        m.DevMinor = LeadingNumber(dev, pos);
        m.Root = Unescape(root);
        m.MountPoint = Unescape(point);
        m.Source = Unescape(m.Source);
        mounts.push_back(std::move(m));
    }
    return mounts;
}

namespace {

// True when `folder` is `point` or a folder above it.
bool Covers(const std::string& folder, const std::string& point) {
    if (folder == "/" || folder == point) return true;
    return point.size() > folder.size() && point.compare(0, folder.size(), folder) == 0 && point[folder.size()] == '/';
}

bool IsAncestor(const std::vector<Mount>& mounts, const Mount& of, unsigned id) {
    unsigned parent = of.ParentId;
    for (std::size_t step = 0; step < mounts.size(); ++step) {  // bounded: a loop in the list ends too
        if (parent == id) return true;
        const Mount* next = nullptr;
        for (const Mount& m : mounts)
            if (m.Id == parent) next = &m;
        if (next == nullptr || next->Id == next->ParentId) return false;
        parent = next->ParentId;
    }
    return false;
}

// mountinfo lists mounts in the order they were made. A mount is out of
// view when one made later sits on its folder or on a folder above it
// without sitting inside it: a file system mounted over another one, or
// over the folder that held it.
std::vector<bool> InView(const std::vector<Mount>& mounts) {
    std::vector<bool> view(mounts.size(), true);
    for (std::size_t i = 0; i < mounts.size(); ++i)
        for (std::size_t j = i + 1; j < mounts.size() && view[i]; ++j)
            if (Covers(mounts[j].MountPoint, mounts[i].MountPoint) && !IsAncestor(mounts, mounts[i], mounts[j].Id))
                view[i] = false;
    return view;
}

}  // namespace

std::vector<Mount> DriveMounts(const std::vector<Mount>& mounts) {
    std::vector<Mount> drives;
    auto seen = [&](const Mount& m) {
        for (const Mount& d : drives)
            if (d.DevMajor == m.DevMajor && d.DevMinor == m.DevMinor) return true;
        return false;
    };
    const std::vector<bool> view = InView(mounts);
    // The mount on "/" in view; should the list say none is, the last.
    const Mount* root = nullptr;
    for (std::size_t i = 0; i < mounts.size(); ++i)
        if (mounts[i].MountPoint == "/" && view[i]) root = &mounts[i];
    for (auto it = mounts.rbegin(); root == nullptr && it != mounts.rend(); ++it)
        if (it->MountPoint == "/") root = &*it;
    if (root != nullptr) drives.push_back(*root);
    for (std::size_t i = 0; i < mounts.size(); ++i) {
        const Mount& m = mounts[i];
        if (!view[i]) continue;
        if (m.MountPoint == "/" || m.Root != "/") continue;  // bind mounts of a part
        bool block = m.Source.rfind("/dev/", 0) == 0 && m.DevMajor != 0;
        if (!block && !IsNetworkFs(m.FsType)) continue;
        if (seen(m)) continue;
        drives.push_back(m);
        if (drives.size() == 24) break;  // C to Z
    }
    return drives;
}

int DriveTypeOf(const std::string& fsType, bool removable) {
    if (IsNetworkFs(fsType)) return 4;
    if (fsType == "iso9660" || fsType == "udf") return 5;
    if (fsType == "tmpfs" || fsType == "ramfs") return 6;
    if (removable) return 2;
    return 3;
}

bool GetDriveSpace(char letter, uint64_t& totalBytes, uint64_t& freeBytes) {
    Mount m;
    if (!DriveOf(letter, m)) return false;
    struct statvfs s{};
    if (statvfs(m.MountPoint.c_str(), &s) != 0) return false;
    uint64_t unit = s.f_frsize ? s.f_frsize : s.f_bsize;
    totalBytes = static_cast<uint64_t>(s.f_blocks) * unit;
    freeBytes = static_cast<uint64_t>(s.f_bfree) * unit;
    return true;
}

int GetDriveType(char letter) {
    Mount m;
    if (!DriveOf(letter, m)) return 1;
    return DriveTypeOf(m.FsType, m.DevMajor != 0 && IsRemovable(m.DevMajor, m.DevMinor));
}

std::string DriveMountPoint(char letter) {
    Mount m;
    if (!DriveOf(letter, m) || m.MountPoint == "/") return "";
    return m.MountPoint;
}

void FillProcessorInfo(const std::string& machine, const std::string& cpuinfo, SystemInfo& info) {
    auto number = [&](const std::string& key) {
        std::string text = CpuField(cpuinfo, key);
        std::size_t pos = 0;
        return LeadingNumber(text, pos);
    };
    info.ProcessorType = 0;
    info.ProcessorLevel = 0;
    info.ProcessorRevision = 0;
    bool x86 = machine == "x86_64" || (machine.size() == 4 && machine[0] == 'i' &&
                                       machine.compare(2, 2, "86") == 0);
    if (x86) {
        // A 32-bit program sees an x86 processor of type Pentium on either
        // kind of kernel; family, model and stepping fill level and revision.
        info.Architecture = 0;
        info.ProcessorType = 586;
        info.ProcessorLevel = static_cast<uint16_t>(number("cpu family"));
        info.ProcessorRevision =
            static_cast<uint16_t>(((number("model") & 0xFF) << 8) | (number("stepping") & 0xFF));
    } else if (machine.rfind("arm", 0) == 0 || machine == "aarch64") {
        info.Architecture = 5;
    } else if (machine.rfind("ppc", 0) == 0) {
        info.Architecture = 3;
    } else if (machine.rfind("mips", 0) == 0) {
        info.Architecture = 1;
    } else if (machine == "alpha") {
        info.Architecture = 2;
    } else if (machine == "ia64") {
        info.Architecture = 6;
    } else {
        info.Architecture = ArchitectureUnknown;
    }
    info.OemId = info.Architecture;  // the reserved half-word is zero
}

bool GetSystemInfo(SystemInfo& info) {
    utsname u{};
    if (uname(&u) != 0) return false;
    FillProcessorInfo(u.machine, ReadWholeFile("/proc/cpuinfo"), info);
    cpu_set_t set;
    CPU_ZERO(&set);
    info.ActiveProcessorMask = 0;
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        for (int cpu = 0; cpu < 32; ++cpu)
            if (CPU_ISSET(cpu, &set)) info.ActiveProcessorMask |= 1u << cpu;
    long count = sysconf(_SC_NPROCESSORS_ONLN);
    info.NumberOfProcessors = count > 0 ? static_cast<uint32_t>(count) : 1;
    long page = sysconf(_SC_PAGESIZE);
    info.PageSize = page > 0 ? static_cast<uint32_t>(page) : 4096;
    return true;
}

}  // namespace platform
