// SPDX-License-Identifier: GPL-2.0-or-later
// The Win32 window in this process over services of the test's own: its
// components, their geometry and fonts, and the routing of its messages.
// Before the system's headers: one of them defines AbnormalTermination.
#include "app/shell/ProgramLife.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/win32/TMainForm.h"
#include "app/win32/Win32MessageBoxes.h"
#include "app/win32/tools/ProgramDriver.h"

namespace {

struct FakeServices : ShellServices {
    bool alreadyRunning = false;
    int startUps = 0, shutDowns = 0, secondCopies = 0, driverChecks = 0, scans = 0, logs = 0, beeps = 0,
        viewers = 0;
    double clock = 10.0;
    std::string report = "report line 1\r\nreport line 2";
    std::vector<std::string> savedTo;
    std::string saveError;

    bool AlreadyRunning() override { return alreadyRunning; }
    void StartUp(MainWindowModel& form) override {
        ++startUps;
        form.ReadClock(CurrentTime);
        form.LastTitleTime = CurrentTime;
        form.UpdateTitle();
    }
    void ShutDown(MainWindowModel&) override { ++shutDowns; }
    void EndSecondCopy() override { ++secondCopies; }
    void CheckDriver() override { ++driverChecks; }
    void ScanBus(unsigned capacity) override {
        EXPECT_EQ(capacity, 100u);
        ++scans;
    }
    std::string FormatReport() override { return report; }
    void LogReport() override { ++logs; }
    void BeepDone() override { ++beeps; }
    void ShowLogViewer() override { ++viewers; }
    SniffFindings found;
    SniffFindings Findings() override { return found; }
    bool SaveBus(const std::string& path, std::string& error) override {
        savedTo.push_back(path);
        error = saveError;
        return saveError.empty();
    }
    bool ReadClock(double& reading) override {
        reading = clock;
        return true;
    }
};

// Runs the thread's messages for a while, as the program's loop would.
void Pump(int milliseconds = 100) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(milliseconds);
    do {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) continue;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(5);
    } while (static_cast<LONG>(end - GetTickCount()) > 0);
}

bool QuitPosted() {
    MSG message;
    return PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
}

std::string Text(HWND window) {
    const int length = GetWindowTextLengthA(window);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    text.resize(static_cast<std::size_t>(GetWindowTextA(window, text.data(), length + 1)));
    return text;
}

// A window's rectangle in its parent's client coordinates.
RECT InParent(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

struct Geometry {
    const char* name;
    int left, top, width, height;
};

void ExpectGeometry(HWND window, const Geometry& g) {
    const RECT r = InParent(window);
    EXPECT_EQ(r.left, g.left) << g.name;
    EXPECT_EQ(r.top, g.top) << g.name;
    EXPECT_EQ(r.right - r.left, g.width) << g.name;
    EXPECT_EQ(r.bottom - r.top, g.height) << g.name;
}

const std::string InitialMemo = std::string(InitialMemoLine1) + "\r\n" + InitialMemoLine2 + "\r\n";
const std::string PromptMemo = std::string("\r\n") + PromptLine + "\r\n";

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        ProgramClosing = false;
        TMainForm::PlainBoxHook = [this](const std::string& caption, const std::string& text) {
            boxes.push_back(caption + "|" + text);
        };
    }
    void TearDown() override {
        TMainForm::PlainBoxHook = nullptr;
        Pump(20);
        QuitPosted();
    }
    FakeServices services;
    std::vector<std::string> boxes;
};

TEST_F(MainFormTest, ComponentsAtTheirDesignedPlacesWithTheirTextsAndFonts) {
    TMainForm form(services);
    HWND window = form.Handle();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(services.startUps, 1);
    EXPECT_TRUE(boxes.empty());
    // The start-up has replaced "MainForm" with the title.
    EXPECT_EQ(Text(window), TitleText(10.0));

    RECT outer{};
    GetWindowRect(window, &outer);
    EXPECT_EQ(outer.left, 972);
    EXPECT_EQ(outer.top, 393);
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 497);
    EXPECT_EQ(client.bottom, 457);

    EXPECT_EQ(Text(form.ButtonSniff), SniffButtonCaption);
    EXPECT_EQ(GetParent(form.MemoSnif), form.Panel4);
    EXPECT_EQ(Text(form.MemoSnif), InitialMemo);
    const LONG memoStyle = GetWindowLongA(form.MemoSnif, GWL_STYLE);
    EXPECT_TRUE(memoStyle & ES_MULTILINE);
    EXPECT_TRUE(memoStyle & WS_VSCROLL);
    EXPECT_FALSE(memoStyle & WS_HSCROLL);
    EXPECT_FALSE(memoStyle & ES_AUTOHSCROLL) << "long lines must wrap";
    EXPECT_FALSE(memoStyle & ES_READONLY);

    for (const auto& [window_, g] : {std::pair{form.ButtonSniff, Geometry{"ButtonSniff", 152, 6, 165, 25}},
                                     std::pair{form.Panel4, Geometry{"Panel4", 0, 46, 497, 411}},
                                     std::pair{form.MemoSnif, Geometry{"MemoSnif", 6, 6, 486, 401}}})
        ExpectGeometry(window_, g);

    struct FontCase {
        HWND window;
        LONG weight;
    };
    for (const FontCase& f : {FontCase{form.ButtonSniff, FW_BOLD}, FontCase{form.MemoSnif, FW_NORMAL}}) {
        auto font = reinterpret_cast<HFONT>(SendMessageA(f.window, WM_GETFONT, 0, 0));
        LOGFONTA logical{};
        ASSERT_EQ(GetObjectA(font, sizeof logical, &logical), static_cast<int>(sizeof logical));
        EXPECT_STREQ(logical.lfFaceName, "Arial");
        EXPECT_EQ(logical.lfHeight, -11);
        EXPECT_EQ(logical.lfWeight, f.weight);
        EXPECT_EQ(logical.lfCharSet, ANSI_CHARSET);
    }

    HMENU bar = GetMenu(window);
    ASSERT_EQ(bar, form.MainMenu1);
    ASSERT_EQ(GetMenuItemCount(bar), 2);
    char caption[64] = {};
    GetMenuStringA(bar, 0, caption, sizeof caption, MF_BYPOSITION);
    EXPECT_STREQ(caption, FileMenuCaption);
    HMENU file = GetSubMenu(bar, 0);
    ASSERT_EQ(GetMenuItemCount(file), 1);
    GetMenuStringA(file, 0, caption, sizeof caption, MF_BYPOSITION);
    EXPECT_STREQ(caption, SaveBusMenuCaption);
    EXPECT_EQ(GetMenuItemID(file, 0), static_cast<UINT>(MenuFileSaveBusId));
    GetMenuStringA(bar, 1, caption, sizeof caption, MF_BYPOSITION);
    EXPECT_STREQ(caption, ViewMenuCaption);
    HMENU view = GetSubMenu(bar, 1);
    ASSERT_EQ(GetMenuItemCount(view), 2);
    GetMenuStringA(view, 0, caption, sizeof caption, MF_BYPOSITION);
    EXPECT_STREQ(caption, ErrorLogMenuCaption);
    GetMenuStringA(view, 1, caption, sizeof caption, MF_BYPOSITION);
    EXPECT_STREQ(caption, FindingsMenuCaption);
}

// The count beside the button when the sniff ends, the list in a window of
// its own on request; the memo holds the report alone.
TEST_F(MainFormTest, SniffShowsTheFindingsCountAndTheMenuTheList) {
    TMainForm form(services);
    form.Show();
    Pump();
    EXPECT_EQ(Text(form.LabelFindings), "");
    ExpectGeometry(form.LabelFindings, {"LabelFindings", 6, 6, 140, 25});
    services.found = {1, 0, 1, {"02:00.0  error    device status: Fatal Error Detected", "01:00.0  note     n"}};
    SendMessageA(form.Handle(), WM_COMMAND, MAKEWPARAM(ButtonSniffId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(form.ButtonSniff));
    EXPECT_EQ(Text(form.LabelFindings), "2 findings: 1 error, 1 note");
    EXPECT_EQ(Text(form.MemoSnif), services.report + "\r\n");
    EXPECT_EQ(form.FindingsForm, nullptr) << "the list is shown only on request";

    SendMessageA(form.Handle(), WM_COMMAND, MAKEWPARAM(MenuViewFindingsId, 0), 0);
    ASSERT_NE(form.FindingsForm, nullptr);
    EXPECT_TRUE(IsWindowVisible(form.FindingsForm));
    EXPECT_EQ(Text(form.FindingsForm), FindingsWindowCaption);
    EXPECT_EQ(Text(form.FindingsText), "2 findings: 1 error, 1 note\r\n\r\n02:00.0  error    device status: Fatal "
                                       "Error Detected\r\n01:00.0  note     n\r\n");
    // Closed, it waits hidden for the next request.
    SendMessageA(form.FindingsForm, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(form.FindingsForm));
    SendMessageA(form.Handle(), WM_COMMAND, MAKEWPARAM(MenuViewFindingsId, 0), 0);
    EXPECT_TRUE(IsWindowVisible(form.FindingsForm));
}

TEST_F(MainFormTest, ComponentsFollowTheirAnchorsOnAResize) {
    TMainForm form(services);
    RECT outer{};
    GetWindowRect(form.Handle(), &outer);
    SetWindowPos(form.Handle(), nullptr, 0, 0, outer.right - outer.left + 100, outer.bottom - outer.top + 50,
                 SWP_NOMOVE | SWP_NOZORDER);
    RECT client{};
    GetClientRect(form.Handle(), &client);
    ASSERT_EQ(client.right, 597);
    ASSERT_EQ(client.bottom, 507);
    ExpectGeometry(form.ButtonSniff, {"ButtonSniff", 152, 6, 265, 25});
    ExpectGeometry(form.Panel4, {"Panel4", 0, 46, 597, 461});
    ExpectGeometry(form.MemoSnif, {"MemoSnif", 6, 6, 586, 451});
}

TEST_F(MainFormTest, PostedAfterShowRunsOnlyThroughTheLoopAndStartsTheClock) {
    TMainForm form(services);
    form.Show();
    // Posted, not sent: nothing has happened before the loop runs.
    EXPECT_EQ(services.driverChecks, 0);
    EXPECT_FALSE(form.Model().Started);
    EXPECT_EQ(Text(form.MemoSnif), InitialMemo);
    services.clock = 11.0;
    Pump(50);
    EXPECT_EQ(services.driverChecks, 1);
    EXPECT_TRUE(form.Model().Started);
    EXPECT_EQ(Text(form.MemoSnif), PromptMemo);
    // The first effective tick refreshes at once: a second has passed.
    EXPECT_TRUE(programdriver::WaitFor([&] { Pump(10); return Text(form.Handle()) == TitleText(11.0); }, 5000));
    // Less than 0.2 s later the caption stays; then it moves on.
    services.clock = 11.1;
    Pump(100);
    EXPECT_EQ(Text(form.Handle()), TitleText(11.0));
    services.clock = 11.25;
    EXPECT_TRUE(programdriver::WaitFor([&] { Pump(10); return Text(form.Handle()) == TitleText(11.25); }, 5000));
    EXPECT_EQ(services.driverChecks, 1);
}

TEST_F(MainFormTest, ShownTwiceBeforeTheLoopRunsThePostShowWorkTwice) {
    TMainForm form(services);
    form.Show();
    ShowWindow(form.Handle(), SW_HIDE);
    form.Show();
    Pump(50);
    EXPECT_EQ(services.driverChecks, 2);
    // Once started, showing again posts nothing.
    ShowWindow(form.Handle(), SW_HIDE);
    form.Show();
    Pump(50);
    EXPECT_EQ(services.driverChecks, 2);
}

TEST_F(MainFormTest, SniffsReplaceTheReportAndLogAndBeepEachTime) {
    TMainForm form(services);
    form.Show();
    Pump(30);
    SendMessageA(form.ButtonSniff, BM_CLICK, 0, 0);
    services.report = "second report\r\nline two";
    SendMessageA(form.ButtonSniff, BM_CLICK, 0, 0);
    EXPECT_EQ(Text(form.MemoSnif), "second report\r\nline two\r\n");
    EXPECT_EQ(services.scans, 2);
    EXPECT_EQ(services.logs, 2);
    EXPECT_EQ(services.beeps, 2);
}

TEST_F(MainFormTest, ReportLongerThanTheEditsDefaultLimitArrivesWhole) {
    services.report.clear();
    for (int line = 0; services.report.size() < 100000; ++line)
        services.report += "line " + std::to_string(line) + " of a long report of many PCI functions\r\n";
    services.report += "the last line";
    TMainForm form(services);
    form.Show();
    Pump(30);
    SendMessageA(form.ButtonSniff, BM_CLICK, 0, 0);
    const std::string shown = Text(form.MemoSnif);
    EXPECT_EQ(shown.size(), services.report.size() + 2);
    EXPECT_EQ(shown, services.report + "\r\n");
}

TEST_F(MainFormTest, MenuCloseAndTheSecondCopy) {
    {
        TMainForm form(services);
        SendMessageA(form.Handle(), WM_COMMAND, MAKEWPARAM(MenuViewErrorLogId, 0), 0);
        EXPECT_EQ(services.viewers, 1);
        SendMessageA(form.Handle(), WM_CLOSE, 0, 0);
        EXPECT_EQ(services.shutDowns, 1);
        EXPECT_EQ(form.Handle(), nullptr) << "the window stayed after its close";
        EXPECT_TRUE(QuitPosted()) << "the loop would not end";
    }
    FakeServices second;
    second.alreadyRunning = true;
    TMainForm form(second);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], std::string(RunFailCaption) + "|" + AlreadyRunningText);
    EXPECT_EQ(second.secondCopies, 1);
    EXPECT_EQ(second.startUps, 0);
}

// File > Save Bus: the dialog's file is saved to; a failure shows in a box.
TEST_F(MainFormTest, SaveBusMenuSavesWhereTheDialogSays) {
    TMainForm form(services);
    std::string offered;
    TMainForm::SaveFileHook = [&](const std::string& suggested) {
        offered = suggested;
        return std::string("C:\\buses\\one.json");
    };
    SendMessageA(form.Handle(), WM_COMMAND, MAKEWPARAM(MenuFileSaveBusId, 0), 0);
    services.saveError = "C:\\buses\\one.json: cannot be written";
    SendMessageA(form.Handle(), WM_COMMAND, MAKEWPARAM(MenuFileSaveBusId, 0), 0);
    TMainForm::SaveFileHook = nullptr;
    EXPECT_EQ(offered, "Quorrin-bus.json");
    EXPECT_EQ(services.savedTo, (std::vector<std::string>{"C:\\buses\\one.json", "C:\\buses\\one.json"}));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "SAVE BUS|Could not save the bus: C:\\buses\\one.json: cannot be written");
}

// A logoff or shutdown is let go ahead, and its end closes the form as the
// close box does; a session end that was called off changes nothing.
TEST_F(MainFormTest, TheSessionsEndClosesTheForm) {
    TMainForm form(services);
    EXPECT_EQ(SendMessageA(form.Handle(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
    SendMessageA(form.Handle(), WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF);
    EXPECT_EQ(services.shutDowns, 0);
    ASSERT_NE(form.Handle(), nullptr);
    SendMessageA(form.Handle(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    EXPECT_EQ(services.shutDowns, 1);
    EXPECT_EQ(form.Handle(), nullptr);
    EXPECT_TRUE(QuitPosted());
}

TEST_F(MainFormTest, TabMovesFromTheButtonIntoTheMemo) {
    TMainForm form(services);
    form.Show();
    SetForegroundWindow(form.Handle());
    SetFocus(form.ButtonSniff);
    Pump(30);
    ASSERT_EQ(GetFocus(), form.ButtonSniff);
    MSG tab{form.ButtonSniff, WM_KEYDOWN, VK_TAB, 0, 0, {}};
    EXPECT_TRUE(form.PreTranslate(tab));
    EXPECT_EQ(GetFocus(), form.MemoSnif);
}

struct ThrowingServices : FakeServices {
    void ScanBus(unsigned) override { throw std::runtime_error("scan failed"); }
};

TEST_F(MainFormTest, ExceptionFromAHandlerEndsThroughTheTerminateHandler) {
    EXPECT_EXIT(
        {
            std::set_terminate([] { std::_Exit(AbnormalExitStatus); });
            ThrowingServices throwing;
            TMainForm form(throwing);
            SendMessageA(form.ButtonSniff, BM_CLICK, 0, 0);
            std::_Exit(0);  // the exception went by unnoticed
        },
        ::testing::ExitedWithCode(AbnormalExitStatus), "");
}

TEST_F(MainFormTest, LogBoxesCarryTheirKindsIcon) {
    // No form: a box owned by a window of this thread would wait for the
    // thread that polls for it.
    Win32MessageBoxSink sink;
    struct Case {
        BoxKind kind;
        const char* caption;
    };
    for (const Case& c : {Case{BoxKind::Error, "an error"}, Case{BoxKind::Information, "a notice"}}) {
        std::thread shower([&] { sink.Show(c.kind, c.caption, "the text"); });
        std::vector<programdriver::Box> seen;
        HWND icon = nullptr;
        EXPECT_TRUE(programdriver::WaitFor([&] {
            for (HWND box : programdriver::WindowsOf(GetCurrentProcessId(), "#32770"))
                for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
                    if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) icon = child;
            seen = programdriver::AnswerBoxes(GetCurrentProcessId());
            return !seen.empty();
        }, 20000));
        shower.join();
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].caption, c.caption);
        EXPECT_EQ(seen[0].text, "the text");
        EXPECT_NE(icon, nullptr) << c.caption << " has no icon";
    }
}

}  // namespace
