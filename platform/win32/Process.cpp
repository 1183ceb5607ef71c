// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- child processes, priority classes and the WOW64
// question through the Win32 process services.
#include "platform/Process.h"

#include <windows.h>

#include <cstdint>
#include <utility>

namespace platform {

namespace {

HANDLE AsHandle(int value) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(value)); }
int FromHandle(HANDLE handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle)); }

// The calling process's own start-up information (show state, placement), so
// a started program opens the way this one was asked to.
STARTUPINFOA CallerStartupInfo() {
    STARTUPINFOA info{};
    info.cb = sizeof info;
    ::GetStartupInfoA(&info);
    info.cb = sizeof info;
    info.lpReserved = nullptr;
    info.cbReserved2 = 0;
    info.lpReserved2 = nullptr;
    return info;
}

// One argument as the Microsoft C runtime splits a command line back.
std::string Quoted(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    return out + "\"";
}

// The folder a started program runs in: null for the caller's own.
const char* FolderOf(const Folder& in) { return in.IsOpen() ? in.Path().c_str() : nullptr; }

}  // namespace

ProcessHandle::~ProcessHandle() { Reset(); }

ProcessHandle::ProcessHandle(ProcessHandle&& other) noexcept
    : pidfd_(std::exchange(other.pidfd_, -1)), pid_(std::exchange(other.pid_, -1)) {}

ProcessHandle& ProcessHandle::operator=(ProcessHandle&& other) noexcept {
    if (this != &other) {
        Reset();
        pidfd_ = std::exchange(other.pidfd_, -1);
        pid_ = std::exchange(other.pid_, -1);
    }
    return *this;
}

// The process handle keeps the process object alive, so the call can never
// reach another process that has taken the id.
void ProcessHandle::Terminate(int exitCode) {
    if (pidfd_ < 0) return;
    ::TerminateProcess(AsHandle(pidfd_), static_cast<UINT>(exitCode));
    Reset();
}

void ProcessHandle::Reset() {
    if (pidfd_ >= 0) ::CloseHandle(AsHandle(pidfd_));
    pidfd_ = -1;
    pid_ = -1;
}

// The argument is the whole command line, as the caller built it: the
// program's name is not put in front of it.
bool StartProcess(const std::string& programFile, const std::string& argument, bool idle,
                  ProcessHandle& handle, const Folder& in) {
    if (programFile.empty()) return false;
    // CreateProcessA completes a relative program file from the caller's
    // current directory, not from the new process's: it is looked for in
    // `in` by joining it here.
    const bool relative = !(programFile[0] == '\\' || programFile[0] == '/' ||
                            (programFile.size() > 1 && programFile[1] == ':'));
    const std::string program =
        relative && in.IsOpen() ? in.Path() + (IsFolderBreak(in.Path().back()) ? "" : "\\") + programFile
                                : programFile;
    STARTUPINFOA startup = CallerStartupInfo();
    PROCESS_INFORMATION started{};
    std::string commandLine = argument;  // CreateProcessA may write into it
    const DWORD flags = CREATE_DEFAULT_ERROR_MODE | (idle ? IDLE_PRIORITY_CLASS : 0);
    if (!::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, flags, nullptr, FolderOf(in),
                          &startup, &started))
        return false;
    // Said again on the process itself: not every system takes the class
    // from the creation flags (wine does not).
    if (idle) ::SetPriorityClass(started.hProcess, IDLE_PRIORITY_CLASS);
    ::CloseHandle(started.hThread);
    handle.Reset();
    handle.pidfd_ = FromHandle(started.hProcess);
    handle.pid_ = static_cast<int>(started.dwProcessId);
    return true;
}

bool StartDetached(const std::vector<std::string>& argv, const Folder& in) {
    if (argv.empty() || argv[0].empty()) return false;
    std::string commandLine;
    for (const std::string& arg : argv) commandLine += (commandLine.empty() ? "" : " ") + Quoted(arg);
    STARTUPINFOA startup = CallerStartupInfo();
    PROCESS_INFORMATION started{};
    if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_DEFAULT_ERROR_MODE, nullptr,
                          FolderOf(in), &startup, &started))
        return false;
    // Nothing of it is kept: the handles go, the process runs on.
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    return true;
}

// A batch file is not a program: cmd.exe runs it. With /s the outer quotes
// are taken off whole, so a path with blanks or "&" stays one path; /d
// keeps the machine's AutoRun commands out of it.
bool StartBatchFile(const std::string& path, const Folder& in) {
    if (path.empty() || path.find('"') != std::string::npos) return false;
    char interpreter[MAX_PATH + 1] = {};
    const DWORD length = ::GetEnvironmentVariableA("ComSpec", interpreter, sizeof interpreter);
    std::string program = length > 0 && length < sizeof interpreter ? std::string(interpreter, length) : "";
    if (program.empty()) {
        char system[MAX_PATH + 1] = {};
        const UINT size = ::GetSystemDirectoryA(system, sizeof system);
        if (size == 0 || size >= sizeof system) return false;
        program = std::string(system, size) + "\\cmd.exe";
    }
    std::string commandLine = "cmd.exe /d /s /c \"\"" + path + "\"\"";
    STARTUPINFOA startup = CallerStartupInfo();
    PROCESS_INFORMATION started{};
    if (!::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_DEFAULT_ERROR_MODE,
                          nullptr, FolderOf(in), &startup, &started))
        return false;
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    return true;
}

bool SetProcessPriority(PriorityClass priority) {
    DWORD value = NORMAL_PRIORITY_CLASS;
    switch (priority) {
        case PriorityClass::Idle: value = IDLE_PRIORITY_CLASS; break;
        case PriorityClass::Normal: value = NORMAL_PRIORITY_CLASS; break;
        case PriorityClass::High: value = HIGH_PRIORITY_CLASS; break;
        case PriorityClass::Realtime: value = REALTIME_PRIORITY_CLASS; break;
    }
    return ::SetPriorityClass(::GetCurrentProcess(), value) != 0;
}

int CurrentNiceValue() {
    switch (::GetPriorityClass(::GetCurrentProcess())) {
        case IDLE_PRIORITY_CLASS: return NiceValueFor(PriorityClass::Idle);
        case HIGH_PRIORITY_CLASS: return NiceValueFor(PriorityClass::High);
        case REALTIME_PRIORITY_CLASS: return NiceValueFor(PriorityClass::Realtime);
        default: return NiceValueFor(PriorityClass::Normal);
    }
}

// Looked up at run time: Windows releases before XP SP2 lack the function,
// and its absence means no WOW64.
bool IsWow64Process() {
    using IsWow64Function = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel = ::GetModuleHandleA("kernel32");
    if (kernel == nullptr) return false;
    auto function = reinterpret_cast<IsWow64Function>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "IsWow64Process")));
    if (function == nullptr) return false;
    BOOL answer = 0;
    function(::GetCurrentProcess(), &answer);
    return answer == 1;
}

unsigned CurrentProcessId() {
    return static_cast<unsigned>(::GetCurrentProcessId());
}

}  // namespace platform
