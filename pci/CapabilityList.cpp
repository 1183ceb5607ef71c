// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin PCI facts -- bounded reads of configuration bytes and the walk of
// the capability lists.
#include "pci/CapabilityList.h"

#include "pci/PciRegisters.h"

namespace pcicap {

uint8_t Space::Byte(uint32_t offset) const { return Has(offset, 1) ? Bytes[offset] : 0; }

uint16_t Space::Word(uint32_t offset) const {
    return static_cast<uint16_t>(Byte(offset) | Byte(offset + 1) << 8);
}

uint32_t Space::Dword(uint32_t offset) const {
    return uint32_t{Word(offset)} | uint32_t{Word(offset + 2)} << 16;
}

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
