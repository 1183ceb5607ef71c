// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer on Linux -- the read-only registry view, answered
// from /proc/cpuinfo and the cpufreq folder.
#include "platform/Registry.h"
#include "platform/linux/TextFile.h"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace platform {
namespace {

std::string Trim(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    std::size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

// The first processor's block: lines up to the first empty one.
std::map<std::string, std::string> FirstProcessor(const std::string& cpuinfo) {
    std::map<std::string, std::string> fields;
    std::istringstream lines(cpuinfo);
    std::string line;
    while (std::getline(lines, line)) {
        if (Trim(line).empty()) {
            if (!fields.empty()) break;
            continue;
        }
        std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        fields.emplace(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
    }
    return fields;
}

}  // namespace

RegistryKey ProcessorKeyFromCpuInfo(const std::string& cpuinfo) {
    RegistryKey key;
    std::map<std::string, std::string> cpu = FirstProcessor(cpuinfo);
    auto field = [&](const char* name) -> std::string {
        auto it = cpu.find(name);
        return it == cpu.end() ? std::string() : it->second;
    };
    std::string mhz = field("cpu MHz");
    if (!mhz.empty()) {
        char* end = nullptr;
        double value = std::strtod(mhz.c_str(), &end);
        if (end != mhz.c_str() && std::isfinite(value) && value >= 0 && value < 4294967295.0)
            key.Values["~MHz"] = DwordValue(static_cast<uint32_t>(std::lround(value)));
    }
    std::string vendor = field("vendor_id");
    if (vendor.empty()) vendor = field("CPU implementer");  // ARM
    if (!vendor.empty()) key.Values["VendorIdentifier"] = StringValue(vendor);
    std::string name = field("model name");
    if (name.empty()) name = field("cpu");  // PowerPC
    if (!name.empty()) key.Values["ProcessorNameString"] = StringValue(name);
    return key;
}

bool OpenRegistryKey(RegistryRoot root, const std::string& path, RegistryKey& key) {
    if (root != RegistryRoot::LocalMachine) return false;
    std::string lower;
    for (char c : path) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // Key names compare without regard to case, as the registry's do.
    if (lower == "hardware\\description\\system\\centralprocessor\\0") {
        key = ProcessorKeyFromCpuInfo(ReadWholeFile("/proc/cpuinfo"));
        if (!key.Values.count("~MHz")) {
            // Machines whose cpuinfo has no clock give the most the
            // frequency driver knows, in kHz.
            std::string khz = Trim(ReadWholeFile("/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq"));
            if (!khz.empty()) {
                char* end = nullptr;
                unsigned long value = std::strtoul(khz.c_str(), &end, 10);
                if (end != khz.c_str() && value > 0)
                    key.Values["~MHz"] = DwordValue(static_cast<uint32_t>((value + 500) / 1000));
            }
        }
        return true;
    }
    // No other key (the product options among them) exists here.
    return false;
}

}  // namespace platform
