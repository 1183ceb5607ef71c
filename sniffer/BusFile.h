// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin sniffer -- the sniffed machine written as a bus file that
// quorrin-driverd --bus serves again: every function with its configuration
// space as read, its card-information items, the PLX EEPROM words read and
// the refusals the scan met. Replayed, it gives the same report.
#pragma once

#include <string>

#include "sniffer/SnifferUnit.h"

// The bus file's text (JSON, laid out for an engineer to read and edit):
// {"format": "quorrin-bus/1", "functions": [...]}.
std::string BusFileText(const PciDeviceTableType& table, const PciCaptureTable& captures);

// Writes BusFileText to `path`. False with the reason in `error` when the
// captures are not a whole scan (none yet, or the driver was lost on the
// way) or the file cannot be written.
bool SaveBusFile(const std::string& path, const PciDeviceTableType& table, const PciCaptureTable& captures,
                 std::string& error);
