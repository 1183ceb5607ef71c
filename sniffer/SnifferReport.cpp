// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin sniffer -- the sniff report: the device table as text for the
// window, and the same text as log records.
#include "sniffer/SnifferReport.h"

#include <cstdio>
#include <cstring>

#include "log/wexerrorlog.h"
#include "format/NumberFormat.h"
#include "sniffer/ReportTexts.h"
#include "sniffer/SnifferUnit.h"

namespace {

using namespace reporttext;

const std::string DashLine72(DashLine72Length, '-');
const std::string DashLine43(DashLine43Length, '-');
const std::string DashLine9(DashLine9Length, '-');
const char* const Crlf = "\r\n";

std::string Hex4(uint32_t value) {
    return Hex32Text(value, 4, false);
}
std::string Hex8(uint32_t value) {
    return Hex32Text(value, 8, false);
}
std::string Dec(double value, int32_t width) {
    return DecimalText(value, width, 0);
}

// Eight digits for a 32-bit value. A larger one (a resource above 4 GiB)
// gets all sixteen: cut to eight it would show a different address.
std::string Hex64(uint64_t value) {
    return Hex64Text(static_cast<long double>(value), value > 0xFFFFFFFFu ? 16 : 8, true);
}

std::string Header(int32_t count) {
    return Crlf + DashLine72 + Crlf + DashLine72 + Crlf + CountLead + Dec(count, 9) + CountTail + Crlf +
           DashLine72 + Crlf + DashLine72;
}

std::string Footer() {
    return Crlf + DashLine72 + Crlf + DashLine72 + Crlf + FooterTitle + Crlf + DashLine72 + Crlf + DashLine72;
}

// A row of labelled resource values: label, index, ")  ", value.
std::string ResourceLine(const char* label, int index, const std::string& value) {
    return label + Dec(index, 2) + IndexTail + value + Crlf;
}

// Eight rows of eight values, each value followed by a blank.
template <typename Word, int N>
std::string Rows(const Word (&words)[N], std::string (*format)(uint32_t)) {
    std::string text;
    for (int k = 0; k < N; ++k) {
        text += format(words[k]) + " ";
        if (k % 8 == 7) text += Crlf;
    }
    return text;
}

}  // namespace

std::string FormatDeviceHeader(const PciDeviceRecord& d) {
    return DashLine43 + Crlf + DeviceLead + Dec(static_cast<double>(d.Index) + 1, 5) + DeviceTail + Crlf +
           VendorLabel + Hex4(d.VendorId) + Gap + DeviceLabel + Hex4(d.DeviceId) + Gap + SubVendorLabel +
           Hex4(d.SubVendorId) + Gap + SubDeviceLabel + Hex4(d.SubDeviceId) + Gap + Crlf + LocationLabel +
           BusLabel + Hex4(d.Bus) + Gap + SlotLabel + Hex4(d.Slot) + Gap + FunctionLabel + Hex4(d.Function) +
           Gap + Crlf;
}

std::string FormatDeviceFailure(const PciDeviceRecord& d) {
    if (d.FailCode == 0) return {};
    std::string text = Crlf + DashLine9 + Crlf + FailedLabel;
    if (d.FailCode >= 0 && d.FailCode < FailureTextCount)
        text += std::string(FailureTexts[d.FailCode]) + ReasonTail + Crlf;
    // A hand-made record need not be terminated: never read past the field.
    text += FailTextLead + std::string(d.FailText, strnlen(d.FailText, sizeof d.FailText)) + Crlf;
    text += DashLine9 + Crlf;
    return text;
}

std::string FormatNoResources(const PciDeviceRecord& d) {
    if (d.NumMemAddresses > 0 || d.NumIOAddresses > 0 || d.NumInterrupts > 0) return {};
    return Crlf + DashLine9 + Crlf + NoResources + Crlf + DashLine9 + Crlf;
}

std::string FormatResourceInfo(const PciDeviceRecord& d) {
    std::string text = std::string(Crlf) + ResourcesTitle + Crlf;
    text += NumMemLabel + Dec(d.NumMemAddresses, 8) + Crlf;
    // The counts index arrays of eight; a hand-filled record may say more.
    for (int i = 0; i < d.NumMemAddresses && i < MaxMemSpaces; ++i) {
        text += ResourceLine(MemBytesLabel, i, Hex64(d.MemBytes[i]));
        text += ResourceLine(MemAddressLabel, i, Hex64(d.MemAddress[i]));
        text += ResourceLine(MemDirectLabel, i, Hex64(d.MemDirect[i]));
        text += ResourceLine(MemPhysicalLabel, i, Hex64(d.MemPhysicalAddress[i]));
        text += ResourceLine(MemBarLabel, i, Dec(d.MemBar[i], 8));
    }
    text += NumIoLabel + Dec(d.NumIOAddresses, 8) + Crlf;
    for (int i = 0; i < d.NumIOAddresses && i < MaxIoSpaces; ++i) {
        text += ResourceLine(IoAddressLabel, i, Hex64(d.IoAddress[i]));
        text += ResourceLine(IoBytesLabel, i, Hex64(d.IoBytes[i]));
        text += ResourceLine(IoBarLabel, i, Dec(d.IoBar[i], 8));
    }
    text += NumInterruptsLabel + Dec(d.NumInterrupts, 8) + Crlf;
    if (d.NumInterrupts > 0) text += InterruptLabel + Dec(d.Interrupt, 8) + Crlf;
    return text;
}

std::string FormatPciRegisters(const PciDeviceRecord& d) {
    return std::string(Crlf) + RegistersTitle + Crlf + Rows(d.ConfigRegs, Hex8) + Crlf;
}

std::string FormatEepromRegisters(const PciDeviceRecord& d) {
    if (!d.IsPlx) return {};
    return std::string(Crlf) + EepromTitle + Crlf + Rows(d.EepromWords, Hex4) + Crlf;
}

std::string FormatDeviceReport(int index, const PciDeviceTableType& table) {
    if (index < 0 || index >= PciTableCapacity) return {};
    const PciDeviceRecord& d = table.Devices[index];
    return FormatDeviceHeader(d) + FormatDeviceFailure(d) + FormatNoResources(d) + FormatResourceInfo(d) +
           FormatPciRegisters(d) + FormatEepromRegisters(d);
}

void LogDeviceReport(int index, const PciDeviceTableType& table) {
    LogInfoLine(FormatDeviceReport(index, table), index + 1, false);
}

namespace {
// Records past the table's end are never reported, whatever Count says.
int32_t ReportedCount(const PciDeviceTableType& table) {
    return table.Count < PciTableCapacity ? table.Count : PciTableCapacity;
}
}  // namespace

std::string FormatSniffReport(const PciDeviceTableType& table) {
    if (table.Count < 1) return NoDevices;
    std::string text = Header(table.Count);
    for (int i = 0; i < ReportedCount(table); ++i) text += FormatDeviceReport(i, table);
    return text + Footer();
}

void LogSniffReport(const PciDeviceTableType& table) {
    if (table.Count < 1) {
        LogInfo(NoDevices, 0, false);
        return;
    }
    LogInfo(Header(table.Count), table.Count, false);
    for (int i = 0; i < ReportedCount(table); ++i) LogDeviceReport(i, table);
    LogInfoLine(Footer(), table.Count, false);
}

std::string LocationText(const PciDeviceRecord& d) {
    char text[40];
    std::snprintf(text, sizeof text, "%02x:%02x.%x", d.Bus, d.Slot, d.Function);
    return text;
}
