// SPDX-License-Identifier: GPL-2.0-or-later
// ViewLogs on Windows: the window and its timer.
#include "viewlogs/win32/ViewerWindow.h"

#include <algorithm>
#include <memory>

#include "viewlogs/core/LogFollower.h"
#include "viewlogs/win32/NativeFile.h"

namespace viewlogs {

namespace {

constexpr UINT_PTR PollTimer = 1;
// Posted when the file holds more than one poll reads, so that the rest
// follows without waiting for the timer.
constexpr UINT MoreToRead = WM_APP + 1;
constexpr int StatusHeight = 22;

struct Viewer {
    explicit Viewer(const std::string& path) : follower(path, NativeOpener()) {}

    LogFollower follower;
    HWND window = nullptr;
    HWND text = nullptr;
    HWND status = nullptr;
    HFONT font = nullptr;
    bool shown = false;  // the view holds the file (not the waiting notice)
    std::string statusText;
};

// Whether the last line is in view: then new text is scrolled to, else the
// user's place (scroll position and selection) is kept.
bool AtEnd(HWND text) {
    SCROLLINFO bar{};
    bar.cbSize = sizeof bar;
    bar.fMask = SIF_ALL;
    if (!GetScrollInfo(text, SB_VERT, &bar)) return true;
    return bar.nPos + static_cast<int>(std::max<UINT>(bar.nPage, 1)) > bar.nMax;
}

void Append(HWND text, const std::string& crlf) {
    const bool atEnd = AtEnd(text);
    DWORD from = 0;
    DWORD to = 0;
    SendMessageA(text, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
    const LRESULT firstLine = SendMessageA(text, EM_GETFIRSTVISIBLELINE, 0, 0);
    const int length = GetWindowTextLengthA(text);
    SendMessageA(text, EM_SETSEL, length, length);
    SendMessageA(text, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(crlf.c_str()));
    if (atEnd) {
        const int end = GetWindowTextLengthA(text);
        SendMessageA(text, EM_SETSEL, end, end);
        SendMessageA(text, EM_SCROLLCARET, 0, 0);
        return;
    }
    SendMessageA(text, EM_SETSEL, from, to);
    const LRESULT nowLine = SendMessageA(text, EM_GETFIRSTVISIBLELINE, 0, 0);
    SendMessageA(text, EM_LINESCROLL, 0, firstLine - nowLine);
}

void SetStatus(Viewer& viewer) {
    std::string line = StatusText(viewer.follower);
    // Unchanged text is not set again: the line would flicker every tick.
    if (line == viewer.statusText) return;
    viewer.statusText = std::move(line);
    SetWindowTextA(viewer.status, viewer.statusText.c_str());
}

void Refresh(Viewer& viewer) {
    const PollResult polled = viewer.follower.Poll();
    switch (polled.kind) {
        case PollKind::Missing:
            if (viewer.shown) SetWindowTextA(viewer.text, "");
            viewer.shown = false;
            break;
        case PollKind::Started:
        case PollKind::Restarted:
            SetWindowTextA(viewer.text, "");
            viewer.shown = true;
            break;
        case PollKind::Appended:
        case PollKind::Unchanged:
            break;
    }
    if (!polled.text.empty()) Append(viewer.text, WithCrLf(polled.text));
    SetStatus(viewer);
    if (polled.more) PostMessageA(viewer.window, MoreToRead, 0, 0);
}

void Layout(const Viewer& viewer) {
    RECT client;
    GetClientRect(viewer.window, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    const int textHeight = std::max(height - StatusHeight, 0);
    MoveWindow(viewer.text, 0, 0, width, textHeight, TRUE);
    MoveWindow(viewer.status, 4, textHeight + 3, std::max(width - 8, 0), StatusHeight - 4, TRUE);
}

bool Create(Viewer& viewer, HWND window) {
    const HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(window, GWLP_HINSTANCE));
    viewer.window = window;
    viewer.text = CreateWindowExA(
        WS_EX_CLIENTEDGE, "EDIT", "",
        WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL |
            ES_AUTOHSCROLL | ES_NOHIDESEL,
        0, 0, 0, 0, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(TextControlId)), instance, nullptr);
    viewer.status = CreateWindowExA(
        0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0, 0, 0, 0, window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(StatusControlId)), instance, nullptr);
    if (!viewer.text || !viewer.status) return false;
    // The control's default limit (about 32 KB) would cut a long log.
    SendMessageA(viewer.text, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
    viewer.font =
        CreateFontA(-13, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, "Courier New");
    const HGDIOBJ font = viewer.font ? static_cast<HGDIOBJ>(viewer.font) : GetStockObject(ANSI_FIXED_FONT);
    SendMessageA(viewer.text, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SendMessageA(viewer.status, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
                 FALSE);
    Layout(viewer);
    Refresh(viewer);
    SetTimer(window, PollTimer, PollMs, nullptr);
    return true;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lparam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* viewer = reinterpret_cast<Viewer*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!viewer) return DefWindowProcA(window, message, wparam, lparam);
    switch (message) {
        case WM_CREATE:
            return Create(*viewer, window) ? 0 : -1;
        case WM_SIZE:
            Layout(*viewer);
            return 0;
        case WM_SETFOCUS:
            SetFocus(viewer->text);
            return 0;
        case WM_TIMER:
            if (wparam == PollTimer) Refresh(*viewer);
            return 0;
        case MoreToRead:
            Refresh(*viewer);
            return 0;
        case WM_CTLCOLORSTATIC:
            // The read-only EDIT would be grey like the status line; text on white reads better.
            if (reinterpret_cast<HWND>(lparam) == viewer->text) {
                SetBkColor(reinterpret_cast<HDC>(wparam), GetSysColor(COLOR_WINDOW));
                return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
            }
            break;
        case WM_DESTROY:
            KillTimer(window, PollTimer);
            if (viewer->font) DeleteObject(viewer->font);
            viewer->font = nullptr;
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace

int RunViewer(HINSTANCE instance, const std::string& path, int show) {
    WNDCLASSA type{};
    type.lpfnWndProc = WindowProc;
    type.hInstance = instance;
    type.hCursor = LoadCursor(nullptr, IDC_ARROW);
    type.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
    type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    type.lpszClassName = ViewerClassName;
    if (!RegisterClassA(&type)) return 2;

    auto viewer = std::make_unique<Viewer>(path);
    const std::string title = "ViewLogs - " + path;
    const HWND window = CreateWindowExA(0, ViewerClassName, title.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                        CW_USEDEFAULT, 900, 600, nullptr, nullptr, instance, viewer.get());
    if (!window) return 2;
    ShowWindow(window, show);
    UpdateWindow(window);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

}  // namespace viewlogs
