// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- a claim on a name, private to this user (on
// Windows to this session), that ends with the process, also when it crashes.
#pragma once

#include <string>
#include <utility>

namespace platform {

enum class ClaimResult { Claimed, AlreadyClaimed, Failed };

// One claim on a name. While an object holds its claim no other process of
// the same user (and no other object) can claim the same name, and another
// user's claims neither block it nor are blocked by it. It is given up by the
// destructor, by Release, or by the process ending in any way. Programs the
// process starts do not inherit it.
class SingleInstance {
public:
    SingleInstance() = default;
    ~SingleInstance() { Release(); }
    SingleInstance(SingleInstance&& other) noexcept
        : fds_{std::exchange(other.fds_[0], -1), std::exchange(other.fds_[1], -1)} {}
    SingleInstance& operator=(SingleInstance&& other) noexcept {
        if (this != &other) {
            Release();
            fds_[0] = std::exchange(other.fds_[0], -1);
            fds_[1] = std::exchange(other.fds_[1], -1);
        }
        return *this;
    }
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Claims `name` (1 to 107 bytes without a zero byte, slash or
    // backslash; not "." or "..").
    // A claim already held by this object is given up first.
    ClaimResult Claim(const std::string& name);
    bool Held() const { return fds_[0] >= 0; }
    void Release();

private:
    // The claim's handles: on Linux a lock in each of the user's places that
    // could be had, the first always held while the claim is.
    int fds_[2] = {-1, -1};
};

// Where the claims are kept follows from the user id alone, below the root
// folder "/". Tests give their runs a root of their own: in this process
// with the call below (an empty text restores the default), for the
// programs they start through $QUORRIN_INSTANCE_ROOT.
void SetInstanceRootForTesting(const std::string& root);

}  // namespace platform
