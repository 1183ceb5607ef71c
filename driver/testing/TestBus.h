// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin test support -- runs a private quorrin-driverd for one test: on a
// simulated bus given as JSON text, or on this machine's real bus, listening
// on a socket in a fresh temporary folder.
#pragma once

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/testing/TempFolder.h"

class TestBus {
public:
    // Writes the JSON to a temporary file and starts
    //   quorrin-driverd --bus FILE --socket DIR/windrvr6 --trace DIR/trace
    // (without --trace for Tracing::Off)
    // then waits for its "ready" line. Throws std::runtime_error when the
    // service does not come up (its standard error is in the message).
    enum class Tracing { On, Off };  // Off: as in use, for benchmarks
    explicit TestBus(const std::string& busJson, Tracing tracing = Tracing::On);
    // quorrin-driverd --real, on `sysfs` (--sysfs) when given: a stand-in tree.
    static TestBus Real(const std::string& sysfs = "");
    ~TestBus();             // SIGTERM, waits for exit 0, removes the folder
    TestBus(TestBus&& other) noexcept;
    TestBus(const TestBus&) = delete;
    TestBus& operator=(const TestBus&) = delete;

    const std::string& Socket() const { return socket_; }

    // Points the driver layer (SetDriverDevice) at this service.
    void Use() const;

    // One line per request the service has answered so far, in order:
    //   "<code hex8> <status hex8>"
    std::vector<std::string> Trace() const;
    int CountRequests(unsigned code) const;

    // Ends the service at once (SIGKILL), as a crash would.
    void Kill();
    // Kills it from a thread of its own once `count` requests of `code` are
    // traced (or after 20 s): the driver going away in the middle of a scan.
    std::thread KillAfter(unsigned code, int count);
    bool Running() const;

private:
    TestBus() = default;
    void MakeFolder();
    std::unique_ptr<platform::testing::TempFolder> folder_;  // removed once the service has ended
    std::string dir_;
    std::string socket_;
    int pid_ = -1;
    int pidfd_ = -1;
    int out_ = -1;  // the service's standard output, kept open so it never sees SIGPIPE
    void Start(std::vector<std::string> arguments, Tracing tracing = Tracing::On);
};

// Path of a program built into build/bin.
std::string BuiltProgram(const std::string& name);
