// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin app -- a sniffed bus saved as a bus file, and a recorded bus (a
// bus file, a saved sniff or lspci text) replayed instead of this machine's:
// the steps quorrin and quorrin-sniff share.
#pragma once

#include <string>

// Starts the private service on `busFile` and points the driver layer at it,
// for the rest of the program's life. False with a message for the user in
// `error`; the driver layer is then left as it was.
bool StartBusReplay(const std::string& busFile, std::string& error);
bool BusReplayActive();
// The records at start that say which recorded bus is sniffed (the PC
// information still describes this machine) and what the service said of
// it. Nothing without a replay.
void LogBusReplay();
void StopBusReplay();

// The last sniff (the device table and what the scan kept beside it) saved
// as a bus file, with a record in the log either way. False with the reason
// in `error`.
bool SaveSniffedBus(const std::string& path, std::string& error);

// The name the window offers for a saved bus.
inline constexpr char DefaultBusFileName[] = "Quorrin-bus.json";
