// SPDX-License-Identifier: GPL-2.0-or-later
// ViewLogs on Windows: the window -- a read-only EDIT over a status line,
// refreshed from the follower on a timer.
#pragma once

#include <windows.h>

#include <string>

namespace viewlogs {

// The class, control ids and the poll period the window's test relies on.
inline constexpr const char* ViewerClassName = "QuorrinViewLogs";
inline constexpr int TextControlId = 101;
inline constexpr int StatusControlId = 102;
inline constexpr UINT PollMs = 250;

// Shows `path` until the window is closed; the exit code of the message loop.
int RunViewer(HINSTANCE instance, const std::string& path, int show);

}  // namespace viewlogs
