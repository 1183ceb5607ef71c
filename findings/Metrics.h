// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin findings -- one sniff as Prometheus metrics, in the text format
// node_exporter's textfile collector reads.
#pragma once

#include <string>
#include <vector>

#include "findings/Findings.h"

namespace findings {

struct SniffRun {
    bool DriverReached = false;
    double Time = 0;      // when the sniff began, in seconds since 1970 (UTC)
    double Duration = 0;  // how long it took, in seconds
};

// Every series of the sniff: the run, one info series per function with its
// registration and link, one per kind of finding of each function.
// `captures` may be null, as for FindingsOfTable.
std::string MetricsText(const PciDeviceTableType& table, const PciCaptureTable* captures,
                        const std::vector<FunctionFindings>& all, const SniffRun& run);

// MetricsText written to `path` through a temporary file and a rename.
bool WriteMetrics(const std::string& path, const std::string& text, std::string& error);

}  // namespace findings
