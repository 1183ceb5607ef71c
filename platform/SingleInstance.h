// Quorrin platform layer -- a machine-wide claim on a name that ends with the
// process, also when the process crashes.
#pragma once

#include <string>

namespace platform {

enum class ClaimResult { Claimed, AlreadyClaimed, Failed };

// One claim on a name. While an object holds its claim no other process (and
// no other object) can claim the same name; the claim is given up by the
// destructor, by Release, or by the process ending in any way. Programs the
// process starts do not inherit it.
class SingleInstance {
public:
    SingleInstance() = default;
    ~SingleInstance();
    SingleInstance(SingleInstance&& other) noexcept;
    SingleInstance& operator=(SingleInstance&& other) noexcept;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Claims `name` (1 to 107 bytes, no zero byte). A claim already held by
    // this object is given up first.
    ClaimResult Claim(const std::string& name);
    bool Held() const { return fd_ >= 0; }
    void Release();

private:
    int fd_ = -1;
};

}  // namespace platform
