// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin app -- the Win32 main window: components, geometry, colours and
// fonts of the form, and the routing of its messages to the window's behaviour.
#include "app/win32/TMainForm.h"

#include <commdlg.h>

#include <algorithm>
#include <exception>

std::function<void(const std::string&, const std::string&)> TMainForm::PlainBoxHook;
std::function<std::string(const std::string&)> TMainForm::SaveFileHook;
HWND TMainForm::LiveHandle = nullptr;

namespace {

constexpr DWORD FormStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
constexpr DWORD FormExStyle = WS_EX_CONTROLPARENT;

HFONT CreateFormFont(bool bold) {
    // A negative height asks for the character height, as the form designed it.
    return CreateFontA(-11, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS,
                       "Arial");
}

// An edit control breaks lines only at CR LF; a lone LF would show as nothing.
std::string EditLines(const std::string& text) {
    std::string lines;
    lines.reserve(text.size() + text.size() / 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) lines += '\r';
        lines += text[i];
    }
    return lines;
}

void RegisterClasses(WNDPROC formProc, WNDPROC panelProc, WNDPROC findingsProc) {
    static bool registered = false;
    if (registered) return;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSEXA form{};
    form.cbSize = sizeof form;
    form.lpfnWndProc = formProc;
    form.hInstance = instance;
    form.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
    form.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    form.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    form.lpszClassName = MainFormClassName;
    RegisterClassExA(&form);

    WNDCLASSEXA panel{};
    panel.cbSize = sizeof panel;
    panel.lpfnWndProc = panelProc;
    panel.hInstance = instance;
    panel.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    panel.lpszClassName = PanelClassName;  // painted by the form, in its grey
    RegisterClassExA(&panel);

    WNDCLASSEXA findings{};
    findings.cbSize = sizeof findings;
    findings.lpfnWndProc = findingsProc;
    findings.hInstance = instance;
    findings.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    findings.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    findings.lpszClassName = FindingsFormClassName;
    RegisterClassExA(&findings);
    registered = true;
}

}  // namespace

TMainForm::TMainForm(ShellServices& services) : model_(*this, services) {
    BuildForm();
    model_.Construct();
}

TMainForm::~TMainForm() {
    destroying_ = true;
    if (hwnd_ != nullptr) DestroyWindow(hwnd_);
    if (FormFont != nullptr) DeleteObject(FormFont);
    if (ButtonFont != nullptr) DeleteObject(ButtonFont);
    if (panelBrush_ != nullptr) DeleteObject(panelBrush_);
    if (memoBrush_ != nullptr) DeleteObject(memoBrush_);
}

void TMainForm::BuildForm() {
    RegisterClasses(FormProc, PanelProc, FindingsProc);
    HINSTANCE instance = GetModuleHandleA(nullptr);
    FormFont = CreateFormFont(false);
    ButtonFont = CreateFormFont(true);
    panelBrush_ = CreateSolidBrush(RGB(128, 128, 128));
    memoBrush_ = CreateSolidBrush(RGB(0, 0, 0));

    MainMenu1 = CreateMenu();
    MenuFile = CreatePopupMenu();
    AppendMenuA(MenuFile, MF_STRING, MenuFileSaveBusId, SaveBusMenuCaption);
    AppendMenuA(MainMenu1, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(MenuFile), FileMenuCaption);
    MenuView = CreatePopupMenu();
    AppendMenuA(MenuView, MF_STRING, MenuViewErrorLogId, ErrorLogMenuCaption);
    AppendMenuA(MenuView, MF_STRING, MenuViewFindingsId, FindingsMenuCaption);
    AppendMenuA(MainMenu1, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(MenuView), ViewMenuCaption);

    // The outer size that leaves the client area at its designed size with
    // this system's frame, caption and menu bar.
    RECT outer{0, 0, ClientDesignWidth, ClientDesignHeight};
    AdjustWindowRectEx(&outer, FormStyle, TRUE, FormExStyle);
    hwnd_ = CreateWindowExA(FormExStyle, MainFormClassName, InitialCaption, FormStyle, FormLeft, FormTop,
                            outer.right - outer.left, outer.bottom - outer.top, nullptr, MainMenu1, instance,
                            this);
    if (hwnd_ == nullptr) return;
    LiveHandle = hwnd_;

    const FormRect button = DesignOf(FormComponent::ButtonSniff);
    ButtonSniff = CreateWindowExA(0, "BUTTON", SniffButtonCaption, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
                                  button.Left, button.Top, button.Width, button.Height, hwnd_,
                                  reinterpret_cast<HMENU>(ButtonSniffId), instance, nullptr);
    SendMessageA(ButtonSniff, WM_SETFONT, reinterpret_cast<WPARAM>(ButtonFont), FALSE);

    const FormRect label = DesignOf(FormComponent::LabelFindings);
    LabelFindings = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_CENTERIMAGE, label.Left,
                                    label.Top, label.Width, label.Height, hwnd_,
                                    reinterpret_cast<HMENU>(LabelFindingsId), instance, nullptr);
    SendMessageA(LabelFindings, WM_SETFONT, reinterpret_cast<WPARAM>(FormFont), FALSE);

    const FormRect panel = DesignOf(FormComponent::Panel4);
    Panel4 = CreateWindowExA(WS_EX_CONTROLPARENT, PanelClassName, "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN,
                             panel.Left, panel.Top, panel.Width, panel.Height, hwnd_,
                             reinterpret_cast<HMENU>(Panel4Id), instance, this);

    // No horizontal scroll bar and no automatic horizontal scrolling: long
    // lines wrap at the memo's width.
    const FormRect memo = DesignOf(FormComponent::MemoSnif);
    MemoSnif = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", "",
                               WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
                                   ES_WANTRETURN | ES_LEFT,
                               memo.Left, memo.Top, memo.Width, memo.Height, Panel4,
                               reinterpret_cast<HMENU>(MemoSnifId), instance, nullptr);
    SendMessageA(MemoSnif, WM_SETFONT, reinterpret_cast<WPARAM>(FormFont), FALSE);
    // A multiline edit stops at about 32 K characters by default, which
    // would cut a long report short; zero lifts the limit.
    SendMessageA(MemoSnif, EM_SETLIMITTEXT, 0, 0);
    const std::string initial = std::string(InitialMemoLine1) + "\r\n" + InitialMemoLine2 + "\r\n";
    SetWindowTextA(MemoSnif, initial.c_str());

    PlaceComponents();

    SetTimer(hwnd_, MasterTimerId, MasterTimerIntervalMs, nullptr);
    SetFocus(ButtonSniff);
}

HWND TMainForm::Window(FormComponent component) const {
    switch (component) {
        case FormComponent::ButtonSniff: return ButtonSniff;
        case FormComponent::LabelFindings: return LabelFindings;
        case FormComponent::Panel4: return Panel4;
        case FormComponent::MemoSnif: return MemoSnif;
    }
    return nullptr;
}

void TMainForm::PlaceComponents() {
    for (const AnchoredComponent& a : FormLayout) {
        const HWND window = Window(a.Component);
        RECT parent{};
        GetClientRect(GetParent(window), &parent);
        const FormRect r = PlaceInParent(a, parent.right, parent.bottom);
        MoveWindow(window, r.Left, r.Top, r.Width, r.Height, TRUE);
    }
}

void TMainForm::Show() { ShowWindow(hwnd_, SW_SHOW); }

bool TMainForm::PreTranslate(MSG& message) {
    if (hwnd_ == nullptr || !IsWindow(hwnd_)) return false;
    if (message.message < WM_KEYFIRST || message.message > WM_KEYLAST) return false;
    if (message.hwnd != hwnd_ && !IsChild(hwnd_, message.hwnd)) return false;
    return IsDialogMessageA(hwnd_, &message) != FALSE;
}

int TMainForm::RunMessageLoop() {
    MSG message{};
    for (;;) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) break;
        if (PreTranslate(message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

LRESULT CALLBACK TMainForm::FormProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        auto* form = static_cast<TMainForm*>(create->lpCreateParams);
        form->hwnd_ = hwnd;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<TMainForm*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (form == nullptr) return DefWindowProcA(hwnd, message, wParam, lParam);
    // An exception cannot be carried through the system's frames. Ending
    // here, with it still current, runs the terminate handler at once.
    try {
        return form->Dispatch(message, wParam, lParam);
    } catch (...) {
        std::terminate();
    }
}

LRESULT CALLBACK TMainForm::PanelProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* form = reinterpret_cast<TMainForm*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (form == nullptr) return DefWindowProcA(hwnd, message, wParam, lParam);
    try {
        return form->PanelDispatch(hwnd, message, wParam, lParam);
    } catch (...) {
        std::terminate();
    }
}

LRESULT TMainForm::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_AFTERSHOW:
            model_.AfterShow();
            return 0;
        case WM_SHOWWINDOW:
            // A zero status is a ShowWindow call; the others are the system
            // showing it again (a restore, an owner un-minimized).
            if (wParam != FALSE && lParam == 0) model_.FormShow();
            break;
        case WM_TIMER:
            if (wParam == MasterTimerId) {
                model_.MasterTimerTimer();
                return 0;
            }
            break;
        case WM_COMMAND:
            if (LOWORD(wParam) == ButtonSniffId && HIWORD(wParam) == BN_CLICKED) {
                model_.ButtonSniffClick();
                return 0;
            }
            if (lParam == 0 && LOWORD(wParam) == MenuViewErrorLogId) {
                model_.MenuViewErrorLogClick();
                return 0;
            }
            if (lParam == 0 && LOWORD(wParam) == MenuFileSaveBusId) {
                model_.MenuFileSaveBusClick();
                return 0;
            }
            if (lParam == 0 && LOWORD(wParam) == MenuViewFindingsId) {
                model_.MenuViewFindingsClick();
                return 0;
            }
            break;
        case WM_CTLCOLORSTATIC:
            // The count label: white on the form's black.
            if (reinterpret_cast<HWND>(lParam) == LabelFindings) {
                HDC dc = reinterpret_cast<HDC>(wParam);
                SetTextColor(dc, RGB(255, 255, 255));
                SetBkColor(dc, RGB(0, 0, 0));
                return reinterpret_cast<LRESULT>(memoBrush_);
            }
            break;
        case WM_SIZE:
            PlaceComponents();
            return 0;
        case WM_CLOSE:
            Close();
            return 0;
        case WM_QUERYENDSESSION:
            return TRUE;  // a logoff or shutdown may always go ahead, as a close may
        case WM_ENDSESSION:
            // The session ends: the process may be ended as soon as this
            // returns, so the close's steps run here and now.
            if (wParam != FALSE) Close();
            return 0;
        case WM_DESTROY:
            KillTimer(hwnd_, MasterTimerId);
            if (FindingsForm != nullptr) DestroyWindow(FindingsForm);
            FindingsForm = FindingsText = nullptr;
            if (LiveHandle == hwnd_) LiveHandle = nullptr;
            if (!destroying_) PostQuitMessage(0);
            return 0;
        case WM_NCDESTROY:
            SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
            hwnd_ = nullptr;
            break;
        default:
            break;
    }
    return DefWindowProcA(hwnd_, message, wParam, lParam);
}

void TMainForm::Close() {
    bool canClose = true;
    model_.FormCloseQuery(canClose);
    if (canClose) DestroyWindow(hwnd_);
}

LRESULT TMainForm::PanelDispatch(HWND panel, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_ERASEBKGND: {
            RECT area{};
            GetClientRect(panel, &area);
            FillRect(reinterpret_cast<HDC>(wParam), &area, panelBrush_);
            return 1;
        }
        case WM_PAINT: {
            // The raised bevel of a panel, one pixel wide.
            PAINTSTRUCT paint{};
            HDC dc = BeginPaint(panel, &paint);
            RECT area{};
            GetClientRect(panel, &area);
            DrawEdge(dc, &area, BDR_RAISEDINNER, BF_RECT);
            EndPaint(panel, &paint);
            return 0;
        }
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORSTATIC: {
            HDC dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, RGB(255, 255, 255));
            SetBkColor(dc, RGB(0, 0, 0));
            return reinterpret_cast<LRESULT>(memoBrush_);
        }
        case WM_NCDESTROY:
            SetWindowLongPtrA(panel, GWLP_USERDATA, 0);
            break;
        default:
            break;
    }
    return DefWindowProcA(panel, message, wParam, lParam);
}

void TMainForm::ClearMemo() { SetWindowTextA(MemoSnif, ""); }

void TMainForm::AppendMemo(const std::string& text) {
    // As a memo adds a line: after the last complete line, ending with a
    // line break of its own; after an unfinished last line, on a new line.
    const int length = GetWindowTextLengthA(MemoSnif);
    bool unfinished = false;
    if (length > 0) {
        std::string current(static_cast<std::size_t>(length) + 1, '\0');
        const int read = GetWindowTextA(MemoSnif, current.data(), length + 1);
        unfinished = read > 0 && current[static_cast<std::size_t>(read) - 1] != '\n';
    }
    const std::string addition = unfinished ? "\r\n" + EditLines(text) : EditLines(text) + "\r\n";
    SendMessageA(MemoSnif, EM_SETSEL, static_cast<WPARAM>(length), static_cast<LPARAM>(length));
    SendMessageA(MemoSnif, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(addition.c_str()));
}

void TMainForm::SetCaption(const std::string& caption) { SetWindowTextA(hwnd_, caption.c_str()); }

void TMainForm::PostAfterShow() { PostMessageA(hwnd_, WM_AFTERSHOW, 0, 0); }

void TMainForm::ShowFindingsCount(const std::string& text) { SetWindowTextA(LabelFindings, text.c_str()); }

LRESULT CALLBACK TMainForm::FindingsProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SIZE: {
            // The list fills the window.
            HWND text = GetDlgItem(hwnd, FindingsTextId);
            if (text != nullptr) MoveWindow(text, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
            return 0;
        }
        case WM_CLOSE:
            ShowWindow(hwnd, SW_HIDE);  // kept for the next request
            return 0;
        default:
            return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

void TMainForm::ShowFindingsList(const std::string& text) {
    if (FindingsForm == nullptr) {
        HINSTANCE instance = GetModuleHandleA(nullptr);
        FindingsForm = CreateWindowExA(0, FindingsFormClassName, FindingsWindowCaption, WS_OVERLAPPEDWINDOW,
                                       CW_USEDEFAULT, CW_USEDEFAULT, 640, 300, hwnd_, nullptr, instance, nullptr);
        if (FindingsForm == nullptr) return;
        RECT area{};
        GetClientRect(FindingsForm, &area);
        FindingsText = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", "",
                                       WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY |
                                           ES_AUTOVSCROLL | ES_AUTOHSCROLL,
                                       0, 0, area.right, area.bottom, FindingsForm,
                                       reinterpret_cast<HMENU>(FindingsTextId), instance, nullptr);
        SendMessageA(FindingsText, WM_SETFONT, reinterpret_cast<WPARAM>(FormFont), FALSE);
        SendMessageA(FindingsText, EM_SETLIMITTEXT, 0, 0);
    }
    SetWindowTextA(FindingsText, EditLines(text).c_str());
    ShowWindow(FindingsForm, SW_SHOW);
    SetForegroundWindow(FindingsForm);
}

std::string TMainForm::AskSaveBusFile(const std::string& suggested) {
    if (SaveFileHook) return SaveFileHook(suggested);
    char file[MAX_PATH] = {};
    suggested.copy(file, sizeof file - 1);
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = hwnd_;
    dialog.lpstrFilter = "Bus files (*.json)\0*.json\0All files (*.*)\0*.*\0";
    dialog.lpstrFile = file;
    dialog.nMaxFile = sizeof file;
    dialog.lpstrTitle = SaveBusMenuCaption;
    dialog.lpstrDefExt = "json";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    return GetSaveFileNameA(&dialog) ? std::string(file) : std::string();
}

void TMainForm::ShowPlainBox(const std::string& caption, const std::string& text) {
    if (PlainBoxHook) {
        PlainBoxHook(caption, text);
        return;
    }
    MessageBoxA(hwnd_, text.c_str(), caption.c_str(), MB_OK);
}
