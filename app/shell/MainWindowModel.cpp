// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin app -- the main window's behaviour: the steps of its handlers.
#include "app/shell/MainWindowModel.h"

#include <utility>

#include "app/shell/ProgramLife.h"
#include "app/shell/RecordedBus.h"
#include "log/wexerrorlog.h"
#include "timing/TimeUnit.h"

std::string TitleText(double reading) {
    std::string title = "Corvane PCI Sniffer  ";
    title += "  Ver ";
    title += ProgramVersion;
    title += "   ";
    title += ElapsedText(reading);
    return title;
}

std::string FindingsCountText(const SniffFindings& found) {
    const int total = found.Errors + found.Warnings + found.Notes;
    if (total == 0) return "No findings";
    const auto counted = [](int n, const char* one) { return std::to_string(n) + " " + one + (n == 1 ? "" : "s"); };
    std::string text = counted(total, "finding") + ":";
    const char* separator = " ";
    for (const auto& [n, one] : {std::pair{found.Errors, "error"}, std::pair{found.Warnings, "warning"},
                                 std::pair{found.Notes, "note"}}) {
        if (n == 0) continue;
        text += separator + counted(n, one);
        separator = ", ";
    }
    return text;
}

MainWindowModel::MainWindowModel(MainWindowView& view, ShellServices& services)
    : view_(view), services_(services) {
    MainForm = this;
}

MainWindowModel::~MainWindowModel() {
    if (MainForm == this) MainForm = nullptr;
}

void MainWindowModel::Construct() {
    if (services_.AlreadyRunning()) {
        view_.ShowPlainBox(RunFailCaption, AlreadyRunningText);
        services_.EndSecondCopy();
        return;  // only where the services let a second copy live on
    }
    Started = false;
    services_.StartUp(*this);
}

void MainWindowModel::FormShow() {
    if (!Started) view_.PostAfterShow();
}

void MainWindowModel::AfterShow() {
    services_.CheckDriver();
    view_.ClearMemo();
    view_.AppendMemo("");
    view_.AppendMemo(PromptLine);
    Started = true;
}

void MainWindowModel::ButtonSniffClick() {
    view_.ClearMemo();
    services_.ScanBus(SniffCapacity);
    view_.AppendMemo(services_.FormatReport());
    services_.LogReport();
    findings_ = services_.Findings();
    sniffed_ = true;
    view_.ShowFindingsCount(FindingsCountText(findings_));
    services_.BeepDone();
}

void MainWindowModel::MasterTimerTimer() {
    if (ProgramClosing || !Started) return;
    double reading = 0.0;
    if (!services_.ReadClock(reading)) return;
    CurrentTime = reading;
    // Written so that a difference that is not a number never refreshes.
    if (CurrentTime - LastTitleTime >= TitleRefreshSeconds) {
        LastTitleTime = CurrentTime;
        UpdateTitle();
    }
}

void MainWindowModel::MenuViewErrorLogClick() { services_.ShowLogViewer(); }

void MainWindowModel::MenuViewFindingsClick() {
    std::string text;
    if (!sniffed_) {
        text = "No sniff yet: press the 'Sniff The PCI Bus' button.\r\n";
    } else if (findings_.Lines.empty()) {
        text = "No findings in the last sniff.\r\n";
    } else {
        text = FindingsCountText(findings_) + "\r\n\r\n";
        for (const std::string& line : findings_.Lines) text += line + "\r\n";
    }
    view_.ShowFindingsList(text);
}

void MainWindowModel::MenuFileSaveBusClick() {
    const std::string path = view_.AskSaveBusFile(DefaultBusFileName);
    if (path.empty()) return;
    std::string error;
    if (!services_.SaveBus(path, error)) view_.ShowPlainBox(SaveBusFailedCaption, "Could not save the bus: " + error);
}

void MainWindowModel::FormCloseQuery(bool& canClose) {
    (void)canClose;  // the close is always permitted
    services_.ShutDown(*this);
}

void MainWindowModel::UpdateTitle() { view_.SetCaption(TitleText(CurrentTime)); }
