// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin sniffer -- the bus scan: every PCI function the driver reports,
// with its resources, configuration space and, for a PLX 9056/9080 bridge,
// its serial EEPROM, into the device table.
#include "sniffer/SnifferUnit.h"

#include <bit>
#include <cstring>
#include <memory>

#include "log/wexerrorlog.h"
#include "pci/CapabilityList.h"
#include "pci/PlxBridge.h"
#include "sniffer/PlxEeprom.h"
#include "sniffer/ReportTexts.h"
#include "windriver/WexPlxGenDriverUnit.h"

PciDeviceTableType PciDeviceTable = {};
PciCaptureTable PciCaptures = {};

namespace {

// Whatever way the scan ends, the card it left registered is released
// before the handle is closed.
struct ScanContext {
    std::unique_ptr<DriverContext> Context = std::make_unique<DriverContext>();
    ~ScanContext() {
        ReleaseCard(*Context);
        CloseDriver(Context->Handle);
    }
};

void CopyResources(const CardResourceBlock& card, PciDeviceRecord& record) {
    int m = 0, k = 0, q = 0;
    const int32_t count = static_cast<int32_t>(card.NumItems);
    for (int32_t i = 0; i < count && i < MaxResourceItems; ++i) {
        const ResourceItem& item = card.Items[i];
        if (item.Type == ItemMemory) {
            record.MemBytes[m] = item.Mem.Bytes;
            record.MemAddress[m] = item.Mem.TransferAddress;
            record.MemDirect[m] = item.Mem.DirectAddress;
            record.MemPhysicalAddress[m] = item.Mem.PhysicalAddress;
            record.MemBar[m] = item.Mem.Bar;
            if (++m == MaxMemSpaces) break;
        } else if (item.Type == ItemInterrupt) {
            record.Interrupt = item.Int.Number;
            ++q;
        } else if (item.Type == ItemIO) {
            record.IoAddress[k] = item.IO.Address;
            record.IoBytes[k] = item.IO.Bytes;
            record.IoBar[k] = item.IO.Bar;
            if (++k == MaxIoSpaces) break;
        }
    }
    record.NumMemAddresses = m;
    record.NumIOAddresses = k;
    record.NumInterrupts = q;
}

// The double-words are kept as the bus gives them, so their bytes are the
// space's bytes in order.
static_assert(std::endian::native == std::endian::little);

// Only a PCI Express function has an extended space.
bool HasExpressCapability(const PciDeviceRecord& record) {
    const pcicap::Space header{reinterpret_cast<const uint8_t*>(record.ConfigRegs), sizeof record.ConfigRegs};
    return pcicap::Find(header, pcicap::List::Standard, pcireg::CapabilityIdExpress) != 0;
}

void ReadConfigSpace(DriverContext& context, const PciDeviceRecord& record, PciConfigSpace& space) {
    std::memset(&space, 0, sizeof space);
    std::memcpy(space.Bytes, record.ConfigRegs, sizeof record.ConfigRegs);
    space.Size = pcireg::ConfigSize;
    if (!HasExpressCapability(record)) return;
    // A driver that gives only the standard space refuses the first read past it.
    for (uint32_t k = pcireg::ConfigSize / 4; k < pcireg::ExpressConfigSize / 4; ++k) {
        uint32_t value = 0;
        if (!TryReadConfigDword(context, k, value)) {
            if (k == pcireg::ConfigSize / 4) return;
        }
        std::memcpy(space.Bytes + 4 * k, &value, sizeof value);
    }
    space.Size = pcireg::ExpressConfigSize;
}

void ScanCard(DriverContext& context, const PciScanRecord& scan, uint32_t n, PciDeviceRecord& record,
              PciFunctionCapture& capture) {
    std::memset(&record, 0, sizeof record);
    std::memset(&capture, 0, sizeof capture);

    CardInfoRecord info{};
    info.Bus = scan.Locations[n].Bus;
    info.Slot = scan.Locations[n].Slot;
    info.Function = scan.Locations[n].Function;
    capture.CardInfoStatus = DriverRequest(WD_PciGetCardInfo, context.Handle, &info, sizeof info);
    capture.CardInfo = info.Card;
    context.Bus = info.Bus;
    context.Slot = info.Slot;
    context.Function = info.Function;
    context.Registration.Card = info.Card;

    const bool usable = P9080_CardIsUsable(context);
    record.FailCode = TakeLastError();
    if (!usable) {
        const std::size_t length = strnlen(LastErrorText, sizeof record.FailText - 1);
        std::memcpy(record.FailText, LastErrorText, length);
        record.FailText[length] = '\0';
    }

    record.Index = n;
    record.VendorId = scan.Ids[n].VendorId;
    record.DeviceId = scan.Ids[n].DeviceId;
    record.Bus = context.Bus;
    record.Slot = context.Slot;
    record.Function = context.Function;
    CopyResources(context.Registration.Card, record);

    for (uint32_t k = 0; k < ConfigDwordCount; ++k) {
        uint32_t status = 0;
        record.ConfigRegs[k] = ReadConfigDword(context, k, status);
        if (status != 0) ++capture.ConfigReadsRefused;
    }
    record.SubVendorId = record.ConfigRegs[pcireg::SubsystemIds / 4] & 0xFFFF;
    record.SubDeviceId = record.ConfigRegs[pcireg::SubsystemIds / 4] >> 16;
    ReadConfigSpace(context, record, capture.Config);

    if (plx::IsBridge(record.VendorId, record.DeviceId)) {
        record.IsPlx = true;
        capture.EepromReached = IsSpaceActive(context, PlxRegisterSpace);
        ReadPlxEeprom(context, EepromWordCount, record.EepromWords);
    }
    // The card stayed registered only for its register access.
    ReleaseCard(context);
}

}  // namespace

void GetPciCardInfo(uint32_t capacity, PciDeviceTableType& table) {
    GetPciCardInfo(capacity, table, PciCaptures);
}

void GetPciCardInfo(uint32_t capacity, PciDeviceTableType& table, PciCaptureTable& captures) {
    ScanContext scan;
    DriverContext& context = *scan.Context;
    context.Handle = OpenDriver();
    if (context.Handle == NoDriverHandle) {
        // Line 222 is the line this record has always named, so that logs of
        // every version compare; it is a fixed number, not this line.
        LogSourceError(__FILE__, 222, "GetPciCardInfo", reporttext::NoHandleText, reporttext::NoHandleCode);
        return;
    }

    PciScanRecord cards{};
    cards.SearchVendorId = 0;
    cards.SearchDeviceId = 0;
    DriverRequest(WD_PciScanCards, context.Handle, &cards, sizeof cards);
    uint32_t count = cards.CardCount;
    if (count > capacity) count = capacity;
    if (count > static_cast<uint32_t>(PciTableCapacity)) count = PciTableCapacity;
    table.Count = static_cast<int32_t>(count);
    captures.Count = table.Count;
    captures.Complete = false;

    for (uint32_t n = 0; n < count; ++n) ScanCard(context, cards, n, table.Devices[n], captures.Functions[n]);
    captures.Complete = !DriverConnectionLost(context.Handle);
    // A driver that went away leaves zeros in the cards after it; say so
    // once, and end the scan as one that did not reach the driver.
    if (!captures.Complete) {
        LogInfo(reporttext::LostDriverText, 1, false);
        SetLastError(1, "GetPciCardInfo->Lost the connection to the driver.\n");
    }
}
