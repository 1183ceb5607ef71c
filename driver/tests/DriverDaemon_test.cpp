// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of quorrin-driverd as a process: its socket, who may connect, start
// and stop, and clients that send garbage or stop reading.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "driver/AccessPolicy.h"
#include "driver/linux/SocketServer.h"
#include "driver/testing/DaemonProcess.h"
#include "driver/testing/TestBus.h"
#include "platform/testing/TempFolder.h"
#include "windriver/WinDriverRequests.h"
#include "wire/DriverWire.h"

namespace {

const char* const OneCard =
    R"({"functions":[{"bus":0,"slot":3,"function":0,"vendor":"0x8086","device":"0x1234"}]})";

struct Folder {
    platform::testing::TempFolder temp{"quorrin-daemon-"};
    std::string path = temp.Path();
};

// Runs quorrin-driverd to its end or to its "ready" line.
struct Daemon {
    int status = -1;  // exit status once it ended
    std::string out, err;
    pid_t pid = -1;
    int stdoutFd = -1;
    std::string errors;  // its stderr file
};

// Starts it; `inChild` runs in the child before exec (a lower limit, another user).
Daemon Launch(const std::vector<std::string>& arguments, const std::string& folder,
              const std::function<void()>& inChild = {}) {
    static int serial = 0;
    Daemon run;
    run.errors = folder + "/daemon-stderr-" + std::to_string(++serial);
    const driverd::testing::DaemonProcess started =
        driverd::testing::StartDaemon(arguments, run.errors, inChild);
    run.pid = started.Pid;
    run.stdoutFd = started.Out;
    return run;
}

// Waits for the "ready" line or the end; reaps it unless it is ready.
void Await(Daemon& run, bool waitForExit) {
    char buffer[256];
    pollfd p{run.stdoutFd, POLLIN, 0};
    while (run.out.find('\n') == std::string::npos && poll(&p, 1, 20000) == 1) {
        const ssize_t got = read(run.stdoutFd, buffer, sizeof buffer);
        if (got <= 0) break;
        run.out.append(buffer, static_cast<std::size_t>(got));
    }
    close(run.stdoutFd);
    run.stdoutFd = -1;
    if (waitForExit || run.out != "ready\n") {
        waitpid(run.pid, &run.status, 0);
        run.pid = -1;
    }
    std::ifstream in(run.errors);
    std::getline(in, run.err, '\0');
}

Daemon Start(const std::vector<std::string>& arguments, const std::string& folder, bool waitForExit,
             const std::function<void()>& inChild = {}) {
    Daemon run = Launch(arguments, folder, inChild);
    Await(run, waitForExit);
    return run;
}

int Stop(Daemon& run, int sig = SIGTERM) {
    kill(run.pid, sig);  // our own child, not yet reaped: the pid is still its
    int status = 0;
    waitpid(run.pid, &status, 0);
    run.pid = -1;
    return status;
}

int Connect(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Reads one frame; 0 when the service closed the connection, -1 on time-out.
ssize_t ReadFrame(int fd, std::vector<uint8_t>& frame, int timeoutMs = 5000) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) != 1) return -1;
    frame.assign(wire::MaxFrameSize, 0);
    const ssize_t got = recv(fd, frame.data(), frame.size(), 0);
    frame.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return got;
}

std::vector<uint8_t> VersionFrame(uint32_t code = WD_Version) {
    std::vector<uint8_t> f(sizeof(wire::FrameHeader) + sizeof(VersionRecord), 0);
    const wire::FrameHeader h{wire::RequestMagic, code, sizeof(VersionRecord), 0};
    std::memcpy(f.data(), &h, sizeof h);
    return f;
}

TEST(DriverDaemon, SocketModeAndCleanStop) {
    Folder dir;
    const std::string sock = dir.path + "/windrvr6";
    Daemon run = Start({"--bus", "/dev/null", "--socket", sock}, dir.path, true);
    EXPECT_NE(run.status, 0);  // an empty file is no bus
    EXPECT_NE(run.err.find("/dev/null: not valid JSON"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(sock));

    std::ofstream(dir.path + "/bus.json") << OneCard;
    run = Start({"--bus", dir.path + "/bus.json", "--socket", sock}, dir.path, false);
    ASSERT_EQ(run.out, "ready\n") << run.err;
    struct stat st;
    ASSERT_EQ(stat(sock.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0660u);
    if (geteuid() == 0) {
        EXPECT_EQ(st.st_uid, 0u);
    }
    const group* q = getgrnam("quorrin");
    EXPECT_EQ(st.st_gid, q ? q->gr_gid : getegid());
    const int status = Stop(run);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(std::filesystem::exists(sock));
    // SIGINT ends it the same way.
    run = Start({"--bus", dir.path + "/bus.json", "--socket", sock}, dir.path, false);
    ASSERT_EQ(run.out, "ready\n") << run.err;
    EXPECT_EQ(Stop(run, SIGINT), 0);
    EXPECT_FALSE(std::filesystem::exists(sock));
}

TEST(DriverDaemon, StaleSocketIsReplacedLiveOneIsNot) {
    Folder dir;
    std::ofstream(dir.path + "/bus.json") << OneCard;
    const std::string sock = dir.path + "/windrvr6";
    {
        // A crashed service leaves its socket file with no one behind it.
        const int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strcpy(a.sun_path, sock.c_str());
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        close(fd);
    }
    Daemon first = Start({"--bus", dir.path + "/bus.json", "--socket", sock}, dir.path, false);
    ASSERT_EQ(first.out, "ready\n") << first.err;

    Daemon second = Start({"--bus", dir.path + "/bus.json", "--socket", sock}, dir.path, true);
    EXPECT_NE(second.status, 0);
    EXPECT_NE(second.err.find("another service already listens on " + sock), std::string::npos) << second.err;
    // The first one still serves.
    const int fd = Connect(sock);
    std::vector<uint8_t> frame;
    EXPECT_GT(ReadFrame(fd, frame), 0);
    close(fd);
    EXPECT_EQ(Stop(first), 0);
}

TEST(DriverDaemon, NeverRemovesAFileThatIsNotASocket) {
    Folder dir;
    std::ofstream(dir.path + "/bus.json") << OneCard;
    const std::string path = dir.path + "/precious";
    std::ofstream(path) << "keep me";
    Daemon run = Start({"--bus", dir.path + "/bus.json", "--socket", path}, dir.path, true);
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.err.find("is not a socket"), std::string::npos) << run.err;
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "keep me");
    // Nor a lock path that is no regular file; the message says why.
    const std::string sock = dir.path + "/windrvr6";
    ASSERT_EQ(mkfifo((sock + ".lock").c_str(), 0600), 0);
    run = Start({"--bus", dir.path + "/bus.json", "--socket", sock}, dir.path, true);
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.err.find("the lock file " + sock + ".lock is not a regular file"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("Success"), std::string::npos) << run.err;
}

TEST(DriverDaemon, OptionsAndTheMissingRealBackend) {
    Folder dir;
    const struct {
        std::vector<std::string> args;
        int status;
        const char* message;
    } cases[] = {
        {{}, 2, "usage: quorrin-driverd"},
        {{"--bus"}, 2, "usage"},
        {{"--bus", "a", "--real"}, 2, "usage"},
        {{"--frobnicate"}, 2, "usage"},
        {{"--bus", dir.path + "/none.json"}, 1, "none.json: cannot be read"},
    };
    for (const auto& c : cases) {
        Daemon run = Start(c.args, dir.path, true);
        ASSERT_TRUE(WIFEXITED(run.status));
        EXPECT_EQ(WEXITSTATUS(run.status), c.status) << c.message;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
}

TEST(DriverDaemon, PeerPolicy) {
    const struct {
        uint32_t uid, gid;
        std::vector<uint32_t> groups;
        std::optional<uint32_t> quorrin;
        bool allowed;
    } cases[] = {
        {0, 0, {}, std::nullopt, true},        // root
        {1000, 1000, {}, std::nullopt, true},  // the service's own user
        {1001, 1001, {}, std::nullopt, false},
        {1001, 1001, {27}, 500, false},
        {1001, 500, {}, 500, true},            // primary group quorrin
        {1001, 1001, {4, 500}, 500, true},     // supplementary group quorrin
        {1001, 500, {}, std::nullopt, false},  // no such group here
    };
    for (const auto& c : cases)
        EXPECT_EQ(driverd::PeerAllowed(c.uid, c.gid, c.groups, 1000, c.quorrin), c.allowed)
            << c.uid << "/" << c.gid;
}

// Membership is judged on the groups the peer had when it connected: by the
// time it is looked at, its pid may be another process's.
TEST(DriverDaemon, PeerGroupsAreThoseItConnectedWith) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give a child other groups";
    Folder dir;
    const std::string path = dir.path + "/s";
    const int listener = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    const pid_t child = fork();
    if (child == 0) {
        const gid_t groups[] = {4, 27};
        _exit(setgroups(2, groups) == 0 && Connect(path) >= 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);  // reaped: its pid is free for anyone now
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const int peer = accept(listener, nullptr, nullptr);
    EXPECT_EQ(driverd::PeerGroups(peer), (std::vector<uint32_t>{4, 27}));
    close(peer);
    close(listener);
}

TEST(DriverDaemon, OtherUsersAreTurnedAway) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
    TestBus bus(OneCard);
    // Open the socket up so only the credential check stands in the way.
    chmod(std::filesystem::path(bus.Socket()).parent_path().c_str(), 0755);
    chmod(bus.Socket().c_str(), 0666);
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
        const int fd = Connect(bus.Socket());
        if (fd < 0) _exit(4);
        std::vector<uint8_t> frame;
        _exit(ReadFrame(fd, frame) == 0 ? 0 : 5);  // closed without a welcome
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // Root still gets in.
    bus.Use();
    EXPECT_TRUE(ProbeDriver());
    SetDriverDevice(DefaultDriverDevice);
}

TEST(DriverDaemon, GarbageDropsOnlyTheSender) {
    TestBus bus(OneCard);
    bus.Use();
    const DriverHandle good = OpenDriver();
    ASSERT_NE(good, NoDriverHandle);
    std::vector<std::vector<uint8_t>> garbage = {
        std::vector<uint8_t>(3, 0x41),                     // shorter than a header
        std::vector<uint8_t>(200, 0xFF),                   // no magic
        std::vector<uint8_t>(wire::MaxFrameSize + 64, 0),  // oversized
    };
    auto truncated = VersionFrame();
    truncated.resize(truncated.size() - 10);
    garbage.push_back(truncated);
    for (const auto& g : garbage) {
        const int fd = Connect(bus.Socket());
        std::vector<uint8_t> frame;
        ASSERT_GT(ReadFrame(fd, frame), 0);  // welcome
        ASSERT_EQ(send(fd, g.data(), g.size(), MSG_NOSIGNAL), static_cast<ssize_t>(g.size()));
        EXPECT_EQ(ReadFrame(fd, frame), 0) << g.size();  // dropped
        close(fd);
        VersionRecord v{};
        EXPECT_EQ(DriverRequest(WD_Version, good, &v, sizeof v), 0u);
        EXPECT_EQ(v.Version, 1110u);
    }
    EXPECT_TRUE(bus.Running());

    // A well-formed request with an unknown code is answered and traced.
    const int fd = Connect(bus.Socket());
    std::vector<uint8_t> frame;
    ASSERT_GT(ReadFrame(fd, frame), 0);
    const auto unknown = VersionFrame(RequestCode(0xD11));
    send(fd, unknown.data(), unknown.size(), MSG_NOSIGNAL);
    ASSERT_GT(ReadFrame(fd, frame), 0);
    wire::FrameHeader h;
    std::memcpy(&h, frame.data(), sizeof h);
    EXPECT_EQ(h.Magic, wire::ReplyMagic);
    EXPECT_EQ(h.CodeOrStatus, wire::StatusUnknownRequest);
    close(fd);
    CloseDriver(good);

    const auto trace = bus.Trace();
    auto hex8 = [](const std::string& t) {
        return t.size() == 8 && t.find_first_not_of("0123456789abcdef") == std::string::npos;
    };
    for (const auto& l : trace)
        EXPECT_TRUE(l.size() == 17 && l[8] == ' ' && hex8(l.substr(0, 8)) && hex8(l.substr(9))) << l;
    EXPECT_EQ(bus.CountRequests(WD_Version), 4);
    EXPECT_EQ(bus.CountRequests(RequestCode(0xD11)), 1);
    EXPECT_EQ(trace.back(), "95383447 20000001");
    SetDriverDevice(DefaultDriverDevice);
}

TEST(DriverDaemon, AClientThatStopsReadingDoesNotStallOthers) {
    TestBus bus(OneCard);
    bus.Use();
    const int slow = Connect(bus.Socket());
    std::vector<uint8_t> frame;
    ASSERT_GT(ReadFrame(slow, frame), 0);
    const auto request = VersionFrame();
    timeval brief{0, 200000};
    setsockopt(slow, SOL_SOCKET, SO_SNDTIMEO, &brief, sizeof brief);
    // Requests go out, replies pile up unread until the service gives up on it.
    for (int i = 0; i < 5000; ++i)
        if (send(slow, request.data(), request.size(), MSG_NOSIGNAL) < 0) break;
    const DriverHandle other = OpenDriver();
    ASSERT_NE(other, NoDriverHandle);
    VersionRecord v{};
    EXPECT_EQ(DriverRequest(WD_Version, other, &v, sizeof v), 0u);
    EXPECT_EQ(v.Version, 1110u);
    CloseDriver(other);
    close(slow);
    EXPECT_TRUE(bus.Running());
    SetDriverDevice(DefaultDriverDevice);
}

// ---- attacks a member of group quorrin could make ----------------------------

const char* const MemoryCard =
    R"({"functions":[{"bus":0,"slot":3,"function":0,"vendor":"0x10B5","device":"0x9056",
  "resources":[{"type":"memory","bar":0,"address":"0xF0000000","length":"0x1000"}]}]})";

// Card information and registration of 0:03.0 over a raw connection, which
// is then closed; whatever descriptors the replies carried stay with the
// caller, as an attacker would keep them.
std::vector<int> DescriptorsOfARegistration(const std::string& socket) {
    const int fd = Connect(socket);
    std::vector<uint8_t> frame;
    ReadFrame(fd, frame);  // welcome
    frame.resize(wire::MaxFrameSize);
    std::vector<int> fds;
    CardInfoRecord info{};
    info.Slot = 3;
    CardRegisterRecord r{};
    const struct {
        uint32_t code;
        void* record;
        uint32_t size;
    } steps[] = {{WD_PciGetCardInfo, &info, sizeof info}, {WD_CardRegister, &r, sizeof r}};
    for (const auto& step : steps) {
        r.Card = info.Card;
        const wire::FrameHeader h{wire::RequestMagic, step.code, step.size, 0};
        iovec out[2] = {{const_cast<wire::FrameHeader*>(&h), sizeof h}, {step.record, step.size}};
        msghdr m{};
        m.msg_iov = out;
        m.msg_iovlen = 2;
        EXPECT_GT(sendmsg(fd, &m, MSG_NOSIGNAL), 0);
        iovec in{frame.data(), frame.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * MaxResourceItems)] = {};
        msghdr reply{};
        reply.msg_iov = &in;
        reply.msg_iovlen = 1;
        reply.msg_control = control;
        reply.msg_controllen = sizeof control;
        EXPECT_GE(recvmsg(fd, &reply, MSG_CMSG_CLOEXEC), static_cast<ssize_t>(sizeof h + step.size));
        std::memcpy(step.record, frame.data() + sizeof h, step.size);
        for (cmsghdr* c = CMSG_FIRSTHDR(&reply); c; c = CMSG_NXTHDR(&reply, c))
            for (std::size_t i = 0; i < (c->cmsg_len - CMSG_LEN(0)) / sizeof(int); ++i)
                fds.push_back(reinterpret_cast<const int*>(CMSG_DATA(c))[i]);
    }
    EXPECT_NE(r.CardHandle, 0u);
    close(fd);
    return fds;
}

// The ID byte 0x72 of 0:03.0's memory-mapped registers as a client that
// registers it now reads it; 0xFFFFFFFF when the service does not answer.
uint32_t IdByte(const TestBus& bus) {
    bus.Use();
    const DriverHandle handle = OpenDriver();
    CardInfoRecord info{};
    info.Slot = 3;
    DriverRequest(WD_PciGetCardInfo, handle, &info, sizeof info);
    CardRegisterRecord r{};
    r.Card = info.Card;
    DriverRequest(WD_CardRegister, handle, &r, sizeof r);
    uint32_t value = 0;
    TransferRecord t{};
    t.Address = 0xF0000072;
    t.Command = ReadMemByte;
    t.Bytes = 1;
    t.Data = ClientAddress(&value, 1);
    if (DriverRequest(WD_Transfer, handle, &t, sizeof t) != 0) value = 0xFFFFFFFF;
    CloseDriver(handle);
    SetDriverDevice(DefaultDriverDevice);
    return value;
}

TEST(DriverAttack, ATruncatedMemoryDescriptorCannotKillTheService) {
    TestBus bus(MemoryCard);
    const std::vector<int> fds = DescriptorsOfARegistration(bus.Socket());
    EXPECT_TRUE(fds.empty()) << "a descriptor left the service";
    for (int fd : fds) EXPECT_EQ(ftruncate(fd, 0), 0);
    EXPECT_EQ(IdByte(bus), 0x56u);
    EXPECT_TRUE(bus.Running());
    for (int fd : fds) close(fd);
}

TEST(DriverAttack, NothingKeptReachesTheCardOnceItIsUnregistered) {
    TestBus bus(MemoryCard);
    const std::vector<int> kept = DescriptorsOfARegistration(bus.Socket());
    EXPECT_TRUE(kept.empty()) << "a descriptor left the service";
    const uint32_t poke = 0xDEADBEEF;
    for (int fd : kept) EXPECT_EQ(pwrite(fd, &poke, sizeof poke, 0x70), 4);
    EXPECT_EQ(IdByte(bus), 0x56u) << "the next owner sees what the attacker wrote";
    for (int fd : kept) close(fd);
}

// The old service chowned and chmodded the path after bind(), following a
// symlink swapped in for the socket; a racer does exactly that here.
TEST(DriverAttack, ASymlinkSwappedInForTheSocketIsNeverFollowed) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to own the victim file";
    Folder dir, safe;
    ASSERT_EQ(chmod(dir.path.c_str(), 01777), 0);  // a folder members can write to
    std::ofstream(dir.path + "/bus.json") << OneCard;
    const std::string victim = safe.path + "/victim", sock = dir.path + "/windrvr6";
    std::ofstream(victim) << "root's";
    ASSERT_EQ(chown(victim.c_str(), 0, 65534), 0);
    ASSERT_EQ(chmod(victim.c_str(), 0600), 0);
    std::atomic<bool> stop{false};
    std::thread racer([&] {
        const std::string link = dir.path + "/link";
        while (!stop) {
            struct stat st;
            if (lstat(sock.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) {
                std::this_thread::yield();
                continue;
            }
            if (symlink(victim.c_str(), link.c_str()) == 0) rename(link.c_str(), sock.c_str());
        }
    });
    for (int round = 0; round < 20; ++round) {
        Daemon run = Start({"--bus", dir.path + "/bus.json", "--socket", sock}, dir.path, false);
        if (run.pid > 0) Stop(run);
        unlink(sock.c_str());
    }
    stop = true;
    racer.join();
    struct stat st;
    ASSERT_EQ(stat(victim.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_gid, 65534u);
    // A symlink in place of the lock file is not followed either.
    unlink((sock + ".lock").c_str());
    ASSERT_EQ(symlink(victim.c_str(), (sock + ".lock").c_str()), 0);
    Daemon run = Start({"--bus", dir.path + "/bus.json", "--socket", sock}, dir.path, true);
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.err.find("lock file"), std::string::npos) << run.err;
    ASSERT_EQ(stat(victim.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 6);
}

TEST(DriverAttack, OfServicesStartedTogetherOneListens) {
    Folder dir;
    std::ofstream(dir.path + "/bus.json") << OneCard;
    const std::string sock = dir.path + "/windrvr6";
    for (int round = 0; round < 10; ++round) {
        std::vector<Daemon> runs;
        for (int i = 0; i < 3; ++i)
            runs.push_back(Launch({"--bus", dir.path + "/bus.json", "--socket", sock}, dir.path));
        int ready = 0;
        for (Daemon& run : runs) {
            Await(run, false);
            if (run.pid > 0) {
                ++ready;
            } else {
                EXPECT_NE(run.err.find("another service already listens on " + sock), std::string::npos)
                    << run.err;
            }
        }
        EXPECT_EQ(ready, 1) << "round " << round;
        for (Daemon& run : runs) {
            if (run.pid > 0) {
                EXPECT_EQ(Stop(run), 0);
            }
        }
    }
}

// utime + stime of a process, in clock ticks.
// How many of `samples` looks at the process found it running or ready to
// run. A loop that never blocks is found so whatever else the machine does,
// one waiting in poll almost never: unlike its processor time, which a busy
// machine holds down, this does not depend on the load.
int RunnableSamples(pid_t pid, int samples) {
    int runnable = 0;
    for (int i = 0; i < samples; ++i) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::size_t close = text.rfind(')');
        if (close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'R') ++runnable;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return runnable;
}

// Points the driver layer at a socket for one scope.
struct UseDevice {
    explicit UseDevice(const std::string& path) { SetDriverDevice(path); }
    ~UseDevice() { SetDriverDevice(DefaultDriverDevice); }
};

constexpr gid_t QuorrinGid = 4242;

// In the service's child before exec: a mount namespace of its own whose
// /etc/group has group quorrin, and an open-file limit of `limit`.
std::function<void()> MemberWorld(const std::string& groupFile, rlim_t limit) {
    return [groupFile, limit] {
        const rlimit low{limit, limit};
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(groupFile.c_str(), "/etc/group", nullptr, MS_BIND, nullptr) != 0 ||
            setrlimit(RLIMIT_NOFILE, &low) != 0)
            _exit(126);
    };
}

// What a member's connections got: a welcome, a close, or nothing yet.
struct Outcomes {
    int Welcomed = 0, Closed = 0, Waiting = 0;
};

Outcomes AwaitWelcomes(const std::vector<int>& fds, std::vector<bool>& welcomed, int timeoutMs) {
    Outcomes o;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (std::size_t i = 0; i < fds.size(); ++i) {
        if (welcomed[i]) continue;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        std::vector<uint8_t> frame;
        const ssize_t got = ReadFrame(fds[i], frame, static_cast<int>(std::max<long>(left.count(), 0)));
        if (got > 0) {
            welcomed[i] = true;
            ++o.Welcomed;
        } else if (got == 0) {
            ++o.Closed;
        } else {
            ++o.Waiting;
        }
    }
    return o;
}

// A member floods the service past its open-file limit (which it now leaves
// as it is given). It was looked up once, so the connection that takes the
// last descriptor is still a member's; the rest wait queued, the service
// says so once and does not spin, SIGHUP's lookup still has its descriptor,
// and each waiting member is welcomed once others leave.
TEST(DriverAttack, OutOfDescriptorsMembersWaitAndTheServiceDoesNotSpin) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for a mount namespace and another user";
    Folder dir;
    ASSERT_EQ(chmod(dir.path.c_str(), 0755), 0);
    std::ofstream(dir.path + "/bus.json") << OneCard;
    std::ofstream(dir.path + "/group") << "root:x:0:\nquorrin:x:" << QuorrinGid << ":\n";
    const std::string sock = dir.path + "/windrvr6";
    Daemon run = Start({"--bus", dir.path + "/bus.json", "--socket", sock}, dir.path, false,
                       MemberWorld(dir.path + "/group", 16));
    if (run.out != "ready\n") GTEST_SKIP() << "no private mount namespace here: " << run.err;
    std::ifstream limits("/proc/" + std::to_string(run.pid) + "/limits");
    std::string line;
    while (std::getline(limits, line) && line.rfind("Max open files", 0) != 0) {
    }
    std::istringstream values(line.substr(std::strlen("Max open files")));
    long soft = 0, hard = 0;
    values >> soft >> hard;
    EXPECT_EQ(soft, 16) << "the limit is the unit's to set, not raised";

    int up[2], down[2];
    ASSERT_EQ(pipe(up), 0);
    ASSERT_EQ(pipe(down), 0);
    const pid_t member = fork();
    if (member == 0) {
        close(up[0]);
        close(down[1]);
        if (setgroups(0, nullptr) != 0 || setgid(QuorrinGid) != 0 || setuid(65534) != 0) _exit(126);
        std::vector<int> fds;
        for (int i = 0; i < 12; ++i) fds.push_back(Connect(sock));
        std::vector<bool> welcomed(fds.size(), false);
        const Outcomes first = AwaitWelcomes(fds, welcomed, 1500);
        char go;
        if (write(up[1], &first, sizeof first) != sizeof first || read(down[0], &go, 1) != 1) _exit(125);
        // Each round the welcomed ones leave, making room for those waiting.
        Outcomes later;
        std::vector<bool> left(fds.size(), false);
        for (int round = 0; round < 6 && later.Welcomed < first.Waiting && later.Closed == 0; ++round) {
            for (std::size_t i = 0; i < fds.size(); ++i)
                if (welcomed[i] && !left[i]) {
                    close(fds[i]);
                    left[i] = true;
                }
            const Outcomes got = AwaitWelcomes(fds, welcomed, 2000);
            later.Welcomed += got.Welcomed;
            later.Closed += got.Closed;
        }
        _exit(write(up[1], &later, sizeof later) == sizeof later ? 0 : 125);
    }
    close(up[1]);
    close(down[0]);
    Outcomes first;
    ASSERT_EQ(read(up[0], &first, sizeof first), static_cast<ssize_t>(sizeof first));
    EXPECT_EQ(first.Closed, 0) << "a member was turned away";
    EXPECT_GT(first.Welcomed, 0);
    EXPECT_GT(first.Waiting, 0) << "the limit was never reached";
    // Paused, it does not spin, and says so once over several retries.
    EXPECT_LT(RunnableSamples(run.pid, 250), 50) << "spinning on accept";
    auto errors = [&] {
        std::ifstream in(run.errors);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    const std::string paused = "cannot accept a connection: Too many open files; waiting for a client to leave";
    const std::string pausedLog = errors();
    const auto at = pausedLog.find(paused);
    EXPECT_NE(at, std::string::npos) << pausedLog;
    EXPECT_EQ(pausedLog.find(paused, at + 1), std::string::npos) << "said more than once: " << pausedLog;
    kill(run.pid, SIGHUP);  // our own child, not yet reaped
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(write(down[1], "x", 1), 1);
    Outcomes later;
    ASSERT_EQ(read(up[0], &later, sizeof later), static_cast<ssize_t>(sizeof later));
    int status = 0;
    waitpid(member, &status, 0);
    close(up[0]);
    close(down[1]);
    EXPECT_EQ(later.Welcomed, first.Waiting) << "each waiting member is served once others leave";
    EXPECT_EQ(later.Closed, 0);
    {
        UseDevice use(sock);
        EXPECT_TRUE(ProbeDriver()) << "accepting again once descriptors are free";
    }
    EXPECT_EQ(Stop(run), 0);
    EXPECT_NE(errors().find("group quorrin is gid 4242"), std::string::npos) << errors();
}

// The service's own user is let in but capped, unlike root.
TEST(DriverAttack, AConnectionFloodOfOneUserIsCappedAndLogged) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run as another user";
    Folder dir;
    ASSERT_EQ(chmod(dir.path.c_str(), 0777), 0);
    std::ofstream(dir.path + "/bus.json") << OneCard;
    const std::string sock = dir.path + "/windrvr6";
    auto asNobody = [] {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(126);
    };
    Daemon run = Start({"--bus", dir.path + "/bus.json", "--socket", sock}, dir.path, false, asNobody);
    ASSERT_EQ(run.out, "ready\n") << run.err;
    int up[2], down[2];
    ASSERT_EQ(pipe(up), 0);
    ASSERT_EQ(pipe(down), 0);
    const pid_t child = fork();
    if (child == 0) {
        asNobody();
        close(up[0]);
        close(down[1]);
        int welcomed = 0;
        for (int i = 0; i < 40; ++i) {
            const int fd = Connect(sock);  // kept open until the test is done
            std::vector<uint8_t> frame;
            if (fd >= 0 && ReadFrame(fd, frame, 2000) > 0) ++welcomed;
        }
        char done;
        if (write(up[1], "x", 1) != 1 || read(down[0], &done, 1) < 0) _exit(125);
        _exit(welcomed);
    }
    close(up[1]);
    close(down[0]);
    char holding;
    ASSERT_EQ(read(up[0], &holding, 1), 1);
    {
        UseDevice use(sock);
        EXPECT_TRUE(ProbeDriver()) << "root is not capped";
    }
    close(down[1]);
    close(up[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(driverd::MaxConnectionsPerUser));
    EXPECT_EQ(Stop(run), 0);
    std::ifstream in(run.errors);
    std::string err((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(err.find("user 65534 holds 32 connections, the most one user may"), std::string::npos) << err;
}

}  // namespace
