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
    SingleInstance(SingleInstance&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    SingleInstance& operator=(SingleInstance&& other) noexcept {
        if (this != &other) {
            Release();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Claims `name` (1 to 107 bytes without a zero byte, slash or
    // backslash; not "." or "..").
    // A claim already held by this object is given up first.
    ClaimResult Claim(const std::string& name);
    bool Held() const { return fd_ >= 0; }
    void Release();

private:
    int fd_ = -1;
};

}  // namespace platform
