// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- named mutexes as Windows mutex objects, with the
// system's own ownership rules.
#include "platform/NamedMutex.h"

#include <windows.h>

namespace platform {

struct NamedMutex::Shared {
    HANDLE Handle = nullptr;
    ~Shared() {
        if (Handle) ::CloseHandle(Handle);
    }
};

// Default security, not initially owned; an existing mutex of that name is
// opened instead of made.
NamedMutex::NamedMutex(const std::string& name) : name_(name) {
    HANDLE h = ::CreateMutexA(nullptr, FALSE, name_.c_str());
    if (h) {
        shared_ = std::make_shared<Shared>();
        shared_->Handle = h;
    }
}

NamedMutex::~NamedMutex() = default;

WaitResult NamedMutex::Wait(int timeoutMs) {
    if (!shared_) return WaitResult::Failed;
    const DWORD wait = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    switch (::WaitForSingleObject(shared_->Handle, wait)) {
        case WAIT_OBJECT_0:
            return WaitResult::Acquired;
        case WAIT_ABANDONED:
            return WaitResult::Abandoned;
        case WAIT_TIMEOUT:
            return WaitResult::Timeout;
        default:
            return WaitResult::Failed;
    }
}

bool NamedMutex::Release() {
    return shared_ && ::ReleaseMutex(shared_->Handle) != 0;
}

}  // namespace platform
