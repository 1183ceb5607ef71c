// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service -- the access policy.
#include "driver/AccessPolicy.h"

#include <algorithm>

namespace driverd {

bool PeerAllowed(uint32_t uid, uint32_t gid, const std::vector<uint32_t>& groups, uint32_t serviceUid,
                 std::optional<uint32_t> quorrinGid) {
    if (uid == 0 || uid == serviceUid) return true;
    if (!quorrinGid) return false;
    return gid == *quorrinGid || std::find(groups.begin(), groups.end(), *quorrinGid) != groups.end();
}

bool MayAccessBars(bool boundToDriver, uint16_t vendorId, uint16_t deviceId) {
    return !boundToDriver || plx::IsBridge(vendorId, deviceId);
}

const WritableRegister* FindWritableRegister(uint16_t vendorId, uint16_t deviceId, uint32_t bar,
                                             uint64_t offset, uint32_t unitBytes, uint32_t bytes) {
    if (unitBytes != 1 || bytes != 1) return nullptr;
    for (const WritableRegister& r : WritableRegisters)
        if (r.VendorId == vendorId && r.DeviceId == deviceId && r.Bar == bar && r.Offset == offset) return &r;
    return nullptr;
}

}  // namespace driverd
