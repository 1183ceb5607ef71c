// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- the single-instance claim as a named Windows
// mutex: whoever creates it first holds the name until its handle is closed
// or the process ends.
#include "platform/SingleInstance.h"

#include <windows.h>

#include <cstdint>
#include <utility>

namespace platform {

namespace {

HANDLE AsHandle(int value) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(value)); }
int FromHandle(HANDLE handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle)); }

}  // namespace

void SingleInstance::Release() {
    if (fds_[0] >= 0) {
        ::CloseHandle(AsHandle(fds_[0]));
        fds_[0] = -1;
    }
}

// The session's own namespace is the guard's place here: nothing to move.
void SetInstanceRootForTesting(const std::string&) {}

ClaimResult SingleInstance::Claim(const std::string& name) {
    Release();
    // A backslash would name another namespace, such as the global one.
    if (name.empty() || name.size() > 107 ||
        name.find_first_of(std::string("/\\\0", 3)) != std::string::npos || name == "." || name == "..") {
        return ClaimResult::Failed;
    }
    // Not inheritable: a started program must not keep the name alive.
    HANDLE h = ::CreateMutexA(nullptr, FALSE, name.c_str());
    const DWORD error = ::GetLastError();
    if (h == nullptr) return error == ERROR_ACCESS_DENIED ? ClaimResult::AlreadyClaimed : ClaimResult::Failed;
    if (error == ERROR_ALREADY_EXISTS) {  // 183: another holder made it first
        ::CloseHandle(h);
        return ClaimResult::AlreadyClaimed;
    }
    fds_[0] = FromHandle(h);
    return ClaimResult::Claimed;
}

}  // namespace platform
