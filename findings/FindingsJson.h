// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin findings -- the device table's JSON with each function's findings.
#pragma once

#include <string>
#include <vector>

#include "findings/Findings.h"

namespace findings {

// DeviceTableJson's document, each record with a "Findings" array of
// {"kind", "severity", "text", "values": {name: number}}; `all` as
// FindingsOfTable gave it for the same table.
std::string SniffJson(const PciDeviceTableType& table, const std::vector<FunctionFindings>& all);

}  // namespace findings
