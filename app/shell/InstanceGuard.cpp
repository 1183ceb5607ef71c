// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin app -- the single-instance guard, on its own so that a front end
// without a window (quorrin-sniff) can hold it too.
#include <string>

#include "app/shell/ProgramLife.h"
#include "platform/SingleInstance.h"

namespace {

// Held for the life of the process; the system drops it when we end.
platform::SingleInstance InstanceGuard;

}  // namespace

bool AlreadyRunning(const std::string& guardName) {
    // A claim that fails for another reason counts as no other copy.
    return InstanceGuard.Claim(guardName) == platform::ClaimResult::AlreadyClaimed;
}

bool AlreadyRunning() {
    return AlreadyRunning(std::string("Protect_") + ProgramName);
}
