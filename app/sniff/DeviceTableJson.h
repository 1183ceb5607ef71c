// Quorrin sniff front end -- the device table as JSON, every field of every
// record the scan filled.
#pragma once

#include <string>

#include "sniffer/SnifferUnit.h"

// One object {"Count": n, "Devices": [...]} with one object per record; the
// EEPROM words appear only on PLX records.
std::string DeviceTableJson(const PciDeviceTableType& table);
