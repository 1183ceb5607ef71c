// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- requests from outside to end the program (on
// Linux SIGTERM, SIGHUP and SIGINT; in a Windows console Ctrl+C and
// Ctrl+Break), kept for the program to take when it can end in its own order.
#pragma once

#include <cstddef>

namespace platform {

// From now on such a request no longer ends the process at once. Call it
// first in main, before any thread is started: on Linux the signals are
// blocked in this thread and every thread started later, and read through a
// descriptor. A signal ignored when the program started (nohup) stays
// ignored. Programs the process starts get the ordinary handling. False when
// the requests cannot be caught; they then end the process as before.
bool CatchEndRequests();

// Readable while a request waits, for an event loop to watch; -1 where
// there is none (Windows).
int EndRequestDescriptor();

// The request that waits (on Linux its signal number), taken; 0 for none.
// Never blocks.
int TakeEndRequest();

// Ends the process as the request would have ended it had it not been caught
// (on Linux by the signal itself, so a shell sees it), once the program has
// done its own ending.
[[noreturn]] void EndAsRequested(int request);

// Writing the program's output to standard output, where a reader may quit
// (a closed pipe) or a reader that stops reading may leave the write waiting.
enum class OutputResult {
    Written,  // all of it
    Closed,   // the reader has gone: the rest of the output has nowhere to go
    Ended,    // an end request came while the write waited; it waits to be taken
    Failed,   // another error
};
// The whole text, or what stopped it. A closed output does not end the
// process here (on Linux SIGPIPE is held back during the write).
OutputResult WriteStandardOutput(const char* data, std::size_t size);

// The request to end as a program whose output closed ends (on Linux
// SIGPIPE), for EndAsRequested.
int OutputClosedRequest();

}  // namespace platform
