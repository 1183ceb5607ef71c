// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the Windows driver transport: the open and close of the device,
// refused and pending requests, and the client address fields.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "windriver/WinDriverRequests.h"

namespace {

constexpr uint32_t NoAnswer = 0xFFFFFFFFu;
// The named-pipe listen request: it stays pending until a client connects,
// which is what a driver that answers later looks like to the caller.
constexpr uint32_t PipeListen = 0x00110008u;

std::string PipeName() {
    return "\\\\.\\pipe\\QuorrinTransportTest_" + std::to_string(::GetCurrentProcessId()) + "_" +
           std::to_string(::GetTickCount());
}

HANDLE MakePipe(const std::string& name) {
    return ::CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, PIPE_TYPE_BYTE, 1, 4096, 4096,
                              0, nullptr);
}

class Win32Transport : public ::testing::Test {
protected:
    void TearDown() override { SetDriverDevice(DefaultDriverDevice); }
};

TEST_F(Win32Transport, AnAbsentDriverGivesNoHandleAndTheFailureText) {
    EXPECT_STREQ(DefaultDriverDevice, "\\\\.\\WINDRVR6");
    SetDriverDevice("\\\\.\\QuorrinNoSuchDevice");
    SetLastError(7, "old");
    EXPECT_EQ(OpenDriver(), NoDriverHandle);
    EXPECT_EQ(LastErrorCode, 1);
    EXPECT_STREQ(LastErrorText, "CountCards() Failed opening WinDriver device\n");
    DriverVersion.Version = 99;
    EXPECT_FALSE(ProbeDriver());
    EXPECT_EQ(DriverVersion.Version, 0u);
}

TEST_F(Win32Transport, NoHandleSendsNothingAndAnswersAllOnes) {
    VersionRecord record{};
    record.Version = 5;
    for (DriverHandle handle : {NoDriverHandle, InvalidDriverHandle})
        EXPECT_EQ(DriverRequest(WD_Version, handle, &record, sizeof record), NoAnswer);
    EXPECT_EQ(record.Version, 5u);
}

TEST_F(Win32Transport, ARefusedRequestLeavesTheRecordAsSent) {
    const std::string name = PipeName();
    HANDLE server = MakePipe(name);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    SetDriverDevice(name);
    const DriverHandle handle = OpenDriver();
    ASSERT_NE(handle, NoDriverHandle);
    EXPECT_EQ(LastErrorCode, 0);
    VersionRecord record{};
    std::memcpy(record.Text, "as sent", 8);
    // A pipe knows no driver request: refused, the status stays all ones.
    EXPECT_EQ(DriverRequest(WD_Version, handle, &record, sizeof record), NoAnswer);
    EXPECT_STREQ(record.Text, "as sent");
    CloseDriver(handle);
    ::CloseHandle(server);
}

TEST_F(Win32Transport, APendingRequestIsWaitedFor) {
    const std::string name = PipeName();
    HANDLE server = MakePipe(name);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    std::atomic<bool> returned{false};
    uint32_t status = 0;
    std::thread caller([&] {
        uint32_t record = 0;
        status = DriverRequest(PipeListen, reinterpret_cast<DriverHandle>(server), &record, sizeof record);
        returned = true;
    });
    ::Sleep(200);
    EXPECT_FALSE(returned.load()) << "the request returned before the other side answered";
    HANDLE client = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(client, INVALID_HANDLE_VALUE);
    caller.join();
    EXPECT_TRUE(returned.load());
    EXPECT_EQ(status, NoAnswer);  // the listen writes no status word
    ::CloseHandle(client);
    ::CloseHandle(server);
}

TEST_F(Win32Transport, ClientAddressesAreTheRealAddresses) {
    uint32_t word = 0;
    EXPECT_EQ(ClientAddress(&word, sizeof word), static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&word)));
    EXPECT_EQ(ClientAddress(nullptr, 0), 0u);

    struct Case {
        uint64_t address, length;
        bool accessible;
    } cases[] = {
        {0, 1, false},                 // no mapping
        {0x10000000, 4, true},         // a mapping the kernel driver made
        {0xFFFFFFFC, 4, true},         // the last dword of the address space
        {0xFFFFFFFE, 4, false},        // runs past it
        {uint64_t{1} << 32, 1, false}, // beyond a 32-bit address space
    };
    for (const Case& c : cases)
        EXPECT_EQ(DirectAccessible(c.address, c.length), c.accessible) << std::hex << c.address << "+" << c.length;
}

}  // namespace
