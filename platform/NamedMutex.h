// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- named mutexes private to the process, with timed
// waits and the owner semantics of a Windows mutex.
#pragma once

#include <memory>
#include <string>

namespace platform {

enum class WaitResult { Acquired, Timeout, Abandoned, Failed };

// A mutex known by name inside this process: two objects created with the
// same name share one lock. Like a Windows mutex it is owned by a thread,
// may be taken again by its owner (it then needs as many releases), and a
// release by a thread that does not own it does nothing.
class NamedMutex {
public:
    explicit NamedMutex(const std::string& name);
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    WaitResult Wait(int timeoutMs);
    bool Release();  // false when the calling thread does not own it
    const std::string& Name() const { return name_; }

private:
    struct Shared;
    std::string name_;
    std::shared_ptr<Shared> shared_;
};

}  // namespace platform
