// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin sniffer -- the fixed texts of the sniff report, shared by the
// formatter and the reader that turns a report back into the device table.
#pragma once

#include <cstdint>

namespace reporttext {

constexpr int DashLine72Length = 72;
constexpr int DashLine43Length = 43;
constexpr int DashLine9Length = 9;

inline constexpr char NoDevices[] = "No PCI Devices to Log.  Assume something broke";
inline constexpr char CountLead[] = "PCI Sniff Results.  Found ";
inline constexpr char CountTail[] = " PCI Devices on the Bus";
inline constexpr char FooterTitle[] = "                  End of PCI Sniff Report ";

inline constexpr char DeviceLead[] = "PCI Device # ";
inline constexpr char DeviceTail[] = " Info";
inline constexpr char Gap[] = "     ";
inline constexpr char VendorLabel[] = "     Vendor ID : ";
inline constexpr char DeviceLabel[] = "Device ID : ";
inline constexpr char SubVendorLabel[] = "SubVendor ID : ";
inline constexpr char SubDeviceLabel[] = "SubDevice ID : ";
inline constexpr char LocationLabel[] = "     Location     ";
inline constexpr char BusLabel[] = "Bus : ";
inline constexpr char SlotLabel[] = "Slot : ";
inline constexpr char FunctionLabel[] = "Function : ";

inline constexpr char FailedLabel[] = "  This Device Failed:  ";
inline constexpr char ReasonTail[] = "   ";
inline constexpr char FailTextLead[] = "  ";
inline constexpr char NoResources[] = "  This Device Has No Resources  ";

inline constexpr char ResourcesTitle[] = "  Memory, I/O, Interrupt Info";
inline constexpr char NumMemLabel[] = "   NumMemAddresses ";
inline constexpr char NumIoLabel[] = "   NumIOAddresses ";
inline constexpr char NumInterruptsLabel[] = "   NumInterrupts ";
inline constexpr char MemBytesLabel[] = "      Mem Bytes            MemIndex(";
inline constexpr char MemAddressLabel[] = "      Mem Address          MemIndex(";
inline constexpr char MemDirectLabel[] = "      Mem Direct           MemIndex(";
inline constexpr char MemPhysicalLabel[] = "      Mem Physical Address MemIndex(";
inline constexpr char MemBarLabel[] = "      Mem BAR              MemIndex(";
inline constexpr char IoAddressLabel[] = "      I/O Address   IO Index(";
inline constexpr char IoBytesLabel[] = "      I/O Bytes     IO Index(";
inline constexpr char IoBarLabel[] = "      I/O BAR       IO Index(";
inline constexpr char IndexTail[] = ")  ";
inline constexpr char InterruptLabel[] = "      Interrupt     ";

inline constexpr char RegistersTitle[] = "  PCI Registers";
inline constexpr char EepromTitle[] = "  PLX EEProm Registers";

inline constexpr const char* FailureTexts[] = {
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

// What the scan logs when it did not reach the driver: the source-location
// record's code and text when no handle opened, and the record of a driver
// lost during the scan.
constexpr int32_t NoHandleCode = 255;
inline constexpr char NoHandleText[] = "Could not get a WinDrvr Handle";
inline constexpr char LostDriverText[] = "GetPciCardInfo: lost the connection to the driver during the scan";

}  // namespace reporttext
