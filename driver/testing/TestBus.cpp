// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin test support -- starting and stopping a private quorrin-driverd.
#include "driver/testing/TestBus.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/testing/FileText.h"
#include "windriver/WinDriverRequests.h"

namespace {

constexpr int ReadyTimeoutMs = 20000;

int PidfdOpen(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }
int PidfdSignal(int pidfd, int sig) { return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0)); }

using platform::testing::ReadFile;

}  // namespace

std::string BuiltProgram(const std::string& name) { return std::string(QUORRIN_BIN_DIR) + "/" + name; }

TestBus::TestBus(const std::string& busJson, Tracing tracing) {
    MakeFolder();
    const std::string bus = dir_ + "/bus.json";
    std::ofstream(bus) << busJson;
    Start({"--bus", bus}, tracing);
}

TestBus TestBus::Real(const std::string& sysfs) {
    TestBus b;
    b.MakeFolder();
    std::vector<std::string> arguments{"--real"};
    if (!sysfs.empty()) arguments.insert(arguments.end(), {"--sysfs", sysfs});
    b.Start(arguments);
    return b;
}

void TestBus::MakeFolder() {
    folder_ = std::make_unique<platform::testing::TempFolder>("quorrin-bus-");
    dir_ = folder_->Path();
}

void TestBus::Start(std::vector<std::string> arguments, Tracing tracing) {
    socket_ = dir_ + "/windrvr6";
    const std::string errors = dir_ + "/stderr";
    std::vector<std::string> args{BuiltProgram("quorrin-driverd")};
    args.insert(args.end(), arguments.begin(), arguments.end());
    args.insert(args.end(), {"--socket", socket_});
    if (tracing == Tracing::On) args.insert(args.end(), {"--trace", dir_ + "/trace"});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("TestBus: pipe failed");
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("TestBus: fork failed");
    if (pid == 0) {
        dup2(out[1], 1);
        const int err = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (err >= 0) dup2(err, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    pid_ = pid;
    pidfd_ = PidfdOpen(pid);
    out_ = out[0];

    // Wait for "ready", or for the service to give up.
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ReadyTimeoutMs);
    while (line.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{out_, POLLIN, 0};
        char buffer[64];
        ssize_t got = 0;
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) != 1 ||
            (got = read(out_, buffer, sizeof buffer)) <= 0)
            break;
        line.append(buffer, static_cast<std::size_t>(got));
    }
    if (line != "ready\n") {
        Kill();
        const std::string message = "quorrin-driverd did not come up: " + ReadFile(errors);
        folder_.reset();
        dir_.clear();
        throw std::runtime_error(message);
    }
}

TestBus::TestBus(TestBus&& other) noexcept
    : folder_(std::move(other.folder_)), dir_(std::move(other.dir_)), socket_(std::move(other.socket_)), pid_(other.pid_), pidfd_(other.pidfd_),
      out_(other.out_) {
    other.dir_.clear();
    other.pid_ = -1;
    other.pidfd_ = -1;
    other.out_ = -1;
}

TestBus::~TestBus() {
    if (pid_ > 0) {
        if (pidfd_ >= 0) PidfdSignal(pidfd_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    if (pidfd_ >= 0) close(pidfd_);
    if (out_ >= 0) close(out_);
}

void TestBus::Use() const { SetDriverDevice(socket_); }

std::vector<std::string> TestBus::Trace() const {
    std::vector<std::string> lines;
    std::ifstream in(dir_ + "/trace");
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

int TestBus::CountRequests(unsigned code) const {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%08x ", code);
    int count = 0;
    for (const auto& line : Trace())
        if (line.rfind(prefix, 0) == 0) ++count;
    return count;
}

void TestBus::Kill() {
    if (pid_ <= 0) return;
    if (pidfd_ >= 0) PidfdSignal(pidfd_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

std::thread TestBus::KillAfter(unsigned code, int count) {
    return std::thread([this, code, count] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (CountRequests(code) < count && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        Kill();
    });
}

bool TestBus::Running() const {
    if (pid_ <= 0 || pidfd_ < 0) return false;
    pollfd p{pidfd_, POLLIN, 0};
    return poll(&p, 1, 0) == 0;
}
