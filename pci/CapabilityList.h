// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin PCI facts -- a function's configuration space as read, and the walk
// of its capability lists, standard and extended. The bytes may come from a
// damaged card or a hand-made file: every read is bounded, a list that loops
// or points astray ends the walk at the entry that breaks it.
#pragma once

#include <bitset>
#include <cstdint>

namespace pcicap {

// Configuration bytes as read: 256 (the header and the standard
// capabilities) or 4096 (with a PCI Express function's extended space).
// Reads past the end give zero.
struct Space {
    const uint8_t* Bytes = nullptr;
    uint32_t Size = 0;

    uint8_t Byte(uint32_t offset) const;
    uint16_t Word(uint32_t offset) const;   // little-endian
    uint32_t Dword(uint32_t offset) const;  // little-endian
    bool Has(uint32_t offset, uint32_t length) const { return offset <= Size && length <= Size - offset; }
};

enum class List { Standard, Extended };

// Why a walk stopped before the list's end.
enum class Break {
    None,
    Loop,         // a pointer leads back to an entry already walked
    Outside,      // a pointer leads past the bytes read
    IntoHeader,   // a pointer leads below the list's area (0x40; 0x100 for the extended list)
};

struct Entry {
    uint16_t Id = 0;
    uint32_t Offset = 0;
};

// Entries one at a time, in list order, without allocating.
class Walk {
public:
    Walk(const Space& space, List list);
    // The next entry; false at the list's end or where it breaks.
    bool Next(Entry& entry);

    Break Broken() const { return broken_; }
    // Where the bad pointer is (the list head register, or the entry whose
    // next pointer it is) and where it points.
    uint32_t BrokenAt() const { return brokenAt_; }
    uint32_t BrokenTarget() const { return brokenTarget_; }

private:
    bool Stop(Break why, uint32_t target);

    Space space_;
    List list_;
    uint32_t next_ = 0;  // offset of the next entry; 0 for none
    uint32_t from_ = 0;  // where next_ was read
    Break broken_ = Break::None;
    uint32_t brokenAt_ = 0, brokenTarget_ = 0;
    std::bitset<1024> seen_;  // one bit per dword of a 4096-byte space
};

// The offset of the first entry with this ID; 0 when there is none.
uint32_t Find(const Space& space, List list, uint16_t id);

}  // namespace pcicap
