// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin test support (Linux) -- a runtime folder of the test's own as
// $XDG_RUNTIME_DIR, for this process and the programs it starts: their
// single-instance claims then meet no other test's and no running Quorrin's.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/testing/TempFolder.h"

namespace platform::testing {

class RuntimeFolder {
public:
    // Owned by `owner` (root may hand it to another user), 0700 as the
    // runtime folder of a session is.
    explicit RuntimeFolder(uid_t owner = ::geteuid(), gid_t group = ::getegid())
        : folder_("quorrin-runtime-") {
        ::chmod(folder_.Path().c_str(), 0700);
        if (owner != ::geteuid() && ::chown(folder_.Path().c_str(), owner, group) != 0) {
            throw std::runtime_error("cannot hand " + folder_.Path() + " over");
        }
    }
    const std::string& Path() const { return folder_.Path(); }

    // Makes it this process's $XDG_RUNTIME_DIR until the object goes.
    void Use() {
        if (const char* old = std::getenv("XDG_RUNTIME_DIR")) previous_ = old;
        ::setenv("XDG_RUNTIME_DIR", Path().c_str(), 1);
        used_ = true;
    }
    ~RuntimeFolder() {
        if (!used_) return;
        if (previous_) {
            ::setenv("XDG_RUNTIME_DIR", previous_->c_str(), 1);
        } else {
            ::unsetenv("XDG_RUNTIME_DIR");
        }
    }
    RuntimeFolder(const RuntimeFolder&) = delete;
    RuntimeFolder& operator=(const RuntimeFolder&) = delete;

private:
    TempFolder folder_;
    std::optional<std::string> previous_;
    bool used_ = false;
};

}  // namespace platform::testing
