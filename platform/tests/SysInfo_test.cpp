// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the system queries' parsers: kernel release, os-release,
// meminfo, mountinfo and its drive letters, cpuinfo.
#include "platform/SysInfo.h"

#include <gtest/gtest.h>

namespace {

TEST(ParseKernelRelease, TakesTheLeadingNumbers) {
    const struct {
        const char* Release;
        uint32_t Major, Minor, Build;
    } cases[] = {
        {"6.1.0-18-amd64", 6, 1, 0}, {"6.18.44-fc-v1403", 6, 18, 44}, {"5.15.153.1-microsoft-standard-WSL2", 5, 15, 153},
        {"4.19", 4, 19, 0},          {"3", 3, 0, 0},                 {"", 0, 0, 0},
        {"abc", 0, 0, 0},            {"99999999999.1.2", 0xFFFFFFFFu, 1, 2},
    };
    for (const auto& c : cases) {
        uint32_t major = 7, minor = 7, build = 7;
        platform::ParseKernelRelease(c.Release, major, minor, build);
        EXPECT_EQ(major, c.Major) << c.Release;
        EXPECT_EQ(minor, c.Minor) << c.Release;
        EXPECT_EQ(build, c.Build) << c.Release;
    }
}

TEST(PrettyNameOf, UnquotesTheValue) {
    EXPECT_EQ(platform::PrettyNameOf("NAME=\"Debian\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"),
              "Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(platform::PrettyNameOf("PRETTY_NAME='Alpine'\n"), "Alpine");
    EXPECT_EQ(platform::PrettyNameOf("PRETTY_NAME=Plain\n"), "Plain");
    EXPECT_EQ(platform::PrettyNameOf("NAME=x\n"), "");
}

TEST(MemoryStatusFrom, ReadsTheCountsInBytes) {
    // The page-file figures are memory and swap together, as on Windows;
    // the kernel's commit limit is not one of them.
    const std::string meminfo =
        "MemTotal:       16000000 kB\nMemFree:  100 kB\nMemAvailable:    8000000 kB\n"
        "SwapTotal:       2000000 kB\nSwapFree:         500000 kB\n"
        "CommitLimit:    10000000 kB\nCommitted_AS:    4000000 kB\n";
    auto m = platform::MemoryStatusFrom(meminfo, 1ull << 47, 1000);
    EXPECT_EQ(m.TotalPhys, 16000000ull * 1024);
    EXPECT_EQ(m.AvailPhys, 8000000ull * 1024);
    EXPECT_EQ(m.TotalPageFile, 18000000ull * 1024);
    EXPECT_EQ(m.AvailPageFile, 8500000ull * 1024);
    EXPECT_EQ(m.TotalVirtual, 1ull << 47);
    EXPECT_EQ(m.AvailVirtual, (1ull << 47) - 1000);
    // No swap: the page file is the memory alone.
    auto noSwap =
        platform::MemoryStatusFrom("MemTotal: 10 kB\nMemAvailable: 4 kB\nCommitLimit: 5 kB\n", 100, 200);
    EXPECT_EQ(noSwap.TotalPageFile, 10u * 1024);
    EXPECT_EQ(noSwap.AvailPageFile, 4u * 1024);
    EXPECT_EQ(noSwap.AvailVirtual, 0u);  // more mapped than there is: none, not a wrapped-around number
    // Old kernels without MemAvailable.
    EXPECT_EQ(platform::MemoryStatusFrom("MemFree: 5 kB\n", 0, 0).AvailPhys, 5u * 1024);
}

const char* const Mounts =
    "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
    "24 27 0:6 / /dev rw - devtmpfs devtmpfs rw\n"
    "25 24 0:23 / /dev/shm rw - tmpfs tmpfs rw\n"
    "27 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
    "30 27 254:1 / /home rw shared:2 - xfs /dev/vdb1 rw\n"
    "31 27 254:0 /srv /mnt/bind rw - ext4 /dev/vda rw\n"
    "32 27 0:40 / /mnt/nfs rw - nfs4 server:/export rw\n"
    "33 27 11:0 / /media/My\\040Disc ro - iso9660 /dev/sr0 ro\n"
    "34 27 254:1 / /home2 rw - xfs /dev/vdb1 rw\n"
    "broken line\n";

TEST(ParseMountInfo, ReadsFieldsAndEscapes) {
    auto m = platform::ParseMountInfo(Mounts);
    ASSERT_EQ(m.size(), 9u);
    EXPECT_EQ(m[3].MountPoint, "/");
    EXPECT_EQ(m[3].FsType, "ext4");
    EXPECT_EQ(m[3].Source, "/dev/vda");
    EXPECT_EQ(m[3].DevMajor, 254u);
    EXPECT_EQ(m[3].DevMinor, 0u);
    EXPECT_EQ(m[4].FsType, "xfs");  // optional fields before "-" are skipped
    EXPECT_EQ(m[5].Root, "/srv");
    EXPECT_EQ(m[7].MountPoint, "/media/My Disc");
}

TEST(DriveMounts, RootFirstThenRealFileSystemsOnce) {
    auto drives = platform::DriveMounts(platform::ParseMountInfo(Mounts));
    std::vector<std::string> points;
    for (const auto& d : drives) points.push_back(d.MountPoint);
    // Pseudo file systems, the bind mount of a part and the second mount of
    // /dev/vdb1 get no letter.
    EXPECT_EQ(points, (std::vector<std::string>{"/", "/home", "/mnt/nfs", "/media/My Disc"}));
}

// A file system mounted over another, or over the folder that held one,
// hides it: only the mount in view gets a letter.
TEST(DriveMounts, OnlyTheMountInViewCounts) {
    struct Case {
        const char* what;
        std::string mountinfo;
        std::vector<std::string> sources;
    };
    const std::string root = "1 0 8:0 / / rw - ext4 /dev/sda rw\n";
    const Case cases[] = {
        {"mounted over", root + "2 1 8:1 / /mnt rw - ext4 /dev/sdb1 rw\n3 2 8:2 / /mnt rw - ext4 /dev/sdc1 rw\n",
         {"/dev/sda", "/dev/sdc1"}},
        {"under a folder mounted over", root + "2 1 8:1 / /mnt/usb rw - vfat /dev/sdb1 rw\n"
                                               "3 1 8:2 / /mnt rw - ext4 /dev/sdc1 rw\n",
         {"/dev/sda", "/dev/sdc1"}},
        {"inside a later mount", root + "2 1 8:2 / /mnt rw - ext4 /dev/sdc1 rw\n"
                                        "3 2 8:1 / /mnt/usb rw - vfat /dev/sdb1 rw\n",
         {"/dev/sda", "/dev/sdc1", "/dev/sdb1"}},
        {"hidden below a hidden one", root + "2 1 8:1 / /mnt rw - ext4 /dev/sdb1 rw\n"
                                             "3 2 8:2 / /mnt/a rw - ext4 /dev/sdc1 rw\n"
                                             "4 2 8:3 / /mnt rw - ext4 /dev/sdd1 rw\n",
         {"/dev/sda", "/dev/sdd1"}},
        {"the root mounted over", root + "2 1 8:1 / /home rw - ext4 /dev/sdb1 rw\n"
                                         "3 1 0:30 / / rw - overlay overlay rw\n",
         {"overlay"}},
        {"a sibling folder", root + "2 1 8:1 / /mnt rw - ext4 /dev/sdb1 rw\n3 1 8:2 / /mnt2 rw - ext4 /dev/sdc1 rw\n",
         {"/dev/sda", "/dev/sdb1", "/dev/sdc1"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> sources;
        for (const auto& d : platform::DriveMounts(platform::ParseMountInfo(c.mountinfo))) sources.push_back(d.Source);
        EXPECT_EQ(sources, c.sources) << c.what;
    }
}

TEST(DriveMounts, RootAlwaysGetsCWhateverItIs) {
    auto drives = platform::DriveMounts(platform::ParseMountInfo("1 0 0:30 / / rw - overlay overlay rw\n"));
    ASSERT_EQ(drives.size(), 1u);
    EXPECT_EQ(drives[0].FsType, "overlay");
}

TEST(DriveMounts, NoMoreThanCToZ) {
    std::string many = "1 0 8:0 / / rw - ext4 /dev/sda rw\n";
    for (int i = 1; i <= 30; ++i)
        many += std::to_string(i + 1) + " 1 8:" + std::to_string(i) + " / /m" + std::to_string(i) +
                " rw - ext4 /dev/sda" + std::to_string(i) + " rw\n";
    EXPECT_EQ(platform::DriveMounts(platform::ParseMountInfo(many)).size(), 24u);
}

TEST(DriveTypeOf, FromTheFileSystem) {
    EXPECT_EQ(platform::DriveTypeOf("ext4", false), 3);
    EXPECT_EQ(platform::DriveTypeOf("vfat", true), 2);
    EXPECT_EQ(platform::DriveTypeOf("nfs", false), 4);
    EXPECT_EQ(platform::DriveTypeOf("cifs", true), 4);
    EXPECT_EQ(platform::DriveTypeOf("iso9660", true), 5);
    EXPECT_EQ(platform::DriveTypeOf("udf", false), 5);
    EXPECT_EQ(platform::DriveTypeOf("tmpfs", false), 6);
    EXPECT_EQ(platform::DriveTypeOf("ramfs", false), 6);
}

TEST(GetDriveSpace, LetterCIsTheRootAndLettersBeyondTheDrivesFail) {
    uint64_t total = 0, free = 0;
    ASSERT_TRUE(platform::GetDriveSpace('C', total, free));
    EXPECT_GT(total, 0u);
    EXPECT_FALSE(platform::GetDriveSpace('A', total, free));
    EXPECT_FALSE(platform::GetDriveSpace('@', total, free));
    EXPECT_EQ(platform::GetDriveType('A'), 1);
    int type = platform::GetDriveType('C');
    EXPECT_GE(type, 2);
    EXPECT_LE(type, 6);
    // C is the root, which its letter says; the others name their folder.
    EXPECT_EQ(platform::DriveMountPoint('C'), "");
    for (char letter = 'D'; letter <= 'Z'; ++letter) {
        const std::string folder = platform::DriveMountPoint(letter);
        EXPECT_EQ(platform::GetDriveSpace(letter, total, free) || platform::GetDriveType(letter) != 1,
                  !folder.empty() && folder[0] == '/')
            << letter << " " << folder;
    }
}

TEST(FillProcessorInfo, X86FromCpuinfo) {
    const std::string cpuinfo = "processor\t: 0\nvendor_id\t: AuthenticAMD\ncpu family\t: 23\nmodel\t\t: 113\n"
                                "model name\t: AMD Ryzen\nstepping\t: 0\n\nprocessor\t: 1\ncpu family\t: 99\n";
    for (const char* machine : {"x86_64", "i686", "i386"}) {
        platform::SystemInfo s;
        platform::FillProcessorInfo(machine, cpuinfo, s);
        EXPECT_EQ(s.Architecture, 0) << machine;
        EXPECT_EQ(s.OemId, 0);
        EXPECT_EQ(s.ProcessorType, 586u);
        EXPECT_EQ(s.ProcessorLevel, 23);
        EXPECT_EQ(s.ProcessorRevision, (113 << 8) | 0);
    }
}

TEST(FillProcessorInfo, OtherMachines) {
    const struct {
        const char* Machine;
        uint16_t Arch;
    } cases[] = {{"aarch64", 5}, {"armv7l", 5}, {"ppc64le", 3}, {"mips", 1}, {"ia64", 6}, {"riscv64", 0xFFFF}};
    for (const auto& c : cases) {
        platform::SystemInfo s;
        platform::FillProcessorInfo(c.Machine, "CPU implementer : 0x41\n", s);
        EXPECT_EQ(s.Architecture, c.Arch) << c.Machine;
        EXPECT_EQ(s.OemId, c.Arch);
        EXPECT_EQ(s.ProcessorType, 0u);
        EXPECT_EQ(s.ProcessorLevel, 0);
    }
}

TEST(GetSystemInfo, CountsAndMaskAgree) {
    platform::SystemInfo s;
    ASSERT_TRUE(platform::GetSystemInfo(s));
    EXPECT_GE(s.NumberOfProcessors, 1u);
    EXPECT_NE(s.ActiveProcessorMask, 0u);
    EXPECT_EQ(s.PageSize % 1024, 0u);
}

}  // namespace
