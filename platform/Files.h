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

// A folder held open, so that what lies in it is reached through it and not
// through the current directory, which every thread of the process shares.
// On Linux a descriptor: the folder is still the one meant after it has been
// renamed. On Windows its path, which names are joined to.
class Folder {
public:
    Folder() = default;
    ~Folder() { Close(); }
    Folder(Folder&& other) noexcept : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}
    Folder& operator=(Folder&& other) noexcept {
        if (this != &other) {
            Close();
            fd_ = std::exchange(other.fd_, -1);
            path_ = std::move(other.path_);
        }
        return *this;
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    // The current directory as it is now.
    static Folder Current();
    static Folder Open(const std::string& path);
    // A folder inside this one (or any folder, for an absolute name).
    Folder Sub(const std::string& name) const;

    bool IsOpen() const;
    // The descriptor on Linux, -1 when none; not used on Windows.
    int Descriptor() const { return fd_; }
    // The text it was opened by.
    const std::string& Path() const { return path_; }
    void Close();

private:
    int fd_ = -1;
    std::string path_;
};

// A folder that is not open stands for the current directory.
inline const Folder InCurrentDirectory;

// The checks above for a name relative to a folder; an absolute name stands
// for itself.
bool IsDirectory(const Folder& folder, const std::string& name);
bool CanOpenForReading(const Folder& folder, const std::string& name);

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
    // `name` relative to `folder` (an absolute name stands for itself).
    static File CreateTruncate(const Folder& folder, const std::string& name);
    bool IsOpen() const { return fd_ >= 0; }
    bool Write(const char* data, std::size_t size);
    void Close();

private:
    int fd_ = -1;
};

}  // namespace platform
