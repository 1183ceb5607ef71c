// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- files, folders held open and the current
// directory through POSIX calls.
#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace platform {

std::string GetCurrentDir() {
    char buffer[MaxPathLength + 1];
    if (::getcwd(buffer, sizeof buffer) == nullptr) return std::string();
    return std::string(buffer);
}

bool SetCurrentDir(const std::string& folder) {
    return !folder.empty() && ::chdir(folder.c_str()) == 0;
}

bool SelectDrive(char) {
    return true;
}

bool IsDirectory(const std::string& path) { return IsDirectory(InCurrentDirectory, path); }

bool CanOpenForReading(const std::string& path) { return CanOpenForReading(InCurrentDirectory, path); }

namespace {

// A descriptor of the folder only, for reaching what lies in it: no read
// right on the folder is needed to hold it.
int OpenFolderAt(int at, const std::string& name) {
    if (name.empty()) return -1;
    return ::openat(at, name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

int AtOf(const Folder& folder) { return folder.IsOpen() ? folder.Descriptor() : AT_FDCWD; }

}  // namespace

Folder Folder::Current() {
    Folder folder;
    folder.fd_ = OpenFolderAt(AT_FDCWD, ".");
    if (folder.fd_ >= 0) folder.path_ = GetCurrentDir();
    return folder;
}

Folder Folder::Open(const std::string& path) {
    Folder folder;
    folder.fd_ = OpenFolderAt(AT_FDCWD, path);
    if (folder.fd_ >= 0) folder.path_ = path;
    return folder;
}

Folder Folder::Sub(const std::string& name) const {
    Folder folder;
    folder.fd_ = OpenFolderAt(AtOf(*this), name);
    if (folder.fd_ >= 0) folder.path_ = name[0] == '/' || path_.empty() ? name : path_ + PathSeparator + name;
    return folder;
}

bool Folder::IsOpen() const { return fd_ >= 0; }

void Folder::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    path_.clear();
}

bool IsDirectory(const Folder& folder, const std::string& name) {
    struct stat info {};
    return !name.empty() && ::fstatat(AtOf(folder), name.c_str(), &info, 0) == 0 && S_ISDIR(info.st_mode);
}

bool CanOpenForReading(const Folder& folder, const std::string& name) {
    if (name.empty()) return false;
    const int fd = ::openat(AtOf(folder), name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

File File::CreateTruncate(const Folder& folder, const std::string& name) {
    File file;
    if (!name.empty()) file.fd_ = ::openat(AtOf(folder), name.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return file;
}

// Linux has no share modes: other readers and writers may always open the
// file, which is what the shared Windows open asks for.
File File::CreateTruncate(const std::string& path) { return CreateTruncate(InCurrentDirectory, path); }

bool File::Write(const char* data, std::size_t size) {
    if (fd_ < 0) return false;
    // A regular file takes the whole record in one call; the loop only
    // covers a signal or a short write so that no part of a line is lost.
    while (size > 0) {
        const ssize_t written = ::write(fd_, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (written == 0) return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

void File::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace platform
