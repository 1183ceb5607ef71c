// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin PCI facts -- bounded reads of configuration bytes and the walk of
// the capability lists.
#include "pci/CapabilityList.h"

#include "pci/PciRegisters.h"

namespace pcicap {

namespace {

// Offsets near 2^32 must not wrap round to the start of the space.
uint32_t Little(const Space& space, uint32_t offset, unsigned length) {
    uint32_t value = 0;
    for (unsigned i = 0; i < length; ++i) {
        const uint64_t at = uint64_t{offset} + i;
        if (at < space.Size) value |= uint32_t{space.Bytes[at]} << (8 * i);
    }
    return value;
}

}  // namespace

uint8_t Space::Byte(uint32_t offset) const { return static_cast<uint8_t>(Little(*this, offset, 1)); }
uint16_t Space::Word(uint32_t offset) const { return static_cast<uint16_t>(Little(*this, offset, 2)); }
uint32_t Space::Dword(uint32_t offset) const { return Little(*this, offset, 4); }

namespace {

uint32_t StandardHead(const Space& space) {
    const uint8_t layout = space.Byte(pcireg::HeaderType) & pcireg::HeaderTypeLayoutMask;
    return layout == pcireg::HeaderTypeCardBus ? pcireg::CardBusCapabilityList : pcireg::CapabilityList;
}

}  // namespace

Walk::Walk(const Space& space, List list) : space_(space), list_(list) {
    if (list == List::Standard) {
        if (!(space.Word(pcireg::Status) & pcireg::StatusCapabilityList)) return;
        from_ = StandardHead(space);
        next_ = space.Byte(from_) & pcireg::CapabilityPointerMask;
        return;
    }
    // Only a space read whole has the extended list; a header of zeros (no
    // capabilities) or of ones (nothing answered there) has none.
    const uint32_t first = space.Dword(pcireg::ExtendedCapabilityFirst);
    if (!space.Has(pcireg::ExtendedCapabilityFirst, 4) || first == 0 || first == 0xFFFFFFFFu) return;
    from_ = pcireg::ExtendedCapabilityFirst;
    next_ = pcireg::ExtendedCapabilityFirst;
}

bool Walk::Stop(Break why, uint32_t target) {
    broken_ = why;
    brokenAt_ = from_;
    brokenTarget_ = target;
    next_ = 0;
    return false;
}

bool Walk::Next(Entry& entry) {
    if (next_ == 0) return false;
    const uint32_t at = next_;
    const bool standard = list_ == List::Standard;
    const uint32_t floor = standard ? pcireg::CapabilityFirst : pcireg::ExtendedCapabilityFirst;
    const uint32_t length = standard ? 2 : 4;
    if (at < floor) return Stop(Break::IntoHeader, at);
    if (!space_.Has(at, length) || at / 4 >= seen_.size()) return Stop(Break::Outside, at);
    if (seen_[at / 4]) return Stop(Break::Loop, at);
    seen_[at / 4] = true;
    from_ = at;
    if (standard) {
        entry = {space_.Byte(at + pcireg::CapabilityIdOffset), at};
        next_ = space_.Byte(at + pcireg::CapabilityNextOffset) & pcireg::CapabilityPointerMask;
    } else {
        const uint32_t header = space_.Dword(at);
        entry = {static_cast<uint16_t>(header & pcireg::ExtendedIdMask), at};
        next_ = (header >> pcireg::ExtendedNextShift) & pcireg::ExtendedNextMask;
    }
    return true;
}

uint32_t Find(const Space& space, List list, uint16_t id) {
    Walk walk(space, list);
    Entry entry;
    while (walk.Next(entry))
        if (entry.Id == id) return entry.Offset;
    return 0;
}

}  // namespace pcicap
