// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service -- a PCI function's sysfs files: its resource table,
// and access to its BARs through the resourceN files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "driver/Bus.h"

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

// Access to the BARs of one function through DIR/resourceN. Descriptors and
// mappings are opened on first use and kept until Release().
class BarFiles {
public:
    explicit BarFiles(std::string deviceDir) : dir_(std::move(deviceDir)) {}
    ~BarFiles() { Release(); }
    BarFiles(const BarFiles&) = delete;
    BarFiles& operator=(const BarFiles&) = delete;

    // A descriptor of resourceN (read-write, synchronous), -1 when it cannot
    // be opened (no such file, not root). It never leaves the service.
    int Descriptor(uint32_t bar);
    // One I/O access of 1, 2 or 4 bytes at `offset`, as a pread/pwrite of
    // that size (the kernel turns it into one in/out instruction).
    bool Port(uint32_t bar, uint64_t offset, uint32_t unitBytes, bool isRead, uint8_t* unit);
    // One memory access of 1, 2 or 4 bytes through the service's own shared
    // mapping of the file, as a single volatile access; `length` is the
    // BAR's length (a file shorter than that is not mapped). The offset must
    // be a multiple of the unit.
    bool Memory(uint32_t bar, uint64_t length, uint64_t offset, uint32_t unitBytes, bool isRead, uint8_t* unit);
    void Release();

private:
    struct Mapping {
        uint8_t* Base = nullptr;
        std::size_t Size = 0;
    };
    std::string dir_;
    std::map<uint32_t, int> fds_;
    std::map<uint32_t, Mapping> maps_;
};

}  // namespace driverd::sysfs
