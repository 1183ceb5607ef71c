// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin benchmark -- the round trip of one configuration read and of one
// EEPROM control write through quorrin-driverd (untraced, as in use), beside
// a bare SOCK_SEQPACKET round trip of the same frame sizes to an echo
// thread: the difference is what the service itself costs.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <thread>

#include "bench/BareRoundTrip.h"
#include "driver/testing/TestBus.h"
#include "windriver/WinDriverRequests.h"
#include "wire/DriverWire.h"

namespace {

const char* const SmallBus = R"({"functions":[
  {"bus":0,"slot":3,"function":0,"vendor":"0x8086","device":"0x1234"},
  {"bus":2,"slot":4,"function":0,"vendor":"0x10B5","device":"0x9056",
   "config":"00: b5 10 56 90 07 00 90 02 0b 00 80 06 10 00 00 00",
   "resources":[{"type":"io","bar":1,"address":"0xE000","length":"0x100"}]}]})";

constexpr std::size_t RequestBytes = sizeof(wire::FrameHeader) + sizeof(ConfigAccessRecord);
constexpr std::size_t ReplyBytes = RequestBytes + sizeof(uint32_t);

void ConfigDumpThroughTheService(benchmark::State& state) {
    TestBus bus(SmallBus, TestBus::Tracing::Off);
    bus.Use();
    const DriverHandle handle = OpenDriver();
    if (handle == NoDriverHandle) {
        state.SkipWithError("quorrin-driverd did not answer");
        return;
    }
    uint32_t word = 0;
    for (auto _ : state) {
        ConfigAccessRecord c{};
        c.Bus = 2;
        c.Slot = 4;
        c.Buffer = ClientAddress(&word, sizeof word);
        c.Offset = 0;
        c.Bytes = 4;
        c.Direction = ConfigDirectionRead;
        if (DriverRequest(WD_PciConfigDump, handle, &c, sizeof c) != 0) {
            state.SkipWithError("the configuration read failed");
            break;
        }
        benchmark::DoNotOptimize(word);
    }
    if (word != 0x905610B5u) state.SkipWithError("the configuration read gave the wrong word");
    CloseDriver(handle);
    SetDriverDevice(DefaultDriverDevice);
}
BENCHMARK(ConfigDumpThroughTheService)->UseRealTime();

// The sniff's most frequent request: a write of the PLX EEPROM control
// byte, which the policy checks against the byte as it reads first.
void EepromControlWriteThroughTheService(benchmark::State& state) {
    TestBus bus(SmallBus, TestBus::Tracing::Off);
    bus.Use();
    const DriverHandle handle = OpenDriver();
    CardInfoRecord info{};
    info.Bus = 2;
    info.Slot = 4;
    CardRegisterRecord r{};
    if (handle == NoDriverHandle || DriverRequest(WD_PciGetCardInfo, handle, &info, sizeof info) != 0 ||
        (r.Card = info.Card, DriverRequest(WD_CardRegister, handle, &r, sizeof r)) != 0 ||
        r.CardHandle == 0) {
        state.SkipWithError("the bridge did not register");
        return;
    }
    uint8_t value = 0;
    for (auto _ : state) {
        value ^= 0x01;  // the clock line
        TransferRecord t{};
        t.Address = 0xE06F;
        t.Command = WritePortByte;
        t.Bytes = 1;
        t.AutoIncrement = 1;
        t.Data = ClientAddress(&value, 1);
        if (DriverRequest(WD_Transfer, handle, &t, sizeof t) != 0) {
            state.SkipWithError("the write was refused");
            break;
        }
    }
    CloseDriver(handle);
    SetDriverDevice(DefaultDriverDevice);
}
BENCHMARK(EepromControlWriteThroughTheService)->UseRealTime();

void BareSeqpacketRoundTripEcho(benchmark::State& state) { BareSeqpacketRoundTrip(state, RequestBytes, ReplyBytes); }
BENCHMARK(BareSeqpacketRoundTripEcho)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
