// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service -- the access policy.
#include "driver/AccessPolicy.h"

#include <algorithm>

#include "wire/DriverRecords.h"

namespace driverd {

namespace {

// The lines the bridge drives to the part. With the 9056's EEDO input
// enable set the bridge lets go of the shared data pin, so what the part
// takes on a clock edge is no longer the data bit we see.
constexpr uint8_t DrivenLines =
    plx::EepromClock | plx::EepromChipSelect | plx::EepromDataToPart | plx::EepromOutputEnable;

bool OneByte(const TransferAsk& ask) {
    return ask.UnitBytes == 1 && ask.Bytes == 1;
}

}  // namespace

bool PeerAllowed(uint32_t uid, uint32_t gid, const std::vector<uint32_t>& groups, uint32_t serviceUid,
                 std::optional<uint32_t> quorrinGid) {
    if (uid == 0 || uid == serviceUid) return true;
    if (!quorrinGid) return false;
    return gid == *quorrinGid || std::find(groups.begin(), groups.end(), *quorrinGid) != groups.end();
}

bool ConfigAccessAllowed(uint32_t direction) {
    return direction == ConfigDirectionRead;
}

const RegisterRange* FindReadableRegister(const TransferAsk& ask) {
    if (!OneByte(ask)) return nullptr;
    for (const RegisterRange& r : ReadableRegisters)
        if (r.VendorId == ask.VendorId && r.DeviceId == ask.DeviceId && r.Bar == ask.Bar && ask.Offset >= r.First &&
            ask.Offset <= r.Last)
            return &r;
    return nullptr;
}

const WritableRegister* FindWritableRegister(const TransferAsk& ask) {
    if (!OneByte(ask)) return nullptr;
    for (const WritableRegister& r : WritableRegisters)
        if (r.VendorId == ask.VendorId && r.DeviceId == ask.DeviceId && r.Bar == ask.Bar && r.Offset == ask.Offset)
            return &r;
    return nullptr;
}

// The part takes a bit on each rising clock edge while selected. Only the
// edges of a READ instruction (start bit 1, opcode 1 then 0) are let
// through; once the opcode is READ nothing else clocked in can turn it into
// a write, until chip select falls and the part starts afresh.
bool EepromWriteAllowed(EepromLines& lines, uint8_t current, uint8_t value) {
    const uint8_t before = current & DrivenLines, after = value & DrivenLines;
    EepromPhase phase = lines.Phase;
    // Lines that read otherwise than we left them were driven by someone
    // else (a kernel driver, a reset): we no longer know where the part is.
    if (lines.Driven != before) phase = EepromPhase::Unknown;
    // Deselected now: whatever comes next starts afresh.
    if (!(before & plx::EepromChipSelect)) phase = EepromPhase::Idle;

    const bool rising = (after & plx::EepromClock) && !(before & plx::EepromClock);
    if (rising) {
        // Which level the part latches is ambiguous when other lines move
        // with the edge.
        if ((before ^ after) & static_cast<uint8_t>(~plx::EepromClock)) return false;
        if (after & plx::EepromChipSelect) {
            const bool one = after & plx::EepromDataToPart;
            const bool released = after & plx::EepromOutputEnable;
            switch (phase) {
            case EepromPhase::Unknown: return false;
            case EepromPhase::Idle:
                if (released) return false;
                if (one) phase = EepromPhase::Opcode1;
                break;
            case EepromPhase::Opcode1:
                if (released || !one) return false;
                phase = EepromPhase::Opcode2;
                break;
            case EepromPhase::Opcode2:
                if (released || one) return false;
                phase = EepromPhase::Reading;
                break;
            case EepromPhase::Reading: break;
            }
        }
    }
    if (!(after & plx::EepromChipSelect)) phase = EepromPhase::Idle;
    lines = {phase, after};
    return true;
}

Verdict JudgeTransfer(const TransferAsk& ask, EepromLines& lines,
                      const std::function<std::optional<uint8_t>()>& readNow) {
    if (ask.IsRead) return FindReadableRegister(ask) ? Verdict::Allowed : Verdict::Denied;
    const WritableRegister* rule = FindWritableRegister(ask);
    if (rule == nullptr) return Verdict::Denied;
    const std::optional<uint8_t> current = readNow();
    if (!current) return Verdict::ReadFailed;
    if (!WriteKeepsGuardedBits(*rule, *current, ask.Data[0])) return Verdict::Denied;
    // The control byte is the only register written; its lines are judged.
    return EepromWriteAllowed(lines, *current, ask.Data[0]) ? Verdict::Allowed : Verdict::Denied;
}

}  // namespace driverd
