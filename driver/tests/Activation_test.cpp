// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of quorrin-driverd started the way a service manager starts it: a
// listening socket as descriptor 3 with LISTEN_FDS and LISTEN_PID, and the
// idle time after which it ends.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "driver/testing/DaemonProcess.h"
#include "driver/testing/TestBus.h"
#include "platform/testing/TempFolder.h"
#include "wire/DriverWire.h"

namespace {

namespace fs = std::filesystem;

enum class Passed { Nothing, SeqpacketListening, StreamListening, SeqpacketUnbound, TwoDescriptors };

struct Folder {
    Folder() {
        std::ofstream(path + "/bus.json")
            << R"({"functions":[{"bus":0,"slot":3,"function":0,"vendor":"0x8086","device":"0x1234"}]})";
    }
    platform::testing::TempFolder temp{"quorrin-activation-"};
    std::string path = temp.Path();
};

int Socket(Passed kind, const std::string& path) {
    const int fd =
        socket(AF_UNIX, (kind == Passed::StreamListening ? SOCK_STREAM : SOCK_SEQPACKET) | SOCK_CLOEXEC, 0);
    if (kind == Passed::SeqpacketUnbound) return fd;
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(listen(fd, 4), 0);
    return fd;
}

struct Started {
    pid_t Pid = -1;
    int Out = -1;  // the service's standard output
    std::string Err;
};

// Starts quorrin-driverd --bus DIR/bus.json ARGS with the socket DIR/s
// handed over as `kind` says; its standard error goes to DIR/err.
Started Launch(const Folder& dir, Passed kind, const std::vector<std::string>& arguments) {
    const int listener = kind == Passed::Nothing ? -1 : Socket(kind, dir.path + "/s");
    Started run;
    run.Err = dir.path + "/err";
    std::vector<std::string> args{"--bus", dir.path + "/bus.json"};
    args.insert(args.end(), arguments.begin(), arguments.end());
    const auto started = driverd::testing::StartDaemon(args, run.Err, [&] {
        if (listener < 0) return;
        // Above the target numbers first, so that dup2 never meets itself
        // and leaves close-on-exec set.
        const int high = fcntl(listener, F_DUPFD, 10);
        dup2(high, 3);
        if (kind == Passed::TwoDescriptors) dup2(high, 4);
        setenv("LISTEN_FDS", kind == Passed::TwoDescriptors ? "2" : "1", 1);
        setenv("LISTEN_PID", std::to_string(getpid()).c_str(), 1);
    });
    if (listener >= 0) close(listener);
    run.Pid = started.Pid;
    run.Out = started.Out;
    return run;
}

std::string ReadAll(int fd, int timeoutMs) {
    std::string text;
    char buffer[256];
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, timeoutMs) == 1) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.find('\n') != std::string::npos) break;
    }
    return text;
}

// The exit status, or -1 when the process is still running after the wait.
int ExitWithin(pid_t pid, int seconds) {
    int status = 0;
    for (int i = 0; i < seconds * 20; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
        usleep(50000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

bool Welcomed(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    wire::FrameHeader header{};
    pollfd p{fd, POLLIN, 0};
    const bool welcomed = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                          poll(&p, 1, 5000) == 1 &&
                          recv(fd, &header, sizeof header, 0) >= static_cast<ssize_t>(sizeof header) &&
                          header.Magic == wire::WelcomeMagic;
    close(fd);
    return welcomed;
}

TEST(Activation, HandedOverSocketIsServedAsItIsAndTheIdleTimeEndsTheService) {
    Folder dir;
    const std::string own = dir.path + "/own";
    Started run = Launch(dir, Passed::SeqpacketListening, {"--socket", own, "--idle", "1"});
    EXPECT_EQ(ReadAll(run.Out, 20000), "ready\n");
    struct stat before {};
    ASSERT_EQ(stat((dir.path + "/s").c_str(), &before), 0);
    EXPECT_TRUE(Welcomed(dir.path + "/s"));
    EXPECT_EQ(ExitWithin(run.Pid, 10), 0);
    close(run.Out);
    // Nothing bound, changed or removed: the manager's socket is left as it was.
    struct stat after {};
    ASSERT_EQ(stat((dir.path + "/s").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_FALSE(fs::exists(own));
}

TEST(Activation, OwnSocketIsRemovedAfterTheIdleTime) {
    Folder dir;
    Started run = Launch(dir, Passed::Nothing, {"--socket", dir.path + "/s", "--idle", "1"});
    EXPECT_EQ(ReadAll(run.Out, 20000), "ready\n");
    EXPECT_EQ(ExitWithin(run.Pid, 10), 0);
    close(run.Out);
    EXPECT_FALSE(fs::exists(dir.path + "/s"));
}

TEST(Activation, RefusesWhatItCannotServe) {
    struct Case {
        Passed Kind;
        std::vector<std::string> Arguments;
        int Status;
        std::string Says;
    } cases[] = {
        {Passed::StreamListening, {}, 1, "not a listening SOCK_SEQPACKET Unix socket"},
        {Passed::SeqpacketUnbound, {}, 1, "not a listening SOCK_SEQPACKET Unix socket"},
        {Passed::TwoDescriptors, {}, 1, "2 descriptors passed, one expected"},
        {Passed::SeqpacketListening, {"--idle", "0"}, 2, "usage:"},
        {Passed::SeqpacketListening, {"--idle", "86401"}, 2, "usage:"},
        {Passed::SeqpacketListening, {"--idle", "5s"}, 2, "usage:"},
    };
    for (const Case& c : cases) {
        Folder dir;
        Started run = Launch(dir, c.Kind, c.Arguments);
        EXPECT_EQ(ExitWithin(run.Pid, 10), c.Status) << c.Says;
        EXPECT_EQ(ReadAll(run.Out, 0), "") << c.Says;
        close(run.Out);
        std::ifstream in(run.Err);
        const std::string err((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_NE(err.find(c.Says), std::string::npos) << err;
    }
}

}  // namespace
