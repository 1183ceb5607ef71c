// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the PC information block: the lookup tables, the registry
// rendering, every section's lines, and the six records in the log.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "log/wexerrorlog.h"
#include "pcinfo/PcInfoText.h"
#include "pcinfo/PcInfoUnit.h"
#include "platform/Files.h"
#include "platform/testing/TempFolder.h"
#include "speaker/wexspeakerclass.h"

namespace {

using platform::RegistryType;
using platform::RegistryValue;

TEST(OsName, FollowsTheVersionTable) {
    const struct {
        uint32_t Major, Minor, Platform;
        const char* Name;
    } cases[] = {
        {3, 51, 2, "Windows NT 3.51"}, {3, 50, 2, "Unknown (NT 3.X ?)"},
        {4, 10, 1, "Windows 98"},      {4, 90, 1, "Windows Me"},
        {4, 0, 2, "Windows NT 4.0"},   {4, 0, 1, "Windows 95"},
        {4, 0, 0, "Windows 95"},       {4, 3, 1, "Windows ??"},
        {5, 0, 2, "Windows 2000"},     {5, 1, 2, "Windows XP"},
        {5, 2, 2, "Windows Server 2003 family"}, {5, 3, 2, "Newer Windows Version"},
        {6, 0, 2, "Vista"},            {6, 1, 2, "Windows 7"},
        {6, 2, 2, "Newer Windows Version"}, {6, 3, 2, "Newer Windows Version"},
        {7, 0, 2, ""},                 {10, 0, 2, ""},
        {2, 0, 2, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(OsName(c.Major, c.Minor, c.Platform), c.Name) << c.Major << "." << c.Minor;
}

TEST(LookupTables, GiveTheirTextsAndCatchAlls) {
    EXPECT_EQ(PlatformText(0), "Win32s under Windows 3.x");
    EXPECT_EQ(PlatformText(1), "Windows 95, Windows 98, or Windows Me.");
    EXPECT_EQ(PlatformText(2), "Windows NT, Windows 2000, Windows XP, Windows 7, or Windows Server 2003 family.");
    EXPECT_EQ(PlatformText(3), "A Windows version NOT SUPPORTED at this time");
    EXPECT_EQ(PlatformText(platform::PlatformIdLinux), "A Windows version NOT SUPPORTED at this time");

    const char* const drives[] = {"The drive type cannot be determined.", "The root directory does not exist.",
                                  "Removable.", "Fixed.", "Remote (network).", "CD-ROM.", "RAM disk."};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(DriveTypeText(i), drives[i]);
    EXPECT_EQ(DriveTypeText(7), "The drive type is not valid.");
    EXPECT_EQ(DriveTypeText(-1), "The drive type is not valid.");

    const char* const arch[] = {"INTEL", "MIPS", "ALPHA", "PPC", "SHX", "ARM", "IA64", "ALPHA64", "MSIL"};
    for (uint32_t i = 0; i < 9; ++i) EXPECT_EQ(ArchitectureText(i), std::string("PROCESSOR_ARCHITECTURE_") + arch[i]);
    EXPECT_EQ(ArchitectureText(9), "PROCESSOR_ARCHITECTURE_UNKNOWN");
    EXPECT_EQ(ArchitectureText(platform::ArchitectureUnknown), "PROCESSOR_ARCHITECTURE_UNKNOWN");

    const struct {
        uint32_t Number;
        const char* Text;
    } types[] = {{386, "Intel 386"},   {486, "Intel 486"},     {586, "Intel Pentium"}, {601, "PPC 601"},
                 {603, "PPC 603"},     {604, "PPC 604"},       {620, "PPC 620"},       {860, "Intel 860"},
                 {2000, "MIPS R2000"}, {3000, "MIPS R3000"},   {4000, "MIPS R4000"},   {21064, "ALPHA 21064"},
                 {0, ""},              {686, ""},              {8664, ""}};
    for (const auto& t : types) EXPECT_EQ(ProcessorTypeText(t.Number), t.Text) << t.Number;
}

RegistryValue Raw(RegistryType type, const std::string& bytes) {
    RegistryValue v;
    v.Type = type;
    v.Data = bytes;
    return v;
}

TEST(RegistryValueText, ClassifiesAndRendersEachKind) {
    using namespace std::string_literals;
    const struct {
        const char* What;
        RegistryValue Value;
        std::string Text;
    } cases[] = {
        {"string", platform::StringValue("GenuineIntel"), "GenuineIntel"},
        {"string not expanded", platform::StringValue("%SystemRoot%\\x", RegistryType::ExpandString),
         "%SystemRoot%\\x"},
        {"dword", platform::DwordValue(2394), "2394"},
        {"dword read as signed", platform::DwordValue(0xFFFFFFFEu), "-2"},
        {"binary", Raw(RegistryType::Binary, "AB\0C\0"s), " (AB  C)"},
        {"multi-string A,B", Raw(RegistryType::MultiString, "A\0B\0\0"s), " (A  B  )"},
        {"empty multi-string", Raw(RegistryType::MultiString, "\0\0"s), " (  )"},
        {"one-byte multi-string", Raw(RegistryType::MultiString, "\0"s), " ()"},
        {"empty binary", Raw(RegistryType::Binary, ""), " ()"},
        {"dword of the wrong size", Raw(RegistryType::Dword, "\1\2"s), ""},
    };
    for (const auto& c : cases) EXPECT_EQ(RegistryValueText(&c.Value), c.Text) << c.What;
    EXPECT_EQ(RegistryValueText(nullptr), " ()");  // a value the key lacks
}

TEST(RegistryValueText, LongValueShowsWhatTheBufferHolds) {
    RegistryValue big = Raw(RegistryType::Binary, std::string(5000, 'x'));
    EXPECT_EQ(RegistryValueText(&big), " (" + std::string(4095, 'x') + ")");
    RegistryValue exact = Raw(RegistryType::Binary, std::string(4096, 'y'));
    EXPECT_EQ(RegistryValueText(&exact), " (" + std::string(4095, 'y') + ")");
}

TEST(ReadRegistryText, KeysAndValuesOfThisSystem) {
    const std::string cpuKey = "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";
    EXPECT_EQ(ReadRegistryText(LocalMachine, "SOFTWARE\\NoSuchKey", "x"), "");
#ifndef _WIN32
    // No product options here: the product-suite line is left out.
    EXPECT_EQ(ReadRegistryText(LocalMachine, "SYSTEM\\CurrentControlSet\\Control\\ProductOptions", "ProductSuite"), "");
#endif
    EXPECT_EQ(ReadRegistryText(LocalMachine, cpuKey, "NoSuchValue"), " ()");
    const std::string mhz = ReadRegistryText(LocalMachine, cpuKey, "~MHz");
    if (mhz != " ()") {
        ASSERT_FALSE(mhz.empty());
        EXPECT_EQ(mhz.find_first_not_of("0123456789"), std::string::npos) << mhz;
    }
}

#ifndef _WIN32
TEST(ProcessorKey, ComesFromTheFirstProcessorOfCpuinfo) {
    const std::string cpuinfo =
        "processor\t: 0\nvendor_id\t: GenuineIntel\ncpu family\t: 6\nmodel\t\t: 158\n"
        "model name\t: Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz\nstepping\t: 10\ncpu MHz\t\t: 3191.6\n\n"
        "processor\t: 1\nvendor_id\t: Other\ncpu MHz\t\t: 800.000\n\n";
    platform::RegistryKey key = platform::ProcessorKeyFromCpuInfo(cpuinfo);
    EXPECT_EQ(RegistryValueText(&key.Values.at("~MHz")), "3192");
    EXPECT_EQ(RegistryValueText(&key.Values.at("VendorIdentifier")), "GenuineIntel");
    EXPECT_EQ(RegistryValueText(&key.Values.at("ProcessorNameString")), "Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz");
    EXPECT_EQ(platform::ProcessorKeyFromCpuInfo("processor : 0\nBogoMIPS : 50\n\n").Values.size(), 0u);
}
#endif

platform::VersionInfo Version(uint32_t major, uint32_t minor, uint32_t build, uint32_t id, std::string sp) {
    platform::VersionInfo v;
    v.Major = major;
    v.Minor = minor;
    v.Build = build;
    v.PlatformId = id;
    v.ServicePack = std::move(sp);
    v.SystemName = "Linux";
    return v;
}

TEST(OsInfoText, WindowsRecordLineByLine) {
    OsData os;
    os.Version = Version(5, 1, 2600, 2, "Service Pack 3");
    EXPECT_EQ(OsInfoText(os),
              ".......  O/S INFO .......\r\n"
              "  O/S Bits      : 32\r\n"
              "  Major Version : 5\r\n"
              "  Minor Version : 1\r\n"
              "  O/S Name      : Windows XP\r\n"
              "  Build         : 2600\r\n"
              "  Platform ID   : (2)  Windows NT, Windows 2000, Windows XP, Windows 7, or Windows Server 2003 family.\r\n"
              "  Service Pack  : Service Pack 3\r\n"
              "\r\n");
}

TEST(OsInfoText, SuiteLineOnlyWhenThereIsASuite) {
    OsData os;
    os.Bits64 = true;
    os.Version = Version(6, 1, 7601, 2, "");
    os.Suite = " (  )";  // an empty multi-string is still a suite
    const std::string text = OsInfoText(os);
    EXPECT_NE(text.find("  O/S Bits      : 64\r\n"), std::string::npos);
    EXPECT_NE(text.find("  Service Pack  : \r\n  Product Suite :  (  )\r\n\r\n"), std::string::npos);
    os.Suite.clear();
    EXPECT_EQ(OsInfoText(os).find("Product Suite"), std::string::npos);
}

TEST(OsInfoText, LinuxIsNeverNamedAfterAWindowsRelease) {
    OsData os;
    os.Bits64 = true;
    os.Version = Version(6, 1, 0, platform::PlatformIdLinux, "Debian GNU/Linux 12 (bookworm)");
    const std::string text = OsInfoText(os);
    EXPECT_NE(text.find("  O/S Name      : Linux\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("Windows 7"), std::string::npos);
    EXPECT_NE(text.find("  Platform ID   : (100)  A Windows version NOT SUPPORTED at this time\r\n"), std::string::npos);
    EXPECT_NE(text.find("  Service Pack  : Debian GNU/Linux 12 (bookworm)\r\n"), std::string::npos);
}

TEST(OsInfoText, WholeBuildFieldIsUnsignedAndCutToNine) {
    OsData os;
    os.Version = Version(4, 0, 0xFFFFFFFFu, 1, "");
    EXPECT_NE(OsInfoText(os).find("  Build         : 429496729\r\n"), std::string::npos);
}

TEST(MemoryInfoText, DividesBy1024000) {
    platform::MemoryStatus m;
    m.TotalPhys = 1024000;
    m.AvailPhys = 512000;
    m.TotalPageFile = 2048000000ull;
    m.AvailPageFile = 0;
    m.TotalVirtual = 0x7FFFFFFFF000ull;  // 137438953.472 MB: cut to ten characters
    m.AvailVirtual = 1;
    EXPECT_EQ(MemoryInfoText(m),
              ".......  PC MEMORY INFO .......\r\n"
              "  Memory (Total)              : 1.000 MB \r\n"
              "  Memory (Available)          : 0.500 MB \r\n"
              "  Page(Swap)File (Total)      : 2000.000 MB \r\n"
              "  Page(Swap)File (Available)  : 0.000 MB \r\n"
              "  Virtual Memory (Total)      : 137438953. MB \r\n"
              "  Virtual Memory (Available)  : 0.000 MB \r\n"
              "\r\n");
}

TEST(DiskInfoText, OneGroupPerDriveAndTheCount) {
    EXPECT_EQ(DiskInfoText({{'C', 2000000000000ull, 1024000, 3, ""}}),
              ".......  DISK INFO .......\r\n"
              "Disk C\r\n"
              "  Total Space : 1953125.00 MBytes \r\n"
              "  Free Space  : 1.000 MBytes \r\n"
              "    Drive Type  : Fixed.\r\n"
              "\r\n"
              "  Number of Drives : 1\r\n"
              "\r\n");
    EXPECT_EQ(DiskInfoText({}), ".......  DISK INFO .......\r\n  Number of Drives : 0\r\n\r\n");
    // A drive after C is followed by its folder, so a reader can tell them apart.
    const std::string two =
        DiskInfoText({{'C', 0, 0, 3, ""}, {'E', 0, 0, 5, "/media/cd"}, {'F', 0, 0, 3, "/a\r\nb"}});
    EXPECT_NE(two.find("Disk C\r\n"), std::string::npos);
    EXPECT_NE(two.find("Disk E  (/media/cd)\r\n"), std::string::npos);
    EXPECT_NE(two.find("Disk F  (/a??b)\r\n"), std::string::npos);
    EXPECT_NE(two.find("    Drive Type  : CD-ROM.\r\n"), std::string::npos);
    EXPECT_NE(two.find("  Number of Drives : 3\r\n"), std::string::npos);
}

CpuData Cpu(uint16_t arch, uint32_t mask) {
    CpuData c;
    c.System.Architecture = arch;
    c.System.OemId = arch;
    c.System.ActiveProcessorMask = mask;
    c.System.NumberOfProcessors = 12;
    c.System.ProcessorType = arch == 0 ? 586 : 0;
    c.System.ProcessorLevel = 6;
    c.System.ProcessorRevision = (158 << 8) | 10;
    c.System.PageSize = 4096;
    return c;
}

TEST(CpuInfoText, X86RecordLineByLine) {
    CpuData c = Cpu(0, 0xFFF);
    c.Speed = "3192";
    c.Vendor = "GenuineIntel";
    c.Name = "Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz";
    EXPECT_EQ(CpuInfoText(c),
              ".......  CPU INFO .......\r\n"
              "  Architecture                : PROCESSOR_ARCHITECTURE_INTEL\r\n"
              "  OEM ID (vendor)             : 0 (GenuineIntel)\r\n"
              "  Active processor mask       : 0xFF\r\n"
              "  Number of processors        : 12\r\n"
              "  Processor type              : Intel Pentium\r\n"
              "  Processor level             : x86 Family 6 Model 158 Stepping 10\r\n"
              "  Processor name              : Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz\r\n"
              "  Speed (registry)            : 3192 MHz\r\n"
              "  Processor Revision          : 40458\r\n"
              "  Page size (KBytes)          : 4\r\n"
              "\r\n");
}

TEST(CpuInfoText, MissingValuesAndOtherArchitectures) {
    CpuData c = Cpu(5, 3);
    const std::string text = CpuInfoText(c);
    EXPECT_NE(text.find("  Active processor mask       : 0x03\r\n"), std::string::npos);
    EXPECT_NE(text.find("  OEM ID (vendor)             : 5\r\n"), std::string::npos);
    EXPECT_NE(text.find("  Speed (registry)            : N/A\r\n"), std::string::npos);
    EXPECT_NE(text.find("  Processor type              : \r\n"), std::string::npos);
    EXPECT_EQ(text.find("Processor level"), std::string::npos);
    c.Speed = " ()";  // a key without the value
    EXPECT_NE(CpuInfoText(c).find("  Speed (registry)            :  () MHz\r\n"), std::string::npos);
}

TEST(DriveSpace, LettersOutsideTheAlphabetAndDrivesABAreAbsent) {
    uint64_t total = 7, free = 7;
    EXPECT_FALSE(DriveSpace('1', total, free));
    EXPECT_FALSE(DriveSpace('A', total, free));
    EXPECT_FALSE(DriveSpace('b', total, free));
    EXPECT_EQ(total, 7u);
    // "/" is always drive C, in either case.
    ASSERT_TRUE(DriveSpace('c', total, free));
    EXPECT_GT(total, 0u);
    EXPECT_LE(free, total);
}

class SilentTones : public ToneSink {
public:
    void Beep(unsigned, int) override {}
    void Pause(int) override {}
};

TEST(WritePcInfo, WritesSixRecordsWithCodeZero) {
    const std::string oldCwd = platform::GetCurrentDir();
    platform::testing::TempFolder temp("quorrin-pcinfo-");
    const std::string folder = temp.Path();
    ASSERT_TRUE(platform::SetCurrentDir(folder));
    SilentTones tones;
    SetToneSink(&tones);
    StartErrorLog(false, "1.2", "Quorrin", nullptr);
    WritePcInfo();
    EndErrorLog(false);
    SetToneSink(nullptr);
    platform::SetCurrentDir(oldCwd);
    std::ifstream in(folder + "/Quorrin.Log", std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    const std::string log = s.str();

    const char* const heads[] = {">>>>>>>>>>>>>>>>>   PC INFO  <<<<<<<<<<<<<<<<<<<<<<\r\n",
                                 ".......  O/S INFO .......\r\n", ".......  PC MEMORY INFO .......\r\n",
                                 ".......  DISK INFO .......\r\n", ".......  CPU INFO .......\r\n",
                                 ">>>>>>>>>>>>>>>>> END PC INFO <<<<<<<<<<<<<<<<<<<<<<\r\n"};
    std::size_t at = 0;
    for (const char* head : heads) {
        // Each record: code 000000, two blanks, the stamp, two blanks, the text.
        const std::size_t found = log.find(head, at);
        ASSERT_NE(found, std::string::npos) << head;
        ASSERT_GE(found, 29u);
        EXPECT_EQ(log.substr(found - 29, 8), "000000  ") << head;
        at = found + 1;
    }
    EXPECT_NE(log.find("Disk C\r\n"), std::string::npos);
#ifdef _WIN32
    // A release the name table knows, and a platform it names.
    const std::size_t name = log.find("  O/S Name      : ");
    ASSERT_NE(name, std::string::npos);
    EXPECT_NE(log.compare(name + 18, 2, "\r\n"), 0) << "no O/S name";
    EXPECT_EQ(log.find("NOT SUPPORTED"), std::string::npos);
    EXPECT_NE(log.find("  O/S Bits      : "), std::string::npos);
#else
    EXPECT_NE(log.find("  O/S Bits      : 64\r\n"), std::string::npos);
    EXPECT_EQ(log.find("Product Suite"), std::string::npos);
#endif
}

}  // namespace
