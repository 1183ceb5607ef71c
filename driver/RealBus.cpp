// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service -- the real-bus backend (libpci and sysfs).
#include "driver/RealBus.h"

#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

extern "C" {
#include <pci/pci.h>
}

#include "driver/Bus.h"
#include "driver/linux/SysfsPci.h"

namespace driverd {

namespace {

constexpr uint32_t HeaderBytes = 64;
constexpr uint32_t InterruptPinOffset = 0x3D;

struct AccessDeleter {
    void operator()(pci_access* a) const { pci_cleanup(a); }
};
using Access = std::unique_ptr<pci_access, AccessDeleter>;

struct RealFunction {
    Function Id;
    pci_dev* Dev = nullptr;  // owned by the pci_access
    std::string Dir;         // its sysfs folder
    uint32_t ConfigSize = 256;
    std::vector<Resource> Resources;
    std::unique_ptr<sysfs::BarFiles> Bars;
};

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// 4096 when the kernel gives the extended space, else the standard 256.
uint32_t ConfigSizeOf(const std::string& dir) {
    struct stat st {};
    if (stat((dir + "/config").c_str(), &st) == 0 && st.st_size >= 4096) return 4096;
    return 256;
}

// The kernel serves the whole configuration space only to a privileged
// reader and quietly cuts everyone else off after the header.
bool WholeConfigReadable(const std::string& dir) {
    const int fd = open((dir + "/config").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    uint8_t byte = 0;
    const bool whole = pread(fd, &byte, 1, HeaderBytes) == 1;
    close(fd);
    return whole;
}

class RealBus final : public Bus {
public:
    RealBus(Access access, std::vector<RealFunction> functions, uint32_t readable)
        : access_(std::move(access)), functions_(std::move(functions)), readable_(readable) {}

    std::vector<Function> Scan() override {
        std::vector<Function> list;
        for (const auto& f : functions_) list.push_back(f.Id);
        return list;
    }
    bool CardInfo(const Location& where, std::vector<Resource>& resources) override {
        const RealFunction* f = Find(where);
        if (!f) return false;
        resources = f->Resources;
        return true;
    }
    uint32_t ConfigSize(const Location& where) override {
        const RealFunction* f = Find(where);
        return f ? f->ConfigSize : 0;
    }
    bool ReadConfig(const Location& where, uint32_t offset, uint32_t bytes, uint32_t& value) override {
        RealFunction* f = Find(where);
        if (!f || bytes < 1 || bytes > 4 || offset + bytes > std::min(f->ConfigSize, readable_)) return false;
        uint8_t buffer[4] = {};
        if (!pci_read_block(f->Dev, static_cast<int>(offset), buffer, static_cast<int>(bytes))) return false;
        value = 0;
        for (uint32_t i = 0; i < bytes; ++i) value |= uint32_t{buffer[i]} << (8 * i);
        return true;
    }
    // Registering touches nothing on the device; the service keeps the lock.
    RegisterAnswer Register(const Location& where) override {
        return Find(where) ? RegisterAnswer::Granted : RegisterAnswer::Refused;
    }
    void Unregister(const Location& where) override {
        if (RealFunction* f = Find(where)) f->Bars->Release();
    }
    // The kernel links `driver` into the function's folder while a driver is
    // bound, so one lstat at the moment of the access says it.
    bool BoundToDriver(const Location& where) override {
        const RealFunction* f = Find(where);
        struct stat link {};
        return !f || lstat((f->Dir + "/driver").c_str(), &link) == 0;
    }
    bool Transfer(const Location& where, std::size_t index, uint64_t offset, uint32_t unitBytes, bool isRead,
                  bool autoIncrement, uint8_t* data, uint32_t bytes) override {
        RealFunction* f = Find(where);
        if (!f || index >= f->Resources.size() || unitBytes == 0 || bytes % unitBytes != 0) return false;
        const Resource& r = f->Resources[index];
        const uint64_t span = autoIncrement ? bytes : unitBytes;
        if (r.Kind == ResourceKind::Interrupt || offset > r.Length || span > r.Length - offset) return false;
        for (uint32_t done = 0; done < bytes; done += unitBytes) {
            const uint64_t at = offset + (autoIncrement ? done : 0);
            const bool ok = r.Kind == ResourceKind::IO
                                ? f->Bars->Port(r.Bar, at, unitBytes, isRead, data + done)
                                : f->Bars->Memory(r.Bar, r.Length, at, unitBytes, isRead, data + done);
            if (!ok) return false;
        }
        return true;
    }

private:
    RealFunction* Find(const Location& where) {
        for (auto& f : functions_)
            if (f.Id.Where == where) return &f;
        return nullptr;
    }
    Access access_;
    std::vector<RealFunction> functions_;
    uint32_t readable_;
};

}  // namespace

std::string SysfsName(uint32_t domain, uint32_t bus, uint32_t slot, uint32_t function) {
    char name[32];
    std::snprintf(name, sizeof name, "%04x:%02x:%02x.%x", domain & 0xFFFFu, bus & 0xFFu, slot & 0x1Fu,
                  function & 0x7u);
    return name;
}

std::unique_ptr<Bus> OpenRealBus(std::string& error, const std::string& sysfsPci) {
    // libpci ends the process on an access method that does not work; make
    // sure it has the one we rely on before asking it.
    const std::string devices = sysfsPci + "/devices";
    struct stat st {};
    if (stat(devices.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = "the real bus needs " + devices + ": " + std::strerror(errno);
        return nullptr;
    }
    Access access(pci_alloc());
    if (!access) {
        error = "libpci: cannot allocate its state";
        return nullptr;
    }
    access->method = PCI_ACCESS_SYS_BUS_PCI;
    pci_set_param(access.get(), const_cast<char*>("sysfs.path"), const_cast<char*>(sysfsPci.c_str()));
    pci_init(access.get());
    pci_scan_bus(access.get());

    std::vector<RealFunction> functions;
    unsigned otherDomains = 0;
    for (pci_dev* dev = access->devices; dev; dev = dev->next) {
        // The requests name a function by bus, slot and function only, so a
        // second domain's bus 0 would be indistinguishable from the first's.
        if (dev->domain != 0) {
            ++otherDomains;
            continue;
        }
        pci_fill_info(dev, PCI_FILL_IDENT | PCI_FILL_IRQ);
        RealFunction f;
        f.Dev = dev;
        f.Id.Where = {dev->bus, dev->dev, dev->func};
        f.Id.VendorId = dev->vendor_id;
        f.Id.DeviceId = dev->device_id;
        const std::string dir = devices + "/" + SysfsName(0, dev->bus, dev->dev, dev->func);
        f.Dir = dir;
        f.ConfigSize = ConfigSizeOf(dir);
        const uint8_t pin = pci_read_byte(dev, InterruptPinOffset);
        f.Resources = sysfs::ResourcesOf(sysfs::ParseResourceText(ReadText(dir + "/resource")),
                                         dev->irq > 0 ? static_cast<uint32_t>(dev->irq) : 0, pin);
        f.Bars = std::make_unique<sysfs::BarFiles>(dir);
        functions.push_back(std::move(f));
    }
    std::sort(functions.begin(), functions.end(),
              [](const RealFunction& a, const RealFunction& b) { return a.Id.Where < b.Id.Where; });

    uint32_t readable = 4096;
    if (!functions.empty()) {
        if (!WholeConfigReadable(functions.front().Dir)) {
            readable = HeaderBytes;
            std::fprintf(stderr, "quorrin-driverd: %s\n", ShortConfigNotice);
        }
    }
    if (otherDomains)
        std::fprintf(stderr, "quorrin-driverd: %u functions outside PCI domain 0 are not listed\n", otherDomains);
    return std::make_unique<RealBus>(std::move(access), std::move(functions), readable);
}

}  // namespace driverd
