// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin app -- the two questions every program answers before it starts
// anything: --help and --version.
#pragma once

#include <string>

enum class InfoRequest { None, Help, Version };

// The first --help (or -h) or --version among the arguments.
InfoRequest FindInfoRequest(int argc, const char* const* argv);

// "quorrin-sniff 1.2\n": the program's name and the version its log names.
std::string VersionText(const std::string& program);

// The window's usage text (quorrin, quorrin.exe).
// `replays`: the window takes --bus FILE (not the Windows build, which has no
// driver service of its own).
std::string WindowUsage(const std::string& program, bool replays);

// Answers a help or version request on standard output; true when there
// was one, and the program then ends with status 0.
bool AnswerInfoRequest(int argc, const char* const* argv, const std::string& program,
                       const std::string& usage);
