// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin sniffer -- the bus scan into the device table, and the report built
// from that table for the window and the log.
#pragma once

#include <cstdint>
#include <string>

#include "pci/PciRegisters.h"
#include "wire/DriverRecords.h"

// The table's capacities: functions, and per function the memory and I/O
// resources kept, the configuration double-words and the EEPROM words read.
constexpr int PciTableCapacity = 100;
constexpr int MaxMemSpaces = 8;
constexpr int MaxIoSpaces = 8;
constexpr int ConfigDwordCount = 64;
constexpr int EepromWordCount = 64;

// One PCI function as the last scan found it. Every record is zeroed before
// it is filled, so a field the scan does not set reads as zero.
struct PciDeviceRecord {
    uint32_t Index;
    uint32_t VendorId;
    uint32_t DeviceId;
    uint32_t SubVendorId;
    uint32_t SubDeviceId;
    uint32_t ConfigRegs[ConfigDwordCount];
    uint16_t EepromWords[EepromWordCount];
    bool IsPlx;
    uint32_t Bus;
    uint32_t Slot;
    uint32_t Function;
    int32_t NumMemAddresses;
    int32_t NumIOAddresses;
    int32_t NumInterrupts;
    uint32_t MemBytes[MaxMemSpaces];
    uint64_t MemAddress[MaxMemSpaces];
    uint64_t MemDirect[MaxMemSpaces];
    uint64_t MemPhysicalAddress[MaxMemSpaces];
    uint32_t MemBar[MaxMemSpaces];
    uint32_t IoBytes[MaxIoSpaces];
    uint64_t IoAddress[MaxIoSpaces];
    uint32_t IoBar[MaxIoSpaces];
    uint32_t Interrupt;
    int32_t FailCode;
    char FailText[1024];
};

struct PciDeviceTableType {
    int32_t Count;
    PciDeviceRecord Devices[PciTableCapacity];
};

// The one process-wide table, all zero at start.
extern PciDeviceTableType PciDeviceTable;

// Beside the table, what the scan got from the driver for each function,
// for what needs more than the report shows (the health findings, a saved
// bus). The registration's outcome is the record's FailCode.
//
// The whole configuration space as read: the first 256 bytes are the
// record's ConfigRegs; a PCI Express function's extended space follows when
// the driver gives it.
struct PciConfigSpace {
    uint32_t Size;  // bytes read: 256, or 4096 with the extended space
    uint8_t Bytes[pcireg::ExpressConfigSize];
};
struct PciFunctionCapture {
    PciConfigSpace Config;
    uint32_t CardInfoStatus;     // the card-information request's status
    CardResourceBlock CardInfo;  // its reply's items, before registration
    uint32_t ConfigReadsRefused;  // of the record's double-words
    // The EEPROM words came through the bridge's register space; without it
    // they are the zeros of an unreachable space, not the part's contents.
    bool EepromReached;
};
struct PciCaptureTable {
    int32_t Count;  // as the device table's
    // The scan that filled it had the driver to its end: it got a handle and
    // did not lose the connection on the way.
    bool Complete;
    PciFunctionCapture Functions[PciTableCapacity];
};
extern PciCaptureTable PciCaptures;

// Fills the table, and PciCaptures beside it; a scan without a driver handle
// leaves both as they were.
void GetPciCardInfo(uint32_t capacity, PciDeviceTableType& table);
void GetPciCardInfo(uint32_t capacity, PciDeviceTableType& table, PciCaptureTable& captures);

std::string FormatSniffReport(const PciDeviceTableType& table);
void LogSniffReport(const PciDeviceTableType& table);
std::string FormatDeviceReport(int index, const PciDeviceTableType& table);
void LogDeviceReport(int index, const PciDeviceTableType& table);

std::string FormatDeviceHeader(const PciDeviceRecord& device);
std::string FormatDeviceFailure(const PciDeviceRecord& device);
std::string FormatNoResources(const PciDeviceRecord& device);
std::string FormatResourceInfo(const PciDeviceRecord& device);
std::string FormatPciRegisters(const PciDeviceRecord& device);
std::string FormatEepromRegisters(const PciDeviceRecord& device);
