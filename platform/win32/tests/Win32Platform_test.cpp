// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the Windows platform layer against the system itself (run under
// wine on the build machine).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <windows.h>
#undef GetDriveType  // the A/W macro would rename ours

#include <atomic>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/NamedMutex.h"
#include "platform/Process.h"
#include "platform/Registry.h"
#include "platform/SingleInstance.h"
#include "platform/SysInfo.h"
#include "platform/Tone.h"
#include "platform/testing/FileText.h"

namespace {

std::string UniqueName(const char* what) {
    return std::string("QuorrinTest_") + what + "_" + std::to_string(::GetCurrentProcessId()) + "_" +
           std::to_string(::GetTickCount());
}

std::string TempFolder() {
    char buffer[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathA(sizeof buffer, buffer);
    std::string folder(buffer, length);
    if (!folder.empty() && folder.back() == '\\') folder.pop_back();
    return folder;
}

std::string ReadAll(const std::string& path) { return platform::testing::ReadFile(path); }

TEST(Win32Clock, CounterAdvancesAtItsFrequencyAcrossASleep) {
    const int64_t frequency = platform::CounterFrequency();
    ASSERT_GT(frequency, 0);
    const int64_t before = platform::CounterValue();
    platform::SleepMs(50);
    const int64_t after = platform::CounterValue();
    const double seconds = static_cast<double>(after - before) / static_cast<double>(frequency);
    EXPECT_GE(seconds, 0.045);
    EXPECT_LT(seconds, 5.0);
}

TEST(Win32Clock, LocalTimeFieldsAreInRange) {
    const platform::LocalTime now = platform::GetLocalTime();
    EXPECT_GE(now.Year, 2000);
    EXPECT_TRUE(now.Month >= 1 && now.Month <= 12);
    EXPECT_TRUE(now.Day >= 1 && now.Day <= 31);
    EXPECT_TRUE(now.Hour >= 0 && now.Hour <= 23);
    EXPECT_TRUE(now.Second >= 0 && now.Second <= 59);
    EXPECT_TRUE(now.Millisecond >= 0 && now.Millisecond <= 999);
}

TEST(Win32Clock, TimerPeriodRequestsAreCounted) {
    const int start = platform::TimerPeriodRequests();
    platform::RequestTimerPeriod();
    platform::RequestTimerPeriod();
    EXPECT_EQ(platform::TimerPeriodRequests(), start + 2);
    platform::ReleaseTimerPeriod();
    platform::ReleaseTimerPeriod();
    EXPECT_EQ(platform::TimerPeriodRequests(), start);
}

TEST(Win32Mutex, OwnerTakesItAgainOthersTimeOutUntilFullyReleased) {
    const std::string name = UniqueName("mutex");
    platform::NamedMutex a(name);
    platform::NamedMutex b(name);
    ASSERT_EQ(a.Wait(0), platform::WaitResult::Acquired);
    ASSERT_EQ(a.Wait(0), platform::WaitResult::Acquired);  // recursion

    auto fromOtherThread = [&](int timeoutMs) {
        platform::WaitResult result = platform::WaitResult::Failed;
        bool released = true;
        std::thread([&] {
            result = b.Wait(timeoutMs);
            if (result != platform::WaitResult::Timeout) b.Release();
            else released = b.Release();
        }).join();
        return std::make_pair(result, released);
    };
    auto [first, foreignRelease] = fromOtherThread(20);
    EXPECT_EQ(first, platform::WaitResult::Timeout);
    EXPECT_FALSE(foreignRelease);  // a release by a thread that does not own it does nothing

    EXPECT_TRUE(a.Release());
    EXPECT_EQ(fromOtherThread(20).first, platform::WaitResult::Timeout);  // one count left
    EXPECT_TRUE(a.Release());
    EXPECT_FALSE(a.Release());
    EXPECT_EQ(fromOtherThread(20).first, platform::WaitResult::Acquired);
}

TEST(Win32Mutex, AThreadEndingWhileOwningItAbandonsIt) {
    const std::string name = UniqueName("abandon");
    platform::NamedMutex m(name);
    std::thread([&] { ASSERT_EQ(m.Wait(0), platform::WaitResult::Acquired); }).join();
    EXPECT_EQ(m.Wait(1000), platform::WaitResult::Abandoned);
    EXPECT_TRUE(m.Release());
    EXPECT_EQ(m.Wait(0), platform::WaitResult::Acquired);
    EXPECT_TRUE(m.Release());
}

TEST(Win32Files, CreateTruncateWritesWholeRecordsAndSharesTheFile) {
    const std::string path = TempFolder() + platform::PathSeparator + UniqueName("file") + ".Log";
    {
        platform::File old = platform::File::CreateTruncate(path);
        ASSERT_TRUE(old.IsOpen());
        ASSERT_TRUE(old.Write("stale contents that must go", 27));
    }
    platform::File file = platform::File::CreateTruncate(path);
    ASSERT_TRUE(file.IsOpen());
    const std::string big(300000, 'x');
    ASSERT_TRUE(file.Write("one\r\n", 5));
    ASSERT_TRUE(file.Write(big.data(), big.size()));
    // Another reader may open it while it is held for writing.
    EXPECT_TRUE(platform::CanOpenForReading(path));
    EXPECT_EQ(ReadAll(path), "one\r\n" + big);

    platform::File moved = std::move(file);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_TRUE(moved.IsOpen());
    moved.Close();
    EXPECT_FALSE(moved.Write("x", 1));
    EXPECT_TRUE(::DeleteFileA(path.c_str()));
    EXPECT_FALSE(platform::CanOpenForReading(path));
}

// A CR LF line must reach standard output as CR LF, not CR CR LF.
TEST(Win32Files, StandardStreamsAreInBinaryMode) {
    EXPECT_EQ(::_setmode(::_fileno(stdout), _O_BINARY), _O_BINARY);
    EXPECT_EQ(::_setmode(::_fileno(stderr), _O_BINARY), _O_BINARY);
}

TEST(Win32Files, CurrentDirectoryAndDrive) {
    const std::string start = platform::GetCurrentDir();
    ASSERT_FALSE(start.empty());
    const std::string temp = TempFolder();
    ASSERT_TRUE(platform::IsDirectory(temp));
    EXPECT_FALSE(platform::IsDirectory(temp + "\\no such folder here"));
    EXPECT_FALSE(platform::SetCurrentDir(""));
    ASSERT_TRUE(platform::SetCurrentDir(temp));
    EXPECT_EQ(::_stricmp(platform::GetCurrentDir().c_str(), temp.c_str()), 0);
    EXPECT_TRUE(platform::SelectDrive(start[0]));
    EXPECT_FALSE(platform::SelectDrive('1'));
    ASSERT_TRUE(platform::SetCurrentDir(start));
}

TEST(Win32SingleInstance, OneClaimPerNameUntilReleased) {
    const std::string name = UniqueName("Protect");
    platform::SingleInstance first, second;
    ASSERT_EQ(first.Claim(name), platform::ClaimResult::Claimed);
    EXPECT_EQ(second.Claim(name), platform::ClaimResult::AlreadyClaimed);
    EXPECT_FALSE(second.Held());
    platform::SingleInstance moved = std::move(first);
    EXPECT_EQ(second.Claim(name), platform::ClaimResult::AlreadyClaimed);
    moved.Release();
    EXPECT_EQ(second.Claim(name), platform::ClaimResult::Claimed);
    EXPECT_EQ(platform::SingleInstance().Claim(""), platform::ClaimResult::Failed);
    EXPECT_EQ(platform::SingleInstance().Claim(std::string(108, 'n')), platform::ClaimResult::Failed);
    // A backslash would reach another namespace (Global\ is the machine's).
    EXPECT_EQ(platform::SingleInstance().Claim("Global\\" + name), platform::ClaimResult::Failed);
}

TEST(Win32Process, StartsTheGivenProgramAndTerminatesIt) {
    char system[MAX_PATH] = {};
    ::GetSystemDirectoryA(system, sizeof system);
    const std::string ping = std::string(system) + "\\cmd.exe";
    platform::ProcessHandle handle;
    EXPECT_FALSE(platform::StartProcess("no such program.exe", "x", true, handle));
    EXPECT_TRUE(handle.Empty());
    // The argument is the whole command line: cmd.exe waits on its own input.
    ASSERT_TRUE(platform::StartProcess(ping, "cmd.exe /c pause > nul", true, handle));
    ASSERT_FALSE(handle.Empty());
    HANDLE watch = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, static_cast<DWORD>(handle.Pid()));
    ASSERT_NE(watch, nullptr);
    handle.Terminate(1);
    EXPECT_TRUE(handle.Empty());
    ASSERT_EQ(::WaitForSingleObject(watch, 5000), WAIT_OBJECT_0);
    DWORD code = 0;
    ::GetExitCodeProcess(watch, &code);
    EXPECT_EQ(code, 1u);
    ::CloseHandle(watch);
    handle.Terminate(1);  // an empty record: nothing happens
}

TEST(Win32Process, DetachedStartsQuoteTheirArgumentsAndKeepNothing) {
    const std::string marker = TempFolder() + "\\" + UniqueName("detached") + ".txt";
    // An argument with blanks reaches cmd.exe as one argument, quoted.
    ASSERT_TRUE(platform::StartDetached({"cmd.exe", "/c", "echo done with blanks>" + marker}));
    bool written = false;
    for (int i = 0; i < 100 && !written; ++i) {
        ::Sleep(50);
        written = ReadAll(marker).find("done with blanks") != std::string::npos;
    }
    EXPECT_TRUE(written);
    ::DeleteFileA(marker.c_str());
    EXPECT_FALSE(platform::StartDetached({"no such program here.exe"}));
    EXPECT_FALSE(platform::StartDetached({}));
}

TEST(Win32Process, BatchFileRunsUnderCmdInTheCurrentFolder) {
    // Blanks and an ampersand in the folder: the path must reach cmd.exe whole.
    const std::string folder = TempFolder() + "\\" + UniqueName("batch & more");
    ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
    const std::string script = folder + "\\Windriver Load.bat";
    {
        std::ofstream out(script, std::ios::binary);
        out << "@echo off\r\necho ran %~n0> marker.txt\r\n";
    }
    const std::string before = platform::GetCurrentDir();
    ASSERT_TRUE(platform::SetCurrentDir(folder));
    const bool started = platform::StartBatchFile(script);
    ASSERT_TRUE(platform::SetCurrentDir(before));
    ASSERT_TRUE(started);
    const std::string marker = folder + "\\marker.txt";
    bool written = false;
    for (int i = 0; i < 200 && !written; ++i) {
        ::Sleep(50);
        written = ReadAll(marker).find("ran Windriver Load") != std::string::npos;
    }
    EXPECT_TRUE(written) << ReadAll(marker);
    EXPECT_FALSE(platform::StartBatchFile(""));
    EXPECT_FALSE(platform::StartBatchFile("C:\\a\"b.bat"));
    for (int i = 0; i < 100 && ::GetFileAttributesA(marker.c_str()) != INVALID_FILE_ATTRIBUTES; ++i) {
        if (::DeleteFileA(marker.c_str())) break;
        ::Sleep(50);
    }
    ::DeleteFileA(script.c_str());
    ::RemoveDirectoryA(folder.c_str());
}

TEST(Win32Process, PriorityClassesAreSetOnTheProcess) {
    ASSERT_TRUE(platform::SetProcessPriority(platform::PriorityClass::High));
    EXPECT_EQ(::GetPriorityClass(::GetCurrentProcess()), static_cast<DWORD>(HIGH_PRIORITY_CLASS));
    ASSERT_TRUE(platform::SetProcessPriority(platform::PriorityClass::Normal));
    EXPECT_EQ(::GetPriorityClass(::GetCurrentProcess()), static_cast<DWORD>(NORMAL_PRIORITY_CLASS));
    EXPECT_EQ(platform::CurrentProcessId(), ::GetCurrentProcessId());
}

TEST(Win32SysInfo, QueriesAnswerWithPlausibleFigures) {
    platform::VersionInfo version;
    ASSERT_TRUE(platform::GetVersionInfo(version));
    EXPECT_LE(version.PlatformId, 2u);
    EXPECT_GE(version.Major, 4u);

    platform::MemoryStatus memory;
    ASSERT_TRUE(platform::GetMemoryStatus(memory));
    EXPECT_GT(memory.TotalPhys, 0u);
    EXPECT_LE(memory.AvailPhys, memory.TotalPhys);
    EXPECT_LE(memory.TotalVirtual, uint64_t{4} << 30);  // a 32-bit process

    char system[MAX_PATH] = {};
    ::GetSystemDirectoryA(system, sizeof system);
    uint64_t total = 0, free = 0;
    ASSERT_TRUE(platform::GetDriveSpace(system[0], total, free));
    EXPECT_GT(total, 0u);
    EXPECT_LE(free, total);
    EXPECT_EQ(platform::GetDriveType(system[0]), DRIVE_FIXED);
    EXPECT_FALSE(platform::GetDriveSpace('?', total, free));

    platform::SystemInfo info;
    ASSERT_TRUE(platform::GetSystemInfo(info));
    EXPECT_GE(info.NumberOfProcessors, 1u);
    EXPECT_EQ(info.Architecture, 0);  // the 32-bit view: Intel
    EXPECT_EQ(info.PageSize, 4096u);
}

TEST(Win32Registry, ReadsTheProcessorKeyAndRefusesMissingOnes) {
    platform::RegistryKey key;
    ASSERT_TRUE(platform::OpenRegistryKey(platform::RegistryRoot::LocalMachine,
                                          "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", key));
    auto mhz = key.Values.find("~MHz");
    ASSERT_NE(mhz, key.Values.end());
    EXPECT_EQ(mhz->second.Type, platform::RegistryType::Dword);
    EXPECT_EQ(mhz->second.Data.size(), 4u);
    EXPECT_FALSE(platform::OpenRegistryKey(platform::RegistryRoot::LocalMachine, "SOFTWARE\\No\\Such\\Key\\Here", key));
    EXPECT_EQ(platform::StringValue("ab").Data, std::string("ab\0", 3));
    EXPECT_EQ(platform::DwordValue(0x01020304).Data, std::string("\x04\x03\x02\x01", 4));
}

TEST(Win32Tone, ATonesLastsAtLeastItsDuration) {
    for (int durationMs : {10, 60}) {
        const int64_t before = platform::CounterValue();
        platform::PlayTone(440, durationMs);
        const int64_t after = platform::CounterValue();
        EXPECT_GE((after - before) * 1000 / platform::CounterFrequency(), durationMs - 1) << durationMs;
    }
    const int64_t before = platform::CounterValue();
    platform::SilentWait(30);
    EXPECT_GE((platform::CounterValue() - before) * 1000 / platform::CounterFrequency(), 29);
}

}  // namespace
