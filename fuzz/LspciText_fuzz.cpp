// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin fuzz target -- lspci text pasted into a ticket, read as a bus by
// the driver service. Whatever the bytes, the reader must not run past them,
// a function it accepts must be whole, and the loader must serve it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "driver/LspciText.h"
#include "driver/SimulatedBus.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<driverd::LspciFunction> functions;
    std::vector<std::string> notes;
    std::string error;
    const bool read = driverd::ReadLspciText(text, functions, notes, error);
    if (read == !error.empty()) __builtin_trap();
    for (const driverd::LspciFunction& f : functions) {
        if (f.Config.size() != 256 && f.Config.size() != 4096) __builtin_trap();
        if (f.Resources.size() > 8) __builtin_trap();  // six BARs, the ROM, one interrupt
    }
    std::string loadError;
    const auto bus = driverd::LoadSimulatedBus(text, "fuzz.txt", loadError, notes);
    if (read && !text.empty() && text.find_first_not_of(" \t\r\n") != std::string::npos && text[text.find_first_not_of(" \t\r\n")] != '{' && !bus)
        __builtin_trap();
    if (bus) (void)bus->Scan();
    return 0;
}
