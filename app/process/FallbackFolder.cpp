// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin app -- the viewer's fallback folder as built in. Compiled once for
// each value (app/process/CMakeLists.txt): the programs in the build tree get
// the build's bin folder, the installed copies the folder they are installed
// in.
#include "app/process/ProcessUnit.h"

#ifndef QUORRIN_FALLBACK_BIN_DIR
#error "QUORRIN_FALLBACK_BIN_DIR names the folder searched for the viewer after the start folder"
#endif

namespace {

// A zero byte before the folder: in the program file it then stands as a
// text of its own whatever the linker places before it, so that a reader
// (strings, the package tests) finds which folder a program was built with.
constexpr char Stored[] = "\0" QUORRIN_FALLBACK_BIN_DIR;

}  // namespace

const char* const ViewerFallbackBuiltIn = Stored + 1;
