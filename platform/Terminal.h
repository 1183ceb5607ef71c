// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- whether standard output is a terminal that shows
// colours (ANSI escape sequences).
#pragma once

namespace platform {

// True when standard output is a terminal; on Windows a console, which is
// then set to read escape sequences (false where it cannot).
bool StandardOutputShowsColor();

}  // namespace platform
