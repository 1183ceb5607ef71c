// SPDX-License-Identifier: GPL-2.0-or-later
// Cost of one log record, one clock reading, one lock round trip and each
// number formatter: the pieces a sniff report is made of.
#include <unistd.h>

#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>

#include "log/wexerrorlog.h"
#include "platform/NamedMutex.h"
#include "platform/testing/TempFolder.h"
#include "format/NumberFormat.h"
#include "timing/TimeUnit.h"

namespace {

void BM_LogRecord(benchmark::State& state) {
    const platform::testing::TempFolder temp("quorrin_bench_");
    const std::string& folder = temp.Path();
    const auto saved = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    StartErrorLog(false, "1.2", "Quorrin", "/");
    const std::string message(static_cast<std::size_t>(state.range(0)), 'm');
    for (auto _ : state) LogText(message, 7);
    EndErrorLog(false);
    std::filesystem::current_path(saved);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogRecord)->Arg(60)->Arg(4000);

void BM_ClockReading(benchmark::State& state) {
    Ctimerclass clock;
    for (auto _ : state) benchmark::DoNotOptimize(clock.GetTime());
}
BENCHMARK(BM_ClockReading);

void BM_LockRoundTrip(benchmark::State& state) {
    platform::NamedMutex lock("QuorrinBench_" + std::to_string(::getpid()));
    for (auto _ : state) {
        lock.Wait(100);
        lock.Release();
    }
}
BENCHMARK(BM_LockRoundTrip);

void BM_DecimalText(benchmark::State& state) {
    double value = 1.0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(DecimalText(value, 10, 3));
        value += 1.25;
    }
}
BENCHMARK(BM_DecimalText);

void BM_Hex32Text(benchmark::State& state) {
    uint32_t value = 0x10B5;
    for (auto _ : state) benchmark::DoNotOptimize(Hex32Text(value++, 8, false));
}
BENCHMARK(BM_Hex32Text);

void BM_Hex64Text(benchmark::State& state) {
    unsigned long long value = 0xFEBFF000ULL;
    for (auto _ : state) benchmark::DoNotOptimize(Hex64Text(static_cast<long double>(value++), 8, true));
}
BENCHMARK(BM_Hex64Text);

}  // namespace

BENCHMARK_MAIN();
