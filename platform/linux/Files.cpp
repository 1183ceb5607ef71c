// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- files, folders and the current directory through
// POSIX calls.
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

bool IsDirectory(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool CanOpenForReading(const std::string& path) {
    if (path.empty()) return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

// Linux has no share modes: other readers and writers may always open the
// file, which is what the shared Windows open asks for.
File File::CreateTruncate(const std::string& path) {
    File file;
    if (!path.empty()) file.fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return file;
}

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
