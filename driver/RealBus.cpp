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
#include "driver/linux/Descriptor.h"
#include "driver/linux/SysfsPci.h"

namespace driverd {

namespace {

constexpr uint32_t HeaderBytes = 64;
constexpr uint32_t InterruptPinOffset = 0x3D;

struct AccessDeleter {
    void operator()(pci_access* a) const { pci_cleanup(a); }
};
using Access = std::unique_ptr<pci_access, AccessDeleter>;

// What the service holds of a function while a client has it registered:
// its folder as it was then, its configuration space for the identity check
// and its BAR files, all opened relative to that folder.
struct Claim {
    Descriptor Config;
    sysfs::BarFiles Bars;
};

struct RealFunction {
    Function Id;
    pci_dev* Dev = nullptr;  // owned by the pci_access
    std::string Name;        // its folder below devices/
    std::string Dir;         // the folder's whole path
    dev_t FolderDevice = 0;  // the folder as it was at the start
    ino_t FolderInode = 0;
    uint32_t Identity = 0;   // configuration bytes 0-3 as read at the start
    bool Gone = false;       // removed or replaced since: never served again
    uint32_t ConfigSize = 256;
    std::vector<Resource> Resources;
    std::unique_ptr<Claim> Claimed;
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
    const Descriptor config(open((dir + "/config").c_str(), O_RDONLY | O_CLOEXEC));
    uint8_t byte = 0;
    return config && pread(config.Get(), &byte, 1, HeaderBytes) == 1;
}

// Vendor and device as configuration bytes 0-3 read now; 0 when unreadable.
uint32_t IdentityOf(int config) {
    uint8_t id[4] = {};
    if (pread(config, id, sizeof id, 0) != static_cast<ssize_t>(sizeof id)) return 0;
    return uint32_t{id[0]} | uint32_t{id[1]} << 8 | uint32_t{id[2]} << 16 | uint32_t{id[3]} << 24;
}

class RealBus final : public Bus {
public:
    RealBus(Access access, Descriptor devices, std::vector<RealFunction> functions, uint32_t readable)
        : access_(std::move(access)), devices_(std::move(devices)), functions_(std::move(functions)),
          readable_(readable) {}

    // A function removed or replaced since the start is no longer listed.
    std::vector<Function> Scan() override {
        std::vector<Function> list;
        for (auto& f : functions_)
            if (SameFolder(f)) list.push_back(f.Id);
        return list;
    }
    bool CardInfo(const Location& where, std::vector<Resource>& resources) override {
        RealFunction* f = Find(where);
        if (!f || !SameFolder(*f)) return false;
        resources = f->Resources;
        return true;
    }
    uint32_t ConfigSize(const Location& where) override {
        const RealFunction* f = Find(where);
        return f && !f->Gone ? f->ConfigSize : 0;
    }
    bool ReadConfig(const Location& where, uint32_t offset, uint32_t bytes, uint32_t& value) override {
        RealFunction* f = Find(where);
        if (!f || f->Gone || bytes < 1 || bytes > 4 || offset + bytes > std::min(f->ConfigSize, readable_))
            return false;
        uint8_t buffer[4] = {};
        if (!pci_read_block(f->Dev, static_cast<int>(offset), buffer, static_cast<int>(bytes))) return false;
        value = 0;
        for (uint32_t i = 0; i < bytes; ++i) value |= uint32_t{buffer[i]} << (8 * i);
        return true;
    }
    // Registering touches nothing on the device: it opens the function's
    // folder, which must still be the one listed at the start, and its
    // configuration space, which must still name the same device.
    RegisterAnswer Register(const Location& where) override {
        RealFunction* f = Find(where);
        if (!f || !SameFolder(*f)) return RegisterAnswer::Refused;
        Descriptor folder(openat(devices_.Get(), f->Name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat st {};
        if (!folder || fstat(folder.Get(), &st) != 0 || st.st_dev != f->FolderDevice || st.st_ino != f->FolderInode)
            return RegisterAnswer::Refused;
        Descriptor config(openat(folder.Get(), "config", O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (!config) return RegisterAnswer::Refused;
        f->Claimed.reset(new Claim{std::move(config), sysfs::BarFiles(std::move(folder))});
        if (!SameDevice(*f)) {
            f->Claimed.reset();
            return RegisterAnswer::Refused;
        }
        return RegisterAnswer::Granted;
    }
    void Unregister(const Location& where) override {
        if (RealFunction* f = Find(where)) f->Claimed.reset();
    }
    TransferResult Transfer(const Location& where, std::size_t index, uint64_t offset, uint32_t unitBytes,
                            bool isRead, bool autoIncrement, uint8_t* data, uint32_t bytes) override {
        RealFunction* f = Find(where);
        if (!f || !f->Claimed || index >= f->Resources.size() || unitBytes == 0 || bytes % unitBytes != 0)
            return TransferResult::Failed;
        if (!SameFolder(*f) || !SameDevice(*f)) return TransferResult::Gone;
        const Resource& r = f->Resources[index];
        const uint64_t span = autoIncrement ? bytes : unitBytes;
        if (r.Kind == ResourceKind::Interrupt || offset > r.Length || span > r.Length - offset)
            return TransferResult::Failed;
        sysfs::BarFiles& bars = f->Claimed->Bars;
        for (uint32_t done = 0; done < bytes; done += unitBytes) {
            const uint64_t at = offset + (autoIncrement ? done : 0);
            if (r.Kind == ResourceKind::IO) {
                if (!bars.Port(r.Bar, at, unitBytes, isRead, data + done)) return TransferResult::Failed;
                continue;
            }
            switch (bars.Memory(r.Bar, r.Length, at, unitBytes, isRead, data + done)) {
            case sysfs::Access::Done: break;
            case sysfs::Access::Failed: return TransferResult::Failed;
            case sysfs::Access::Fault: return TransferResult::Gone;
            }
        }
        return TransferResult::Done;
    }

private:
    RealFunction* Find(const Location& where) {
        for (auto& f : functions_)
            if (f.Id.Where == where) return &f;
        return nullptr;
    }
    // The kernel makes a new folder for a function that comes back, or for
    // another card in its slot; the one listed at the start is gone then.
    bool SameFolder(RealFunction& f) {
        struct stat st {};
        if (!f.Gone && (fstatat(devices_.Get(), f.Name.c_str(), &st, 0) != 0 || st.st_dev != f.FolderDevice ||
                        st.st_ino != f.FolderInode))
            f.Gone = true;
        return !f.Gone;
    }
    // Read from the registered folder's own config: a removed device reads
    // nothing there, a card reprogrammed in place other IDs.
    bool SameDevice(RealFunction& f) {
        if (!f.Claimed || IdentityOf(f.Claimed->Config.Get()) != f.Identity) f.Gone = true;
        return !f.Gone;
    }
    Access access_;
    Descriptor devices_;
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
        f.Name = SysfsName(0, dev->bus, dev->dev, dev->func);
        const std::string dir = devices + "/" + f.Name;
        f.Dir = dir;
        struct stat folder {};
        if (stat(dir.c_str(), &folder) != 0) continue;  // gone while we looked
        f.FolderDevice = folder.st_dev;
        f.FolderInode = folder.st_ino;
        const Descriptor config(open((dir + "/config").c_str(), O_RDONLY | O_CLOEXEC));
        f.Identity = IdentityOf(config.Get());
        f.ConfigSize = ConfigSizeOf(dir);
        const uint8_t pin = pci_read_byte(dev, InterruptPinOffset);
        f.Resources = sysfs::ResourcesOf(sysfs::ParseResourceText(ReadText(dir + "/resource")),
                                         dev->irq > 0 ? static_cast<uint32_t>(dev->irq) : 0, pin);
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
    Descriptor folder(open(devices.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) {
        error = "the real bus needs " + devices + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::make_unique<RealBus>(std::move(access), std::move(folder), std::move(functions), readable);
}

}  // namespace driverd
