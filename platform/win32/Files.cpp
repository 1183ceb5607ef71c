// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- files, folders, the current directory and drive
// through the Win32 file services.
#include "platform/Files.h"

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include <cstdint>
#include <utility>

namespace platform {

namespace {

// A kernel handle has only 32 significant bits (also on 64-bit Windows), so it
// travels in the int the header keeps; -1 is INVALID_HANDLE_VALUE.
HANDLE AsHandle(int value) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(value)); }
int FromHandle(HANDLE handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle)); }

// Every line the programs write already ends in CR LF; the C runtime's text
// mode would add a CR of its own (CR CR LF) to what goes to standard output
// and standard error. This unit is part of every program that logs, so the
// streams are switched to binary mode before main runs.
[[maybe_unused]] const bool binaryStandardStreams =
    (::_setmode(::_fileno(stdout), _O_BINARY), ::_setmode(::_fileno(stderr), _O_BINARY), true);

}  // namespace

std::string GetCurrentDir() {
    char buffer[MaxPathLength + 1];
    const DWORD length = ::GetCurrentDirectoryA(sizeof buffer, buffer);
    // A length of the buffer or more is the size it would need: too long.
    if (length == 0 || length >= sizeof buffer) return std::string();
    return std::string(buffer, length);
}

bool SetCurrentDir(const std::string& folder) {
    return !folder.empty() && ::SetCurrentDirectoryA(folder.c_str()) != 0;
}

bool SelectDrive(char letter) {
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    if (letter < 'A' || letter > 'Z') return false;
    return ::_chdrive(letter - 'A' + 1) == 0;
}

namespace {

bool IsAbsolute(const std::string& name) {
    return !name.empty() && (name[0] == '\\' || name[0] == '/' || (name.size() > 1 && name[1] == ':'));
}

// Windows keeps no folder open: a name is joined to the folder's path.
std::string InFolder(const Folder& folder, const std::string& name) {
    if (!folder.IsOpen() || IsAbsolute(name) || name.empty()) return name;
    const std::string& base = folder.Path();
    return IsFolderBreak(base.back()) ? base + name : base + PathSeparator + name;
}

}  // namespace

Folder Folder::Current() { return Open(GetCurrentDir()); }

Folder Folder::Open(const std::string& path) {
    Folder folder;
    if (IsDirectory(path)) folder.path_ = path;
    return folder;
}

Folder Folder::Sub(const std::string& name) const { return Open(InFolder(*this, name)); }

bool Folder::IsOpen() const { return !path_.empty(); }

void Folder::Close() { path_.clear(); }

bool IsDirectory(const Folder& folder, const std::string& name) { return IsDirectory(InFolder(folder, name)); }

bool CanOpenForReading(const Folder& folder, const std::string& name) {
    return CanOpenForReading(InFolder(folder, name));
}

File File::CreateTruncate(const Folder& folder, const std::string& name) {
    return CreateTruncate(InFolder(folder, name));
}

bool IsDirectory(const std::string& path) {
    if (path.empty()) return false;
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CanOpenForReading(const std::string& path) {
    if (path.empty()) return false;
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(h);
    return true;
}

// Shared for reading and writing so that a viewer can follow the log while it
// is written.
File File::CreateTruncate(const std::string& path) {
    File file;
    if (path.empty()) return file;
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        // Started programs must not inherit the log.
        ::SetHandleInformation(h, HANDLE_FLAG_INHERIT, 0);
        file.fd_ = FromHandle(h);
    }
    return file;
}

bool File::Write(const char* data, std::size_t size) {
    if (fd_ < 0) return false;
    // WriteFile takes at most a DWORD per call and may write less: go on
    // until the whole record is down so that no part of a line is lost.
    while (size > 0) {
        const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!::WriteFile(AsHandle(fd_), data, chunk, &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

void File::Close() {
    if (fd_ >= 0) {
        ::CloseHandle(AsHandle(fd_));
        fd_ = -1;
    }
}

}  // namespace platform
