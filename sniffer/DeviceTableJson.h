// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin sniffer -- the device table as JSON, every field of every
// record the scan filled, and that JSON read back into a table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sniffer/SnifferUnit.h"

// One object {"format": "quorrin-sniff/1", "Count": n, "Devices": [...]} with
// one object per record; the EEPROM words appear only on PLX records, the
// names only where the system's list of PCI identifiers has them.
std::string DeviceTableJson(const PciDeviceTableType& table);

struct DeviceTableJsonReading {
    bool Read = false;                 // the text was such a table
    std::string Error;                 // why not
    std::size_t ErrorOffset = 0;       // where in the text
    int32_t Count = 0;                 // the count it names
    std::vector<std::string> Skipped;  // records left out, and why
};

// Reads DeviceTableJson's text (also without the fields added since the
// first version: format, location, class code, names). A record with a
// missing or unfitting field is left out and named in Skipped.
DeviceTableJsonReading ReadDeviceTableJson(std::string_view text, PciDeviceTableType& table);
