// Quorrin driver service -- socket, peer checks and the poll loop.
#include "driver/linux/SocketServer.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "windriver/linux/DriverWire.h"

namespace driverd {

namespace {

void Say(const std::string& text) { std::fprintf(stderr, "quorrin-driverd: %s\n", text.c_str()); }

std::string Error(const std::string& what) { return what + ": " + std::strerror(errno); }

std::optional<uint32_t> QuorrinGroup() {
    if (const group* g = getgrnam("quorrin")) return g->gr_gid;
    return std::nullopt;
}

// Supplementary groups of a connected peer, from /proc.
std::vector<uint32_t> PeerGroups(pid_t pid) {
    std::vector<uint32_t> groups;
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("Groups:", 0) != 0) continue;
        std::istringstream list(line.substr(7));
        uint32_t g;
        while (list >> g) groups.push_back(g);
    }
    return groups;
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

class Listener {
public:
    ~Listener() {
        if (fd_ >= 0) close(fd_);
        // Only our own socket file is removed, never one a successor bound.
        struct stat now;
        if (bound_ && stat(path_.c_str(), &now) == 0 && now.st_ino == inode_ && now.st_dev == device_)
            unlink(path_.c_str());
    }
    bool Open(const ServerOptions& options, std::string& error) {
        if (options.ListenFd >= 0) {
            fd_ = options.ListenFd;
            return true;
        }
        path_ = options.SocketPath;
        sockaddr_un address;
        if (!FillAddress(path_, address)) {
            error = "socket path \"" + path_ + "\" is empty or too long";
            return false;
        }
        if (options.CreateFolder) {
            const auto slash = path_.rfind('/');
            const std::string folder = slash == std::string::npos ? "" : path_.substr(0, slash);
            if (!folder.empty() && mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
                error = Error("cannot create " + folder);
                return false;
            }
        }
        struct stat old;
        if (lstat(path_.c_str(), &old) == 0) {
            if (!S_ISSOCK(old.st_mode)) {
                error = path_ + " exists and is not a socket; not touching it";
                return false;
            }
            if (SomeoneListens(address)) {
                error = "another service already listens on " + path_;
                return false;
            }
            unlink(path_.c_str());  // left by a service that crashed
        }
        fd_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd_ < 0) {
            error = Error("socket");
            return false;
        }
        // Created 0660 at once: no moment where others could connect.
        const mode_t mask = umask(0117);
        const int bound = bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        umask(mask);
        if (bound != 0) {
            error = Error("cannot bind " + path_);
            return false;
        }
        bound_ = true;
        struct stat mine;
        if (stat(path_.c_str(), &mine) == 0) {
            inode_ = mine.st_ino;
            device_ = mine.st_dev;
        }
        const auto group = QuorrinGroup();
        const uid_t owner = geteuid() == 0 ? 0 : static_cast<uid_t>(-1);
        if (chown(path_.c_str(), owner, group ? *group : getegid()) != 0 && geteuid() == 0) {
            error = Error("cannot set the owner of " + path_);
            return false;
        }
        if (chmod(path_.c_str(), 0660) != 0 || listen(fd_, 16) != 0) {
            error = Error("cannot listen on " + path_);
            return false;
        }
        return true;
    }
    int Fd() const { return fd_; }

private:
    int fd_ = -1;
    std::string path_;
    bool bound_ = false;
    ino_t inode_ = 0;
    dev_t device_ = 0;
};

struct Client {
    int Fd;
    DriverService::ClientId Id;
};

bool SendFrame(int fd, uint32_t magic, const Answer& a) {
    const wire::FrameHeader header{magic, a.Status, a.RecordSize, static_cast<uint32_t>(a.Data.size())};
    iovec parts[3] = {{const_cast<wire::FrameHeader*>(&header), sizeof header},
                      {const_cast<RequestRecord*>(&a.Record), a.RecordSize},
                      {const_cast<uint8_t*>(a.Data.data()), a.Data.size()}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = 3;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * MaxResourceItems)];
    if (!a.Fds.empty() && a.Fds.size() <= MaxResourceItems) {
        message.msg_control = control;
        message.msg_controllen = CMSG_SPACE(sizeof(int) * a.Fds.size());
        cmsghdr* c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int) * a.Fds.size());
        std::memcpy(CMSG_DATA(c), a.Fds.data(), sizeof(int) * a.Fds.size());
    }
    // A client that does not take its replies is dropped, never waited for.
    const ssize_t sent = sendmsg(fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    return sent == static_cast<ssize_t>(sizeof header + a.RecordSize + a.Data.size());
}

bool AcceptPeer(int fd) {
    ucred peer{};
    socklen_t length = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) return false;
    return PeerAllowed(peer.uid, peer.gid, PeerGroups(peer.pid), geteuid(), QuorrinGroup());
}

}  // namespace

bool PeerAllowed(uint32_t uid, uint32_t gid, const std::vector<uint32_t>& groups, uint32_t serviceUid,
                 std::optional<uint32_t> quorrinGid) {
    if (uid == 0 || uid == serviceUid) return true;
    if (!quorrinGid) return false;
    return gid == *quorrinGid || std::find(groups.begin(), groups.end(), *quorrinGid) != groups.end();
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

    std::string error;
    Listener listener;
    if (!listener.Open(options, error)) {
        Say(error);
        close(signals);
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    std::vector<Client> clients;
    std::vector<uint8_t> frame(wire::MaxFrameSize + 1);
    auto drop = [&](std::size_t i) {
        service.Disconnect(clients[i].Id);
        close(clients[i].Fd);
        clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
    };
    // A connection that arrives as the idle time ends stays queued on the
    // socket; under socket activation the manager then starts us again.
    const int idleMs = options.IdleSeconds > 0 ? options.IdleSeconds * 1000 : -1;
    bool running = true;
    while (running) {
        std::vector<pollfd> fds{{signals, POLLIN, 0}, {listener.Fd(), POLLIN, 0}};
        for (const Client& c : clients) fds.push_back({c.Fd, POLLIN, 0});
        const int ready = poll(fds.data(), fds.size(), clients.empty() ? idleMs : -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            Say(Error("poll"));
            break;
        }
        if (ready == 0) break;
        if (fds[0].revents) running = false;
        if (fds[1].revents & POLLIN) {
            const int fd = accept4(listener.Fd(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd >= 0) {
                Answer welcome;
                if (AcceptPeer(fd) && SendFrame(fd, wire::WelcomeMagic, welcome))
                    clients.push_back({fd, service.Connect()});
                else
                    close(fd);
            }
        }
        // Backwards, so that dropping a client keeps the earlier indexes valid.
        for (std::size_t k = fds.size(); k-- > 2;) {
            const std::size_t i = k - 2;
            if (!fds[k].revents) continue;
            if (!(fds[k].revents & POLLIN)) {
                drop(i);
                continue;
            }
            const ssize_t got = recv(clients[i].Fd, frame.data(), frame.size(), MSG_DONTWAIT | MSG_TRUNC);
            if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            if (got <= 0) {
                drop(i);
                continue;
            }
            // MSG_TRUNC makes got the frame's real length, so an oversized one is seen whole.
            DecodedRequest request;
            const Refusal why = DecodeRequest(frame.data(), std::min<std::size_t>(got, frame.size()), request);
            if (DropsConnection(why)) {
                drop(i);
                continue;
            }
            const Answer answer =
                why == Refusal::None ? service.Serve(clients[i].Id, request) : DriverService::Refuse(why, request);
            if (options.Trace) {
                std::fprintf(options.Trace, "%08x %08x\n", request.Code, answer.Status);
                std::fflush(options.Trace);
            }
            if (!SendFrame(clients[i].Fd, wire::ReplyMagic, answer)) drop(i);
        }
    }
    while (!clients.empty()) drop(clients.size() - 1);
    close(signals);
    return 0;
}

}  // namespace driverd
