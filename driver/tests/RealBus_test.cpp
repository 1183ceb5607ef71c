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

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "driver/AccessPolicy.h"
#include "pci/PlxBridge.h"
#include "driver/DriverService.h"
#include "driver/SimulatedBus.h"
#include "driver/linux/SysfsPci.h"
#include "driver/testing/TestBus.h"
#include "platform/testing/FileText.h"
#include "platform/testing/TempFolder.h"
#include "windriver/WinDriverRequests.h"
#include "wire/DriverWire.h"

namespace {

using driverd::Resource;
using driverd::ResourceKind;
using driverd::sysfs::Access;
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
    ASSERT_EQ(bars.Memory(0, 0x1000, 0x20, 4, false, dword), Access::Done);
    EXPECT_EQ(Read("resource0").substr(0x20, 4), std::string("\x0D\xF0\xFE\xCA", 4));

    // A change behind the mapping is seen: nothing is cached.
    const int fd = open((dir_ + "/resource0").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    const uint8_t poke[2] = {0x34, 0x12};
    ASSERT_EQ(pwrite(fd, poke, 2, 0xFFE), 2);
    close(fd);
    uint8_t got[2] = {};
    ASSERT_EQ(bars.Memory(0, 0x1000, 0xFFE, 2, true, got), Access::Done);
    EXPECT_EQ(got[0], 0x34);
    EXPECT_EQ(got[1], 0x12);

    const struct {
        const char* why;
        uint64_t offset;
        uint32_t unit;
    } refused[] = {{"unaligned word", 0x21, 2}, {"unaligned dword", 0x22, 4}, {"past the end", 0x1000, 1},
                   {"runs past the end", 0xFFE, 4}, {"not a unit", 0, 8}};
    for (const auto& r : refused) EXPECT_EQ(bars.Memory(0, 0x1000, r.offset, r.unit, true, got), Access::Failed) << r.why;
}

TEST_F(BarFilesTest, AFileThatShrinksUnderItsMappingFaultsThatAccessOnly) {
    driverd::sysfs::BarFiles bars(dir_);
    uint8_t byte = 0;
    ASSERT_EQ(bars.Memory(0, 0x1000, 0x10, 1, true, &byte), Access::Done);
    ASSERT_EQ(truncate((dir_ + "/resource0").c_str(), 0), 0);
    EXPECT_EQ(bars.Memory(0, 0x1000, 0x10, 1, true, &byte), Access::Fault);
    uint8_t word[4] = {1, 2, 3, 4};
    EXPECT_EQ(bars.Memory(0, 0x1000, 0x20, 4, false, word), Access::Fault) << "and again";
    ASSERT_EQ(truncate((dir_ + "/resource0").c_str(), 0x1000), 0);
    EXPECT_EQ(bars.Memory(0, 0x1000, 0x10, 1, true, &byte), Access::Done);
    EXPECT_EQ(byte, 0);
}

TEST_F(BarFilesTest, DescriptorsOnlyForBarFilesThatOpen) {
    driverd::sysfs::BarFiles bars(dir_);
    const int fd = bars.Open(0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(bars.Open(0), fd) << "kept, not reopened";
    EXPECT_EQ(bars.Open(1), -1);
    Write("resource6", "x");
    EXPECT_EQ(bars.Open(6), -1) << "the expansion ROM is never opened";
    bars.Release();
    EXPECT_EQ(fcntl(fd, F_GETFD), -1) << "Release closes it";
    uint8_t b = 0;
    EXPECT_TRUE(bars.Port(2, 0, 1, true, &b)) << "usable again after Release";
}

// ---- the backend over a stand-in sysfs tree, behind the service ---------------

// A sysfs tree of plain files: devices/DDDD:BB:SS.F with config, the ID
// files, irq, the resource table and a resourceN file per BAR.
class StandIn {
public:
    struct Bar {
        uint32_t Index;
        bool Io;
        uint64_t Address, Length;
    };
    const std::string& Root() const { return root_.Path(); }
    std::string Folder(const std::string& name) const { return Root() + "/devices/" + name; }

    // The register bytes 0x70-0x73 of every BAR file hold the ID register.
    void Add(const std::string& name, uint16_t vendor, uint16_t device, const std::vector<Bar>& bars) {
        const std::string dir = Folder(name);
        std::filesystem::create_directories(dir);
        std::string config(256, '\0');
        const uint32_t id = vendor | uint32_t{device} << 16;
        std::memcpy(config.data(), &id, 4);
        const std::string none = "0x0000000000000000 0x0000000000000000 0x0000000000000000\n";
        std::vector<std::string> lines(7, none);
        for (const Bar& b : bars) {
            const uint32_t value = static_cast<uint32_t>(b.Address) | (b.Io ? 1u : 0u);
            std::memcpy(config.data() + 0x10 + 4 * b.Index, &value, 4);
            char line[96];
            std::snprintf(line, sizeof line, "0x%016llx 0x%016llx 0x%016llx\n",
                          static_cast<unsigned long long>(b.Address),
                          static_cast<unsigned long long>(b.Address + b.Length - 1), b.Io ? 0x40101ull : 0x40200ull);
            lines[b.Index] = line;
            std::string bytes(b.Length, '\0');
            if (b.Length >= 0x74) std::memcpy(bytes.data() + 0x70, &id, 4);
            Write(dir + "/resource" + std::to_string(b.Index), bytes);
        }
        char text[16];
        std::snprintf(text, sizeof text, "0x%04x\n", vendor);
        Write(dir + "/vendor", text);
        std::snprintf(text, sizeof text, "0x%04x\n", device);
        Write(dir + "/device", text);
        std::string resource;
        for (const auto& l : lines) resource += l;
        for (const auto& [file, contents] : std::map<std::string, std::string>{
                 {"config", config}, {"class", "0x068000\n"}, {"irq", "0\n"}, {"resource", resource}})
            Write(dir + "/" + file, contents);
    }
    static void Write(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }

private:
    platform::testing::TempFolder root_{"quorrin-sysfs-"};
};

// 02:04.0 a PLX 9056 (registers in BAR 0 and BAR 1), 00:03.0 a network card.
void AddTwoCards(StandIn& sysfs) {
    sysfs.Add("0000:02:04.0", 0x10B5, 0x9056, {{0, false, 0xF0000000, 0x200}, {1, true, 0xE000, 0x100}});
    sysfs.Add("0000:00:03.0", 0x8086, 0x1234, {{0, false, 0xF1000000, 0x1000}});
}
const char* const TwoCardsJson = R"({"functions":[
  {"bus":2,"slot":4,"function":0,"vendor":"0x10B5","device":"0x9056",
   "resources":[{"type":"memory","bar":0,"address":"0xF0000000","length":"0x200"},
                {"type":"io","bar":1,"address":"0xE000","length":"0x100"}]},
  {"bus":0,"slot":3,"function":0,"vendor":"0x8086","device":"0x1234",
   "resources":[{"type":"memory","bar":0,"address":"0xF1000000","length":"0x1000"}]}]})";

// A client of a service over a bus of either backend, in this process.
class ServiceClient {
public:
    explicit ServiceClient(std::unique_ptr<driverd::Bus> bus) : bus_(std::move(bus)) {
        driverd::ServiceHooks hooks;
        hooks.Log = [this](const std::string& line) { log_.push_back(line); };
        service_ = std::make_unique<driverd::DriverService>(*bus_, "t", hooks);
        client_ = service_->Connect(1000);
    }
    template <typename Record>
    driverd::Answer Send(uint32_t code, const Record& record, const void* data = nullptr, uint32_t size = 0) {
        driverd::DecodedRequest r;
        r.Code = code;
        r.RecordSize = sizeof record;
        std::memcpy(&r.Record, &record, sizeof record);
        r.Data = static_cast<const uint8_t*>(data);
        r.DataSize = size;
        return service_->Serve(client_, r);
    }
    bool Register(uint32_t bus, uint32_t slot) {
        CardInfoRecord info{};
        info.Bus = bus;
        info.Slot = slot;
        const driverd::Answer card = Send(WD_PciGetCardInfo, info);
        CardRegisterRecord r{};
        r.Card = card.Record.CardInfo.Card;
        return card.Status == 0 && Send(WD_CardRegister, r).Record.Registration.CardHandle != 0;
    }
    uint32_t Transfer(uint32_t command, uint64_t address, uint32_t bytes, uint32_t autoIncrement, uint32_t& value) {
        TransferRecord t{};
        t.Address = address;
        t.Command = command;
        t.Bytes = bytes;
        t.AutoIncrement = autoIncrement;
        const std::vector<uint8_t> data(bytes, 0);
        const bool write = !wire::TransferIsRead(command);
        const driverd::Answer a = Send(WD_Transfer, t, write ? data.data() : nullptr, write ? bytes : 0);
        value = 0;
        if (!a.Data.empty()) std::memcpy(&value, a.Data.data(), std::min<std::size_t>(a.Data.size(), sizeof value));
        return a.Status;
    }
    uint32_t Read(uint32_t command, uint64_t address, uint32_t& value) {
        return Transfer(command, address, wire::TransferUnitBytes(command), 1, value);
    }
    bool Listed(uint32_t bus, uint32_t slot) {
        const PciScanRecord s = Send(WD_PciScanCards, PciScanRecord{}).Record.Scan;
        for (uint32_t i = 0; i < s.CardCount; ++i)
            if (s.Locations[i].Bus == bus && s.Locations[i].Slot == slot) return true;
        return false;
    }
    driverd::DriverService& Service() { return *service_; }
    const std::vector<std::string>& Log() const { return log_; }

private:
    std::unique_ptr<driverd::Bus> bus_;
    std::vector<std::string> log_;
    std::unique_ptr<driverd::DriverService> service_;
    driverd::DriverService::ClientId client_ = 0;
};

enum class Backend { Simulated, Real };

class ReadTable : public ::testing::TestWithParam<Backend> {};

// Only the bridge's CNTRL and ID bytes, one per transfer, through either
// register space; nothing of any other device, whatever the backend.
TEST_P(ReadTable, OnlyTheBridgeRegistersTheSniffReads) {
    StandIn sysfs;
    std::string error;
    std::unique_ptr<driverd::Bus> bus;
    if (GetParam() == Backend::Real) {
        AddTwoCards(sysfs);
        bus = driverd::OpenRealBus(error, sysfs.Root());
    } else {
        bus = driverd::LoadSimulatedBus(TwoCardsJson, "bus.json", error);
    }
    ASSERT_TRUE(bus) << error;
    ServiceClient client(std::move(bus));
    ASSERT_TRUE(client.Register(2, 4));
    ASSERT_TRUE(client.Register(0, 3));
    const struct {
        const char* name;
        uint32_t command;
        uint64_t address;
        uint32_t bytes, autoIncrement, status, value;
    } cases[] = {
        {"ID byte 0x72, BAR 1", ReadPortByte, 0xE072, 1, 1, 0, 0x56},
        {"ID byte 0x72, BAR 0", ReadMemByte, 0xF0000072, 1, 1, 0, 0x56},
        {"ID byte 0x73", ReadPortByte, 0xE073, 1, 1, 0, 0x90},
        {"ID byte 0x70", ReadMemByte, 0xF0000070, 1, 1, 0, 0xB5},
        {"CNTRL's low byte", ReadPortByte, 0xE06C, 1, 1, 0, 0},
        {"the byte below CNTRL", ReadPortByte, 0xE06B, 1, 1, wire::StatusDenied, 0},
        {"the byte past the ID", ReadMemByte, 0xF0000074, 1, 1, wire::StatusDenied, 0},
        {"the first register", ReadMemByte, 0xF0000000, 1, 1, wire::StatusDenied, 0},
        {"the ID as a word", ReadPortWord, 0xE072, 2, 1, wire::StatusDenied, 0},
        {"CNTRL as a dword", ReadMemDword, 0xF000006C, 4, 1, wire::StatusDenied, 0},
        {"two bytes in one request", ReadPortByte, 0xE072, 2, 1, wire::StatusDenied, 0},
        {"one byte 16384 times", ReadPortByte, 0xE072, 16384, 0, wire::StatusDenied, 0},
        {"a network card's registers", ReadMemDword, 0xF1000000, 4, 1, wire::StatusDenied, 0},
        {"a network card's byte at 0x72", ReadMemByte, 0xF1000072, 1, 1, wire::StatusDenied, 0},
        {"a write beside the control byte", WritePortByte, 0xE06E, 1, 1, wire::StatusDenied, 0},
        {"a network card's byte written", WriteMemByte, 0xF100006F, 1, 1, wire::StatusDenied, 0},
    };
    for (const auto& c : cases) {
        uint32_t value = 0;
        EXPECT_EQ(client.Transfer(c.command, c.address, c.bytes, c.autoIncrement, value), c.status) << c.name;
        EXPECT_EQ(value, c.value) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, ReadTable, ::testing::Values(Backend::Simulated, Backend::Real),
                         [](const auto& p) { return p.param == Backend::Real ? "Real" : "Simulated"; });

// A function is checked at every transfer against the one registered: its
// folder (a removed and re-added device, or another card in the slot, gets
// a new one) and the IDs in its configuration space. A changed function ends
// its registration, is said once and is no longer listed.
TEST(RealBusIdentity, ARemovedOrReplacedFunctionIsNotServed) {
    const struct {
        const char* name;
        std::function<void(StandIn&)> change;
    } cases[] = {
        {"removed", [](StandIn& s) { std::filesystem::remove_all(s.Folder("0000:02:04.0")); }},
        {"removed and back, a new folder",
         [](StandIn& s) {
             std::filesystem::rename(s.Folder("0000:02:04.0"), s.Root() + "/old");
             s.Add("0000:02:04.0", 0x10B5, 0x9056, {{0, false, 0xF0000000, 0x200}, {1, true, 0xE000, 0x100}});
         }},
        {"reprogrammed in place as another device",
         [](StandIn& s) {
             std::fstream config(s.Folder("0000:02:04.0") + "/config", std::ios::in | std::ios::out | std::ios::binary);
             config.write("\x86\x80\x34\x12", 4);
         }},
    };
    for (const auto& c : cases) {
        StandIn sysfs;
        AddTwoCards(sysfs);
        std::string error;
        ServiceClient client(driverd::OpenRealBus(error, sysfs.Root()));
        ASSERT_TRUE(client.Register(2, 4)) << c.name;
        uint32_t value = 0;
        ASSERT_EQ(client.Read(ReadPortByte, 0xE072, value), 0u) << c.name;
        c.change(sysfs);
        EXPECT_EQ(client.Read(ReadMemByte, 0xF0000072, value), wire::StatusOutOfRange) << c.name;
        EXPECT_EQ(client.Read(ReadPortByte, 0xE072, value), wire::StatusOutOfRange) << c.name;
        EXPECT_EQ(client.Service().Registrations(), 0u) << c.name;
        EXPECT_FALSE(client.Register(2, 4)) << c.name;
        EXPECT_FALSE(client.Listed(2, 4)) << c.name;
        EXPECT_TRUE(client.Listed(0, 3)) << c.name;
        ASSERT_EQ(client.Log().size(), 1u) << c.name;
        EXPECT_EQ(client.Log()[0], "02:04.0: the function was removed or replaced, or its registers faulted; the "
                                   "registration of uid 1000 ends")
            << c.name;
    }
}

// A BAR file that shrinks under the service's mapping faults the next
// access, while a second client is served throughout: the fault costs the
// faulting transfer and its registration, not the service.
TEST(RealBusDaemon, ASigbusUnderTheServiceLeavesOthersServed) {
    StandIn sysfs;
    AddTwoCards(sysfs);
    TestBus bus = TestBus::Real(sysfs.Root());
    bus.Use();
    const DriverHandle victim = OpenDriver(), other = OpenDriver();
    ASSERT_NE(victim, NoDriverHandle);
    ASSERT_NE(other, NoDriverHandle);
    std::atomic<bool> stop{false};
    std::atomic<int> served{0}, failed{0};
    std::thread second([&] {
        while (!stop) {
            uint32_t word = 0;
            ConfigAccessRecord c{};
            c.Bus = 0;
            c.Slot = 3;
            c.Buffer = ClientAddress(&word, sizeof word);
            c.Bytes = 4;
            c.Direction = ConfigDirectionRead;
            ++(DriverRequest(WD_PciConfigDump, other, &c, sizeof c) == 0 && word == 0x12348086u ? served : failed);
        }
    });
    CardInfoRecord info{};
    info.Bus = 2;
    info.Slot = 4;
    ASSERT_EQ(DriverRequest(WD_PciGetCardInfo, victim, &info, sizeof info), 0u);
    CardRegisterRecord r{};
    r.Card = info.Card;
    ASSERT_EQ(DriverRequest(WD_CardRegister, victim, &r, sizeof r), 0u);
    auto readId = [&] {
        uint8_t byte = 0;
        TransferRecord t{};
        t.Address = 0xF0000072;
        t.Command = ReadMemByte;
        t.Bytes = 1;
        t.AutoIncrement = 1;
        t.Data = ClientAddress(&byte, 1);
        return std::make_pair(DriverRequest(WD_Transfer, victim, &t, sizeof t), byte);
    };
    EXPECT_EQ(readId(), std::make_pair(0u, uint8_t{0x56}));
    const int before = served;
    ASSERT_EQ(truncate((sysfs.Folder("0000:02:04.0") + "/resource0").c_str(), 0), 0);
    EXPECT_EQ(readId().first, wire::StatusOutOfRange);
    while (served < before + 100 && bus.Running()) std::this_thread::yield();
    stop = true;
    second.join();
    EXPECT_TRUE(bus.Running());
    EXPECT_EQ(failed, 0);
    EXPECT_GE(served, before + 100);
    EXPECT_TRUE(std::filesystem::exists(bus.Socket()));
    CloseDriver(victim);
    CloseDriver(other);
    SetDriverDevice(DefaultDriverDevice);
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
// transfer address names the whole bus address. No BAR of a function that is
// not a PLX bridge is reached, a kernel driver's or not: a read can clear an
// interrupt cause or pop a queue.
TEST_F(RealBusTest, RegistrationKeepsWholeAddressesAndReachesNoOtherRegisters) {
    int checked = 0;
    for (const Listed& f : Scanned()) {
        const CardInfoRecord info = Info(f);
        CardRegisterRecord r{};
        r.Card = info.Card;
        ASSERT_EQ(DriverRequest(WD_CardRegister, handle_, &r, sizeof r), 0u);
        ASSERT_NE(r.CardHandle, 0u);
        for (uint32_t i = 0; i < r.Card.NumItems; ++i) {
            const ResourceItem& item = r.Card.Items[i];
            if (item.Type != ItemMemory) continue;
            EXPECT_EQ(item.Mem.TransferAddress, uint64_t{item.Mem.DriverOwn} << 32 | item.Mem.PhysicalAddress);
            EXPECT_EQ(item.Mem.DirectAddress, 0u) << "no mapping leaves the service";
            if (plx::IsBridge(f.Vendor, f.Device)) continue;
            ++checked;
            for (uint32_t command : {ReadMemDword, ReadMemByte}) {
                uint32_t word = 0;
                TransferRecord t{};
                t.Address = item.Mem.TransferAddress;
                t.Command = command;
                t.Bytes = wire::TransferUnitBytes(command);
                t.AutoIncrement = 1;
                t.Data = ClientAddress(&word, 4);
                EXPECT_EQ(DriverRequest(WD_Transfer, handle_, &t, sizeof t), wire::StatusDenied);
            }
        }
        EXPECT_EQ(DriverRequest(WD_CardUnregister, handle_, &r, sizeof r), 0u);
    }
    if (checked == 0) std::printf("note: no memory BAR to check on this machine\n");
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
