// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service -- a machine read from the text of lspci -vv -xxx
// (or -vvv -xxxx, with or without -nn and -D): per function its location,
// its configuration space from the hex dump, and the resources the kernel
// gave it, as the real bus backend would list them. The text is hostile
// input: anything that does not fit is refused with its line number.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "driver/Bus.h"

namespace driverd {

struct LspciFunction {
    int Line = 0;                   // of its header line
    Location Where;
    std::vector<uint8_t> Config;    // 64, 256 or 4096 bytes, as dumped
    std::vector<Resource> Resources;  // BARs in order, the ROM as BAR 6, then the interrupt
};

// The functions in the order of the text. False with "line N: why" in
// `error`; `notes` gets what an engineer should know about the replay
// (EEPROM words lspci cannot give, short dumps).
bool ReadLspciText(std::string_view text, std::vector<LspciFunction>& functions, std::vector<std::string>& notes,
                   std::string& error);

}  // namespace driverd
