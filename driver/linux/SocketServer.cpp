// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service -- socket, peer checks and the poll loop.
#include "driver/linux/SocketServer.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <set>

#include "driver/AccessPolicy.h"
#include "wire/DriverWire.h"

namespace driverd {

namespace {

void Say(const std::string& text) { std::fprintf(stderr, "quorrin-driverd: %s\n", text.c_str()); }

std::string Error(const std::string& what) { return what + ": " + std::strerror(errno); }

std::optional<uint32_t> QuorrinGroup() {
    if (const group* g = getgrnam("quorrin")) return g->gr_gid;
    return std::nullopt;
}

bool FillAddress(const std::string& path, sockaddr_un& address) {
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    return true;
}

// True when a service answers on the socket.
bool SomeoneListens(const sockaddr_un& address) {
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool live = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return live;
}

struct Client {
    int Fd;
    DriverService::ClientId Id;
    uint32_t Uid;
};

bool SendFrame(int fd, uint32_t magic, const Answer& a) {
    const wire::FrameHeader header{magic, a.Status, a.RecordSize, static_cast<uint32_t>(a.Data.size())};
    iovec parts[3] = {{const_cast<wire::FrameHeader*>(&header), sizeof header},
                      {const_cast<RequestRecord*>(&a.Record), a.RecordSize},
                      {const_cast<uint8_t*>(a.Data.data()), a.Data.size()}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = 3;
    // A client that does not take its replies is dropped, never waited for.
    const ssize_t sent = sendmsg(fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    return sent == static_cast<ssize_t>(sizeof header + a.RecordSize + a.Data.size());
}

// The peer's user id when the policy lets it in.
std::optional<uint32_t> AllowedPeer(int fd) {
    ucred peer{};
    socklen_t length = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) return std::nullopt;
    if (!PeerAllowed(peer.uid, peer.gid, PeerGroups(fd), geteuid(), QuorrinGroup())) return std::nullopt;
    return peer.uid;
}

// The connections the loop holds, counted per user for the cap.
class Clients {
public:
    explicit Clients(DriverService& service) : service_(service) {}
    ~Clients() {
        while (!list_.empty()) Drop(list_.size() - 1);
    }
    std::vector<Client>& List() { return list_; }

    void Accept(int listenFd) {
        const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            // Out of descriptors the connection stays queued and poll would
            // report it at once, for ever: wait for a descriptor to free.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                if (!paused_) Say(Error("cannot accept a connection") + "; waiting for a client to leave");
                paused_ = true;
            }
            return;
        }
        const std::optional<uint32_t> uid = AllowedPeer(fd);
        if (uid && CountsAgainstConnectionCap(*uid) && Held(*uid) >= MaxConnectionsPerUser) {
            if (capped_.insert(*uid).second)
                Say("user " + std::to_string(*uid) + " holds " + std::to_string(MaxConnectionsPerUser) +
                    " connections, the most one user may; refusing more until one closes");
            close(fd);
            return;
        }
        Answer welcome;
        if (uid && SendFrame(fd, wire::WelcomeMagic, welcome)) {
            list_.push_back({fd, service_.Connect(), *uid});
            ++perUser_[*uid];
        } else {
            close(fd);
        }
    }
    void Drop(std::size_t i) {
        const Client c = list_[i];
        service_.Disconnect(c.Id);
        close(c.Fd);
        list_.erase(list_.begin() + static_cast<std::ptrdiff_t>(i));
        if (--perUser_[c.Uid] == 0) perUser_.erase(c.Uid);
        capped_.erase(c.Uid);
        paused_ = false;
    }
    bool Paused() const { return paused_; }
    void Resume() { paused_ = false; }

private:
    std::size_t Held(uint32_t uid) const {
        const auto it = perUser_.find(uid);
        return it == perUser_.end() ? 0 : it->second;
    }
    DriverService& service_;
    std::vector<Client> list_;
    std::map<uint32_t, std::size_t> perUser_;
    std::set<uint32_t> capped_;  // users the log has been told about
    bool paused_ = false;
};

}  // namespace

std::vector<uint32_t> PeerGroups(int fd) {
    std::vector<gid_t> groups(64);
    socklen_t length = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
    int got = getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &length);
    if (got != 0 && errno == ERANGE) {  // length now says how much it needs
        groups.resize(length / sizeof(gid_t));
        got = getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &length);
    }
    if (got != 0) return {};
    groups.resize(length / sizeof(gid_t));
    return std::vector<uint32_t>(groups.begin(), groups.end());
}

Listener::~Listener() {
    if (fd_ >= 0) close(fd_);
    // Only our own socket file is removed, never one a successor bound.
    struct stat now;
    if (inode_ != 0 && fstatat(folder_, name_.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
        now.st_ino == inode_ && now.st_dev == device_)
        unlinkat(folder_, name_.c_str(), 0);
    if (folder_ >= 0) close(folder_);
    if (lock_ >= 0) close(lock_);
}

std::unique_ptr<Listener> OpenListener(const ServerOptions& options, std::string& error) {
    const std::string& path = options.SocketPath;
    sockaddr_un address;
    if (!FillAddress(path, address)) {
        error = "socket path \"" + path + "\" is empty or too long";
        return nullptr;
    }
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    std::unique_ptr<Listener> l(new Listener);
    l->name_ = slash == std::string::npos ? path : path.substr(slash + 1);
    if (l->name_.empty()) {
        error = "socket path \"" + path + "\" names a folder";
        return nullptr;
    }
    if (options.CreateFolder && mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
        error = Error("cannot create " + folder);
        return nullptr;
    }
    // Everything below names the socket relative to this folder, without
    // following a symlink a member of a writable folder could put there.
    l->folder_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (l->folder_ < 0) {
        error = Error("cannot open " + folder);
        return nullptr;
    }
    // Held for the service's life: of two services started together one
    // gets it, the other refuses at once.
    const std::string lockName = l->name_ + ".lock";
    l->lock_ =
        openat(l->folder_, lockName.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    struct stat lock {};
    if (l->lock_ < 0 || fstat(l->lock_, &lock) != 0 || !S_ISREG(lock.st_mode)) {
        error = Error("cannot open the lock file " + path + ".lock");
        return nullptr;
    }
    if (flock(l->lock_, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? "another service already listens on " + path
                                     : Error("cannot lock " + path + ".lock");
        return nullptr;
    }
    struct stat old;
    if (fstatat(l->folder_, l->name_.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISSOCK(old.st_mode)) {
            error = path + " exists and is not a socket; not touching it";
            return nullptr;
        }
        // The lock is free, so whoever answers is no service of ours that
        // took it (a socket systemd holds, or a build without the lock).
        if (SomeoneListens(address)) {
            error = "another service already listens on " + path;
            return nullptr;
        }
        unlinkat(l->folder_, l->name_.c_str(), 0);  // left by a service that crashed
    }
    l->fd_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (l->fd_ < 0) {
        error = Error("socket");
        return nullptr;
    }
    // Created 0660 at once: no moment where others could connect.
    const mode_t mask = umask(0117);
    const int bound = bind(l->fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    umask(mask);
    if (bound != 0) {
        error = Error("cannot bind " + path);
        return nullptr;
    }
    struct stat mine;
    if (fstatat(l->folder_, l->name_.c_str(), &mine, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISSOCK(mine.st_mode)) {
        error = path + " changed while it was bound; not touching it";
        return nullptr;
    }
    l->inode_ = mine.st_ino;
    l->device_ = mine.st_dev;
    const auto group = QuorrinGroup();
    if (fchownat(l->folder_, l->name_.c_str(), static_cast<uid_t>(-1), group ? *group : getegid(),
                 AT_SYMLINK_NOFOLLOW) != 0 &&
        geteuid() == 0) {
        error = Error("cannot set the group of " + path);
        return nullptr;
    }
    if (listen(l->fd_, 16) != 0) {
        error = Error("cannot listen on " + path);
        return nullptr;
    }
    return l;
}

void RaiseOpenFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

int ServeClients(DriverService& service, int listenFd, int stopFd, const ServerOptions& options) {
    Clients clients(service);
    std::vector<uint8_t> frame(wire::MaxFrameSize + 1);
    constexpr int RetryAcceptMs = 1000;  // also when no client is left to free one
    // A connection that arrives as the idle time ends stays queued on the
    // socket; under socket activation the manager then starts us again.
    const int idleMs = options.IdleSeconds > 0 ? options.IdleSeconds * 1000 : -1;
    while (true) {
        std::vector<pollfd> fds{{stopFd, POLLIN, 0},
                                {listenFd, static_cast<short>(clients.Paused() ? 0 : POLLIN), 0}};
        for (const Client& c : clients.List()) fds.push_back({c.Fd, POLLIN, 0});
        const bool idle = clients.List().empty() && !clients.Paused();
        const int ready = poll(fds.data(), fds.size(), clients.Paused() ? RetryAcceptMs : idle ? idleMs : -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            Say(Error("poll"));
            return 1;
        }
        if (fds[0].revents) return 0;
        if (ready == 0 && idle) return 0;
        if (ready == 0) clients.Resume();
        if (fds[1].revents & POLLIN) clients.Accept(listenFd);
        // Backwards, so that dropping a client keeps the earlier indexes valid.
        for (std::size_t k = fds.size(); k-- > 2;) {
            const std::size_t i = k - 2;
            if (!fds[k].revents) continue;
            if (!(fds[k].revents & POLLIN)) {
                clients.Drop(i);
                continue;
            }
            const int fd = clients.List()[i].Fd;
            const ssize_t got = recv(fd, frame.data(), frame.size(), MSG_DONTWAIT | MSG_TRUNC);
            if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            if (got <= 0) {
                clients.Drop(i);
                continue;
            }
            // MSG_TRUNC makes got the frame's real length, so an oversized one is seen whole.
            DecodedRequest request;
            const Refusal why = DecodeRequest(frame.data(), std::min<std::size_t>(got, frame.size()), request);
            if (DropsConnection(why)) {
                clients.Drop(i);
                continue;
            }
            const Answer answer = why == Refusal::None ? service.Serve(clients.List()[i].Id, request)
                                                       : DriverService::Refuse(why, request);
            if (options.Trace) {
                std::fprintf(options.Trace, "%08x %08x\n", request.Code, answer.Status);
                std::fflush(options.Trace);
            }
            if (!SendFrame(fd, wire::ReplyMagic, answer)) clients.Drop(i);
        }
    }
}

int RunServer(DriverService& service, const ServerOptions& options) {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    sigprocmask(SIG_BLOCK, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);
    const int signals = signalfd(-1, &stop, SFD_CLOEXEC);
    if (signals < 0) {
        Say(Error("signalfd"));
        return 1;
    }
    RaiseOpenFileLimit();
    // A socket handed over is the manager's: no lock, no chown, no removal.
    std::unique_ptr<Listener> listener;
    if (options.ListenFd < 0) {
        std::string error;
        listener = OpenListener(options, error);
        if (!listener) {
            Say(error);
            close(signals);
            return 1;
        }
    }
    std::printf("ready\n");
    std::fflush(stdout);
    const int status = ServeClients(service, listener ? listener->Fd() : options.ListenFd, signals, options);
    close(signals);
    return status;
}

}  // namespace driverd
