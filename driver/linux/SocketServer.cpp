// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin driver service -- socket, peer checks and the poll loop.
#include "driver/linux/SocketServer.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>

#include "driver/AccessPolicy.h"
#include "wire/DriverWire.h"

namespace driverd {

namespace {

void Say(const std::string& text) { std::fprintf(stderr, "quorrin-driverd: %s\n", text.c_str()); }

std::string Error(const std::string& what) { return what + ": " + std::strerror(errno); }

bool FillAddress(const std::string& path, sockaddr_un& address) {
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    return true;
}

// True when a service answers on the socket.
bool SomeoneListens(const sockaddr_un& address) {
    const Descriptor fd(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    return fd && connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

struct Client {
    Descriptor Fd;
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

// The peer's user id when the policy lets it in. Nothing here needs a
// descriptor: the kernel gives the credentials, the group was looked up.
std::optional<uint32_t> AllowedPeer(int fd, std::optional<uint32_t> group) {
    ucred peer{};
    socklen_t length = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) return std::nullopt;
    if (!PeerAllowed(peer.uid, peer.gid, PeerGroups(fd), geteuid(), group)) return std::nullopt;
    return peer.uid;
}

// One descriptor held back from clients, for the service's own needs (the
// group lookup, a bus backend's files) once clients have taken all others.
// While it cannot be held the listening socket is left alone.
class Spare {
public:
    explicit Spare(int like) : like_(like) { Take(); }
    bool Held() const { return static_cast<bool>(fd_); }
    void Take() {
        if (!fd_) fd_.Reset(fcntl(like_, F_DUPFD_CLOEXEC, 0));
    }
    template <typename Work>
    auto Spend(Work work) {
        fd_.Reset();
        struct Retake {
            Spare& spare;
            ~Retake() { spare.Take(); }
        } retake{*this};
        return work();
    }

private:
    int like_;
    Descriptor fd_;
};

// The connections the loop holds, counted per user for the cap.
class Clients {
public:
    Clients(DriverService& service, std::optional<uint32_t> group) : service_(service), group_(group) {}
    ~Clients() {
        while (!list_.empty()) Drop(list_.size() - 1);
    }
    std::vector<Client>& List() { return list_; }
    void SetGroup(std::optional<uint32_t> group) { group_ = group; }

    void Accept(int listenFd) {
        Descriptor fd(accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!fd) {
            // Out of descriptors the connection stays queued and poll would
            // report it at once, for ever: wait for a descriptor to free.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                if (!told_) Say(Error("cannot accept a connection") + "; waiting for a client to leave");
                told_ = true;
                paused_ = true;
            }
            return;
        }
        told_ = false;
        const std::optional<uint32_t> uid = AllowedPeer(fd.Get(), group_);
        if (uid && CountsAgainstUserCaps(*uid) && Held(*uid) >= MaxConnectionsPerUser) {
            if (capped_.insert(*uid).second)
                Say("user " + std::to_string(*uid) + " holds " + std::to_string(MaxConnectionsPerUser) +
                    " connections, the most one user may; refusing more until one closes");
            return;
        }
        Answer welcome;
        if (uid && SendFrame(fd.Get(), wire::WelcomeMagic, welcome)) {
            list_.push_back({std::move(fd), service_.Connect(*uid), *uid});
            ++perUser_[*uid];
        }
    }
    void Drop(std::size_t i) {
        const DriverService::ClientId id = list_[i].Id;
        const uint32_t uid = list_[i].Uid;
        service_.Disconnect(id);
        list_.erase(list_.begin() + static_cast<std::ptrdiff_t>(i));
        if (--perUser_[uid] == 0) perUser_.erase(uid);
        capped_.erase(uid);
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
    std::optional<uint32_t> group_;
    std::vector<Client> list_;
    std::map<uint32_t, std::size_t> perUser_;
    std::set<uint32_t> capped_;  // users the log has been told about
    bool paused_ = false;
    bool told_ = false;  // the log has said that descriptors ran out
};

// What the signalfd holds: 0 for none, else the signal.
int TakeSignal(int signalFd) {
    signalfd_siginfo info{};
    return read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info) ? static_cast<int>(info.ssi_signo)
                                                                                  : 0;
}

}  // namespace

std::optional<uint32_t> LookUpQuorrinGroup() {
    if (const group* g = getgrnam("quorrin")) return g->gr_gid;
    return std::nullopt;
}

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
    socket_.Reset();
    // Only our own socket file is removed, never one a successor bound.
    struct stat now;
    if (inode_ != 0 && fstatat(folder_.Get(), name_.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
        now.st_ino == inode_ && now.st_dev == device_)
        unlinkat(folder_.Get(), name_.c_str(), 0);
}

// Everything after this names the socket relative to the folder, without
// following a symlink a member of a writable folder could put there.
bool Listener::OpenFolder(const ServerOptions& options, std::string& error) {
    const auto slash = path_.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path_.substr(0, slash);
    name_ = slash == std::string::npos ? path_ : path_.substr(slash + 1);
    if (name_.empty()) {
        error = "socket path \"" + path_ + "\" names a folder";
        return false;
    }
    if (options.CreateFolder && mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
        error = Error("cannot create " + folder);
        return false;
    }
    folder_.Reset(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder_) {
        error = Error("cannot open " + folder);
        return false;
    }
    return true;
}

// Held for the service's life: of two services started together one gets
// it, the other refuses at once.
bool Listener::TakeLock(std::string& error) {
    const std::string lockName = name_ + ".lock";
    lock_.Reset(openat(folder_.Get(), lockName.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    struct stat lock {};
    if (!lock_ || fstat(lock_.Get(), &lock) != 0) {
        error = Error("cannot open the lock file " + path_ + ".lock");
        return false;
    }
    if (!S_ISREG(lock.st_mode)) {
        error = "the lock file " + path_ + ".lock is not a regular file; not touching it";
        return false;
    }
    if (flock(lock_.Get(), LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? "another service already listens on " + path_
                                     : Error("cannot lock " + path_ + ".lock");
        return false;
    }
    return true;
}

bool Listener::ReplaceStaleSocket(std::string& error) {
    struct stat old;
    if (fstatat(folder_.Get(), name_.c_str(), &old, AT_SYMLINK_NOFOLLOW) != 0) return true;
    if (!S_ISSOCK(old.st_mode)) {
        error = path_ + " exists and is not a socket; not touching it";
        return false;
    }
    // The lock is free, so whoever answers is no service of ours that took
    // it (a socket systemd holds, or a build without the lock).
    sockaddr_un address;
    FillAddress(path_, address);
    if (SomeoneListens(address)) {
        error = "another service already listens on " + path_;
        return false;
    }
    unlinkat(folder_.Get(), name_.c_str(), 0);  // left by a service that crashed
    return true;
}

bool Listener::Bind(std::string& error) {
    socket_.Reset(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket_) {
        error = Error("socket");
        return false;
    }
    sockaddr_un address;
    FillAddress(path_, address);
    // Created 0660 at once: no moment where others could connect.
    const mode_t mask = umask(0117);
    const int bound = bind(socket_.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    umask(mask);
    if (bound != 0) {
        error = Error("cannot bind " + path_);
        return false;
    }
    struct stat mine;
    if (fstatat(folder_.Get(), name_.c_str(), &mine, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISSOCK(mine.st_mode)) {
        error = path_ + " changed while it was bound; not touching it";
        return false;
    }
    inode_ = mine.st_ino;
    device_ = mine.st_dev;
    return true;
}

bool Listener::GiveToGroup(std::optional<uint32_t> group, std::string& error) {
    if (fchownat(folder_.Get(), name_.c_str(), static_cast<uid_t>(-1), group ? *group : getegid(),
                 AT_SYMLINK_NOFOLLOW) != 0 &&
        geteuid() == 0) {
        error = Error("cannot set the group of " + path_);
        return false;
    }
    return true;
}

bool Listener::Listen(std::string& error) {
    if (listen(socket_.Get(), 16) != 0) {
        error = Error("cannot listen on " + path_);
        return false;
    }
    return true;
}

std::unique_ptr<Listener> OpenListener(const ServerOptions& options, std::optional<uint32_t> group,
                                       std::string& error) {
    sockaddr_un address;
    if (!FillAddress(options.SocketPath, address)) {
        error = "socket path \"" + options.SocketPath + "\" is empty or too long";
        return nullptr;
    }
    std::unique_ptr<Listener> l(new Listener);
    l->path_ = options.SocketPath;
    if (l->OpenFolder(options, error) && l->TakeLock(error) && l->ReplaceStaleSocket(error) && l->Bind(error) &&
        l->GiveToGroup(group, error) && l->Listen(error))
        return l;
    return nullptr;  // the steps taken are undone as the listener goes
}

int ServeClients(DriverService& service, int listenFd, int signalFd, std::optional<uint32_t> group,
                 const ServerOptions& options) {
    Clients clients(service, group);
    Spare spare(signalFd);
    std::vector<uint8_t> frame(wire::MaxFrameSize + 1);
    constexpr int RetryAcceptMs = 1000;  // also when no client is left to free one
    // A connection that arrives as the idle time ends stays queued on the
    // socket; under socket activation the manager then starts us again.
    const int idleMs = options.IdleSeconds > 0 ? options.IdleSeconds * 1000 : -1;
    while (true) {
        spare.Take();
        const bool waiting = clients.Paused() || !spare.Held();
        std::vector<pollfd> fds{{signalFd, POLLIN, 0}, {listenFd, static_cast<short>(waiting ? 0 : POLLIN), 0}};
        for (const Client& c : clients.List()) fds.push_back({c.Fd.Get(), POLLIN, 0});
        const bool idle = clients.List().empty() && !waiting;
        const int ready = poll(fds.data(), fds.size(), waiting ? RetryAcceptMs : idle ? idleMs : -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            Say(Error("poll"));
            return 1;
        }
        if (fds[0].revents) {
            const int signal = TakeSignal(signalFd);
            if (signal == SIGTERM || signal == SIGINT) return 0;
            if (signal == SIGHUP) {
                const std::optional<uint32_t> now = spare.Spend(LookUpQuorrinGroup);
                Say(now ? "group quorrin is gid " + std::to_string(*now) : std::string("there is no group quorrin"));
                clients.SetGroup(now);
            }
            continue;
        }
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
            const int fd = clients.List()[i].Fd.Get();
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
            const DriverService::ClientId id = clients.List()[i].Id;
            const Answer answer = why == Refusal::None ? spare.Spend([&] { return service.Serve(id, request); })
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
    sigset_t handled;
    sigemptyset(&handled);
    sigaddset(&handled, SIGTERM);
    sigaddset(&handled, SIGINT);
    sigaddset(&handled, SIGHUP);
    sigprocmask(SIG_BLOCK, &handled, nullptr);
    signal(SIGPIPE, SIG_IGN);
    const Descriptor signals(signalfd(-1, &handled, SFD_CLOEXEC | SFD_NONBLOCK));
    if (!signals) {
        Say(Error("signalfd"));
        return 1;
    }
    const std::optional<uint32_t> group = LookUpQuorrinGroup();
    // A socket handed over is the manager's: no lock, no chown, no removal.
    std::unique_ptr<Listener> listener;
    if (options.ListenFd < 0) {
        std::string error;
        listener = OpenListener(options, group, error);
        if (!listener) {
            Say(error);
            return 1;
        }
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return ServeClients(service, listener ? listener->Fd() : options.ListenFd, signals.Get(), group, options);
}

}  // namespace driverd
