// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the client transport against a running quorrin-driverd: pointer
// fields, card access through transfers, and a service that goes away.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "driver/testing/TestBus.h"
#include "windriver/WinDriverRequests.h"
#include "wire/DriverWire.h"

namespace {

const char* const Card = R"({"functions":[
  {"bus":2,"slot":4,"function":0,"vendor":"0x10B5","device":"0x9056",
   "config":"00: b5 10 56 90 07 00 90 02 0b 00 80 06 10 00 00 00\n10: 00 00 00 f0 01 e0 00 00",
   "resources":[{"type":"memory","bar":0,"address":"0xF0000000","length":"0x200"},
                {"type":"io","bar":1,"address":"0xE000","length":"0x100"},
                {"type":"interrupt","number":11}],
   "eeprom":["0x9056","0x10B5"]}]})";

class Transport : public ::testing::Test {
protected:
    void SetUp() override {
        bus_ = std::make_unique<TestBus>(Card);
        bus_->Use();
        handle_ = OpenDriver();
        ASSERT_NE(handle_, NoDriverHandle);
    }
    void TearDown() override {
        CloseDriver(handle_);
        SetDriverDevice(DefaultDriverDevice);
    }
    CardRegisterRecord Registered() {
        CardInfoRecord info{};
        info.Bus = 2;
        info.Slot = 4;
        EXPECT_EQ(DriverRequest(WD_PciGetCardInfo, handle_, &info, sizeof info), 0u);
        CardRegisterRecord r{};
        r.Card = info.Card;
        EXPECT_EQ(DriverRequest(WD_CardRegister, handle_, &r, sizeof r), 0u);
        EXPECT_NE(r.CardHandle, 0u);
        return r;
    }
    uint32_t Transfer(uint32_t command, uint64_t address, void* data, uint32_t bytes) {
        TransferRecord t{};
        t.Address = address;
        t.Command = command;
        t.Bytes = bytes;
        t.AutoIncrement = 1;
        t.Data = ClientAddress(data, bytes);
        return DriverRequest(WD_Transfer, handle_, &t, sizeof t);
    }
    std::unique_ptr<TestBus> bus_;
    DriverHandle handle_ = NoDriverHandle;
};

TEST_F(Transport, ConfigurationWordComesBackIntoTheCallersWord) {
    uint32_t word = 0xDEADBEEF;
    ConfigAccessRecord c{};
    c.Bus = 2;
    c.Slot = 4;
    c.Offset = 0x10;
    c.Bytes = 4;
    c.Direction = 1;
    c.Buffer = ClientAddress(&word, sizeof word);
    EXPECT_EQ(DriverRequest(WD_PciConfigDump, handle_, &c, sizeof c), 0u);
    EXPECT_EQ(word, 0xF0000000u);
    EXPECT_EQ(c.Bytes, 4u);

    // Outside the 256 bytes: refused, the word untouched.
    word = 0x12345678;
    c.Offset = 0x100;
    c.Buffer = ClientAddress(&word, sizeof word);
    EXPECT_NE(DriverRequest(WD_PciConfigDump, handle_, &c, sizeof c), 0u);
    EXPECT_EQ(word, 0x12345678u);
    EXPECT_EQ(bus_->CountRequests(WD_PciConfigDump), 2);
}

TEST_F(Transport, BadPointerFieldsAreRefusedBeforeAnythingIsSent) {
    uint32_t word = 7;
    ConfigAccessRecord c{};
    c.Bus = 2;
    c.Slot = 4;
    c.Bytes = 4;
    c.Direction = 1;
    const uint32_t good = ClientAddress(&word, sizeof word);
    for (int i = 0; i < 16; ++i) ClientAddress(&word, 4);  // `good` has been reused by now
    const struct {
        const char* name;
        uint32_t token;
    } cases[] = {{"null", 0}, {"made up", 0x80001234u}, {"stale", good}, {"too short", ClientAddress(&word, 2)}};
    for (const auto& k : cases) {
        c.Buffer = k.token;
        EXPECT_EQ(DriverRequest(WD_PciConfigDump, handle_, &c, sizeof c), wire::StatusBadBuffer) << k.name;
        EXPECT_EQ(word, 7u) << k.name;
    }
    uint8_t buffer[8] = {};
    TransferRecord t{};
    t.Address = 0xE000;
    t.Command = ReadPortByte;
    t.Bytes = 16;  // more than the buffer given
    t.AutoIncrement = 1;
    t.Data = ClientAddress(buffer, sizeof buffer);
    EXPECT_EQ(DriverRequest(WD_Transfer, handle_, &t, sizeof t), wire::StatusBadBuffer);
    t.Bytes = 1;
    t.Data |= uint64_t{1} << 32;  // a high half that no 32-bit client sends
    EXPECT_EQ(DriverRequest(WD_Transfer, handle_, &t, sizeof t), wire::StatusBadBuffer);
    EXPECT_EQ(bus_->CountRequests(WD_PciConfigDump), 0);
    EXPECT_EQ(bus_->CountRequests(WD_Transfer), 0);
}

TEST_F(Transport, MemoryIsReachedThroughTransfersUntilUnregister) {
    CardRegisterRecord r = Registered();
    const ResourceItem& mem = r.Card.Items[0];
    EXPECT_EQ(mem.Mem.DirectAddress, 0u) << "no mapping is handed out";
    EXPECT_EQ(mem.Mem.TransferAddress, 0xF0000000u);
    EXPECT_NE(r.Card.Items[2].Int.Handle, 0u);

    // The bridge's registers through its memory space too; nothing else.
    uint8_t viaMemory = 0;
    ASSERT_EQ(Transfer(ReadMemByte, 0xF0000072, &viaMemory, 1), 0u);
    EXPECT_EQ(viaMemory, 0x56);
    uint32_t word = 0xCAFEF00D;
    EXPECT_EQ(Transfer(ReadMemDword, 0xF0000020, &word, 4), wire::StatusDenied)
        << "not a register the program reads";
    EXPECT_EQ(Transfer(WriteMemDword, 0xF0000020, &word, 4), wire::StatusDenied)
        << "not a register the program writes";
    // I/O: the PLX identification byte through a transfer.
    uint8_t id = 0;
    ASSERT_EQ(Transfer(ReadPortByte, 0xE072, &id, 1), 0u);
    EXPECT_EQ(id, 0x56);

    ASSERT_EQ(DriverRequest(WD_CardUnregister, handle_, &r, sizeof r), 0u);
    EXPECT_NE(Transfer(ReadMemByte, 0xF0000072, &viaMemory, 1), 0u);  // no longer registered
    EXPECT_NE(Transfer(ReadPortByte, 0xE072, &id, 1), 0u);
}

TEST_F(Transport, AnotherClientFindsTheCardLocked) {
    const CardRegisterRecord mine = Registered();
    const DriverHandle second = OpenDriver();
    ASSERT_NE(second, NoDriverHandle);
    CardRegisterRecord r{};
    r.Card = mine.Card;
    for (auto& item : r.Card.Items) item.Mem.DirectAddress = 0;
    EXPECT_EQ(DriverRequest(WD_CardRegister, second, &r, sizeof r), 0u);
    EXPECT_EQ(r.CardHandle, 0u);
    // The second client cannot reach the first one's card either.
    uint8_t b = 0;
    TransferRecord t{};
    t.Address = 0xE072;
    t.Command = ReadPortByte;
    t.Bytes = 1;
    t.Data = ClientAddress(&b, 1);
    EXPECT_EQ(DriverRequest(WD_Transfer, second, &t, sizeof t), wire::StatusOutOfRange);
    CloseDriver(second);
    // Closing the first handle releases the card.
    CloseDriver(handle_);
    handle_ = NoDriverHandle;
    const DriverHandle third = OpenDriver();
    CardRegisterRecord again{};
    again.Card = mine.Card;
    EXPECT_EQ(DriverRequest(WD_CardRegister, third, &again, sizeof again), 0u);
    EXPECT_NE(again.CardHandle, 0u);
    CloseDriver(third);
}

TEST_F(Transport, ServiceDyingMidConnection) {
    Registered();
    EXPECT_FALSE(DriverConnectionLost(handle_));
    bus_->Kill();
    EXPECT_FALSE(bus_->Running());
    VersionRecord v{};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(DriverRequest(WD_Version, handle_, &v, sizeof v), 0xFFFFFFFFu);
    EXPECT_EQ(DriverRequest(WD_Version, handle_, &v, sizeof v), 0xFFFFFFFFu);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(v.Version, 0u);
    EXPECT_TRUE(DriverConnectionLost(handle_));
    EXPECT_EQ(OpenDriver(), NoDriverHandle);
    EXPECT_EQ(TakeLastError(), 1);
}

TEST_F(Transport, ProbeReadsTheServicesVersion) {
    ASSERT_TRUE(ProbeDriver());
    VersionRecord v{};
    GetDriverVersion(&v);
    EXPECT_EQ(v.Version, 1110u);
    EXPECT_EQ(std::string(v.Text).rfind("quorrin-driverd", 0), 0u);
    EXPECT_EQ(bus_->CountRequests(WD_Version), 1);
}

TEST_F(Transport, HandlesAreNotReused) {
    const DriverHandle second = OpenDriver();
    ASSERT_NE(second, NoDriverHandle);
    CloseDriver(second);
    const DriverHandle third = OpenDriver();
    EXPECT_NE(third, second);
    VersionRecord v{};
    EXPECT_EQ(DriverRequest(WD_Version, second, &v, sizeof v), 0xFFFFFFFFu);
    EXPECT_EQ(DriverRequest(WD_Version, third, &v, sizeof v), 0u);
    CloseDriver(third);
}

}  // namespace
