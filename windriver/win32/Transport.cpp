// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver transport -- the WinDriver kernel driver itself: the device
// opened with CreateFileA, each request one DeviceIoControl call.
#include "windriver/Transport.h"

#include <windows.h>

#include <cstdint>

static_assert(sizeof(void*) == 4, "the request records carry 32-bit client addresses");

// The WinDriver kernel driver's device.
const char* const DefaultDriverDevice = "\\\\.\\WINDRVR6";

namespace {

constexpr uint32_t NoAnswer = 0xFFFFFFFFu;

HANDLE AsHandle(DriverHandle handle) { return reinterpret_cast<HANDLE>(handle); }

// The device is opened for overlapped I/O, so every request needs an
// OVERLAPPED with an event; one per thread, made at its first request.
HANDLE RequestEvent() {
    struct Event {
        HANDLE Handle = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        ~Event() {
            if (Handle) ::CloseHandle(Handle);
        }
    };
    thread_local Event event;
    return event.Handle;
}

}  // namespace

namespace transport {

DriverHandle Open(const std::string& device) {
    HANDLE h = ::CreateFileA(device.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE || h == nullptr) return NoDriverHandle;
    return reinterpret_cast<DriverHandle>(h);
}

void Close(DriverHandle handle) {
    if (handle != NoDriverHandle && handle != InvalidDriverHandle) ::CloseHandle(AsHandle(handle));
}

}  // namespace transport

// On a 32-bit client the field carries the address itself; the kernel reads
// and writes the caller's memory there.
uint32_t ClientAddress(void* address, uint32_t) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address));
}

// A card's direct address is a user-mode mapping the kernel driver made at
// registration: any non-null range inside the address space is one.
bool DirectAccessible(uint64_t address, uint64_t length) {
    constexpr uint64_t AddressSpace = uint64_t{1} << 32;
    return address != 0 && address < AddressSpace && length <= AddressSpace - address;
}

// The driver-own word is the kernel driver's, not an upper half.
uint64_t MemoryItemAddress(const ResourceItem& item) { return item.Mem.PhysicalAddress; }

// Windows does not unload a driver while a handle to it is open.
bool DriverConnectionLost(DriverHandle) {
    return false;
}

// Synchronous for the caller: a request the driver leaves pending is waited
// for before the status is read. The record is the input buffer only; the
// driver writes its answers into it in place.
uint32_t DriverRequest(uint32_t code, DriverHandle handle, void* record, uint32_t size) {
    if (handle == NoDriverHandle || handle == InvalidDriverHandle) return NoAnswer;
    uint32_t status = NoAnswer;
    OVERLAPPED overlapped{};
    overlapped.hEvent = RequestEvent();
    if (overlapped.hEvent == nullptr) return NoAnswer;
    ::ResetEvent(overlapped.hEvent);
    DWORD returned = 0;
    if (!::DeviceIoControl(AsHandle(handle), code, record, size, &status, sizeof status, &returned, &overlapped) &&
        ::GetLastError() == ERROR_IO_PENDING)
        ::GetOverlappedResult(AsHandle(handle), &overlapped, &returned, TRUE);
    return status;
}
