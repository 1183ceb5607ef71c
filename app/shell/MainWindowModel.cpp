// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin app -- the main window's behaviour: the steps of its handlers.
#include "app/shell/MainWindowModel.h"

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
