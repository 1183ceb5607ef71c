// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service -- a PCI function's sysfs resource table and BARs.
#include "driver/linux/SysfsPci.h"

#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <sstream>

namespace driverd::sysfs {

namespace {

constexpr uint32_t RomIndex = 6;

bool ValidUnit(uint32_t unitBytes) { return unitBytes == 1 || unitBytes == 2 || unitBytes == 4; }

}  // namespace

std::vector<BarRange> ParseResourceText(const std::string& text) {
    std::vector<BarRange> bars;
    std::istringstream in(text);
    std::string line;
    for (uint32_t index = 0; index <= RomIndex && std::getline(in, line); ++index) {
        std::istringstream fields(line);
        BarRange bar;
        bar.Index = index;
        if (!(fields >> std::hex >> bar.Start >> bar.End >> bar.Flags)) continue;
        if (bar.Flags == 0 || bar.End <= bar.Start) continue;  // unused, or a zero-sized range
        if (!(bar.Flags & (IoResource | MemResource))) continue;
        bars.push_back(bar);
    }
    return bars;
}

std::vector<Resource> ResourcesOf(const std::vector<BarRange>& bars, uint32_t irq, uint8_t interruptPin) {
    std::vector<Resource> resources;
    for (const BarRange& bar : bars) {
        Resource r;
        r.Kind = (bar.Flags & IoResource) ? ResourceKind::IO : ResourceKind::Memory;
        r.Bar = bar.Index;
        r.Address = bar.Start;
        r.Length = bar.End - bar.Start + 1;
        resources.push_back(r);
    }
    if (irq != 0 && interruptPin != 0) {
        Resource r;
        r.Kind = ResourceKind::Interrupt;
        r.Number = irq;
        resources.push_back(r);
    }
    return resources;
}

namespace {

// Where a mapped access leaves to when it faults. Armed only around the
// access itself: a SIGBUS anywhere else is a fault of ours and ends the
// service as it would without the handler.
sigjmp_buf* volatile faultExit = nullptr;

void OnBusError(int signal) {
    if (faultExit != nullptr) siglongjmp(*faultExit, 1);
    ::signal(signal, SIG_DFL);
    raise(signal);
}

void CatchBusErrors() {
    static const bool installed = [] {
        struct sigaction action {};
        action.sa_handler = OnBusError;
        sigemptyset(&action.sa_mask);
        return sigaction(SIGBUS, &action, nullptr) == 0;
    }();
    (void)installed;
}

// One access of the unit's width: a device register must not be touched
// byte by byte, nor twice.
void Touch(uint8_t* cell, uint32_t unitBytes, bool isRead, uint8_t* unit) {
    switch (unitBytes) {
    case 1:
        if (isRead) *unit = *reinterpret_cast<volatile uint8_t*>(cell);
        else *reinterpret_cast<volatile uint8_t*>(cell) = *unit;
        break;
    case 2: {
        uint16_t v;
        if (isRead) {
            v = *reinterpret_cast<volatile uint16_t*>(cell);
            std::memcpy(unit, &v, sizeof v);
        } else {
            std::memcpy(&v, unit, sizeof v);
            *reinterpret_cast<volatile uint16_t*>(cell) = v;
        }
        break;
    }
    default: {
        uint32_t v;
        if (isRead) {
            v = *reinterpret_cast<volatile uint32_t*>(cell);
            std::memcpy(unit, &v, sizeof v);
        } else {
            std::memcpy(&v, unit, sizeof v);
            *reinterpret_cast<volatile uint32_t*>(cell) = v;
        }
        break;
    }
    }
}

// Touch, with a fault turned into false. The saved signal mask makes
// SIGBUS deliverable again after the jump.
bool TouchGuarded(uint8_t* cell, uint32_t unitBytes, bool isRead, uint8_t* unit) {
    sigjmp_buf jump;
    if (sigsetjmp(jump, 1) != 0) {
        faultExit = nullptr;
        return false;
    }
    faultExit = &jump;
    Touch(cell, unitBytes, isRead, unit);
    faultExit = nullptr;
    return true;
}

}  // namespace

Mapping::~Mapping() {
    if (base_ != nullptr) munmap(base_, size_);
}

BarFiles::BarFiles(const std::string& folderPath)
    : folder_(open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}

int BarFiles::Open(uint32_t bar) {
    if (bar >= RomIndex || !folder_) return -1;  // the ROM is read through `rom`, which must be enabled first: never
    const auto it = fds_.find(bar);
    if (it != fds_.end()) return it->second.Get();
    const std::string name = "resource" + std::to_string(bar);
    driverd::Descriptor fd(openat(folder_.Get(), name.c_str(), O_RDWR | O_SYNC | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) return -1;
    return fds_.emplace(bar, std::move(fd)).first->second.Get();
}

bool BarFiles::Port(uint32_t bar, uint64_t offset, uint32_t unitBytes, bool isRead, uint8_t* unit) {
    if (!ValidUnit(unitBytes)) return false;
    const int fd = Open(bar);
    if (fd < 0) return false;
    const auto at = static_cast<off_t>(offset);
    const ssize_t n = isRead ? pread(fd, unit, unitBytes, at) : pwrite(fd, unit, unitBytes, at);
    return n == static_cast<ssize_t>(unitBytes);
}

Access BarFiles::Memory(uint32_t bar, uint64_t length, uint64_t offset, uint32_t unitBytes, bool isRead,
                        uint8_t* unit) {
    if (!ValidUnit(unitBytes) || offset % unitBytes != 0 || offset >= length || unitBytes > length - offset)
        return Access::Failed;
    auto it = maps_.find(bar);
    if (it == maps_.end()) {
        const int fd = Open(bar);
        if (fd < 0) return Access::Failed;
        // A mapping past the end of the file would fault on access; the
        // kernel sizes resourceN to the BAR, a stand-in file may be shorter.
        struct stat st {};
        if (fstat(fd, &st) != 0 || static_cast<uint64_t>(st.st_size) < length) return Access::Failed;
        const auto page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
        const uint64_t size = (length + page - 1) / page * page;
        void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (p == MAP_FAILED) return Access::Failed;
        CatchBusErrors();
        it = maps_.emplace(bar, Mapping(static_cast<uint8_t*>(p), size)).first;
    }
    // The file can still shrink, or the kernel tear the mapping down when
    // the device goes, under a mapping made earlier.
    return TouchGuarded(it->second.Base() + offset, unitBytes, isRead, unit) ? Access::Done : Access::Fault;
}

void BarFiles::Release() {
    maps_.clear();
    fds_.clear();
}

}  // namespace driverd::sysfs
