// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin app -- starting the real quorrin.exe and working its windows from
// another process: shared by its tests and the screenshot tool.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace programdriver {

// The folder of this executable, with a trailing separator; quorrin.exe is
// built beside it.
inline std::string ExeFolder() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    const std::size_t slash = folder.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

// A fresh, empty folder under the system's temporary folder.
inline std::string FreshFolder(const std::string& stem) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    for (unsigned n = 0;; ++n) {
        const std::string folder = std::string(temp) + stem + std::to_string(GetCurrentProcessId()) + "-" +
                                   std::to_string(GetTickCount()) + "-" + std::to_string(n);
        if (CreateDirectoryA(folder.c_str(), nullptr)) return folder;
        if (GetLastError() != ERROR_ALREADY_EXISTS) return std::string();
    }
}

// Polls until the condition holds or the time runs out.
template <typename Condition>
bool WaitFor(Condition condition, int timeoutMs = 60000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

inline std::string ClassOf(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

// The text of a window of any process; empty when it does not answer in time.
inline std::string TextOf(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, 5000, &copied))
        return {};
    text.resize(static_cast<std::size_t>(copied));
    return text;
}

struct WindowSearch {
    DWORD process;
    const char* className;
    std::vector<HWND> found;
};

inline BOOL CALLBACK CollectWindow(HWND window, LPARAM data) {
    auto& s = *reinterpret_cast<WindowSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == s.process && (s.className == nullptr || ClassOf(window) == s.className)) s.found.push_back(window);
    return TRUE;
}

// The top-level windows of a process, with the given class when one is named.
inline std::vector<HWND> WindowsOf(DWORD process, const char* className = nullptr) {
    WindowSearch search{process, className, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

inline HWND MainWindowOf(DWORD process) {
    const std::vector<HWND> found = WindowsOf(process, "TMainForm");
    return found.empty() ? nullptr : found.front();
}

// A message box: its caption and the text it shows.
struct Box {
    std::string caption;
    std::string text;
};

// The message boxes a process shows, answered with OK.
inline std::vector<Box> AnswerBoxes(DWORD process) {
    std::vector<Box> boxes;
    for (HWND box : WindowsOf(process, "#32770")) {
        if (!IsWindowVisible(box)) continue;
        Box seen{TextOf(box), {}};
        for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
            if (ClassOf(child) == "Static" && seen.text.empty()) seen.text = TextOf(child);
        }
        boxes.push_back(seen);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
    return boxes;
}

// quorrin.exe started in the given folder, ended (if still running) when
// this goes.
class Program {
public:
    explicit Program(const std::string& folder) {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        std::string command = "\"" + ExeFolder() + "quorrin.exe\"";
        started_ = CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                                  &startup, &info_) != FALSE;
    }
    ~Program() {
        if (!started_) return;
        if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(info_.hProcess, 99);
            WaitForSingleObject(info_.hProcess, 10000);
        }
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool Started() const { return started_; }
    DWORD Id() const { return info_.dwProcessId; }
    bool Ended() const { return WaitForSingleObject(info_.hProcess, 0) == WAIT_OBJECT_0; }
    // The exit status once it has ended, otherwise STILL_ACTIVE.
    DWORD ExitStatus() const {
        DWORD status = STILL_ACTIVE;
        GetExitCodeProcess(info_.hProcess, &status);
        return status;
    }
    HWND Window() const { return MainWindowOf(info_.dwProcessId); }
    HWND Memo() const {
        HWND panel = FindWindowExA(Window(), nullptr, "TPanel", nullptr);
        return panel == nullptr ? nullptr : FindWindowExA(panel, nullptr, "Edit", nullptr);
    }
    HWND Button() const { return FindWindowExA(Window(), nullptr, "Button", nullptr); }

private:
    bool started_ = false;
    PROCESS_INFORMATION info_{};
};

// Reads a whole file; empty when it cannot be read.
inline std::string ReadWholeFile(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string content;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
    CloseHandle(file);
    return content;
}

}  // namespace programdriver
