// Quorrin sniffer -- the sniff report: the device table as text for the
// window, and the same text as log records.
#include <cstring>

#include "log/wexerrorlog.h"
#include "sniffer/NumberFormat.h"
#include "sniffer/SnifferUnit.h"

namespace {

const std::string DashLine72(72, '-');
const std::string DashLine43(43, '-');
const std::string DashLine9(9, '-');
const char* const Crlf = "\r\n";
const char* const NoDevicesText = "No PCI Devices to Log.  Assume something broke";

const char* const FailureTexts[] = {
    "None",
    "Cant open windriver to get a handle, probably not registered",
    "Incorrect windriver version..probably bad install",
    "No cards found with matching device and vendor id",
    "Tried to open card number out of range of number of cards",
    "Failed locking the device..should have been shared but not on open",
    "Cant find interrupt and one supposed to be there",
    "A memory space is not active or correct (probably in dos mode)",
    "The subvendor does not match",
    "The WD_CardRegister() failed",
};
constexpr int32_t FailureTextCount = sizeof FailureTexts / sizeof FailureTexts[0];

std::string Hex4(uint32_t value) { return Hex32Text(value, 4, false); }
std::string Hex8(uint32_t value) { return Hex32Text(value, 8, false); }
std::string Dec(double value, int32_t width) { return DecimalText(value, width, 0); }

// Eight digits for a 32-bit value. A larger one (a resource above 4 GiB)
// gets all sixteen: cut to eight it would show a different address.
std::string Hex64(uint64_t value) {
    return Hex64Text(static_cast<long double>(value), value > 0xFFFFFFFFu ? 16 : 8, true);
}

std::string Header(int32_t count) {
    return Crlf + DashLine72 + Crlf + DashLine72 + Crlf + "PCI Sniff Results.  Found " + Dec(count, 9) +
           " PCI Devices on the Bus" + Crlf + DashLine72 + Crlf + DashLine72;
}

std::string Footer() {
    return Crlf + DashLine72 + Crlf + DashLine72 + Crlf + "                  End of PCI Sniff Report " + Crlf +
           DashLine72 + Crlf + DashLine72;
}

// A row of labelled resource values: label, index, ")  ", value.
std::string ResourceLine(const char* label, int index, const std::string& value) {
    return label + Dec(index, 2) + ")  " + value + Crlf;
}

// Eight rows of eight values, each value followed by a blank.
template <typename Word>
std::string Rows(const Word (&words)[64], std::string (*format)(uint32_t)) {
    std::string text;
    for (int k = 0; k < 64; ++k) {
        text += format(words[k]) + " ";
        if (k % 8 == 7) text += Crlf;
    }
    return text;
}

}  // namespace

std::string FormatDeviceHeader(const PciDeviceRecord& d) {
    const std::string five = "     ";
    return DashLine43 + Crlf + "PCI Device # " + Dec(static_cast<double>(d.Index) + 1, 5) + " Info" + Crlf +
           "     Vendor ID : " + Hex4(d.VendorId) + five + "Device ID : " + Hex4(d.DeviceId) + five +
           "SubVendor ID : " + Hex4(d.SubVendorId) + five + "SubDevice ID : " + Hex4(d.SubDeviceId) + five + Crlf +
           "     Location     " + "Bus : " + Hex4(d.Bus) + five + "Slot : " + Hex4(d.Slot) + five +
           "Function : " + Hex4(d.Function) + five + Crlf;
}

std::string FormatDeviceFailure(const PciDeviceRecord& d) {
    if (d.FailCode == 0) return {};
    std::string text = Crlf + DashLine9 + Crlf + "  This Device Failed:  ";
    if (d.FailCode >= 0 && d.FailCode < FailureTextCount) text += std::string(FailureTexts[d.FailCode]) + "   " + Crlf;
    // A hand-made record need not be terminated: never read past the field.
    text += "  " + std::string(d.FailText, strnlen(d.FailText, sizeof d.FailText)) + Crlf;
    text += DashLine9 + Crlf;
    return text;
}

std::string FormatNoResources(const PciDeviceRecord& d) {
    if (d.NumMemAddresses > 0 || d.NumIOAddresses > 0 || d.NumInterrupts > 0) return {};
    return Crlf + DashLine9 + Crlf + "  This Device Has No Resources  " + Crlf + DashLine9 + Crlf;
}

std::string FormatResourceInfo(const PciDeviceRecord& d) {
    std::string text = std::string(Crlf) + "  Memory, I/O, Interrupt Info" + Crlf;
    text += "   NumMemAddresses " + Dec(d.NumMemAddresses, 8) + Crlf;
    // The counts index arrays of eight; a hand-filled record may say more.
    for (int i = 0; i < d.NumMemAddresses && i < 8; ++i) {
        text += ResourceLine("      Mem Bytes            MemIndex(", i, Hex64(d.MemBytes[i]));
        text += ResourceLine("      Mem Address          MemIndex(", i, Hex64(d.MemAddress[i]));
        text += ResourceLine("      Mem Direct           MemIndex(", i, Hex64(d.MemDirect[i]));
        text += ResourceLine("      Mem Physical Address MemIndex(", i, Hex64(d.MemPhysicalAddress[i]));
        text += ResourceLine("      Mem BAR              MemIndex(", i, Dec(d.MemBar[i], 8));
    }
    text += "   NumIOAddresses " + Dec(d.NumIOAddresses, 8) + Crlf;
    for (int i = 0; i < d.NumIOAddresses && i < 8; ++i) {
        text += ResourceLine("      I/O Address   IO Index(", i, Hex64(d.IoAddress[i]));
        text += ResourceLine("      I/O Bytes     IO Index(", i, Hex64(d.IoBytes[i]));
        text += ResourceLine("      I/O BAR       IO Index(", i, Dec(d.IoBar[i], 8));
    }
    text += "   NumInterrupts " + Dec(d.NumInterrupts, 8) + Crlf;
    if (d.NumInterrupts > 0) text += "      Interrupt     " + Dec(d.Interrupt, 8) + Crlf;
    return text;
}

std::string FormatPciRegisters(const PciDeviceRecord& d) {
    return std::string(Crlf) + "  PCI Registers" + Crlf + Rows(d.ConfigRegs, Hex8) + Crlf;
}

std::string FormatEepromRegisters(const PciDeviceRecord& d) {
    if (!d.IsPlx) return {};
    return std::string(Crlf) + "  PLX EEProm Registers" + Crlf + Rows(d.EepromWords, Hex4) + Crlf;
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
    if (table.Count < 1) return NoDevicesText;
    std::string text = Header(table.Count);
    for (int i = 0; i < ReportedCount(table); ++i) text += FormatDeviceReport(i, table);
    return text + Footer();
}

void LogSniffReport(const PciDeviceTableType& table) {
    if (table.Count < 1) {
        LogInfo(NoDevicesText, 0, false);
        return;
    }
    LogInfo(Header(table.Count), table.Count, false);
    for (int i = 0; i < ReportedCount(table); ++i) LogDeviceReport(i, table);
    LogInfoLine(Footer(), table.Count, false);
}
