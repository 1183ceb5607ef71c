// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service -- the simulated bus backend: PCI functions read
// from a JSON file or lspci's text, memory resources held in the service,
// and for PLX 9056/9080 bridges a local register block with a serial EEPROM
// behind it.
// The file format is described in docs/simulated-bus.md.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "driver/Bus.h"

namespace driverd {

// Reads the bus from a bus file's JSON or from the text of lspci -vv -xxx
// (driver/LspciText.h), told apart by the content; `name` is the file name
// the messages give. nullptr with the reason in `error` when the text does
// not fit its format. `notes` gets what kind of file it was and what an
// engineer should know about replaying it.
std::unique_ptr<Bus> LoadSimulatedBus(const std::string& text, const std::string& name, std::string& error,
                                      std::vector<std::string>& notes);
std::unique_ptr<Bus> LoadSimulatedBus(const std::string& text, const std::string& name, std::string& error);

}  // namespace driverd
