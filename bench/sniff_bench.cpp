// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin benchmark -- one sniff of a 100-function simulated bus with 16 PLX
// bridges through quorrin-driverd, its cost per driver request, and a bare
// SOCK_SEQPACKET round trip of a request-sized frame in the same run.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <thread>

#include "bench/BareRoundTrip.h"
#include "driver/testing/TestBus.h"
#include "findings/Findings.h"
#include "sniffer/SnifferUnit.h"
#include "windriver/WexPlxGenDriverUnit.h"
#include "driver/testing/SimBus.h"
#include "windriver/WinDriverRequests.h"
#include "wire/DriverWire.h"

namespace {

std::string HundredFunctionBus() {
    std::vector<simbus::SimFunction> functions;
    for (int i = 0; i < 16; ++i) {
        const uint16_t device = i % 2 ? 0x9080 : 0x9056;
        functions.push_back(simbus::PlxBoard(1 + i / 8, i % 8, device, simbus::PatternWords(64, static_cast<uint16_t>(i)),
                                             0xF0000000u + i * 0x200000u, 0x2000u + i * 0x100u));
    }
    for (int i = 0; i < 84; ++i) {
        simbus::SimFunction f(4 + i / 32, i % 32, 0);
        f.Ids(0x8086, static_cast<uint16_t>(0x1000 + i)).Memory(0, 0xE0000000u + i * 0x10000u, 0x1000);
        f.Io(1, 0x8000u + i * 0x40u, 0x40).Interrupt(5 + i % 10);
        functions.push_back(f);
    }
    return simbus::BusJson(functions);
}

PciDeviceTableType table;

void SniffHundredFunctions(benchmark::State& state) {
    TestBus bus(HundredFunctionBus());
    bus.Use();
    GetPciCardInfo(PciTableCapacity, table);
    const double perSniff = static_cast<double>(bus.Trace().size());
    if (table.Count != 100 || !table.Devices[0].IsPlx || table.Devices[0].FailCode != 0) {
        state.SkipWithError("the sniff did not read the bus");
        return;
    }
    for (auto _ : state) {
        GetPciCardInfo(PciTableCapacity, table);
        benchmark::DoNotOptimize(table.Devices[99].ConfigRegs[0]);
    }
    state.counters["requests_per_sniff"] = perSniff;
    state.counters["requests_per_second"] = benchmark::Counter(perSniff, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["time_per_request"] =
        benchmark::Counter(perSniff, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    SetDriverDevice(DefaultDriverDevice);
}
BENCHMARK(SniffHundredFunctions)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(3.0);

// The bus above with every plain function a PCI Express one with AER and
// its whole space, a narrow link and an error bit: the findings' worst
// work, beside the same sniff without them.
std::string HundredExpressFunctions() {
    std::vector<simbus::SimFunction> functions;
    for (int i = 0; i < 16; ++i)
        functions.push_back(simbus::PlxBoard(1 + i / 8, i % 8, i % 2 ? 0x9080 : 0x9056,
                                             simbus::PatternWords(64, static_cast<uint16_t>(i)),
                                             0xF0000000u + i * 0x200000u, 0x2000u + i * 0x100u));
    for (int i = 0; i < 84; ++i) {
        simbus::SimFunction f(4 + i / 32, i % 32, 0);
        f.Ids(0x8086, static_cast<uint16_t>(0x1000 + i)).Memory(0, 0xE0000000u + i * 0x10000u, 0x1000);
        f.ExpressPort(0x40, 0x80, 0x0, 8, 2, 4, 1).Capability(0x80, 0x05, 0).Word(0x82, 0x0001).Byte(0x3D, 1);
        f.Dword(0x100, 0x00010001).Dword(0x104, 1u << 14).Dword(0x110, 1u << 6);
        functions.push_back(f);
    }
    return simbus::BusJson(functions);
}

void SniffExpressFunctions(benchmark::State& state, bool withFindings) {
    TestBus bus(HundredExpressFunctions(), TestBus::Tracing::Off);
    bus.Use();
    GetPciCardInfo(PciTableCapacity, table);
    if (table.Count != 100 || PciCaptures.Functions[99].Config.Size != 4096 ||
        findings::FindingsOfTable(table, &PciCaptures)[99].Found.size() != 4) {
        state.SkipWithError("the sniff did not read the bus or its findings");
        return;
    }
    std::size_t found = 0;
    for (auto _ : state) {
        GetPciCardInfo(PciTableCapacity, table);
        if (withFindings) found += findings::FindingsOfTable(table, &PciCaptures).size();
        benchmark::DoNotOptimize(table.Devices[99].ConfigRegs[0]);
    }
    benchmark::DoNotOptimize(found);
    SetDriverDevice(DefaultDriverDevice);
}
BENCHMARK_CAPTURE(SniffExpressFunctions, WithoutFindings, false)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK_CAPTURE(SniffExpressFunctions, WithFindings, true)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(3.0);

// The findings of a 100-function table alone, without the driver.
void FindingsOfHundredFunctions(benchmark::State& state) {
    TestBus bus(HundredExpressFunctions(), TestBus::Tracing::Off);
    bus.Use();
    GetPciCardInfo(PciTableCapacity, table);
    SetDriverDevice(DefaultDriverDevice);
    for (auto _ : state) benchmark::DoNotOptimize(findings::FindingsOfTable(table, &PciCaptures));
}
BENCHMARK(FindingsOfHundredFunctions)->UseRealTime()->Unit(benchmark::kMicrosecond);

// One byte transfer through the service, the request a sniff sends most:
// what the transport and the service cost per request without the sniff.
void ByteTransferThroughTheService(benchmark::State& state) {
    const auto board = simbus::PlxBoard(1, 0, 0x9056, simbus::PatternWords(64, 1));
    TestBus bus(simbus::BusJson({board}));
    bus.Use();
    DriverContext context{};
    context.Handle = OpenDriver();
    CardInfoRecord info{};
    info.Bus = 1;
    DriverRequest(WD_PciGetCardInfo, context.Handle, &info, sizeof info);
    context.Bus = 1;
    context.Registration.Card = info.Card;
    if (!P9080_CardIsUsable(context) || ReadSpaceByte(context, 1, 0x72) != 0x56) {
        state.SkipWithError("the bridge's registers are not reachable");
    } else {
        for (auto _ : state) benchmark::DoNotOptimize(ReadSpaceByte(context, 1, 0x6F));
    }
    ReleaseCard(context);
    CloseDriver(context.Handle);
    SetDriverDevice(DefaultDriverDevice);
}
BENCHMARK(ByteTransferThroughTheService)->UseRealTime();

// Most of a sniff's requests are byte transfers: frames of that size.
constexpr std::size_t RequestBytes = sizeof(wire::FrameHeader) + sizeof(TransferRecord) + 1;
constexpr std::size_t ReplyBytes = sizeof(wire::FrameHeader) + sizeof(TransferRecord) + 1;

void BareRoundTrip(benchmark::State& state) { BareSeqpacketRoundTrip(state, RequestBytes, ReplyBytes); }
BENCHMARK(BareRoundTrip)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
