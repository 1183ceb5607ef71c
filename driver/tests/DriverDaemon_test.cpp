// Tests of quorrin-driverd as a process: its socket, who may connect, start
// and stop, and clients that send garbage or stop reading.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "driver/AccessPolicy.h"
#include "driver/linux/SocketServer.h"
#include "driver/testing/TestBus.h"
#include "windriver/WinDriverRequests.h"
#include "windriver/linux/DriverWire.h"

namespace {

const char* const OneCard =
    R"({"functions":[{"bus":0,"slot":3,"function":0,"vendor":"0x8086","device":"0x1234"}]})";

struct Folder {
    Folder() {
        std::string p = (std::filesystem::temp_directory_path() / "quorrin-daemon-XXXXXX").string();
        path = mkdtemp(p.data());
    }
    ~Folder() { std::filesystem::remove_all(path); }
    std::string path;
};

// Runs quorrin-driverd to its end or to its "ready" line.
struct Daemon {
    int status = -1;    // exit status once it ended
    std::string out, err;
    pid_t pid = -1;
};

Daemon Start(const std::vector<std::string>& arguments, const std::string& folder, bool waitForExit) {
    Daemon run;
    int out[2];
    EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
    const std::string errors = folder + "/daemon-stderr";
    run.pid = fork();
    if (run.pid == 0) {
        dup2(out[1], 1);
        const int e = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(e, 2);
        std::vector<std::string> args{BuiltProgram("quorrin-driverd")};
        args.insert(args.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    char buffer[256];
    pollfd p{out[0], POLLIN, 0};
    while (run.out.find('\n') == std::string::npos && poll(&p, 1, 20000) == 1) {
        const ssize_t got = read(out[0], buffer, sizeof buffer);
        if (got <= 0) break;
        run.out.append(buffer, static_cast<std::size_t>(got));
    }
    close(out[0]);
    if (waitForExit || run.out != "ready\n") {
        waitpid(run.pid, &run.status, 0);
        run.pid = -1;
    }
    std::ifstream in(errors);
    std::getline(in, run.err, '\0');
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
#ifndef QUORRIN_HAVE_REAL_BUS
        {{"--real", "--socket", dir.path + "/s"}, 1, "the real bus backend is not part of this build"},
#endif
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
        {0, 0, {}, std::nullopt, true},           // root
        {1000, 1000, {}, std::nullopt, true},     // the service's own user
        {1001, 1001, {}, std::nullopt, false},
        {1001, 1001, {27}, 500, false},
        {1001, 500, {}, 500, true},               // primary group quorrin
        {1001, 1001, {4, 500}, 500, true},        // supplementary group quorrin
        {1001, 500, {}, std::nullopt, false},     // no such group here
    };
    for (const auto& c : cases)
        EXPECT_EQ(driverd::PeerAllowed(c.uid, c.gid, c.groups, 1000, c.quorrin), c.allowed) << c.uid << "/" << c.gid;
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
        std::vector<uint8_t>(3, 0x41),                       // shorter than a header
        std::vector<uint8_t>(200, 0xFF),                     // no magic
        std::vector<uint8_t>(wire::MaxFrameSize + 64, 0),    // oversized
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
    for (const auto& l : trace) EXPECT_TRUE(l.size() == 17 && l[8] == ' ' && hex8(l.substr(0, 8)) && hex8(l.substr(9))) << l;
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

}  // namespace
