// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- files, folders and the process's current directory.
#pragma once

#include <cstddef>
#include <string>
#include <utility>

namespace platform {

// The separator written as "\" on Windows.
#ifdef _WIN32
constexpr char PathSeparator = '\\';
#else
constexpr char PathSeparator = '/';
#endif

// Characters that end a folder (or drive) part of a path.
#ifdef _WIN32
constexpr bool IsFolderBreak(char c) { return c == '\\' || c == '/' || c == ':'; }
#else
constexpr bool IsFolderBreak(char c) { return c == '/'; }
#endif

// Longest folder or path text the platform hands out (without terminator).
constexpr std::size_t MaxPathLength = 4095;

// The process's current directory as the system reports it (no trailing
// separator except for the root); empty when it cannot be read.
std::string GetCurrentDir();
bool SetCurrentDir(const std::string& folder);

// Drive selection has no counterpart here; the call is kept so the callers
// read as the design does. Always true.
bool SelectDrive(char letter);

bool IsDirectory(const std::string& path);
bool CanOpenForReading(const std::string& path);

// A file opened for writing: created or truncated, shared with other readers
// and writers. Writes go to the current position.
class File {
public:
    File() = default;
    ~File() { Close(); }
    File(File&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    File& operator=(File&& other) noexcept {
        if (this != &other) {
            Close();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    static File CreateTruncate(const std::string& path);
    bool IsOpen() const { return fd_ >= 0; }
    bool Write(const char* data, std::size_t size);
    void Close();

private:
    int fd_ = -1;
};

}  // namespace platform
