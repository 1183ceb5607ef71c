// Quorrin platform layer -- the single-instance claim as an abstract Unix
// socket name: the kernel drops the name with the last descriptor, so nothing
// is left behind on disk or after a crash.
#include "platform/SingleInstance.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <utility>

namespace platform {

void SingleInstance::Release() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

ClaimResult SingleInstance::Claim(const std::string& name) {
    Release();
    sockaddr_un address{};
    // The leading zero byte puts the name in the abstract namespace.
    if (name.empty() || name.size() > sizeof(address.sun_path) - 1 || name.find('\0') != std::string::npos) {
        return ClaimResult::Failed;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());

    // Close-on-exec: a viewer or install script we start must not keep the
    // name alive after we have gone.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return ClaimResult::Failed;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        const int error = errno;
        ::close(fd);
        return error == EADDRINUSE ? ClaimResult::AlreadyClaimed : ClaimResult::Failed;
    }
    fd_ = fd;
    return ClaimResult::Claimed;
}

}  // namespace platform
