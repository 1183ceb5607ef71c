// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer on Linux -- the folders only this user can write,
// found from the user id alone, for the single-instance claim and a private
// service's socket.
#pragma once

#include <string>

namespace platform::userfolders {

// "" for the system's root; a test's own root otherwise (the in-process
// override, else $QUORRIN_INSTANCE_ROOT).
std::string Root();
void SetRoot(const std::string& root);

// A folder nobody but this user (and root) can make, swap or remove a name in.
bool OwnFolder(int fd);

// An open descriptor of `path` when it is a folder owned by this user that
// no group or other user can write, else -1.
int OpenOwnFolder(const std::string& path, bool followLink);

// ROOT/tmp/quorrin-<uid>, made 0700 when missing (anyone may have made the
// name first: then it is refused like any folder not the user's own).
std::string TmpFolder();
// ROOT/run/user/<uid>, logind's runtime folder.
std::string RuntimeFolder();

// The runtime folder when it is the user's own, else the tmp folder; its
// descriptor and path, or -1.
int OpenUserFolder(std::string& path);

}  // namespace platform::userfolders
