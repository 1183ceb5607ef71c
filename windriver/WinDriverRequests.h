// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin windriver -- sending the driver requests (wire/DriverRecords.h),
// the driver handle and the driver layer's last-error state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "wire/DriverRecords.h"

// An open driver handle; NoDriverHandle after a failed open.
using DriverHandle = std::intptr_t;
constexpr DriverHandle NoDriverHandle = 0;
constexpr DriverHandle InvalidDriverHandle = -1;

uint32_t DriverRequest(uint32_t code, DriverHandle handle, void* record, uint32_t size);
DriverHandle OpenDriver();
void CloseDriver(DriverHandle handle);
bool ProbeDriver();
VersionRecord* GetDriverVersion(VersionRecord* destination);
int32_t TakeLastError();

extern int32_t LastErrorCode;
extern char LastErrorText[1024];
extern VersionRecord DriverVersion;

// Sets LastErrorCode and LastErrorText (cut to fit, always terminated).
void SetLastError(int32_t code, const char* text);

// The 32-bit value a record's pointer field carries for `length` bytes of the
// caller's memory at `address`. On a 32-bit client it is the address itself;
// on a 64-bit client the transport hands out a token that it resolves when
// the request is sent, playing the part of the kernel that copies user memory.
uint32_t ClientAddress(void* address, uint32_t length);

// True when [address, address + length) lies inside a card's user-mode
// mapping that the driver made at registration (the kernel driver on
// Windows). The Linux service hands out none: there every memory access is a
// transfer, and the direct address of a memory item is 0.
bool DirectAccessible(uint64_t address, uint64_t length);

// True when the connection behind an open handle broke (the driver went
// away): every request on it answers 0xFFFFFFFF from then on. A kernel
// driver cannot go while a handle is open, so on Windows it is never true.
bool DriverConnectionLost(DriverHandle handle);

// The whole bus address of a memory item of a card-information reply. The
// item's physical-address field holds 32 bits; the Linux service names the
// rest (wire::ItemMemoryAddress), the kernel driver on Windows gives the 32
// bits alone.
uint64_t MemoryItemAddress(const ResourceItem& item);

// The driver device. The program uses the fixed path; tools and tests may
// point elsewhere.
// The driver device of the system: "\\\\.\\WINDRVR6" on Windows, the service's
// socket "/run/quorrin/windrvr6" here. Each transport defines its own.
extern const char* const DefaultDriverDevice;
void SetDriverDevice(const std::string& path);
const std::string& DriverDevice();
