// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin windriver -- the driver handle's open, close and probe, and the
// driver layer's last-error state.
#include "windriver/WinDriverRequests.h"

#include <cstring>

#include "windriver/Transport.h"

int32_t LastErrorCode = 0;
char LastErrorText[1024] = {};
VersionRecord DriverVersion = {};

namespace {
std::string& Device() {
    static std::string device = DefaultDriverDevice;
    return device;
}
}  // namespace

void SetDriverDevice(const std::string& path) { Device() = path; }
const std::string& DriverDevice() { return Device(); }

void SetLastError(int32_t code, const char* text) {
    LastErrorCode = code;
    std::strncpy(LastErrorText, text ? text : "", sizeof LastErrorText - 1);
    LastErrorText[sizeof LastErrorText - 1] = '\0';
}

int32_t TakeLastError() {
    const int32_t code = LastErrorCode;
    LastErrorCode = 0;
    return code;
}

DriverHandle OpenDriver() {
    SetLastError(0, "");
    const DriverHandle handle = transport::Open(DriverDevice());
    if (handle == NoDriverHandle) SetLastError(1, "CountCards() Failed opening WinDriver device\n");
    return handle;
}

void CloseDriver(DriverHandle handle) {
    if (handle != NoDriverHandle) transport::Close(handle);
}

bool ProbeDriver() {
    std::memset(&DriverVersion, 0, sizeof DriverVersion);
    const DriverHandle handle = transport::Open(DriverDevice());
    if (handle == NoDriverHandle) return false;
    DriverRequest(WD_Version, handle, &DriverVersion, sizeof DriverVersion);
    transport::Close(handle);
    return true;
}

VersionRecord* GetDriverVersion(VersionRecord* destination) {
    std::memcpy(destination, &DriverVersion, sizeof DriverVersion);
    return destination;
}
