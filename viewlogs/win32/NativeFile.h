// SPDX-License-Identifier: GPL-2.0-or-later
// ViewLogs on Windows: the file opened natively, shared so that its writer
// goes on writing and the file can be replaced or deleted while we look.
#pragma once

#include <memory>

#include "viewlogs/core/LogFollower.h"

namespace viewlogs {

std::unique_ptr<FileOpener> NativeOpener();

}  // namespace viewlogs
