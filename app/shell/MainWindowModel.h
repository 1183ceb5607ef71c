// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin app -- the main window's behaviour without a toolkit: its state and
// the steps of every handler, over a small view interface that each front end
// (Qt, later Win32) implements.
#pragma once

#include <string>
#include <vector>

#include "sniffer/SnifferUnit.h"

// Texts the window shows.
inline constexpr char InitialCaption[] = "MainForm";
inline constexpr char SniffButtonCaption[] = "Sniff The PCI Bus";
inline constexpr char ViewMenuCaption[] = "View";
inline constexpr char ErrorLogMenuCaption[] = "Error Log";
inline constexpr char FindingsMenuCaption[] = "Findings";
inline constexpr char FindingsWindowCaption[] = "Findings";
inline constexpr char FileMenuCaption[] = "File";
inline constexpr char SaveBusMenuCaption[] = "Save Bus...";
inline constexpr char SaveBusFailedCaption[] = "SAVE BUS";
inline constexpr char InitialMemoLine1[] = "      ";
inline constexpr char InitialMemoLine2[] = "                            Press the 'Sniff The PCI Bus' button.";
inline constexpr char PromptLine[] = "            Press the 'Sniff The PCI Bus' button.";
inline constexpr char AlreadyRunningText[] = "ALREADY HAVE THE PROGRAM RUNNING.  KILL IT FIRST!";
inline constexpr char RunFailCaption[] = "RUN FAIL";

// The private message the window posts itself once it is shown.
inline constexpr int WM_AFTERSHOW = 0x7FFF;
inline constexpr int MasterTimerIntervalMs = 10;
inline constexpr double TitleRefreshSeconds = 0.2;
inline constexpr unsigned SniffCapacity = PciTableCapacity;  // the sniff asks for the table's worth

// "Corvane PCI Sniffer    Ver 1.2   " followed by the reading's clock text.
std::string TitleText(double reading);

// The health findings of the last sniff, as the window shows them.
struct SniffFindings {
    int Errors = 0, Warnings = 0, Notes = 0;
    std::vector<std::string> Lines;  // "02:00.0  warning  link x4 ...", one per finding
};
// "No findings", "1 finding: 1 warning", "8 findings: 3 errors, 3 warnings, 2 notes".
std::string FindingsCountText(const SniffFindings& found);

// What the behaviour needs from a window.
class MainWindowView {
public:
    virtual ~MainWindowView() = default;
    virtual void ClearMemo() = 0;
    // Adds text as the memo's next line; line breaks (CR LF) inside it make
    // it show as several lines.
    virtual void AppendMemo(const std::string& text) = 0;
    virtual void SetCaption(const std::string& caption) = 0;
    // Posts (does not send) WM_AFTERSHOW to the window itself.
    virtual void PostAfterShow() = 0;
    // A message box with an OK button and no icon; returns once dismissed.
    virtual void ShowPlainBox(const std::string& caption, const std::string& text) = 0;
    // Beside the button, outside the memo: the findings' count of the last sniff.
    virtual void ShowFindingsCount(const std::string& text) { (void)text; }
    // The list of findings in a window of its own (lines end in CR LF).
    virtual void ShowFindingsList(const std::string& text) { (void)text; }
    // The platform's dialog for the file to save a bus in, offering
    // `suggested`; empty when the user cancels.
    virtual std::string AskSaveBusFile(const std::string& suggested) = 0;
};

// What the behaviour calls in the rest of the program. RealShellServices
// calls the real subsystems; tests put their own in its place.
class MainWindowModel;
class ShellServices {
public:
    virtual ~ShellServices() = default;
    virtual bool AlreadyRunning() = 0;
    virtual void StartUp(MainWindowModel& form) = 0;
    virtual void ShutDown(MainWindowModel& form) = 0;
    virtual void EndSecondCopy() = 0;  // does not return in the program
    virtual void CheckDriver() = 0;
    virtual void ScanBus(unsigned capacity) = 0;
    virtual std::string FormatReport() = 0;
    virtual void LogReport() = 0;
    virtual void BeepDone() = 0;
    virtual void ShowLogViewer() = 0;
    // The findings of the table the last scan filled.
    virtual SniffFindings Findings() { return {}; }
    // The last sniff as a bus file; false with the reason in `error`.
    virtual bool SaveBus(const std::string& path, std::string& error) = 0;
    // False when there is no clock (before start-up, after shutdown).
    virtual bool ReadClock(double& reading) = 0;
};

class MainWindowModel {
public:
    MainWindowModel(MainWindowView& view, ShellServices& services);
    ~MainWindowModel();
    MainWindowModel(const MainWindowModel&) = delete;
    MainWindowModel& operator=(const MainWindowModel&) = delete;

    // The window constructor's steps once its components exist: the
    // second-copy check, then StartUp.
    void Construct();

    void FormShow();
    void AfterShow();
    void ButtonSniffClick();
    void MasterTimerTimer();
    void MenuViewErrorLogClick();
    void MenuViewFindingsClick();
    void MenuFileSaveBusClick();
    void FormCloseQuery(bool& canClose);
    void UpdateTitle();

    bool ReadClock(double& reading) { return services_.ReadClock(reading); }

    bool Started = false;
    double LastTitleTime = 0.0;

private:
    MainWindowView& view_;
    ShellServices& services_;
    bool sniffed_ = false;
    SniffFindings findings_;
};
