// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of request handling in the service: scan, card information,
// registration and its locks, configuration reads and the transfer guards.
#include "driver/DriverService.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "driver/SimulatedBus.h"
#include "driver/testing/Microwire.h"
#include "pci/PlxBridge.h"
#include "wire/DriverWire.h"

namespace {

using driverd::Answer;
using driverd::DecodedRequest;
using driverd::DriverService;

constexpr uint32_t Member = 1000;

const char* const TwoCards = R"({"functions":[
  {"bus":2,"slot":4,"function":0,"vendor":"0x10B5","device":"0x9056",
   "resources":[{"type":"memory","bar":0,"address":"0xF0000000","length":"0x200"},
                {"type":"io","bar":1,"address":"0xE000","length":"0x100"},
                {"type":"interrupt","number":11}]},
  {"bus":0,"slot":3,"function":0,"vendor":"0x8086","device":"0x1234","config":"100: 11 22 33 44"},
  {"bus":0,"slot":5,"function":0,"vendor":"0x8086","device":"0x5678","faults":["register-refused","config-refused"]},
  {"bus":0,"slot":6,"function":0,"vendor":"0x8086","device":"0x9abc","faults":["register-no-handle","card-info-refused"]}]})";

class Service : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        bus_ = driverd::LoadSimulatedBus(TwoCards, "bus.json", error);
        ASSERT_TRUE(bus_) << error;
        service_ = std::make_unique<DriverService>(*bus_, "quorrin-driverd test");
    }
    template <typename Record>
    Answer Send(DriverService::ClientId client, uint32_t code, const Record& record, const void* data = nullptr,
                uint32_t dataSize = 0) {
        DecodedRequest r;
        r.Code = code;
        r.RecordSize = sizeof record;
        std::memcpy(&r.Record, &record, sizeof record);
        r.Data = static_cast<const uint8_t*>(data);
        r.DataSize = dataSize;
        return service_->Serve(client, r);
    }
    CardInfoRecord Info(DriverService::ClientId client, uint32_t bus, uint32_t slot, uint32_t function) {
        CardInfoRecord c{};
        c.Bus = bus;
        c.Slot = slot;
        c.Function = function;
        return Send(client, WD_PciGetCardInfo, c).Record.CardInfo;
    }
    Answer Register(DriverService::ClientId client, const CardInfoRecord& info) {
        CardRegisterRecord r{};
        r.Card = info.Card;
        return Send(client, WD_CardRegister, r);
    }
    Answer Transfer(DriverService::ClientId client, uint32_t command, uint64_t address, uint32_t bytes,
                    const void* data = nullptr, uint32_t autoIncrement = 1) {
        TransferRecord t{};
        t.Address = address;
        t.Command = command;
        t.Bytes = bytes;
        t.AutoIncrement = autoIncrement;
        return Send(client, WD_Transfer, t, data, data ? bytes : 0);
    }
    std::unique_ptr<driverd::Bus> bus_;
    std::unique_ptr<DriverService> service_;
};

TEST_F(Service, VersionAndScan) {
    const auto client = service_->Connect(Member);
    const Answer v = Send(client, WD_Version, VersionRecord{});
    EXPECT_EQ(v.Status, 0u);
    EXPECT_EQ(v.Record.Version.Version, 1110u);
    EXPECT_STREQ(v.Record.Version.Text, "quorrin-driverd test");

    const Answer s = Send(client, WD_PciScanCards, PciScanRecord{});
    ASSERT_EQ(s.Status, 0u);
    ASSERT_EQ(s.Record.Scan.CardCount, 4u);
    const uint32_t slots[] = {3, 5, 6, 4};  // bus, slot, function order
    for (int i = 0; i < 4; ++i) EXPECT_EQ(s.Record.Scan.Locations[i].Slot, slots[i]) << i;
    EXPECT_EQ(s.Record.Scan.Ids[3].VendorId, 0x10B5u);
    EXPECT_EQ(s.Record.Scan.Ids[3].DeviceId, 0x9056u);

    PciScanRecord only{};
    only.SearchDeviceId = 0x5678;
    const Answer one = Send(client, WD_PciScanCards, only);
    EXPECT_EQ(one.Record.Scan.CardCount, 1u);
    EXPECT_EQ(one.Record.Scan.Locations[0].Slot, 5u);
}

TEST(ServiceScan, AtMostAHundredFunctions) {
    std::string json = R"({"functions":[)";
    for (int i = 0; i < 130; ++i)
        json += std::string(i ? "," : "") + R"({"bus":)" + std::to_string(i / 32) + R"(,"slot":)" + std::to_string(i % 32) +
                R"(,"function":0,"vendor":1})";
    std::string error;
    auto bus = driverd::LoadSimulatedBus(json + "]}", "b", error);
    ASSERT_TRUE(bus) << error;
    DriverService service(*bus, "t");
    DecodedRequest r;
    r.Code = WD_PciScanCards;
    r.RecordSize = sizeof(PciScanRecord);
    const Answer a = service.Serve(service.Connect(Member), r);
    EXPECT_EQ(a.Record.Scan.CardCount, 100u);
    EXPECT_EQ(a.Record.Scan.Locations[99].Bus, 3u);
    EXPECT_EQ(a.Record.Scan.Locations[99].Slot, 3u);
}

TEST_F(Service, CardInformation) {
    const auto client = service_->Connect(Member);
    const CardInfoRecord plx = Info(client, 2, 4, 0);
    ASSERT_EQ(plx.Card.NumItems, 3u);
    EXPECT_EQ(plx.Card.Items[0].Type, ItemMemory);
    EXPECT_EQ(plx.Card.Items[0].Mem.PhysicalAddress, 0xF0000000u);
    EXPECT_EQ(plx.Card.Items[0].Mem.Bytes, 0x200u);
    EXPECT_EQ(plx.Card.Items[1].Type, ItemIO);
    EXPECT_EQ(plx.Card.Items[1].IO.Address, 0xE000u);
    EXPECT_EQ(plx.Card.Items[1].IO.Bar, 1u);
    EXPECT_EQ(plx.Card.Items[2].Int.Number, 11u);

    CardInfoRecord missing{};
    missing.Bus = 9;
    EXPECT_EQ(Send(client, WD_PciGetCardInfo, missing).Status, wire::StatusNoSuchCard);
    CardInfoRecord refused{};
    refused.Slot = 6;
    const Answer a = Send(client, WD_PciGetCardInfo, refused);
    EXPECT_EQ(a.Status, wire::StatusRefused);
    EXPECT_EQ(a.Record.CardInfo.Card.NumItems, 0u);  // left as sent
}

TEST_F(Service, RegistrationLocksTheCardForOneClient) {
    const auto first = service_->Connect(Member), second = service_->Connect(Member);
    const CardInfoRecord info = Info(first, 2, 4, 0);
    const Answer mine = Register(first, info);
    ASSERT_EQ(mine.Status, 0u);
    const CardRegisterRecord& r = mine.Record.Registration;
    EXPECT_NE(r.CardHandle, 0u);
    EXPECT_EQ(r.Card.Items[0].Mem.TransferAddress, 0xF0000000u);
    EXPECT_EQ(r.Card.Items[0].Mem.DirectAddress, 0u);  // no mapping leaves the service
    EXPECT_TRUE(mine.Data.empty());
    EXPECT_NE(r.Card.Items[2].Int.Handle, 0u);

    const Answer theirs = Register(second, Info(second, 2, 4, 0));
    EXPECT_EQ(theirs.Status, 0u);
    EXPECT_EQ(theirs.Record.Registration.CardHandle, 0u);

    // Another client cannot unregister it; its owner can, and then it is free.
    EXPECT_EQ(Send(second, WD_CardUnregister, r).Status, wire::StatusNotRegistered);
    EXPECT_EQ(Send(first, WD_CardUnregister, r).Status, 0u);
    EXPECT_EQ(Send(first, WD_CardUnregister, r).Status, wire::StatusNotRegistered);
    EXPECT_NE(Register(second, info).Record.Registration.CardHandle, 0u);
}

TEST_F(Service, DisconnectReleasesRegistrations) {
    const auto first = service_->Connect(Member), second = service_->Connect(Member);
    const CardInfoRecord info = Info(first, 2, 4, 0);
    ASSERT_NE(Register(first, info).Record.Registration.CardHandle, 0u);
    EXPECT_EQ(service_->Registrations(), 1u);
    service_->Disconnect(first);
    EXPECT_EQ(service_->Registrations(), 0u);
    EXPECT_NE(Register(second, info).Record.Registration.CardHandle, 0u);
}

TEST_F(Service, RegistrationOutcomes) {
    const auto client = service_->Connect(Member);
    // Two cards without resources: told apart by the card asked about last.
    Info(client, 0, 5, 0);
    EXPECT_EQ(Register(client, CardInfoRecord{}).Status, wire::StatusRefused);
    // A card whose information was refused is answered from its own state,
    // never taken for 0:05.0 beside it, which has the same (no) items.
    CardInfoRecord noHandle{};
    noHandle.Slot = 6;
    Send(client, WD_PciGetCardInfo, noHandle);
    EXPECT_EQ(Register(client, noHandle).Status, wire::StatusNoSuchCard);
    const CardInfoRecord plain = Info(client, 0, 3, 0);
    const Answer ok = Register(client, plain);
    EXPECT_EQ(ok.Status, 0u);
    EXPECT_NE(ok.Record.Registration.CardHandle, 0u);

    // Resources that no function has.
    CardInfoRecord forged = Info(client, 2, 4, 0);
    forged.Card.Items[0].Mem.Bytes = 0x100000;
    EXPECT_EQ(Register(client, forged).Status, wire::StatusNoSuchCard);
    forged.Card.NumItems = 21;
    EXPECT_EQ(Register(client, forged).Status, wire::StatusBadRecord);
}

TEST_F(Service, RegisterNoHandleFault) {
    std::string error;
    auto bus = driverd::LoadSimulatedBus(R"({"functions":[{"bus":0,"slot":6,"function":0,"faults":["register-no-handle"]}]})",
                                         "b", error);
    ASSERT_TRUE(bus) << error;
    DriverService service(*bus, "t");
    DecodedRequest r;
    r.Code = WD_CardRegister;
    r.RecordSize = sizeof(CardRegisterRecord);
    const Answer a = service.Serve(service.Connect(Member), r);
    EXPECT_EQ(a.Status, 0u);
    EXPECT_EQ(a.Record.Registration.CardHandle, 0u);
    EXPECT_EQ(service.Registrations(), 0u);
}

TEST_F(Service, ConfigurationReads) {
    const auto client = service_->Connect(Member);
    const struct {
        uint32_t slot, offset, bytes, status, value;
    } cases[] = {
        {4, 0, 4, 0, 0x905610B5u},
        {4, 2, 2, 0, 0x9056u},
        {4, 0xFC, 4, 0, 0},
        {4, 0xFD, 4, wire::StatusOutOfRange, 0},   // past 256 bytes
        {4, 0x100, 1, wire::StatusOutOfRange, 0},
        {3, 0x100, 4, 0, 0x44332211u},             // extended space
        {3, 0xFFC, 4, 0, 0},
        {5, 0, 4, wire::StatusRefused, 0},
        {9, 0, 4, wire::StatusNoSuchCard, 0},
    };
    for (const auto& c : cases) {
        ConfigAccessRecord r{};
        r.Bus = c.slot == 4 ? 2 : 0;
        r.Slot = c.slot;
        r.Offset = c.offset;
        r.Bytes = c.bytes;
        r.Direction = 1;
        const Answer a = Send(client, WD_PciConfigDump, r);
        EXPECT_EQ(a.Status, c.status) << c.slot << " " << c.offset;
        if (c.status == 0) {
            ASSERT_EQ(a.Data.size(), 4u);
            uint32_t v;
            std::memcpy(&v, a.Data.data(), 4);
            EXPECT_EQ(v, c.value) << c.slot << " " << c.offset;
            EXPECT_EQ(a.Record.Config.Bytes, c.bytes);
        } else {
            EXPECT_TRUE(a.Data.empty());
        }
    }
    ConfigAccessRecord write{};
    write.Bus = 2;
    write.Slot = 4;
    write.Bytes = 4;
    write.Direction = 0;
    EXPECT_EQ(Send(client, WD_PciConfigDump, write).Status, wire::StatusDenied) << "never written";
}

TEST_F(Service, TransfersOnlyInsideWhatThisClientRegistered) {
    const auto owner = service_->Connect(Member), other = service_->Connect(Member);
    const Answer reg = Register(owner, Info(owner, 2, 4, 0));
    ASSERT_NE(reg.Record.Registration.CardHandle, 0u);
    const uint32_t word = 0xA1B2C3D4;
    const struct {
        const char* name;
        driverd::DriverService::ClientId client;
        uint32_t command;
        uint64_t address;
        uint32_t bytes;
        uint32_t autoIncrement;
        uint32_t status;
    } cases[] = {
        {"memory read of CNTRL, a dword", owner, ReadMemDword, 0xF000006C, 4, 1, wire::StatusDenied},
        {"memory read at the end", owner, ReadMemDword, 0xF00001FC, 4, 1, wire::StatusDenied},
        {"memory read of the ID byte", owner, ReadMemByte, 0xF0000072, 1, 1, 0},
        {"memory read across the end", owner, ReadMemDword, 0xF00001FC, 8, 1, wire::StatusOutOfRange},
        {"memory read below the start", owner, ReadMemByte, 0xEFFFFFFF, 2, 1, wire::StatusOutOfRange},
        {"memory read just past the end", owner, ReadMemByte, 0xF0000200, 1, 1, wire::StatusOutOfRange},
        {"I/O read of the control byte", owner, ReadPortByte, 0xE06F, 1, 1, 0},
        {"I/O read past the block", owner, ReadPortByte, 0xE100, 1, 1, wire::StatusOutOfRange},
        {"memory command on the port", owner, ReadMemByte, 0xE000, 1, 1, wire::StatusOutOfRange},
        {"port command on memory", owner, ReadPortByte, 0xF0000000, 1, 1, wire::StatusOutOfRange},
        {"one address, many units", owner, ReadPortDword, 0xE0FC, 64, 0, wire::StatusDenied},
        {"the control byte twice in one request", owner, ReadPortByte, 0xE06F, 2, 0, wire::StatusDenied},
        {"address that wraps", owner, ReadMemByte, 0xFFFFFFFFFFFFFFFFull, 2, 1, wire::StatusOutOfRange},
        {"unaligned dword", owner, ReadMemDword, 0xF0000002, 4, 1, wire::StatusBadRecord},
        {"unaligned word", owner, ReadPortWord, 0xE06F, 2, 1, wire::StatusBadRecord},
        {"the other client", other, ReadMemDword, 0xF0000000, 4, 1, wire::StatusOutOfRange},
    };
    for (const auto& c : cases) {
        const bool write = !wire::TransferIsRead(c.command);
        const Answer a = Transfer(c.client, c.command, c.address, c.bytes, write ? &word : nullptr, c.autoIncrement);
        EXPECT_EQ(a.Status, c.status) << c.name;
        if (c.status == 0 && !write) {
            EXPECT_EQ(a.Data.size(), c.bytes) << c.name;
        } else {
            EXPECT_TRUE(a.Data.empty()) << c.name;
        }
    }
    // After unregistering, nothing more.
    ASSERT_EQ(Send(owner, WD_CardUnregister, reg.Record.Registration).Status, 0u);
    EXPECT_EQ(Transfer(owner, ReadMemByte, 0xF0000072, 1).Status, wire::StatusOutOfRange);
}

}  // namespace

namespace {

const char* const Bridges = R"({"functions":[
  {"bus":2,"slot":4,"function":0,"vendor":"0x10B5","device":"0x9056",
   "resources":[{"type":"memory","bar":0,"address":"0xF0000000","length":"0x200"},
                {"type":"io","bar":1,"address":"0xE000","length":"0x100"},
                {"type":"memory","bar":2,"address":"0xF1000000","length":"0x100"}]},
  {"bus":2,"slot":5,"function":0,"vendor":"0x10B5","device":"0x9080",
   "resources":[{"type":"io","bar":1,"address":"0xD000","length":"0x100"}]},
  {"bus":2,"slot":6,"function":0,"vendor":"0x10B5","device":"0x9054",
   "resources":[{"type":"io","bar":1,"address":"0xC000","length":"0x100"}]}]})";

class Policy : public Service {
protected:
    void SetUp() override {
        std::string error;
        bus_ = driverd::LoadSimulatedBus(Bridges, "bus.json", error);
        ASSERT_TRUE(bus_) << error;
        service_ = std::make_unique<DriverService>(*bus_, "t");
        client_ = service_->Connect(Member);
        for (uint32_t slot : {4u, 5u, 6u})
            ASSERT_NE(Register(client_, Info(client_, 2, slot, 0)).Record.Registration.CardHandle, 0u);
    }
    uint32_t Write(uint32_t command, uint64_t address, uint32_t value, uint32_t bytes,
                   uint32_t autoIncrement = 1) {
        return Transfer(client_, command, address, bytes, &value, autoIncrement).Status;
    }
    DriverService::ClientId client_ = 0;
};

TEST_F(Policy, OnlyTheEepromControlByteOfAPlxBridgeIsWritten) {
    const struct {
        const char* name;
        uint32_t command;
        uint64_t address;
        uint32_t bytes, autoIncrement, status;
    } cases[] = {
        {"9056 I/O registers (BAR 1)", WritePortByte, 0xE06F, 1, 1, 0},
        {"9056 memory registers (BAR 0)", WriteMemByte, 0xF000006F, 1, 1, 0},
        {"9080 I/O registers", WritePortByte, 0xD06F, 1, 1, 0},
        {"9056 local space (BAR 2)", WriteMemByte, 0xF100006F, 1, 1, wire::StatusDenied},
        {"9054: not a bridge the program reads", WritePortByte, 0xC06F, 1, 1, wire::StatusDenied},
        {"the whole CNTRL register", WritePortDword, 0xE06C, 4, 1, wire::StatusDenied},
        {"a word over the byte", WritePortWord, 0xE06E, 2, 1, wire::StatusDenied},
        {"the byte twice in one request", WritePortByte, 0xE06F, 2, 0, wire::StatusDenied},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Write(c.command, c.address, 0x02, c.bytes, c.autoIncrement), c.status) << c.name;
    for (uint64_t offset = 0; offset < 0x100; ++offset) {
        if (offset != 0x6F) {
            EXPECT_EQ(Write(WritePortByte, 0xE000 + offset, 0, 1), wire::StatusDenied) << offset;
        }
    }
}

// Reload (0x20) and reset (0x40) must be written as they read; the EEPROM
// lines, the read-only bits and the 9056's EEDO input enable may change.
TEST_F(Policy, OnlyTheEepromBitsOfTheControlByteChange) {
    for (int bit = 0; bit < 8; ++bit) {
        ASSERT_EQ(Write(WritePortByte, 0xE06F, 0, 1), 0u);
        const bool changeable = (1u << bit) & 0x9F;
        EXPECT_EQ(Write(WritePortByte, 0xE06F, 1u << bit, 1), changeable ? 0u : wire::StatusDenied) << bit;
    }
    // A reset someone else holds stays held: clearing it is a change too.
    uint8_t reset = 0x40;
    ASSERT_EQ(bus_->Transfer({2, 4, 0}, 1, 0x6F, 1, false, true, &reset, 1), driverd::TransferResult::Done);
    EXPECT_EQ(Write(WritePortByte, 0xE06F, 0x02, 1), wire::StatusDenied);
    EXPECT_EQ(Write(WritePortByte, 0xE06F, 0x42, 1), 0u);
}

// Functions told apart by their interrupt, at bus i / 32, slot i % 32.
std::unique_ptr<driverd::Bus> ManyFunctions(int count) {
    std::string json = R"({"functions":[)";
    for (int i = 0; i < count; ++i)
        json += std::string(i ? "," : "") + R"({"bus":)" + std::to_string(i / 32) + R"(,"slot":)" +
                std::to_string(i % 32) + R"(,"function":0,"resources":[{"type":"interrupt","number":)" +
                std::to_string(i) + "}]}";
    std::string error;
    auto bus = driverd::LoadSimulatedBus(json + "]}", "b", error);
    EXPECT_TRUE(bus) << error;
    return bus;
}

TEST_F(Service, OneRegistrationPerCardAndAFewPerConnectionAndUser) {
    bus_ = ManyFunctions(20);
    service_ = std::make_unique<DriverService>(*bus_, "t");
    const auto client = service_->Connect(Member);
    const CardInfoRecord first = Info(client, 0, 0, 0);
    const Answer held = Register(client, first);
    ASSERT_NE(held.Record.Registration.CardHandle, 0u);
    for (int again = 0; again < 1000; ++again) {
        const Answer a = Register(client, first);
        ASSERT_EQ(a.Status, 0u);
        ASSERT_EQ(a.Record.Registration.CardHandle, 0u);
    }
    EXPECT_EQ(service_->Registrations(), 1u);

    // How many cards each of these connections gets, taking them in turn
    // from slot 1 on: a member's connections share its user's cap, root's
    // are capped per connection only.
    const struct {
        uint32_t uid;
        std::size_t granted;
    } connections[] = {{Member, 4}, {Member, 3}, {Member, 0}, {0, 4}, {0, 4}};
    uint32_t slot = 1;
    for (const auto& c : connections) {
        const auto id = service_->Connect(c.uid);
        std::size_t granted = 0;
        for (int tries = 0; tries < 5; ++tries) {
            const Answer a = Register(id, Info(id, 0, slot, 0));
            if (a.Status == wire::StatusLimit) continue;
            ASSERT_EQ(a.Status, 0u);
            ASSERT_NE(a.Record.Registration.CardHandle, 0u);
            ++granted;
            ++slot;
        }
        EXPECT_EQ(granted, c.granted) << "uid " << c.uid;
    }
    EXPECT_EQ(service_->Registrations(), 16u);
    // Releasing one gives its connection room again.
    ASSERT_EQ(Send(client, WD_CardUnregister, held.Record.Registration).Status, 0u);
    const auto next = service_->Connect(Member);
    EXPECT_NE(Register(next, Info(next, 0, slot, 0)).Record.Registration.CardHandle, 0u);
}

TEST_F(Service, LockCheckOnlyTakesNoLock) {
    const auto first = service_->Connect(Member), second = service_->Connect(Member);
    CardRegisterRecord check{};
    check.Card = Info(first, 2, 4, 0).Card;
    check.LockCheckOnly = 1;
    const Answer free = Send(first, WD_CardRegister, check);
    EXPECT_EQ(free.Status, 0u);
    EXPECT_EQ(free.Record.Registration.CardHandle, driverd::LockCheckHandle);
    EXPECT_EQ(service_->Registrations(), 0u);
    EXPECT_NE(Register(second, Info(second, 2, 4, 0)).Record.Registration.CardHandle, 0u);
    EXPECT_EQ(Send(first, WD_CardRegister, check).Record.Registration.CardHandle, 0u);  // now locked
}

TEST_F(Service, CardHandlesInUseAreNeverGivenAgain) {
    bus_ = ManyFunctions(3);
    service_ = std::make_unique<DriverService>(*bus_, "t");
    const auto owner = service_->Connect(Member), other = service_->Connect(Member);
    const Answer mine = Register(owner, Info(owner, 0, 0, 0));
    ASSERT_EQ(mine.Record.Registration.CardHandle, 1u);
    service_->SetNextCardHandleForTesting(0xFFFFFFFEu);
    EXPECT_EQ(Register(other, Info(other, 0, 1, 0)).Record.Registration.CardHandle, 0xFFFFFFFEu);
    // Past the lock-check handle, 0, and the owner's 1.
    const Answer theirs = Register(other, Info(other, 0, 2, 0));
    EXPECT_EQ(theirs.Record.Registration.CardHandle, 2u);
    EXPECT_EQ(Send(other, WD_CardUnregister, mine.Record.Registration).Status, wire::StatusNotRegistered);
    EXPECT_EQ(Send(owner, WD_CardUnregister, mine.Record.Registration).Status, 0u);
}

}  // namespace

namespace {

// Two bridges, each with its register block in BAR 0 (memory) and BAR 1
// (I/O) and an EEPROM whose words are all different.
std::string GuardedBridges() {
    auto words = [](int count) {
        std::string list;
        for (int i = 0; i < count; ++i) list += (i ? "," : "") + std::to_string(0x0100 + i);
        return "[" + list + "]";
    };
    return R"({"functions":[
  {"bus":2,"slot":4,"function":0,"vendor":"0x10B5","device":"0x9056","eeprom":)" + words(256) + R"(,
   "resources":[{"type":"memory","bar":0,"address":"0xF0000000","length":"0x200"},
                {"type":"io","bar":1,"address":"0xE000","length":"0x100"}]},
  {"bus":2,"slot":5,"function":0,"vendor":"0x10B5","device":"0x9080","eeprom":)" + words(64) + R"(,
   "resources":[{"type":"memory","bar":0,"address":"0xF1000000","length":"0x200"},
                {"type":"io","bar":1,"address":"0xD000","length":"0x100"}]}]})";
}

// One register space of a bridge: its commands and base address.
struct Space {
    const char* name;
    uint32_t slot;
    uint32_t read, write;
    uint64_t base;
};

class Guard : public Service {
protected:
    void SetUp() override {
        std::string error;
        bus_ = driverd::LoadSimulatedBus(GuardedBridges(), "bus.json", error);
        ASSERT_TRUE(bus_) << error;
        log_.clear();
        driverd::ServiceHooks hooks;
        hooks.Now = [this] { return now_; };
        hooks.Log = [this](const std::string& line) { log_.push_back(line); };
        service_ = std::make_unique<DriverService>(*bus_, "t", hooks);
    }
    // The control byte and ID byte of one register space, as a client.
    std::function<uint8_t(uint32_t)> Reads(DriverService::ClientId client, const Space& s) {
        return [=, this](uint32_t offset) {
            const Answer a = Transfer(client, s.read, s.base + offset, 1);
            EXPECT_EQ(a.Status, 0u) << s.name << " read at " << offset;
            return a.Data.empty() ? uint8_t{0} : a.Data[0];
        };
    }
    std::function<bool(uint8_t)> Writes(DriverService::ClientId client, const Space& s) {
        return [=, this](uint8_t v) {
            return Transfer(client, s.write, s.base + plx::EepromControlOffset, 1, &v).Status == 0;
        };
    }
    std::vector<std::string> log_;
    driverd::ServiceHooks::Clock::time_point now_{};
};

const Space Spaces[] = {
    {"9056 BAR 0", 4, ReadMemByte, WriteMemByte, 0xF0000000}, {"9056 BAR 1", 4, ReadPortByte, WritePortByte, 0xE000},
    {"9080 BAR 0", 5, ReadMemByte, WriteMemByte, 0xF1000000}, {"9080 BAR 1", 5, ReadPortByte, WritePortByte, 0xD000},
};

// The attack of a member: EWEN, then each write instruction, clocked into
// the part. Each is refused at its first edge that is not READ's, and the
// part, read back as the sniff reads it, holds every word as before.
TEST_F(Guard, WriteInstructionsNeverReachTheEeprom) {
    for (const Space& s : Spaces) {
        const auto client = service_->Connect(Member);
        ASSERT_NE(Register(client, Info(client, 2, s.slot, 0)).Record.Registration.CardHandle, 0u) << s.name;
        const auto read = Reads(client, s);
        const auto write = Writes(client, s);
        const unsigned bits = s.slot == 4 ? plx::EepromAddressBits9056 : plx::EepromAddressBits9080;
        for (const auto& instruction : microwire::WriteInstructions(bits))
            EXPECT_EQ(microwire::ClockIn(instruction, write), microwire::FirstForbiddenWrite(instruction))
                << s.name << " " << instruction.Name;
        for (unsigned i = 0; i < 64; ++i)
            ASSERT_EQ(microwire::ReadWordAsTheSniff(read, [&](uint8_t v) { EXPECT_TRUE(write(v)) << s.name; }, i),
                      0x0100 + i)
                << s.name << " word " << i;
        service_->Disconnect(client);
    }
}

// A registration starts from "chip select not yet seen low": whatever the
// previous holder left half clocked in, no edge counts until it falls.
TEST_F(Guard, ANewHolderStartsWithChipSelectLow) {
    const Space& s = Spaces[1];
    const auto first = service_->Connect(Member), second = service_->Connect(Member + 1);
    ASSERT_NE(Register(first, Info(first, 2, 4, 0)).Record.Registration.CardHandle, 0u);
    const uint8_t cs = plx::EepromChipSelect, one = plx::EepromDataToPart, clock = plx::EepromClock;
    for (uint8_t v : {uint8_t{0}, cs, uint8_t(cs | one), uint8_t(cs | one | clock), uint8_t(cs | one)})
        ASSERT_TRUE(Writes(first, s)(v));  // the start bit, chip select left high
    service_->Disconnect(first);
    ASSERT_NE(Register(second, Info(second, 2, 4, 0)).Record.Registration.CardHandle, 0u);
    const auto write = Writes(second, s);
    EXPECT_FALSE(write(cs | one | clock)) << "an opcode bit 1 into an unknown instruction";
    EXPECT_TRUE(write(0));
    EXPECT_EQ(microwire::ReadWordAsTheSniff(Reads(second, s), [&](uint8_t v) { EXPECT_TRUE(write(v)); }, 7), 0x0107);
}

TEST_F(Guard, AnUnusedRegistrationLapsesAndTheHolderIsNamed) {
    using std::chrono::milliseconds;
    const Space& s = Spaces[1];
    const auto holder = service_->Connect(Member), root = service_->Connect(0);
    ASSERT_NE(Register(holder, Info(holder, 2, 4, 0)).Record.Registration.CardHandle, 0u);
    const CardInfoRecord info = Info(root, 2, 4, 0);
    const struct {
        milliseconds after;        // since the step before
        bool holderReads;          // the holder uses the card then
        bool rootGetsIt;
    } steps[] = {{milliseconds(9000), false, false}, {milliseconds(900), true, false},
                 {milliseconds(9999), false, false}, {milliseconds(1), false, true}};
    for (const auto& step : steps) {
        now_ += step.after;
        if (step.holderReads) {
            ASSERT_EQ(Transfer(holder, s.read, s.base + plx::IdDeviceLowOffset, 1).Status, 0u);
        }
        EXPECT_EQ(Register(root, info).Record.Registration.CardHandle != 0, step.rootGetsIt)
            << step.after.count();
    }
    EXPECT_EQ(Transfer(holder, s.read, s.base + plx::IdDeviceLowOffset, 1).Status, wire::StatusOutOfRange);
    EXPECT_EQ(log_, (std::vector<std::string>{"02:04.0: registration by uid 0 refused: uid 1000 holds the card",
                                              "02:04.0: the registration of uid 1000 lapsed after 10 s without a request"}));
}

}  // namespace
