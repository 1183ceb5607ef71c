// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service -- a PCI function's sysfs files: its resource table,
// and access to its BARs through the resourceN files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "driver/Bus.h"
#include "driver/linux/Descriptor.h"

namespace driverd::sysfs {

constexpr uint64_t IoResource = 0x100;   // IORESOURCE_IO
constexpr uint64_t MemResource = 0x200;  // IORESOURCE_MEM

// One line of the `resource` file: lines 0-5 are the BARs, 6 the expansion ROM.
struct BarRange {
    uint32_t Index = 0;
    uint64_t Start = 0;
    uint64_t End = 0;
    uint64_t Flags = 0;
    bool operator==(const BarRange&) const = default;
};

// The used BARs of a `resource` file's text, in BAR order. Lines past the
// ROM (bridge windows), empty and unreadable lines are left out.
std::vector<BarRange> ParseResourceText(const std::string& text);

// The card-information items: memory and I/O BARs in BAR order, then one
// interrupt item when the function has a legacy interrupt (a pin and a
// non-zero irq).
std::vector<Resource> ResourcesOf(const std::vector<BarRange>& bars, uint32_t irq, uint8_t interruptPin);

enum class Access {
    Done,
    Failed,  // refused: no such file, a short file, a unit that is none
    Fault,   // the mapping faulted (SIGBUS): the device is gone or the file shrank
};

// A shared mapping of a BAR file, unmapped when it goes.
class Mapping {
public:
    Mapping(uint8_t* base, std::size_t size) : base_(base), size_(size) {}
    ~Mapping();
    Mapping(Mapping&& other) noexcept : base_(std::exchange(other.base_, nullptr)), size_(other.size_) {}
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    Mapping& operator=(Mapping&&) = delete;
    uint8_t* Base() const { return base_; }

private:
    uint8_t* base_;
    std::size_t size_;
};

// Access to the BARs of one function through the resourceN files of its
// folder, opened relative to the folder's descriptor (taken at registration:
// a folder put in its place later is never used). Descriptors and mappings
// are opened on first use and kept until Release() or the end.
class BarFiles {
public:
    explicit BarFiles(driverd::Descriptor folder) : folder_(std::move(folder)) {}
    explicit BarFiles(const std::string& folderPath);
    BarFiles(const BarFiles&) = delete;
    BarFiles& operator=(const BarFiles&) = delete;

    // A descriptor of resourceN (read-write, synchronous), -1 when it cannot
    // be opened (no such file, not root). It never leaves the service.
    int Open(uint32_t bar);
    // One I/O access of 1, 2 or 4 bytes at `offset`, as a pread/pwrite of
    // that size (the kernel turns it into one in/out instruction).
    bool Port(uint32_t bar, uint64_t offset, uint32_t unitBytes, bool isRead, uint8_t* unit);
    // One memory access of 1, 2 or 4 bytes through the service's own shared
    // mapping of the file, as a single volatile access; `length` is the
    // BAR's length (a file shorter than that is not mapped). The offset must
    // be a multiple of the unit. A fault on the mapping fails this access
    // only: the service goes on.
    Access Memory(uint32_t bar, uint64_t length, uint64_t offset, uint32_t unitBytes, bool isRead, uint8_t* unit);
    void Release();

private:
    driverd::Descriptor folder_;
    std::map<uint32_t, driverd::Descriptor> fds_;
    std::map<uint32_t, Mapping> maps_;
};

}  // namespace driverd::sysfs
