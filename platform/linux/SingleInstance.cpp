// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- the single-instance claim as a lock on a file in
// a folder that only this user can write: the user's runtime folder, or a
// folder of the user's own under /tmp. The kernel drops the lock with the
// last descriptor, so a crash leaves no claim behind (only the empty file).
#include "platform/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace platform {

namespace {

// Nobody but this user (and root) can make, swap or remove a file in such a
// folder, so nobody else can hold or fake the claim in it.
bool OwnFolder(int fd) {
    struct stat s {};
    return ::fstat(fd, &s) == 0 && S_ISDIR(s.st_mode) && s.st_uid == ::geteuid() &&
           (s.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

int OpenOwnFolder(const std::string& path, bool followLink) {
    if (path.empty() || path[0] != '/') return -1;
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
    if (fd >= 0 && !OwnFolder(fd)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The first of $XDG_RUNTIME_DIR, logind's /run/user/<uid> and /tmp/quorrin-<uid>
// that is this user's own. Anyone may have made the /tmp name first: then it
// fails the check, and the program starts unguarded rather than refused.
int ClaimFolder() {
    const std::string uid = std::to_string(::geteuid());
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR")) {
        const int fd = OpenOwnFolder(runtime, true);
        if (fd >= 0) return fd;
    }
    const int fd = OpenOwnFolder("/run/user/" + uid, true);
    if (fd >= 0) return fd;
    const std::string fallback = "/tmp/quorrin-" + uid;
    ::mkdir(fallback.c_str(), 0700);  // one that exists is checked like any other
    return OpenOwnFolder(fallback, false);
}

bool ValidName(const std::string& name) {
    return !name.empty() && name.size() <= 107 &&
           name.find_first_of(std::string("/\\\0", 3)) == std::string::npos && name != "." && name != "..";
}

}  // namespace

void SingleInstance::Release() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

ClaimResult SingleInstance::Claim(const std::string& name) {
    Release();
    if (!ValidName(name)) return ClaimResult::Failed;
    const int folder = ClaimFolder();
    if (folder < 0) return ClaimResult::Failed;
    // Close-on-exec: a viewer or install script we start must not keep the
    // lock alive after we have gone.
    const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    ::close(folder);
    if (fd < 0) return ClaimResult::Failed;
    struct stat s {};
    if (::fstat(fd, &s) != 0 || !S_ISREG(s.st_mode) || s.st_uid != ::geteuid()) {
        ::close(fd);
        return ClaimResult::Failed;
    }
    // flock, not fcntl: a second object of this very process is refused too.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return error == EWOULDBLOCK ? ClaimResult::AlreadyClaimed : ClaimResult::Failed;
    }
    fd_ = fd;
    return ClaimResult::Claimed;
}

}  // namespace platform
