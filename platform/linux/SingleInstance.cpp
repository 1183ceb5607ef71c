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

#include "platform/linux/UserFolders.h"

namespace platform {

using userfolders::OpenOwnFolder;

namespace {

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

void SetInstanceRootForTesting(const std::string& root) { userfolders::SetRoot(root); }

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
    const std::string places[2] = {userfolders::TmpFolder(), userfolders::RuntimeFolder()};
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
