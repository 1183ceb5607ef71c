// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin app -- the Win32 main window: a thin view over MainWindowModel that
// creates the form's windows and routes their messages to it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "app/shell/FormGeometry.h"
#include "app/shell/MainWindowModel.h"

inline constexpr char MainFormClassName[] = "TMainForm";
inline constexpr char PanelClassName[] = "TPanel";
inline constexpr char FindingsFormClassName[] = "TFindingsForm";

// Command and control identifiers of the form's components.
inline constexpr int ButtonSniffId = 101;
inline constexpr int Panel4Id = 102;
inline constexpr int MemoSnifId = 103;
inline constexpr int LabelFindingsId = 104;
inline constexpr int FindingsTextId = 105;
inline constexpr int MenuViewErrorLogId = 201;
inline constexpr int MenuViewFindingsId = 202;
inline constexpr int MenuFileSaveBusId = 203;
inline constexpr UINT_PTR MasterTimerId = 1;

class TMainForm : private MainWindowView {
public:
    // Creates the form (hidden), then runs the second-copy check and the
    // start-up.
    explicit TMainForm(ShellServices& services);
    ~TMainForm() override;
    TMainForm(const TMainForm&) = delete;
    TMainForm& operator=(const TMainForm&) = delete;

    MainWindowModel& Model() { return model_; }
    HWND Handle() const { return hwnd_; }
    void Show();

    // Keyboard navigation between the components; true when the message
    // has been handled and must not be dispatched again.
    bool PreTranslate(MSG& message);

    // Runs the thread's message loop until WM_QUIT; returns its exit code.
    int RunMessageLoop();

    // Tests answer the plain boxes and the save dialog here instead of on
    // the screen.
    static std::function<void(const std::string& caption, const std::string& text)> PlainBoxHook;
    static std::function<std::string(const std::string& suggested)> SaveFileHook;
    // The form's window while it exists, for the owner of the log's boxes.
    static HWND LiveHandle;

    HWND ButtonSniff = nullptr;
    HMENU MainMenu1 = nullptr;
    HMENU MenuFile = nullptr;
    HMENU MenuView = nullptr;
    HWND Panel4 = nullptr;
    HWND MemoSnif = nullptr;
    HWND LabelFindings = nullptr;
    HWND FindingsForm = nullptr;  // made on first request, then reused
    HWND FindingsText = nullptr;
    HFONT FormFont = nullptr;
    HFONT ButtonFont = nullptr;

private:
    void ClearMemo() override;
    void AppendMemo(const std::string& text) override;
    void SetCaption(const std::string& caption) override;
    void PostAfterShow() override;
    void ShowPlainBox(const std::string& caption, const std::string& text) override;
    void ShowFindingsCount(const std::string& text) override;
    void ShowFindingsList(const std::string& text) override;
    std::string AskSaveBusFile(const std::string& suggested) override;

    void BuildForm();
    HWND Window(FormComponent component) const;
    void PlaceComponents();
    // The close query, then the window goes: a close and a session's end.
    void Close();
    LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT PanelDispatch(HWND panel, UINT message, WPARAM wParam, LPARAM lParam);

    static LRESULT CALLBACK FormProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK PanelProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK FindingsProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    HWND hwnd_ = nullptr;
    HBRUSH panelBrush_ = nullptr;
    HBRUSH memoBrush_ = nullptr;
    bool destroying_ = false;

    MainWindowModel model_;
};
