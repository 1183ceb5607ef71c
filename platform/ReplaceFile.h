// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- a file written whole and put in place at once:
// written beside its final name under a temporary one, flushed, then
// renamed over the old file, so that a reader sees the old or the new
// contents, never a part.
#pragma once

#include <string>

namespace platform {

// False, with the reason in `error`, when the file could not be written or
// put in place; the old file is then left as it was and no temporary file
// stays behind. The new file gets mode 0644 (readable by every user).
bool ReplaceFileContents(const std::string& path, const std::string& contents, std::string& error);

}  // namespace platform
