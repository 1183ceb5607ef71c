// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the real-bus backend: the sysfs resource table and BAR access on
// files of our own, then quorrin-driverd --real against lspci and sysfs.
#include "driver/RealBus.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "driver/AccessPolicy.h"
#include "driver/DriverService.h"
#include "driver/linux/SysfsPci.h"
#include "driver/testing/TestBus.h"
#include "platform/testing/FileText.h"
#include "platform/testing/TempFolder.h"
#include "windriver/WinDriverRequests.h"
#include "wire/DriverWire.h"

namespace {

using driverd::Resource;
using driverd::ResourceKind;
using driverd::sysfs::BarRange;

std::string Slurp(const std::string& path) { return platform::testing::ReadFile(path); }

// ---- the resource table ---------------------------------------------------

TEST(SysfsResourceText, KeepsUsedBarsInTheirPositions) {
    const std::string none = "0x0000000000000000 0x0000000000000000 0x0000000000000000\n";
    const struct {
        const char* name;
        std::string text;
        std::vector<BarRange> bars;
    } cases[] = {
        {"empty file", "", {}},
        {"all unused", none + none + none + none + none + none + none, {}},
        {"64-bit memory BAR above 4 GiB, its upper half line empty",
         "0x0000004000100000 0x000000400017ffff 0x0000000000140204\n" + none,
         {{0, 0x4000100000ull, 0x400017ffffull, 0x140204}}},
        {"I/O BAR after an unused one",
         none + "0x000000000000e000 0x000000000000e0ff 0x0000000000040101\n",
         {{1, 0xE000, 0xE0FF, 0x40101}}},
        {"expansion ROM is line 6; bridge windows after it are not BARs",
         none + none + none + none + none + none + "0x00000000fe000000 0x00000000fe00ffff 0x0000000000046200\n" +
             "0x00000000fd000000 0x00000000fdffffff 0x0000000000000200\n",
         {{6, 0xFE000000, 0xFE00FFFF, 0x46200}}},
        {"a garbled line counts as its BAR and is left out",
         "garbage\n0x00000000f0000000 0x00000000f00001ff 0x0000000000040200\n",
         {{1, 0xF0000000, 0xF00001FF, 0x40200}}},
        {"flags without I/O or memory are not a resource",
         "0x00000000f0000000 0x00000000f00001ff 0x0000000000001000\n", {}},
        {"a range ending before it starts is not a resource",
         "0x00000000f0000000 0x00000000e0000000 0x0000000000000200\n", {}},
        {"no trailing newline", "0x00000000f0000000 0x00000000f0000fff 0x0000000000000200",
         {{0, 0xF0000000, 0xF0000FFF, 0x200}}},
    };
    for (const auto& c : cases) EXPECT_EQ(driverd::sysfs::ParseResourceText(c.text), c.bars) << c.name;
}

TEST(SysfsResources, KindsLengthsAndTheInterruptItem) {
    const std::vector<BarRange> bars = {{0, 0x4000100000ull, 0x400017ffffull, 0x140204},
                                        {2, 0xE000, 0xE01F, 0x40101},
                                        {6, 0xFE000000, 0xFE00FFFF, 0x46200}};
    const struct {
        uint32_t irq;
        uint8_t pin;
        bool interrupt;
    } cases[] = {{11, 1, true}, {0, 1, false}, {11, 0, false}, {0, 0, false}};
    for (const auto& c : cases) {
        std::vector<Resource> want = {
            {ResourceKind::Memory, 0, 0x4000100000ull, 0x80000, 0},
            {ResourceKind::IO, 2, 0xE000, 0x20, 0},
            {ResourceKind::Memory, 6, 0xFE000000, 0x10000, 0},
        };
        if (c.interrupt) want.push_back({ResourceKind::Interrupt, 0, 0, 0, c.irq});
        EXPECT_EQ(driverd::sysfs::ResourcesOf(bars, c.irq, c.pin), want) << "irq " << c.irq << " pin " << int{c.pin};
    }
}

TEST(RealBusPolicy, BarsOfADriversFunctionStayItsOwnExceptPlxBridges) {
    const struct {
        bool bound;
        uint16_t vendor, device;
        bool may;
    } cases[] = {
        {false, 0x1AF4, 0x1041, true},  {true, 0x1AF4, 0x1041, false}, {true, 0x10B5, 0x9056, true},
        {true, 0x10B5, 0x9080, true},   {true, 0x10B5, 0x9054, false}, {true, 0x8086, 0x9056, false},
        {false, 0x10B5, 0x9054, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(driverd::MayAccessBars(c.bound, c.vendor, c.device), c.may)
            << c.bound << " " << std::hex << c.vendor << ":" << c.device;
}

TEST(RealBusPolicy, SysfsNames) {
    EXPECT_EQ(driverd::SysfsName(0, 0, 3, 0), "0000:00:03.0");
    EXPECT_EQ(driverd::SysfsName(0x10000 - 1, 0xAB, 0x1F, 7), "ffff:ab:1f.7");
}

// ---- BAR access through resourceN, on plain files standing in for them ------

class BarFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        temp_ = std::make_unique<platform::testing::TempFolder>("quorrin-bars-");
        dir_ = temp_->Path();
        Write("resource0", std::string(0x1000, '\0'));  // memory
        Write("resource2", std::string(0x20, '\0'));    // I/O
    }
    void TearDown() override { temp_.reset(); }
    void Write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir_ + "/" + name, std::ios::binary) << bytes;
    }
    std::string Read(const std::string& name) { return Slurp(dir_ + "/" + name); }
    std::unique_ptr<platform::testing::TempFolder> temp_;
    std::string dir_;
};

TEST_F(BarFilesTest, PortAccessesAreOneReadOrWriteOfTheUnitAtItsOffset) {
    driverd::sysfs::BarFiles bars(dir_);
    const uint8_t dword[4] = {0x78, 0x56, 0x34, 0x12};
    ASSERT_TRUE(bars.Port(2, 0x10, 4, false, const_cast<uint8_t*>(dword)));
    uint8_t word[2] = {0xAA, 0xBB};
    ASSERT_TRUE(bars.Port(2, 0x1E, 2, false, word));
    const std::string file = Read("resource2");
    EXPECT_EQ(file.substr(0x10, 4), std::string("\x78\x56\x34\x12", 4));
    EXPECT_EQ(file.substr(0x1E, 2), "\xAA\xBB");
    uint8_t back[2] = {};
    ASSERT_TRUE(bars.Port(2, 0x11, 2, true, back));
    EXPECT_EQ(back[0], 0x56);
    EXPECT_EQ(back[1], 0x34);
    uint8_t one = 0;
    EXPECT_FALSE(bars.Port(2, 0x20, 1, true, &one)) << "past the end reads nothing";
    EXPECT_FALSE(bars.Port(2, 0, 3, true, back)) << "3 is not a unit";
    EXPECT_FALSE(bars.Port(4, 0, 1, true, &one)) << "no resource4";
}

TEST_F(BarFilesTest, MemoryAccessesGoThroughASharedMapping) {
    driverd::sysfs::BarFiles bars(dir_);
    uint8_t dword[4] = {0x0D, 0xF0, 0xFE, 0xCA};
    ASSERT_TRUE(bars.Memory(0, 0x1000, 0x20, 4, false, dword));
    EXPECT_EQ(Read("resource0").substr(0x20, 4), std::string("\x0D\xF0\xFE\xCA", 4));

    // A change behind the mapping is seen: nothing is cached.
    const int fd = open((dir_ + "/resource0").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    const uint8_t poke[2] = {0x34, 0x12};
    ASSERT_EQ(pwrite(fd, poke, 2, 0xFFE), 2);
    close(fd);
    uint8_t got[2] = {};
    ASSERT_TRUE(bars.Memory(0, 0x1000, 0xFFE, 2, true, got));
    EXPECT_EQ(got[0], 0x34);
    EXPECT_EQ(got[1], 0x12);

    const struct {
        const char* why;
        uint64_t offset;
        uint32_t unit;
    } refused[] = {{"unaligned word", 0x21, 2}, {"unaligned dword", 0x22, 4}, {"past the end", 0x1000, 1},
                   {"runs past the end", 0xFFE, 4}, {"not a unit", 0, 8}};
    for (const auto& r : refused) EXPECT_FALSE(bars.Memory(0, 0x1000, r.offset, r.unit, true, got)) << r.why;
}

TEST_F(BarFilesTest, DescriptorsOnlyForBarFilesThatOpen) {
    driverd::sysfs::BarFiles bars(dir_);
    const int fd = bars.Descriptor(0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(bars.Descriptor(0), fd) << "kept, not reopened";
    EXPECT_EQ(bars.Descriptor(1), -1);
    Write("resource6", "x");
    EXPECT_EQ(bars.Descriptor(6), -1) << "the expansion ROM is never opened";
    bars.Release();
    EXPECT_EQ(fcntl(fd, F_GETFD), -1) << "Release closes it";
    uint8_t b = 0;
    EXPECT_TRUE(bars.Port(2, 0, 1, true, &b)) << "usable again after Release";
}

// ---- the backend over a stand-in sysfs tree, behind the service ---------------

// One function 0000:00:03.0 with a 4 KiB memory BAR at 0xF0000000 whose
// resource0 is a plain file.
class StandInSysfs : public ::testing::Test {
protected:
    void SetUp() override {
        temp_ = std::make_unique<platform::testing::TempFolder>("quorrin-sysfs-");
        root_ = temp_->Path();
        device_ = root_ + "/devices/0000:00:03.0";
        std::filesystem::create_directories(device_);
        std::string config(256, '\0');
        config.replace(0, 4, "\x86\x80\x34\x12");
        config.replace(0x10, 4, std::string("\x00\x00\x00\xf0", 4));
        const std::string none = "0x0000000000000000 0x0000000000000000 0x0000000000000000\n";
        std::string resource = "0x00000000f0000000 0x00000000f0000fff 0x0000000000040200\n";
        for (int i = 0; i < 6; ++i) resource += none;
        std::string memory(0x1000, '\0');
        memory.replace(0x10, 4, "\x78\x56\x34\x12");
        for (const auto& [name, text] : std::map<std::string, std::string>{{"config", config},
                                                                           {"vendor", "0x8086\n"},
                                                                           {"device", "0x1234\n"},
                                                                           {"class", "0x020000\n"},
                                                                           {"irq", "0\n"},
                                                                           {"resource", resource},
                                                                           {"resource0", memory}})
            std::ofstream(device_ + "/" + name, std::ios::binary) << text;
        std::string error;
        bus_ = driverd::OpenRealBus(error, root_);
        ASSERT_TRUE(bus_) << error;
        service_ = std::make_unique<driverd::DriverService>(*bus_, "t");
        client_ = service_->Connect();
    }
    void TearDown() override { temp_.reset(); }
    template <typename Record>
    driverd::Answer Send(uint32_t code, const Record& record) {
        driverd::DecodedRequest r;
        r.Code = code;
        r.RecordSize = sizeof record;
        std::memcpy(&r.Record, &record, sizeof record);
        return service_->Serve(client_, r);
    }
    uint32_t Read(uint32_t command, uint64_t address, uint32_t& value) {
        TransferRecord t{};
        t.Address = address;
        t.Command = command;
        t.Bytes = wire::TransferUnitBytes(command);
        t.AutoIncrement = 1;
        const driverd::Answer a = Send(WD_Transfer, t);
        value = 0;
        if (!a.Data.empty())
            std::memcpy(&value, a.Data.data(), std::min<std::size_t>(a.Data.size(), sizeof value));
        return a.Status;
    }
    std::unique_ptr<platform::testing::TempFolder> temp_;
    std::string root_, device_;
    std::unique_ptr<driverd::Bus> bus_;
    std::unique_ptr<driverd::DriverService> service_;
    driverd::DriverService::ClientId client_ = 0;
};

// Whether a kernel driver owns the function is looked up at every access: a
// driver bound after registration takes the BARs back at once.
TEST_F(StandInSysfs, ADriverBoundLaterIsSeenAtTheNextTransfer) {
    CardInfoRecord info{};
    info.Slot = 3;
    const driverd::Answer card = Send(WD_PciGetCardInfo, info);
    ASSERT_EQ(card.Status, 0u);
    CardRegisterRecord r{};
    r.Card = card.Record.CardInfo.Card;
    ASSERT_NE(Send(WD_CardRegister, r).Record.Registration.CardHandle, 0u);
    uint32_t value = 0;
    ASSERT_EQ(Read(ReadMemDword, 0xF0000010, value), 0u);
    EXPECT_EQ(value, 0x12345678u);
    EXPECT_EQ(Read(ReadMemDword, 0xF0000012, value), wire::StatusBadRecord)
        << "unaligned, as on the simulated bus";

    std::filesystem::create_directories(root_ + "/drivers/e1000");
    std::filesystem::create_directory_symlink(root_ + "/drivers/e1000", device_ + "/driver");
    EXPECT_EQ(Read(ReadMemDword, 0xF0000010, value), wire::StatusRefused);
    EXPECT_EQ(Read(ReadMemByte, 0xF0000010, value), wire::StatusRefused);
    std::filesystem::remove(device_ + "/driver");
    EXPECT_EQ(Read(ReadMemByte, 0xF0000010, value), 0u);
    EXPECT_EQ(value, 0x78u);
}

// ---- quorrin-driverd --real against lspci and sysfs ------------------------

std::string Run(const std::string& command) {
    std::string out;
    if (std::FILE* p = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
        pclose(p);
    }
    return out;
}

bool HaveLspci() { return std::system("command -v lspci >/dev/null 2>&1") == 0; }

struct Listed {
    uint32_t Bus, Slot, Function, Vendor, Device;
    bool operator==(const Listed&) const = default;
};

// "DDDD:BB:SS.F CCCC: VVVV:DDDD ..." lines of lspci -n -D, domain 0 only.
std::vector<Listed> LspciFunctions() {
    std::vector<Listed> list;
    std::istringstream in(Run("lspci -n -D 2>/dev/null"));
    std::string line;
    while (std::getline(in, line)) {
        unsigned domain, bus, slot, function, vendor, device;
        if (std::sscanf(line.c_str(), "%x:%x:%x.%x %*x: %x:%x", &domain, &bus, &slot, &function, &vendor, &device) == 6 &&
            domain == 0)
            list.push_back({bus, slot, function, vendor, device});
    }
    return list;
}

// The bytes of lspci -xxx for one function (64 without root, 256 with).
std::vector<uint8_t> LspciConfig(const Listed& f) {
    char where[32];
    std::snprintf(where, sizeof where, "0000:%02x:%02x.%x", f.Bus, f.Slot, f.Function);
    std::vector<uint8_t> bytes;
    std::istringstream in(Run(std::string("lspci -xxx -s ") + where + " 2>/dev/null"));
    std::string line;
    while (std::getline(in, line)) {
        // "00: 86 80 ..." rows; the "00:03.0 Ethernet ..." title is not one.
        const auto colon = line.find(':');
        if (colon == std::string::npos || colon + 1 >= line.size() || line[colon + 1] != ' ') continue;
        std::istringstream fields(line.substr(colon + 1));
        if (std::stoul(line.substr(0, colon), nullptr, 16) != bytes.size()) continue;
        unsigned byte;
        while (fields >> std::hex >> byte) bytes.push_back(static_cast<uint8_t>(byte));
    }
    return bytes;
}

class RealBusTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::is_directory("/sys/bus/pci/devices")) GTEST_SKIP() << "no /sys/bus/pci on this machine";
        bus_ = std::make_unique<TestBus>(TestBus::Real());
        bus_->Use();
        handle_ = OpenDriver();
        ASSERT_NE(handle_, NoDriverHandle);
    }
    void TearDown() override {
        CloseDriver(handle_);
        SetDriverDevice(DefaultDriverDevice);
    }
    std::vector<Listed> Scanned() {
        PciScanRecord s{};
        EXPECT_EQ(DriverRequest(WD_PciScanCards, handle_, &s, sizeof s), 0u);
        std::vector<Listed> list;
        for (uint32_t i = 0; i < s.CardCount && i < MaxScanCards; ++i)
            list.push_back({s.Locations[i].Bus, s.Locations[i].Slot, s.Locations[i].Function, s.Ids[i].VendorId,
                            s.Ids[i].DeviceId});
        return list;
    }
    uint32_t Config(const Listed& f, uint32_t offset, uint32_t bytes, uint32_t& word) {
        ConfigAccessRecord c{};
        c.Bus = f.Bus;
        c.Slot = f.Slot;
        c.Function = f.Function;
        c.Buffer = ClientAddress(&word, sizeof word);
        c.Offset = offset;
        c.Bytes = bytes;
        c.Direction = ConfigDirectionRead;
        return DriverRequest(WD_PciConfigDump, handle_, &c, sizeof c);
    }
    CardInfoRecord Info(const Listed& f) {
        CardInfoRecord info{};
        info.Bus = f.Bus;
        info.Slot = f.Slot;
        info.Function = f.Function;
        EXPECT_EQ(DriverRequest(WD_PciGetCardInfo, handle_, &info, sizeof info), 0u);
        return info;
    }
    static std::string SysfsDir(const Listed& f) {
        return "/sys/bus/pci/devices/" + driverd::SysfsName(0, f.Bus, f.Slot, f.Function);
    }
    std::unique_ptr<TestBus> bus_;
    DriverHandle handle_ = NoDriverHandle;
};

TEST_F(RealBusTest, ListsTheFunctionsLspciLists) {
    if (!HaveLspci()) GTEST_SKIP() << "lspci is not installed";
    const std::vector<Listed> lspci = LspciFunctions();
    ASSERT_FALSE(lspci.empty());
    std::vector<Listed> want(lspci.begin(), lspci.begin() + std::min<std::size_t>(lspci.size(), MaxScanCards));
    std::sort(want.begin(), want.end(), [](const Listed& a, const Listed& b) {
        return std::tie(a.Bus, a.Slot, a.Function) < std::tie(b.Bus, b.Slot, b.Function);
    });
    EXPECT_EQ(Scanned(), want);
}

// The status register (0x06) collects error bits the hardware may set
// between two reads; every other byte of the dump must be the same.
TEST_F(RealBusTest, ConfigurationBytesAreLspcisExceptTheStatusRegister) {
    if (!HaveLspci()) GTEST_SKIP() << "lspci is not installed";
    for (const Listed& f : Scanned()) {
        const std::vector<uint8_t> want = LspciConfig(f);
        ASSERT_GE(want.size(), 64u);
        ASSERT_EQ(want.size() % 4, 0u);
        for (uint32_t offset = 0; offset < want.size(); offset += 4) {
            uint32_t word = 0;
            ASSERT_EQ(Config(f, offset, 4, word), 0u) << std::hex << f.Bus << ":" << f.Slot << " at " << offset;
            for (uint32_t i = 0; i < 4; ++i) {
                if (offset + i == 6 || offset + i == 7) continue;
                EXPECT_EQ((word >> (8 * i)) & 0xFF, want[offset + i])
                    << std::hex << f.Bus << ":" << f.Slot << "." << f.Function << " byte " << offset + i;
            }
        }
        // Narrow reads give the same bytes as the dword they sit in.
        uint32_t id = 0, vendor = 0, classByte = 0;
        ASSERT_EQ(Config(f, 0, 4, id), 0u);
        ASSERT_EQ(Config(f, 0, 2, vendor), 0u);
        ASSERT_EQ(Config(f, 0x0B, 1, classByte), 0u);
        EXPECT_EQ(vendor, f.Vendor);
        EXPECT_EQ(id, f.Vendor | f.Device << 16);
        EXPECT_EQ(classByte, want[0x0B]);
    }
}

TEST_F(RealBusTest, ConfigurationSpaceEndsWhereTheFunctionsDoes) {
    for (const Listed& f : Scanned()) {
        struct stat st {};
        ASSERT_EQ(stat((SysfsDir(f) + "/config").c_str(), &st), 0);
        const uint32_t size = st.st_size >= 4096 ? 4096 : 256;
        uint32_t word = 0;
        if (geteuid() == 0) {
            EXPECT_EQ(Config(f, size - 4, 4, word), 0u);
        }
        EXPECT_NE(Config(f, size - 4, 8, word), 0u);
        EXPECT_NE(Config(f, size, 1, word), 0u);
        EXPECT_NE(Config(f, size + 4, 4, word), 0u);
    }
}

// Each memory and I/O line of the function's sysfs resource table, read here
// on its own, and an interrupt item exactly when it has a legacy interrupt.
TEST_F(RealBusTest, ResourcesAreTheSysfsOnes) {
    bool sawHighMemory = false;
    for (const Listed& f : Scanned()) {
        const CardInfoRecord info = Info(f);
        std::istringstream table(Slurp(SysfsDir(f) + "/resource"));
        std::string line;
        uint32_t item = 0;
        for (uint32_t bar = 0; bar <= 6 && std::getline(table, line); ++bar) {
            unsigned long long start = 0, end = 0, flags = 0;
            ASSERT_EQ(std::sscanf(line.c_str(), "%llx %llx %llx", &start, &end, &flags), 3);
            if (!(flags & 0x300) || end <= start) continue;
            ASSERT_LT(item, info.Card.NumItems) << "BAR " << bar << " missing";
            const ResourceItem& r = info.Card.Items[item++];
            if (flags & 0x100) {
                ASSERT_EQ(r.Type, ItemIO);
                EXPECT_EQ(r.IO.Address, start);
                EXPECT_EQ(r.IO.Bytes, end - start + 1);
                EXPECT_EQ(r.IO.Bar, bar);
            } else {
                ASSERT_EQ(r.Type, ItemMemory);
                EXPECT_EQ(r.Mem.PhysicalAddress, start & 0xFFFFFFFFu);
                EXPECT_EQ(uint64_t{r.Mem.DriverOwn} << 32 | r.Mem.PhysicalAddress, start) << "the whole address";
                EXPECT_EQ(r.Mem.Bytes, end - start + 1);
                EXPECT_EQ(r.Mem.Bar, bar);
                sawHighMemory = sawHighMemory || start > 0xFFFFFFFFull;
            }
        }
        uint32_t pin = 0;
        ASSERT_EQ(Config(f, 0x3D, 1, pin), 0u);
        const unsigned long irq = std::stoul("0" + Slurp(SysfsDir(f) + "/irq"));
        if (irq != 0 && pin != 0) {
            ASSERT_LT(item, info.Card.NumItems);
            EXPECT_EQ(info.Card.Items[item].Type, ItemInterrupt);
            EXPECT_EQ(info.Card.Items[item++].Int.Number, irq);
        }
        EXPECT_EQ(info.Card.NumItems, item) << "no items beyond sysfs's";
    }
    if (!sawHighMemory) std::printf("note: no memory BAR above 4 GiB on this machine\n");
}

// A function whose memory lies above 4 GiB registers like any other, and the
// transfer address names the whole bus address. A function bound to a kernel
// driver is registered but its BARs are not reached.
TEST_F(RealBusTest, RegistrationKeepsWholeAddressesAndSparesDriversDevices) {
    int checked = 0;
    for (const Listed& f : Scanned()) {
        const CardInfoRecord info = Info(f);
        CardRegisterRecord r{};
        r.Card = info.Card;
        ASSERT_EQ(DriverRequest(WD_CardRegister, handle_, &r, sizeof r), 0u);
        ASSERT_NE(r.CardHandle, 0u);
        const bool bound = std::filesystem::is_symlink(SysfsDir(f) + "/driver");
        for (uint32_t i = 0; i < r.Card.NumItems; ++i) {
            const ResourceItem& item = r.Card.Items[i];
            if (item.Type != ItemMemory) continue;
            EXPECT_EQ(item.Mem.TransferAddress, uint64_t{item.Mem.DriverOwn} << 32 | item.Mem.PhysicalAddress);
            if (!bound || driverd::MayAccessBars(bound, static_cast<uint16_t>(f.Vendor), static_cast<uint16_t>(f.Device)))
                continue;
            ++checked;
            EXPECT_EQ(item.Mem.DirectAddress, 0u) << "no mapping of a driver's registers";
            uint32_t word = 0;
            TransferRecord t{};
            t.Address = item.Mem.TransferAddress;
            t.Command = ReadMemDword;
            t.Bytes = 4;
            t.AutoIncrement = 1;
            t.Data = ClientAddress(&word, 4);
            EXPECT_EQ(DriverRequest(WD_Transfer, handle_, &t, sizeof t), wire::StatusRefused);
        }
        EXPECT_EQ(DriverRequest(WD_CardUnregister, handle_, &r, sizeof r), 0u);
    }
    if (checked == 0) std::printf("note: no memory BAR of a driver-bound function to check\n");
}

// Without root the kernel stops configuration reads after the header: the
// service says so once and refuses what it cannot read instead of handing
// out zeros as if they had been read.
TEST(RealBusWithoutRoot, ServesTheHeaderOnlyAndSaysSo) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to start the service as another user";
    if (!std::filesystem::is_directory("/sys/bus/pci/devices")) GTEST_SKIP() << "no /sys/bus/pci on this machine";
    const platform::testing::TempFolder temp("quorrin-nonroot-");
    const std::string dir = temp.Path(), socket = dir + "/windrvr6", errors = dir + "/stderr";
    ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    const std::string program = BuiltProgram("quorrin-driverd");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(out[1], 1);
        const int e = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (e >= 0) dup2(e, 2);
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(126);
        execl(program.c_str(), program.c_str(), "--real", "--socket", socket.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    pollfd p{out[0], POLLIN, 0};
    char ready[16] = {};
    const bool up = poll(&p, 1, 20000) == 1 && read(out[0], ready, sizeof ready - 1) > 0;
    if (up) {
        EXPECT_EQ(Slurp(errors), std::string("quorrin-driverd: ") + driverd::ShortConfigNotice + "\n");
        SetDriverDevice(socket);
        const DriverHandle handle = OpenDriver();
        EXPECT_NE(handle, NoDriverHandle);
        PciScanRecord s{};
        EXPECT_EQ(DriverRequest(WD_PciScanCards, handle, &s, sizeof s), 0u);
        EXPECT_GT(s.CardCount, 0u);
        const struct {
            uint32_t offset, bytes;
            bool served;
        } cases[] = {{0, 4, true}, {60, 4, true}, {63, 1, true}, {62, 4, false}, {64, 1, false}, {0xFC, 4, false}};
        for (const auto& c : cases) {
            uint32_t word = 0;
            ConfigAccessRecord r{};
            r.Bus = s.Locations[0].Bus;
            r.Slot = s.Locations[0].Slot;
            r.Function = s.Locations[0].Function;
            r.Buffer = ClientAddress(&word, sizeof word);
            r.Offset = c.offset;
            r.Bytes = c.bytes;
            r.Direction = ConfigDirectionRead;
            const uint32_t status = DriverRequest(WD_PciConfigDump, handle, &r, sizeof r);
            if (c.served) {
                EXPECT_EQ(status, 0u) << "offset " << c.offset;
            } else {
                EXPECT_EQ(status, wire::StatusRefused) << "offset " << c.offset;
            }
        }
        CloseDriver(handle);
        SetDriverDevice(DefaultDriverDevice);
    }
    kill(pid, SIGTERM);  // our own child, not yet reaped
    int status = 0;
    waitpid(pid, &status, 0);
    close(out[0]);
    const std::string stderrText = Slurp(errors);
    ASSERT_TRUE(up) << "the service did not come up: " << stderrText;
}

}  // namespace
