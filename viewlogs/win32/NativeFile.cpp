// SPDX-License-Identifier: GPL-2.0-or-later
// ViewLogs on Windows: CreateFileA with full sharing.
#include "viewlogs/win32/NativeFile.h"

#include <windows.h>

#include <algorithm>

namespace viewlogs {

namespace {

class NativeFile : public FollowedFile {
public:
    explicit NativeFile(HANDLE handle) : handle_(handle) {}
    ~NativeFile() override { CloseHandle(handle_); }
    NativeFile(const NativeFile&) = delete;
    NativeFile& operator=(const NativeFile&) = delete;

    std::uint64_t Size() override {
        LARGE_INTEGER size;
        if (!GetFileSizeEx(handle_, &size) || size.QuadPart < 0) return 0;
        return static_cast<std::uint64_t>(size.QuadPart);
    }

    std::size_t ReadAt(std::uint64_t offset, char* into, std::size_t count) override {
        std::size_t total = 0;
        while (total < count) {
            OVERLAPPED at{};
            const std::uint64_t from = offset + total;
            at.Offset = static_cast<DWORD>(from);
            at.OffsetHigh = static_cast<DWORD>(from >> 32);
            const DWORD want = static_cast<DWORD>(std::min<std::size_t>(count - total, 1u << 24));
            DWORD got = 0;
            // A read at or past the end fails with ERROR_HANDLE_EOF: the end.
            if (!ReadFile(handle_, into + total, want, &got, &at) || got == 0) break;
            total += got;
        }
        return total;
    }

private:
    HANDLE handle_;
};

class NativeFileOpener : public FileOpener {
public:
    std::unique_ptr<FollowedFile> Open(const std::string& path) override {
        // A file whose deletion is pending refuses new opens: it counts as gone.
        const HANDLE handle =
            CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return nullptr;
        return std::make_unique<NativeFile>(handle);
    }
};

}  // namespace

std::unique_ptr<FileOpener> NativeOpener() {
    return std::make_unique<NativeFileOpener>();
}

}  // namespace viewlogs
