// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- the single-instance claim as locks on a file in
// the folders that only this user can write, found from the user id alone:
// /tmp/quorrin-<uid> and logind's /run/user/<uid>. The kernel drops a lock
// with the last descriptor, so a crash leaves no claim behind (only the
// empty file).
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

// Never destroyed: a test's environment may set it back while the process
// is ending.
std::string& RootOverride() {
    static auto* const root = new std::string;
    return *root;
}

// Empty for the system's root; a test's own root otherwise.
std::string Root() {
    if (!RootOverride().empty()) return RootOverride();
    const char* root = std::getenv("QUORRIN_INSTANCE_ROOT");
    return root != nullptr ? root : "";
}

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

// The lock on `name` in one folder: Claimed, AlreadyClaimed, or Failed when
// the folder or the file is not this user's own.
ClaimResult ClaimIn(int folder, const std::string& name, int& fd) {
    fd = -1;
    if (folder < 0) return ClaimResult::Failed;
    // Close-on-exec: a viewer or install script we start must not keep the
    // lock alive after we have gone.
    const int file = ::openat(folder, name.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    ::close(folder);
    if (file < 0) return ClaimResult::Failed;
    struct stat s {};
    if (::fstat(file, &s) != 0 || !S_ISREG(s.st_mode) || s.st_uid != ::geteuid()) {
        ::close(file);
        return ClaimResult::Failed;
    }
    // flock, not fcntl: a second object of this very process is refused too.
    if (::flock(file, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(file);
        return error == EWOULDBLOCK ? ClaimResult::AlreadyClaimed : ClaimResult::Failed;
    }
    fd = file;
    return ClaimResult::Claimed;
}

bool ValidName(const std::string& name) {
    return !name.empty() && name.size() <= 107 &&
           name.find_first_of(std::string("/\\\0", 3)) == std::string::npos && name != "." && name != "..";
}

}  // namespace

void SetInstanceRootForTesting(const std::string& root) { RootOverride() = root; }

void SingleInstance::Release() {
    for (int& fd : fds_) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

// Every copy of a user looks in the same places whatever its environment
// ($XDG_RUNTIME_DIR differs between a login, cron and a container), and
// takes a lock in each that is the user's own, always in this order:
// /tmp/quorrin-<uid> (made 0700 when missing), which exists with or without
// a login session, then /run/user/<uid>, which no other user can make
// first. A copy is refused when either is held. Anyone may have made the
// /tmp name first; then only the runtime folder guards, and where neither
// is had the program starts unguarded rather than refused.
ClaimResult SingleInstance::Claim(const std::string& name) {
    Release();
    if (!ValidName(name)) return ClaimResult::Failed;
    const std::string root = Root();
    const std::string uid = std::to_string(::geteuid());
    const std::string fallback = root + "/tmp/quorrin-" + uid;
    ::mkdir(fallback.c_str(), 0700);  // one that exists is checked like any other
    const std::string places[2] = {fallback, root + "/run/user/" + uid};
    int held = 0;
    for (int i = 0; i < 2; ++i) {
        int fd = -1;
        if (ClaimIn(OpenOwnFolder(places[i], i == 1), name, fd) == ClaimResult::AlreadyClaimed) {
            Release();
            return ClaimResult::AlreadyClaimed;
        }
        if (fd >= 0) fds_[held++] = fd;
    }
    return held > 0 ? ClaimResult::Claimed : ClaimResult::Failed;
}

}  // namespace platform
