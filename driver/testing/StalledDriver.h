// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin test support -- a driver socket that takes connections and never
// answers: a client stays inside its first driver request (the welcome waits
// 3 s) for as long as a test needs, then fails at once when the test lets go.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

class StalledDriver {
public:
    explicit StalledDriver(const std::string& path) : path_(path) {
        listener_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        if (::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 8) != 0) {
            ::close(listener_);
            listener_ = -1;
        }
    }
    ~StalledDriver() { Release(); }
    StalledDriver(const StalledDriver&) = delete;
    StalledDriver& operator=(const StalledDriver&) = delete;

    const std::string& Socket() const { return path_; }

    // True once a client has connected, within timeoutMs.
    bool WaitForClient(int timeoutMs = 30000) {
        pollfd p{listener_, POLLIN, 0};
        if (listener_ < 0 || ::poll(&p, 1, timeoutMs) != 1) return false;
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) return false;
        clients_.push_back(client);
        return true;
    }

    // Drops every connection and stops listening: waiting clients fail now,
    // later ones at once.
    void Release() {
        for (int fd : clients_) ::close(fd);
        clients_.clear();
        if (listener_ >= 0) ::close(listener_);
        listener_ = -1;
        ::unlink(path_.c_str());
    }

private:
    std::string path_;
    int listener_ = -1;
    std::vector<int> clients_;
};
