// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin test support (Linux) -- a root of the test's own for the
// single-instance guard's places (tmp/quorrin-<uid> and run/user/<uid> below
// it), for this process and the programs it starts: their claims then meet
// no other test's and no running Quorrin's.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/SingleInstance.h"
#include "platform/testing/TempFolder.h"

namespace platform::testing {

class RuntimeFolder {
public:
    // The runtime folder run/user/<uid> is owned by `owner` (root may hand
    // it to another user) and 0700, as logind makes it.
    explicit RuntimeFolder(uid_t owner = ::geteuid(), gid_t group = ::getegid()) : root_("quorrin-runtime-") {
        const std::string run = root_.Path() + "/run";
        if (::mkdir((root_.Path() + "/tmp").c_str(), 01777) != 0 || ::chmod((root_.Path() + "/tmp").c_str(), 01777) != 0 ||
            ::mkdir(run.c_str(), 0755) != 0 || ::mkdir((run + "/user").c_str(), 0755) != 0 ||
            ::mkdir(UserFolder(::geteuid()).c_str(), 0700) != 0) {
            throw std::runtime_error("cannot lay out " + root_.Path());
        }
        if (owner != ::geteuid() &&
            (::rename(UserFolder(::geteuid()).c_str(), UserFolder(owner).c_str()) != 0 ||
             ::chown(UserFolder(owner).c_str(), owner, group) != 0)) {
            throw std::runtime_error("cannot hand " + UserFolder(owner) + " over");
        }
    }
    // The root, which $QUORRIN_INSTANCE_ROOT names.
    const std::string& Path() const { return root_.Path(); }
    std::string UserFolder(uid_t uid) const { return root_.Path() + "/run/user/" + std::to_string(uid); }
    std::string TmpFolder(uid_t uid) const { return root_.Path() + "/tmp/quorrin-" + std::to_string(uid); }
    // The variable's assignment, for a shell command.
    std::string Assignment() const { return "QUORRIN_INSTANCE_ROOT='" + Path() + "'"; }

    // Makes it this process's root until the object goes.
    void Use() {
        if (const char* old = std::getenv("QUORRIN_INSTANCE_ROOT")) previous_ = old;
        ::setenv("QUORRIN_INSTANCE_ROOT", Path().c_str(), 1);
        platform::SetInstanceRootForTesting(Path());
        used_ = true;
    }
    ~RuntimeFolder() {
        if (!used_) return;
        platform::SetInstanceRootForTesting("");
        if (previous_) {
            ::setenv("QUORRIN_INSTANCE_ROOT", previous_->c_str(), 1);
        } else {
            ::unsetenv("QUORRIN_INSTANCE_ROOT");
        }
    }
    RuntimeFolder(const RuntimeFolder&) = delete;
    RuntimeFolder& operator=(const RuntimeFolder&) = delete;

private:
    TempFolder root_;
    std::optional<std::string> previous_;
    bool used_ = false;
};

}  // namespace platform::testing
