// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- what a program answers on its standard output
// before it starts anything (--help, --version), also from a Windows program
// that has no console of its own.
#pragma once

#include <string>

namespace platform {

// Writes text whose lines end in "\n" to standard output, with the system's
// line ends (CR LF on Windows), after whatever the C runtime holds for it. A
// Windows GUI program writes to a redirected standard output when it has
// one, else to the console of the program that started it; without either
// the text goes nowhere. True when all of it was written.
bool WriteInfoText(const std::string& text);

}  // namespace platform
