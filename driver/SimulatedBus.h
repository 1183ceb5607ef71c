// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service -- the simulated bus backend: PCI functions read
// from a JSON file, memory resources backed by shared memory, and for PLX
// 9056/9080 bridges a local register block with a serial EEPROM behind it.
// The file format is described in docs/simulated-bus.md.
#pragma once

#include <memory>
#include <string>

#include "driver/Bus.h"

namespace driverd {

// Reads the bus from JSON text; `name` is the file name the messages give.
// nullptr with the reason in `error` when the text does not fit the format.
std::unique_ptr<Bus> LoadSimulatedBus(const std::string& json, const std::string& name, std::string& error);

}  // namespace driverd
