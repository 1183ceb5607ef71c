// Quorrin benchmark -- the round trip of one configuration read through
// quorrin-driverd, beside a bare SOCK_SEQPACKET round trip of the same frame
// sizes to an echo thread: the difference is what the service itself costs.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <thread>

#include "bench/BareRoundTrip.h"
#include "driver/testing/TestBus.h"
#include "windriver/WinDriverRequests.h"
#include "windriver/linux/DriverWire.h"

namespace {

const char* const SmallBus = R"({"functions":[
  {"bus":0,"slot":3,"function":0,"vendor":"0x8086","device":"0x1234"},
  {"bus":2,"slot":4,"function":0,"vendor":"0x10B5","device":"0x9056",
   "config":"00: b5 10 56 90 07 00 90 02 0b 00 80 06 10 00 00 00",
   "resources":[{"type":"io","bar":1,"address":"0xE000","length":"0x100"}]}]})";

constexpr std::size_t RequestBytes = sizeof(wire::FrameHeader) + sizeof(ConfigAccessRecord);
constexpr std::size_t ReplyBytes = RequestBytes + sizeof(uint32_t);

void ConfigDumpThroughTheService(benchmark::State& state) {
    TestBus bus(SmallBus);
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

void BareSeqpacketRoundTripEcho(benchmark::State& state) { BareSeqpacketRoundTrip(state, RequestBytes, ReplyBytes); }
BENCHMARK(BareSeqpacketRoundTripEcho)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
