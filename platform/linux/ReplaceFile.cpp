// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- a file replaced at once through a temporary file
// in its folder, opened relative to the folder's descriptor, and rename.
#include "platform/ReplaceFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <utility>

namespace platform {

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            if (fd_ >= 0) ::close(fd_);
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    int Get() const { return fd_; }
    bool Close() { return ::close(std::exchange(fd_, -1)) == 0; }

private:
    int fd_;
};

bool WriteAll(int fd, const std::string& contents) {
    const char* data = contents.data();
    std::size_t left = contents.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

bool Fail(std::string& error, const std::string& what) {
    error = what + ": " + std::strerror(errno);
    return false;
}

}  // namespace

bool ReplaceFileContents(const std::string& path, const std::string& contents, std::string& error) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") {
        errno = EISDIR;
        return Fail(error, path);
    }
    const Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() < 0) return Fail(error, folder);

    // A name a collector skips (it reads only "*.prom"-like names, never
    // dot files), new each time, never followed if someone made it first.
    std::random_device random;
    std::string temporary;
    Descriptor file;
    for (int attempt = 0; attempt < 16 && file.Get() < 0; ++attempt) {
        temporary = "." + name + ".tmp-" + std::to_string(random());
        file = Descriptor(::openat(dir.Get(), temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                   0644));
        if (file.Get() < 0 && errno != EEXIST) break;
    }
    if (file.Get() < 0) return Fail(error, folder + "/" + temporary);
    // The mode asked for, whatever the process's umask took away.
    const bool written = ::fchmod(file.Get(), 0644) == 0 && WriteAll(file.Get(), contents) &&
                         ::fsync(file.Get()) == 0 && file.Close();
    if (!written || ::renameat(dir.Get(), temporary.c_str(), dir.Get(), name.c_str()) != 0) {
        const int saved = errno;
        ::unlinkat(dir.Get(), temporary.c_str(), 0);
        errno = saved;
        return Fail(error, path);
    }
    ::fsync(dir.Get());  // the rename itself survives a crash
    return true;
}

}  // namespace platform
