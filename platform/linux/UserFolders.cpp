// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer on Linux -- this user's own folders.
#include "platform/linux/UserFolders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace platform::userfolders {

namespace {

// Never destroyed: a test's environment may set it back while the process
// is ending.
std::string& Override() {
    static auto* const root = new std::string;
    return *root;
}

}  // namespace

bool OwnFolder(int fd) {
    struct stat s {};
    return ::fstat(fd, &s) == 0 && S_ISDIR(s.st_mode) && s.st_uid == ::geteuid() &&
           (s.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::string Root() {
    if (!Override().empty()) return Override();
    const char* root = std::getenv("QUORRIN_INSTANCE_ROOT");
    return root != nullptr ? root : "";
}

void SetRoot(const std::string& root) { Override() = root; }

int OpenOwnFolder(const std::string& path, bool followLink) {
    if (path.empty() || path[0] != '/') return -1;
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
    if (fd >= 0 && !OwnFolder(fd)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string TmpFolder() {
    const std::string path = Root() + "/tmp/quorrin-" + std::to_string(::geteuid());
    ::mkdir(path.c_str(), 0700);  // one that exists is checked like any other
    return path;
}

std::string RuntimeFolder() { return Root() + "/run/user/" + std::to_string(::geteuid()); }

int OpenUserFolder(std::string& path) {
    path = RuntimeFolder();
    const int fd = OpenOwnFolder(path, true);
    if (fd >= 0) return fd;
    path = TmpFolder();
    return OpenOwnFolder(path, false);
}

}  // namespace platform::userfolders
