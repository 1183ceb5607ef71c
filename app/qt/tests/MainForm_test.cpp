// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the Qt main window on the offscreen platform: its components as
// the user sees them, the post-show prompt, the sniff, the caption clock,
// View > Error Log and closing. Each test runs in its own start folder.
#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/process/ProcessUnit.h"
#include "app/qt/TMainForm.h"
#include "app/shell/ProgramLife.h"
#include "app/shell/RealShellServices.h"
#include "compare/SniffInput.h"
#include "driver/testing/TestBus.h"
#include "log/wexerrorlog.h"
#include "platform/testing/FileText.h"
#include "platform/testing/TempFolder.h"
#include "sniffer/SnifferUnit.h"
#include "speaker/wexspeakerclass.h"
#include "windriver/WinDriverRequests.h"

namespace fs = std::filesystem;

namespace {

const QString Prompt = QStringLiteral("            Press the 'Sniff The PCI Bus' button.");
const std::string EndBanner = "------------------PROGRAM END--------------------";

// Two functions, one of them a PLX 9056 bridge.
const char* const SmallBus = R"({"functions": [
  {"bus": 0, "slot": 0, "function": 0, "vendor": "0x8086", "device": "0x1237"},
  {"bus": 2, "slot": 4, "function": 0, "vendor": "0x10B5", "device": "0x9056",
   "resources": [{"type": "memory", "bar": 0, "address": "0xFEB00000", "length": 512},
                 {"type": "io", "bar": 1, "address": "0xE000", "length": 256}]}
]})";

class ToneRecorder : public ToneSink {
public:
    void Beep(unsigned frequencyHz, int) override {
        if (frequencyHz != 0) tones.push_back(frequencyHz);
    }
    void Pause(int) override {}
    std::vector<unsigned> tones;
};

class TestServices : public RealShellServices {
public:
    bool AlreadyRunning() override {
        return ::AlreadyRunning("QuorrinTest_MainForm_" + std::to_string(::getpid()));
    }
    void CheckDriver() override {
        ++driverChecks;
        RealShellServices::CheckDriver();
    }
    bool ReadClock(double& reading) override {
        if (!fakeClock) return RealShellServices::ReadClock(reading);
        if (!MultTimer) return false;
        reading = *fakeClock;
        return true;
    }
    int driverChecks = 0;
    std::optional<double> fakeClock;
};

using platform::testing::ReadFile;

// The log's last line without its CR LF.
std::string LastLogLine(const std::string& path) {
    std::string text = ReadFile(path);
    if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0) return "";
    text.resize(text.size() - 2);
    const std::size_t end = text.rfind("\r\n");
    return end == std::string::npos ? text : text.substr(end + 2);
}

// What the memo shows for a report added to an empty memo.
QString AsShown(const std::string& report) {
    std::string lines;
    for (std::size_t i = 0; i < report.size(); ++i) {
        if (!(report[i] == '\r' && i + 1 < report.size() && report[i + 1] == '\n')) lines += report[i];
    }
    return QString::fromLatin1(lines.c_str()) + '\n';
}

bool ProcessGone(int pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

}  // namespace

class MainFormTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<platform::testing::TempFolder> temp_;
    std::string folder_;
    fs::path previous_;
    ToneRecorder tones_;
    TestServices services_;
    std::unique_ptr<TMainForm> form_;

    std::string LogPath() const { return folder_ + "/Quorrin.Log"; }
    QPlainTextEdit* Memo() { return form_->findChild<QPlainTextEdit*>(QStringLiteral("MemoSnif")); }
    QPushButton* Button() { return form_->findChild<QPushButton*>(QStringLiteral("ButtonSniff")); }
    void Make() { form_ = std::make_unique<TMainForm>(services_); }
    bool ShowAndWait() {
        form_->show();
        return QTest::qWaitFor([&] { return form_->Model().Started; }, 30000);
    }

private slots:
    void init() {
        temp_ = std::make_unique<platform::testing::TempFolder>("quorrin-window-");
        folder_ = temp_->Path();
        previous_ = fs::current_path();
        fs::current_path(folder_);
        services_ = TestServices();
        tones_.tones.clear();
        SetToneSink(&tones_);
        // No driver unless a test brings its own bus.
        SetDriverDevice(folder_ + "/no-driver");
    }

    void cleanup() {
        if (form_) form_->close();
        form_.reset();
        SetToneSink(nullptr);
        std::set_terminate(nullptr);
        std::error_code ignored;
        fs::current_path(previous_, ignored);
        temp_.reset();
    }

    void componentsAreAsDesigned() {
        Make();
        QCOMPARE(form_->pos(), QPoint(972, 393));
        QCOMPARE(form_->centralWidget()->size(), QSize(497, 457));

        auto* button = Button();
        QVERIFY(button);
        QCOMPARE(button->text(), QStringLiteral("Sniff The PCI Bus"));
        QCOMPARE(button->geometry(), QRect(152, 6, 165, 25));
        QCOMPARE(button->font().family(), QStringLiteral("Arial"));
        QCOMPARE(button->font().pixelSize(), 11);
        QVERIFY(button->font().bold());

        auto* panel = form_->findChild<QFrame*>(QStringLiteral("Panel4"));
        QVERIFY(panel);
        QCOMPARE(panel->geometry(), QRect(0, 46, 497, 411));
        QCOMPARE(panel->palette().color(QPalette::Window), QColor(128, 128, 128));

        auto* memo = Memo();
        QVERIFY(memo);
        QCOMPARE(memo->parentWidget(), panel);
        QCOMPARE(memo->geometry(), QRect(6, 6, 486, 401));
        QCOMPARE(memo->palette().color(QPalette::Base), QColor(Qt::black));
        QCOMPARE(memo->palette().color(QPalette::Text), QColor(Qt::white));
        QCOMPARE(memo->font().pixelSize(), 11);
        QVERIFY(!memo->font().bold());
        QVERIFY(!memo->isReadOnly());
        QCOMPARE(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QCOMPARE(memo->toPlainText(),
                 QString(6, ' ') + '\n' + QString(28, ' ') + "Press the 'Sniff The PCI Bus' button.\n");

        QCOMPARE(form_->centralWidget()->palette().color(QPalette::Window), QColor(Qt::black));

        auto* timer = form_->findChild<QTimer*>(QStringLiteral("MasterTimer"));
        QVERIFY(timer);
        QCOMPARE(timer->interval(), 10);
        QVERIFY(timer->isActive());

        auto* bar = form_->findChild<QMenuBar*>(QStringLiteral("MainMenu1"));
        QVERIFY(bar);
        QCOMPARE(bar->actions().size(), 2);
        auto* file = form_->findChild<QMenu*>(QStringLiteral("MenuFile"));
        QVERIFY(file);
        QCOMPARE(file->title(), QStringLiteral("File"));
        QCOMPARE(bar->actions().front(), file->menuAction());
        QCOMPARE(file->actions().size(), 1);
        QCOMPARE(file->actions().front()->objectName(), QStringLiteral("MenuFileSaveBus"));
        QCOMPARE(file->actions().front()->text(), QStringLiteral("Save Bus..."));
        auto* view = form_->findChild<QMenu*>(QStringLiteral("MenuView"));
        QVERIFY(view);
        QCOMPARE(view->title(), QStringLiteral("View"));
        QCOMPARE(view->actions().size(), 2);
        QCOMPARE(view->actions().front()->objectName(), QStringLiteral("MenuViewErrorLog"));
        QCOMPARE(view->actions().front()->text(), QStringLiteral("Error Log"));
        QCOMPARE(view->actions().back()->text(), QStringLiteral("Findings"));

        // Start-up has replaced "MainForm" with the title and its clock.
        static const QRegularExpression title(
            QStringLiteral("^Corvane PCI Sniffer    Ver 1\\.2   \\d{3}:\\d{2}:\\d{2}:\\d{2}\\.\\d{6}$"));
        QVERIFY2(title.match(form_->windowTitle()).hasMatch(), qPrintable(form_->windowTitle()));
        QCOMPARE(form_->windowTitle(), QString::fromLatin1(TitleText(CurrentTime).c_str()));
        QVERIFY(!form_->Model().Started);
    }

    void componentsFollowTheirAnchors() {
        Make();
        form_->show();
        form_->resize(form_->width() + 100, form_->height() + 60);
        QTRY_COMPARE(form_->centralWidget()->size(), QSize(597, 517));
        QTRY_COMPARE(Button()->geometry(), QRect(152, 6, 265, 25));
        QCOMPARE(form_->findChild<QFrame*>(QStringLiteral("Panel4"))->geometry(), QRect(0, 46, 597, 471));
        QCOMPARE(Memo()->geometry(), QRect(6, 6, 586, 461));
    }

    void postShowStepShowsThePrompt() {
        Make();
        QVERIFY(ShowAndWait());
        QCOMPARE(Memo()->toPlainText(), '\n' + Prompt + '\n');
        QCOMPARE(services_.driverChecks, 1);
        // The driver check has written its findings after the start-up lines.
        QVERIFY(ReadFile(LogPath()).find("HARDWARE DRIVER NOT LOADED") != std::string::npos);

        form_->hide();
        form_->show();
        QTest::qWait(100);
        QCOMPARE(services_.driverChecks, 1);
    }

    void showingTwiceBeforeThePostShowStepRunsItTwice() {
        Make();
        form_->show();
        form_->hide();
        form_->show();
        QTRY_VERIFY(form_->Model().Started);
        QTest::qWait(100);
        QCOMPARE(services_.driverChecks, 2);
        QCOMPARE(Memo()->toPlainText(), '\n' + Prompt + '\n');
    }

    void sniffLeavesExactlyOneReport() {
        TestBus bus(SmallBus);
        bus.Use();
        Make();
        QVERIFY(ShowAndWait());
        for (int press = 1; press <= 2; ++press) {
            const std::size_t logBefore = ReadFile(LogPath()).size();
            tones_.tones.clear();
            QTest::mouseClick(Button(), Qt::LeftButton);
            const std::string report = FormatSniffReport(PciDeviceTable);
            QVERIFY(!report.empty());
            QCOMPARE(Memo()->toPlainText(), AsShown(report));
            QCOMPARE(PciDeviceTable.Count, 2);
            QCOMPARE(bus.CountRequests(WD_PciScanCards), press);
            QVERIFY2(ReadFile(LogPath()).size() > logBefore, "the report was not logged");
            QCOMPARE(tones_.tones, (std::vector<unsigned>{880, 1320, 1760, 2200}));
        }
        // quorrin-compare reads the window's log: its last sniff is the table.
        compare::Sniff logged;
        std::string error;
        QVERIFY2(compare::ReadSniff(ReadFile(LogPath()), 0, logged, error), error.c_str());
        QCOMPARE(logged.Kind, compare::SourceKind::Log);
        QCOMPARE(logged.Number, 2);
        QVERIFY(logged.Complete && logged.Problems.empty());
        QCOMPARE(logged.Table->Count, 2);
        QCOMPARE(std::memcmp(logged.Table->Devices, PciDeviceTable.Devices, 2 * sizeof(PciDeviceRecord)), 0);
    }

    // The count beside the button when the sniff ends, the list in a window
    // of its own on request; the memo holds the report alone.
    void findingsCountAndListOfTheFaultyBus() {
        TestBus bus(ReadFile(std::string(QUORRIN_SOURCE_DIR) + "/examples/faulty-bus.json"));
        bus.Use();
        Make();
        QVERIFY(ShowAndWait());
        auto* count = form_->findChild<QLabel*>(QStringLiteral("LabelFindings"));
        QVERIFY(count);
        QCOMPARE(count->text(), QString());
        QTest::mouseClick(Button(), Qt::LeftButton);
        QCOMPARE(count->text(), QStringLiteral("8 findings: 3 errors, 3 warnings, 2 notes"));
        QVERIFY(count->isVisible());
        QCOMPARE(count->geometry(), QRect(6, 6, 140, 25));
        QCOMPARE(Memo()->toPlainText(), AsShown(FormatSniffReport(PciDeviceTable)));

        form_->findChild<QAction*>(QStringLiteral("MenuViewFindings"))->trigger();
        auto* list = form_->findChild<QPlainTextEdit*>(QStringLiteral("FindingsText"));
        QVERIFY(list);
        QVERIFY(list->window()->isVisible());
        QCOMPARE(list->window()->windowTitle(), QStringLiteral("Findings"));
        const QString text = list->toPlainText();
        QVERIFY2(text.startsWith(QStringLiteral("8 findings: 3 errors, 3 warnings, 2 notes\n\n01:00.0  warning  link x4")),
                 qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("04:00.0  error    capability list loops")));
    }

    // File > Save Bus after a sniff: the file the dialog names, which
    // replays as the sniff it saved, and a record in the log.
    void saveBusWritesWhatReplaysAsTheSniff() {
        TestBus bus(SmallBus);
        bus.Use();
        Make();
        QVERIFY(ShowAndWait());
        QTest::mouseClick(Button(), Qt::LeftButton);
        const std::string report = FormatSniffReport(PciDeviceTable);
        std::string offered;
        const std::string saved = folder_ + "/saved-bus.json";
        TMainForm::SaveFileHook = [&](const std::string& suggested) {
            offered = suggested;
            return saved;
        };
        form_->findChild<QAction*>(QStringLiteral("MenuFileSaveBus"))->trigger();
        TMainForm::SaveFileHook = nullptr;
        QCOMPARE(offered, std::string("Quorrin-bus.json"));
        QVERIFY(ReadFile(LogPath()).find("Saved the sniffed bus in " + saved + "\r\n") != std::string::npos);

        TestBus replayed(ReadFile(saved));
        replayed.Use();
        GetPciCardInfo(PciTableCapacity, PciDeviceTable);
        QCOMPARE(FormatSniffReport(PciDeviceTable), report);
    }

    void captionRefreshesEveryFifthOfASecondOnceStarted() {
        const double start = 45 * 86400.0 + 9 * 3600.0;
        services_.fakeClock = start;
        Make();
        const QString atStart = QString::fromLatin1(TitleText(start).c_str());
        QCOMPARE(form_->windowTitle(), atStart);

        // Before the post-show step ticks leave the caption alone.
        *services_.fakeClock = start + 10.0;
        QTest::qWait(100);
        QCOMPARE(form_->windowTitle(), atStart);

        // The first effective tick refreshes at once: 10 s have passed.
        QVERIFY(ShowAndWait());
        QTRY_COMPARE(form_->windowTitle(), QString::fromLatin1(TitleText(start + 10.0).c_str()));

        *services_.fakeClock = start + 10.15;
        QTest::qWait(100);
        QCOMPARE(form_->windowTitle(), QString::fromLatin1(TitleText(start + 10.0).c_str()));

        *services_.fakeClock = start + 10.25;
        QTRY_COMPARE(form_->windowTitle(), QString::fromLatin1(TitleText(start + 10.25).c_str()));
    }

    void closingShutsDownAndLaterTicksDoNothing() {
        services_.fakeClock = 45 * 86400.0;
        Make();
        QVERIFY(ShowAndWait());
        QVERIFY(form_->close());
        QVERIFY(!form_->isVisible());
        QVERIFY(ProgramClosing);
        QVERIFY(!MultTimer);
        QCOMPARE(LastLogLine(LogPath()).substr(29), EndBanner);

        const QString caption = form_->windowTitle();
        *services_.fakeClock += 5.0;
        QVERIFY(form_->findChild<QTimer*>(QStringLiteral("MasterTimer"))->isActive());
        QTest::qWait(100);
        QCOMPARE(form_->windowTitle(), caption);
    }

    void errorLogMenuReplacesTheViewer() {
        // A stand-in viewer: notes what it was given, then stays open.
        const std::string viewer = folder_ + "/ViewLogs";
        std::ofstream(viewer) << "#!/bin/sh\necho \"$*\" > \"" << folder_ << "/viewer-$$.args\"\nexec sleep 60\n";
        fs::permissions(viewer, fs::perms::owner_all);
        Make();
        QVERIFY(ShowAndWait());
        auto* menuItem = form_->findChild<QAction*>(QStringLiteral("MenuViewErrorLog"));
        QVERIFY(menuItem);

        menuItem->trigger();
        QVERIFY2(!ViewerProcess.Handle.Empty(), "no viewer was started");
        const int first = ViewerProcess.Handle.Pid();
        const std::string args = folder_ + "/viewer-" + std::to_string(first) + ".args";
        QTRY_VERIFY(fs::exists(args) && fs::file_size(args) > 0);
        std::string given = ReadFile(args);
        given.pop_back();
        QVERIFY2(fs::equivalent(given, LogPath()), given.c_str());

        menuItem->trigger();
        QVERIFY(!ViewerProcess.Handle.Empty());
        const int second = ViewerProcess.Handle.Pid();
        QVERIFY(second != first);
        QVERIFY2(ProcessGone(first), "the first viewer still runs");
        QVERIFY(!ProcessGone(second));

        form_->close();
        QVERIFY2(ProcessGone(second), "the viewer outlived the window");
    }
};

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    MainFormTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "MainForm_test.moc"
