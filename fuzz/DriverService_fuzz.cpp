// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin fuzz target -- a conversation of frames from two clients with the
// driver service over a small simulated bus (a PLX bridge with memory, I/O
// and an interrupt, and a plain function). Each frame is preceded by a byte
// naming the client (bit 0) and two bytes of its length. Whatever the
// clients send, the bridge's EEPROM keeps its words.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "driver/DriverService.h"
#include "driver/SimulatedBus.h"
#include "driver/testing/Microwire.h"
#include "wire/DriverWire.h"

namespace {

const char* const Bus = R"({"functions":[
  {"bus":2,"slot":4,"function":0,"vendor":"0x10B5","device":"0x9056",
   "config":"00: b5 10 56 90 07 00 90 02 0b 00 80 06 10 00 00 00\n10: 00 00 00 f0 01 e0 00 00",
   "resources":[{"type":"memory","bar":0,"address":"0xF0000000","length":"0x200"},
                {"type":"io","bar":1,"address":"0xE000","length":"0x100"},
                {"type":"interrupt","number":11}],
   "eeprom":["0x9056","0x10B5","0x1234"]},
  {"bus":0,"slot":3,"function":0,"vendor":"0x8086","device":"0x1234","faults":["register-no-handle"]}]})";

void Require(bool condition) {
    if (!condition) __builtin_trap();
}

driverd::Bus& TheBus() {
    static std::unique_ptr<driverd::Bus> bus = [] {
        std::string error;
        auto b = driverd::LoadSimulatedBus(Bus, "fuzz.json", error);
        Require(b != nullptr);
        return b;
    }();
    return *bus;
}

template <typename Record>
driverd::Answer Send(driverd::DriverService& service, driverd::DriverService::ClientId client, uint32_t code,
                     const Record& record, const uint8_t* data = nullptr, uint32_t size = 0) {
    driverd::DecodedRequest r;
    r.Code = code;
    r.RecordSize = sizeof record;
    std::memcpy(&r.Record, &record, sizeof record);
    r.Data = data;
    r.DataSize = size;
    return service.Serve(client, r);
}

// The words of the bus file, read back through the service as the sniff
// reads them.
void RequireEepromUnchanged(driverd::DriverService& service) {
    const auto client = service.Connect(0);
    CardInfoRecord info{};
    info.Bus = 2;
    info.Slot = 4;
    CardRegisterRecord r{};
    r.Card = Send(service, client, WD_PciGetCardInfo, info).Record.CardInfo.Card;
    Require(Send(service, client, WD_CardRegister, r).Record.Registration.CardHandle != 0);
    auto read = [&](uint32_t offset) {
        TransferRecord t{};
        t.Address = 0xE000 + offset;
        t.Command = ReadPortByte;
        t.Bytes = 1;
        t.AutoIncrement = 1;
        const driverd::Answer a = Send(service, client, WD_Transfer, t);
        return a.Data.empty() ? uint8_t{0} : a.Data[0];
    };
    auto write = [&](uint8_t value) {
        TransferRecord t{};
        t.Address = 0xE000 + plx::EepromControlOffset;
        t.Command = WritePortByte;
        t.Bytes = 1;
        t.AutoIncrement = 1;
        Send(service, client, WD_Transfer, t, &value, 1);
    };
    const uint16_t words[] = {0x9056, 0x10B5, 0x1234, 0xFFFF};
    for (unsigned i = 0; i < 4; ++i) Require(microwire::ReadWordAsTheSniff(read, write, i) == words[i]);
    service.Disconnect(client);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    driverd::DriverService service(TheBus(), "quorrin-driverd fuzz");
    driverd::DriverService::ClientId clients[2] = {service.Connect(1000), service.Connect(1001)};
    std::size_t at = 0;
    bool wrote = false;  // a write reached the bus
    while (size - at >= 3) {
        const int who = data[at] & 1;
        const std::size_t length = std::min<std::size_t>(data[at + 1] | data[at + 2] << 8, size - at - 3);
        at += 3;
        driverd::DecodedRequest request;
        const driverd::Refusal why = driverd::DecodeRequest(data + at, length, request);
        at += length;
        if (driverd::DropsConnection(why)) {
            service.Disconnect(clients[who]);
            clients[who] = service.Connect(1000u + static_cast<uint32_t>(who));
            continue;
        }
        const driverd::Answer a =
            why == driverd::Refusal::None ? service.Serve(clients[who], request) : driverd::DriverService::Refuse(why, request);
        Require(a.RecordSize <= sizeof a.Record);
        Require(a.Data.size() <= wire::MaxTransferBytes);
        if (a.Status == 0 && request.Code == WD_Transfer && wire::TransferIsRead(request.Record.Transfer.Command))
            Require(a.Data.size() == request.Record.Transfer.Bytes);
        if (a.Status == 0 && request.Code == WD_PciConfigDump) Require(a.Data.size() == 4);
        wrote = wrote || (a.Status == 0 && request.Code == WD_Transfer &&
                          !wire::TransferIsRead(request.Record.Transfer.Command));
        if (request.Code == WD_PciScanCards && a.Status == 0) Require(a.Record.Scan.CardCount <= MaxScanCards);
    }
    // A client that goes leaves nothing registered behind.
    service.Disconnect(clients[0]);
    service.Disconnect(clients[1]);
    Require(service.Registrations() == 0);
    if (wrote) RequireEepromUnchanged(service);
    return 0;
}
