// Quorrin pcinfo -- the operating-system, memory, disk and processor block
// written to the log at every start.
#pragma once

#include <cstdint>
#include <string>

void WritePcInfo();
void WriteOsInfo();
void WriteMemoryInfo();
void WriteDiskInfo();
void WriteCpuInfo();
