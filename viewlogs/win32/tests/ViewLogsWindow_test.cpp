// SPDX-License-Identifier: GPL-2.0-or-later
// ViewLogs.exe as Quorrin starts it: on a path with a blank, its window read
// from outside while the file is written, cut, removed; ended with code 1.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "viewlogs/win32/ViewerWindow.h"

namespace fs = std::filesystem;

namespace {

constexpr DWORD WaitMs = 30000;

// Polls until `done` holds or the time is up.
bool WaitFor(const std::function<bool()>& done, DWORD ms = WaitMs) {
    const ULONGLONG until = GetTickCount64() + ms;
    while (!done()) {
        if (GetTickCount64() > until) return false;
        Sleep(20);
    }
    return true;
}

std::string TextOf(HWND control) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
        return "<no answer>";
    std::string text(length + 1, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, 5000, &copied))
        return "<no answer>";
    text.resize(copied);
    return text;
}

std::string ProgramFolder() {
    char name[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, name, MAX_PATH);
    std::string path(name, length);
    return path.substr(0, path.find_last_of("\\/") + 1);
}

// The log file, opened as Quorrin opens it: shared for reading and writing.
class Writer {
public:
    Writer(const std::string& path, DWORD disposition)
        : handle_(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              disposition, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~Writer() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    bool Append(const std::string& bytes) {
        if (handle_ == INVALID_HANDLE_VALUE) return false;
        SetFilePointer(handle_, 0, nullptr, FILE_END);
        DWORD written = 0;
        return WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
               written == bytes.size();
    }

private:
    HANDLE handle_;
};

class Viewer {
public:
    explicit Viewer(const std::string& path) {
        // As Quorrin starts it: program name, one blank, the path unquoted.
        std::string line = "\"" + ProgramFolder() + "ViewLogs.exe\" " + path;
        STARTUPINFOA start{};
        start.cb = sizeof start;
        started_ = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start,
                                  &process_);
        if (!started_) return;
        // The window is listed while it is still being created: wait until
        // it is shown, its controls there.
        WaitFor([this] {
            window_ = nullptr;
            EnumWindows(&Viewer::Match, reinterpret_cast<LPARAM>(this));
            if (!window_ || !IsWindowVisible(window_)) return false;
            text_ = GetDlgItem(window_, viewlogs::TextControlId);
            status_ = GetDlgItem(window_, viewlogs::StatusControlId);
            return text_ && status_;
        });
    }
    ~Viewer() {
        if (!started_) return;
        if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_.hProcess, 1);
            WaitForSingleObject(process_.hProcess, WaitMs);
        }
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }
    Viewer(const Viewer&) = delete;
    Viewer& operator=(const Viewer&) = delete;

    bool Ready() const { return started_ && window_ && text_ && status_; }
    std::string Title() const { return TextOf(window_); }
    std::string Text() const { return TextOf(text_); }
    std::string Status() const { return TextOf(status_); }
    HWND TextControl() const { return text_; }
    HANDLE Process() const { return process_.hProcess; }

private:
    static BOOL CALLBACK Match(HWND window, LPARAM self) {
        auto* viewer = reinterpret_cast<Viewer*>(self);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        char type[64] = {};
        GetClassNameA(window, type, sizeof type);
        if (owner != viewer->process_.dwProcessId || std::string(type) != viewlogs::ViewerClassName)
            return TRUE;
        viewer->window_ = window;
        return FALSE;
    }

    bool started_ = false;
    PROCESS_INFORMATION process_{};
    HWND window_ = nullptr;
    HWND text_ = nullptr;
    HWND status_ = nullptr;
};

class ViewLogsWindow : public testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("quorrin viewlogs " + std::to_string(GetCurrentProcessId()));
        fs::create_directories(folder_);
        path_ = (folder_ / "Quorrin.Log").string();
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    fs::path folder_;
    std::string path_;
};

}  // namespace

TEST_F(ViewLogsWindow, FollowsTheLogAsItIsWrittenCutAndRemoved) {
    auto writer = std::make_unique<Writer>(path_, CREATE_ALWAYS);
    ASSERT_TRUE(writer->Append("000000  first line\r\n"));
    Viewer viewer(path_);
    ASSERT_TRUE(viewer.Ready());
    EXPECT_EQ(viewer.Title(), "ViewLogs - " + path_);
    EXPECT_TRUE(WaitFor([&] { return viewer.Text() == "000000  first line\r\n"; })) << viewer.Text();
    EXPECT_TRUE(WaitFor([&] { return viewer.Status() == path_ + "  (1 lines, 20 bytes)"; }))
        << viewer.Status();

    // The writer keeps its handle and goes on writing while the viewer reads.
    ASSERT_TRUE(writer->Append("000001  sec"));
    ASSERT_TRUE(writer->Append("ond\r"));
    ASSERT_TRUE(writer->Append("\n"));
    EXPECT_TRUE(WaitFor([&] { return viewer.Text() == "000000  first line\r\n000001  second\r\n"; }))
        << viewer.Text();

    // Each program start creates the log anew, shorter than before.
    writer = std::make_unique<Writer>(path_, CREATE_ALWAYS);
    ASSERT_TRUE(writer->Append("new run\r\n"));
    EXPECT_TRUE(WaitFor([&] { return viewer.Text() == "new run\r\n"; })) << viewer.Text();

    writer.reset();
    ASSERT_TRUE(DeleteFileA(path_.c_str())) << GetLastError();
    EXPECT_TRUE(WaitFor([&] { return viewer.Status().find("does not exist") != std::string::npos; }))
        << viewer.Status();
    EXPECT_NE(viewer.Status().find(path_), std::string::npos);
    EXPECT_EQ(viewer.Text(), "");

    writer = std::make_unique<Writer>(path_, CREATE_ALWAYS);
    ASSERT_TRUE(writer->Append("back\r\n"));
    EXPECT_TRUE(WaitFor([&] { return viewer.Text() == "back\r\n"; })) << viewer.Text();

    ASSERT_TRUE(TerminateProcess(viewer.Process(), 1));
    ASSERT_EQ(WaitForSingleObject(viewer.Process(), WaitMs), WAIT_OBJECT_0);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(viewer.Process(), &code));
    EXPECT_EQ(code, 1u);
}

TEST_F(ViewLogsWindow, ShowsALongLogWholeAndKeepsTheReadersPlace) {
    std::string log;
    for (int i = 0; i < 20000; ++i) log += std::to_string(100000 + i) + "  a record of the long log\r\n";
    {
        Writer writer(path_, CREATE_ALWAYS);
        ASSERT_TRUE(writer.Append(log));
    }
    Viewer viewer(path_);
    ASSERT_TRUE(viewer.Ready());
    // Far past the control's default limit of about 32 KB.
    EXPECT_TRUE(WaitFor([&] { return viewer.Text().size() == log.size(); })) << viewer.Text().size();
    EXPECT_TRUE(viewer.Text() == log);
    EXPECT_TRUE(GetWindowLongA(viewer.TextControl(), GWL_STYLE) & ES_READONLY);
    EXPECT_TRUE(GetWindowLongA(viewer.TextControl(), GWL_STYLE) & ES_MULTILINE);

    // Shown from its end, and kept there as the log grows ...
    const HWND text = viewer.TextControl();
    const auto firstLine = [text] { return SendMessageA(text, EM_GETFIRSTVISIBLELINE, 0, 0); };
    const LRESULT atEnd = firstLine();
    EXPECT_GT(atEnd, 19000);
    Writer writer(path_, OPEN_EXISTING);
    std::string more;
    for (int i = 0; i < 50; ++i) more += "appended at the end\r\n";
    ASSERT_TRUE(writer.Append(more));
    log += more;
    EXPECT_TRUE(WaitFor([&] { return viewer.Text().size() == log.size(); })) << viewer.Text().size();
    EXPECT_EQ(firstLine(), atEnd + 50);
    // ... but a reader who scrolled up keeps their place.
    SendMessageA(text, EM_LINESCROLL, 0, -1000);
    const LRESULT reading = firstLine();
    ASSERT_LT(reading, atEnd);
    ASSERT_TRUE(writer.Append(more));
    log += more;
    EXPECT_TRUE(WaitFor([&] { return viewer.Text().size() == log.size(); })) << viewer.Text().size();
    EXPECT_EQ(firstLine(), reading);
}
