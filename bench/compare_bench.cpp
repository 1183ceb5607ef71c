// SPDX-License-Identifier: GPL-2.0-or-later
// Comparing two logs of 100 functions and 50 sniffs each (a few MB), beside
// the floor of reading those files and counting their lines; and reading
// 200 MB of log and 200 MB of pasted reports, beside reading the same bytes.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "compare/CompareOutput.h"
#include "compare/SniffCompare.h"
#include "compare/SniffInput.h"
#include "log/wexerrorlog.h"
#include "platform/testing/TempFolder.h"
#include "sniffer/SnifferReport.h"

namespace {

// A bus as a busy test rack has it: network cards and PLX boards behind bridges.
void FillBus(PciDeviceTableType& t, int sniff) {
    std::memset(&t, 0, sizeof t);
    t.Count = 100;
    for (int i = 0; i < t.Count; ++i) {
        PciDeviceRecord& d = t.Devices[i];
        d.Index = static_cast<uint32_t>(i);
        d.Bus = static_cast<uint32_t>(i / 8);
        d.Slot = static_cast<uint32_t>(i % 8);
        d.IsPlx = i % 4 == 0;
        d.VendorId = d.IsPlx ? 0x10B5 : 0x8086;
        d.DeviceId = d.IsPlx ? 0x9056 : 0x100E;
        d.SubVendorId = d.VendorId;
        d.SubDeviceId = d.DeviceId;
        d.NumMemAddresses = 2;
        d.NumIOAddresses = 1;
        d.NumInterrupts = 1;
        d.Interrupt = static_cast<uint32_t>(5 + i % 10);
        for (int m = 0; m < 2; ++m) {
            d.MemBar[m] = static_cast<uint32_t>(2 * m);
            d.MemBytes[m] = 0x10000;
            d.MemPhysicalAddress[m] = d.MemAddress[m] =
                0xE0000000u + 0x100000u * static_cast<uint32_t>(i) + 0x10000u * m;
            d.MemDirect[m] = 0x7F0000000000 + d.MemAddress[m] + 0x1000 * static_cast<uint64_t>(sniff);
        }
        d.IoBar[0] = 1;
        d.IoBytes[0] = 0x100;
        d.IoAddress[0] = 0xC000u + 0x100u * static_cast<uint32_t>(i);
        for (int k = 0; k < 64; ++k) d.ConfigRegs[k] = static_cast<uint32_t>(k * 0x01010101u + i);
        d.ConfigRegs[1] =
            0x02900007u | (sniff % 3 == 0 ? 0x20000000u : 0);  // an error bit that comes and goes
        if (d.IsPlx)
            for (int k = 0; k < 64; ++k) d.EepromWords[k] = static_cast<uint16_t>(0x1000 + k + i);
    }
}

struct Logs {
    std::string Folder;
    std::string Baseline, Current;  // the two files
    std::size_t Bytes = 0;
};

std::string WriteLog(const std::string& folder, const std::string& name, int changedWord) {
    const std::string dir = folder + "/" + name;
    std::filesystem::create_directory(dir);
    const auto saved = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    StartErrorLog(false, "1.2", "Quorrin", "/");
    auto table = std::make_unique<PciDeviceTableType>();
    for (int sniff = 0; sniff < 50; ++sniff) {
        FillBus(*table, sniff);
        table->Devices[40].EepromWords[changedWord] ^= 0x0101;
        LogSniffReport(*table);
    }
    EndErrorLog(false);
    std::filesystem::current_path(saved);
    return dir + "/Quorrin.Log";
}

const Logs& TheLogs() {
    static const platform::testing::TempFolder temp("quorrin_compare_bench_");
    static const Logs logs = [] {
        Logs l;
        l.Folder = temp.Path();
        l.Baseline = WriteLog(l.Folder, "good", 3);
        l.Current = WriteLog(l.Folder, "bad", 5);
        l.Bytes = std::filesystem::file_size(l.Baseline) + std::filesystem::file_size(l.Current);
        return l;
    }();
    return logs;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text(std::filesystem::file_size(path), '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    return text;
}

// What quorrin-compare does with two log files: read both, pick each one's
// last complete sniff, compare, write the text.
void BM_CompareTwoLogs(benchmark::State& state) {
    const Logs& logs = TheLogs();
    for (auto _ : state) {
        compare::Sniff a, b;
        std::string error;
        if (!compare::LoadSniff(logs.Baseline, 0, a, error) || !compare::LoadSniff(logs.Current, 0, b, error))
            state.SkipWithError(error.c_str());
        const compare::Comparison c = compare::CompareSniffs(*a.Table, *b.Table, {});
        benchmark::DoNotOptimize(compare::ComparisonText(a, b, c, {}, {}));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * logs.Bytes));
    state.counters["log_MB"] = static_cast<double>(logs.Bytes) / 2 / 1e6;
}
BENCHMARK(BM_CompareTwoLogs)->Unit(benchmark::kMillisecond);

// The floor: both files read and their lines counted, nothing understood.
void BM_FloorReadAndCountLines(benchmark::State& state) {
    const Logs& logs = TheLogs();
    for (auto _ : state) {
        const std::string a = ReadFile(logs.Baseline), b = ReadFile(logs.Current);
        benchmark::DoNotOptimize(std::count(a.begin(), a.end(), '\n') + std::count(b.begin(), b.end(), '\n'));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * logs.Bytes));
}
BENCHMARK(BM_FloorReadAndCountLines)->Unit(benchmark::kMillisecond);

// About 200 MB of each kind: the same sniffs as a log and as reports pasted
// one after the other, each file read for its last complete sniff.
struct BigFiles {
    std::string Log, Reports;
    std::size_t LogBytes = 0, ReportBytes = 0;
};

const BigFiles& TheBigFiles() {
    static const BigFiles files = [] {
        constexpr std::size_t Wanted = 200u << 20;
        BigFiles f;
        const std::string dir = TheLogs().Folder + "/big";
        std::filesystem::create_directory(dir);
        const auto saved = std::filesystem::current_path();
        std::filesystem::current_path(dir);
        StartErrorLog(false, "1.2", "Quorrin", "/");
        auto table = std::make_unique<PciDeviceTableType>();
        std::ofstream reports(dir + "/reports.txt", std::ios::binary);
        for (int sniff = 0; f.ReportBytes < Wanted; ++sniff) {
            FillBus(*table, sniff);
            const std::string text = FormatSniffReport(*table) + "\r\n";
            reports << text;
            f.ReportBytes += text.size();
            LogSniffReport(*table);
        }
        EndErrorLog(false);
        std::filesystem::current_path(saved);
        f.Log = dir + "/Quorrin.Log";
        f.Reports = dir + "/reports.txt";
        f.LogBytes = std::filesystem::file_size(f.Log);
        return f;
    }();
    return files;
}

void ReadBig(benchmark::State& state, const std::string& path, std::size_t bytes) {
    for (auto _ : state) {
        compare::Sniff s;
        std::string error;
        if (!compare::LoadSniff(path, 0, s, error)) state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(s.Table->Count);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}

void BM_Read200MBLog(benchmark::State& state) {
    ReadBig(state, TheBigFiles().Log, TheBigFiles().LogBytes);
}
BENCHMARK(BM_Read200MBLog)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Read200MBReports(benchmark::State& state) {
    ReadBig(state, TheBigFiles().Reports, TheBigFiles().ReportBytes);
}
BENCHMARK(BM_Read200MBReports)->Unit(benchmark::kMillisecond)->Iterations(3);

// The floor of each: the same file read and its lines counted.
void Floor(benchmark::State& state, const std::string& path, std::size_t bytes) {
    for (auto _ : state) {
        const std::string a = ReadFile(path);
        benchmark::DoNotOptimize(std::count(a.begin(), a.end(), '\n'));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
void BM_Floor200MBLog(benchmark::State& state) {
    Floor(state, TheBigFiles().Log, TheBigFiles().LogBytes);
}
BENCHMARK(BM_Floor200MBLog)->Unit(benchmark::kMillisecond)->Iterations(3);
void BM_Floor200MBReports(benchmark::State& state) {
    Floor(state, TheBigFiles().Reports, TheBigFiles().ReportBytes);
}
BENCHMARK(BM_Floor200MBReports)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
