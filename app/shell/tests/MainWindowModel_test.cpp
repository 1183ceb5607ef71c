// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the main window's behaviour over a fake view and fake services:
// the order of every handler's steps, the caption rule and the memo content.
#include "app/shell/MainWindowModel.h"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/shell/ProgramLife.h"
#include "log/wexerrorlog.h"

namespace {

using Events = std::vector<std::string>;

// Keeps the memo the way the window does: one entry per added text.
class FakeView : public MainWindowView {
public:
    explicit FakeView(Events& events) : events_(events) {}
    void ClearMemo() override {
        events_.push_back("ClearMemo");
        memo.clear();
    }
    void AppendMemo(const std::string& text) override {
        events_.push_back("AppendMemo " + text);
        memo.push_back(text);
    }
    void SetCaption(const std::string& text) override {
        events_.push_back("SetCaption");
        caption = text;
    }
    void PostAfterShow() override { events_.push_back("PostAfterShow"); }
    void ShowPlainBox(const std::string& boxCaption, const std::string& text) override {
        events_.push_back("Box " + boxCaption + "|" + text);
    }
    std::string AskSaveBusFile(const std::string& suggested) override {
        events_.push_back("Ask " + suggested);
        return chosenFile;
    }

    // Kept apart from the events: the findings are not the memo's steps.
    void ShowFindingsCount(const std::string& text) override { findingsCount = text; }
    void ShowFindingsList(const std::string& text) override { findingsList.push_back(text); }

    std::vector<std::string> memo;
    std::string chosenFile;
    std::string caption = InitialCaption;
    std::string findingsCount;
    std::vector<std::string> findingsList;

private:
    Events& events_;
};

class FakeServices : public ShellServices {
public:
    explicit FakeServices(Events& events) : events_(events) {}
    bool AlreadyRunning() override {
        events_.push_back("AlreadyRunning");
        return otherCopy;
    }
    void StartUp(MainWindowModel& form) override {
        events_.push_back("StartUp");
        form.LastTitleTime = clock;
    }
    void ShutDown(MainWindowModel&) override {
        events_.push_back("ShutDown");
        ProgramClosing = true;
    }
    void EndSecondCopy() override { events_.push_back("EndSecondCopy"); }
    void CheckDriver() override { events_.push_back("CheckDriver"); }
    void ScanBus(unsigned capacity) override { events_.push_back("ScanBus " + std::to_string(capacity)); }
    std::string FormatReport() override {
        events_.push_back("FormatReport");
        ++reports;
        if (emptyReport) return "";
        return "Report " + std::to_string(reports) + "\r\nsecond line\r\n";
    }
    void LogReport() override { events_.push_back("LogReport"); }
    void BeepDone() override { events_.push_back("BeepDone"); }
    void ShowLogViewer() override { events_.push_back("ShowLogViewer"); }
    SniffFindings Findings() override { return found; }
    bool SaveBus(const std::string& path, std::string& error) override {
        events_.push_back("SaveBus " + path);
        error = saveError;
        return saveError.empty();
    }
    bool ReadClock(double& reading) override {
        events_.push_back("ReadClock");
        if (!haveClock) return false;
        reading = clock;
        return true;
    }

    bool otherCopy = false;
    bool haveClock = true;
    bool emptyReport = false;
    std::string saveError;
    double clock = 45 * 86400.0;
    int reports = 0;
    SniffFindings found;

private:
    Events& events_;
};

class MainWindowModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        ProgramClosing = false;
        CurrentTime = 0.0;
    }
    void TearDown() override { ProgramClosing = false; }

    Events events;
    FakeView view{events};
    FakeServices services{events};
    MainWindowModel form{view, services};
};

TEST_F(MainWindowModelTest, IsTheMainFormFromItsConstructionOn) {
    EXPECT_EQ(MainForm, &form);
    {
        Events other;
        FakeView otherView{other};
        FakeServices otherServices{other};
        MainWindowModel second{otherView, otherServices};
        EXPECT_EQ(MainForm, &second);
    }
    EXPECT_EQ(MainForm, nullptr) << "a destroyed window must not stay the main form";
}

TEST_F(MainWindowModelTest, FirstCopyStartsUp) {
    form.Started = true;
    form.Construct();
    EXPECT_EQ(events, (Events{"AlreadyRunning", "StartUp"}));
    EXPECT_FALSE(form.Started);
}

TEST_F(MainWindowModelTest, SecondCopyShowsTheBoxAndEndsWithoutStartingUp) {
    services.otherCopy = true;
    form.Construct();
    EXPECT_EQ(events, (Events{"AlreadyRunning", "Box RUN FAIL|ALREADY HAVE THE PROGRAM RUNNING.  KILL IT FIRST!",
                              "EndSecondCopy"}));
    EXPECT_EQ(view.caption, "MainForm");
}

TEST_F(MainWindowModelTest, ShowingPostsTheAfterShowStepOnlyUntilItHasRun) {
    form.FormShow();
    form.FormShow();  // shown again before the message was handled
    EXPECT_EQ(events, (Events{"PostAfterShow", "PostAfterShow"}));
    events.clear();

    form.AfterShow();
    const std::string prompt = std::string(12, ' ') + "Press the 'Sniff The PCI Bus' button.";
    EXPECT_EQ(events, (Events{"CheckDriver", "ClearMemo", "AppendMemo ", "AppendMemo " + prompt}));
    EXPECT_TRUE(form.Started);
    EXPECT_EQ(view.memo, (std::vector<std::string>{"", prompt}));

    events.clear();
    form.FormShow();
    EXPECT_TRUE(events.empty()) << "a started window posts nothing when shown again";
}

TEST_F(MainWindowModelTest, SniffRunsItsStepsInOrder) {
    view.memo = {"old", "lines"};
    form.ButtonSniffClick();
    EXPECT_EQ(events, (Events{"ClearMemo", "ScanBus 100", "FormatReport",
                              "AppendMemo Report 1\r\nsecond line\r\n", "LogReport", "BeepDone"}));
    EXPECT_EQ(view.memo, (std::vector<std::string>{"Report 1\r\nsecond line\r\n"}));
}

TEST_F(MainWindowModelTest, SniffTwiceLeavesOnlyTheSecondReport) {
    form.ButtonSniffClick();
    form.ButtonSniffClick();
    EXPECT_EQ(view.memo, (std::vector<std::string>{"Report 2\r\nsecond line\r\n"}));
}

TEST_F(MainWindowModelTest, SniffOfAnEmptyTableStillShowsLogsAndBeeps) {
    services.emptyReport = true;
    view.memo = {"old"};
    form.ButtonSniffClick();
    EXPECT_EQ(events, (Events{"ClearMemo", "ScanBus 100", "FormatReport", "AppendMemo ", "LogReport", "BeepDone"}));
    EXPECT_EQ(view.memo, (std::vector<std::string>{""}));
}

TEST_F(MainWindowModelTest, TimerTicksFollowTheirRules) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double base = 45 * 86400.0 + 100.0;
    struct Case {
        const char* what;
        bool closing;
        bool started;
        bool haveClock;
        double last;
        double now;
        bool readsClock;
        bool refreshes;
    };
    const Case cases[] = {
        {"closing", true, true, true, base, base + 5.0, false, false},
        {"not yet started", false, false, true, base, base + 5.0, false, false},
        {"no clock", false, true, false, base, base + 5.0, true, false},
        {"under 0.2 s", false, true, true, base, base + 0.19, true, false},
        {"just under 0.2 s", false, true, true, base, base + 0.1999, true, false},
        {"exactly 0.2 s", false, true, true, 0.0, 0.2, true, true},
        {"over 0.2 s", false, true, true, base, base + 0.25, true, true},
        {"long after", false, true, true, base, base + 3600.0, true, true},
        {"reading not a number", false, true, true, base, nan, true, false},
        {"last not a number", false, true, true, nan, base, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        events.clear();
        ProgramClosing = c.closing;
        form.Started = c.started;
        form.LastTitleTime = c.last;
        CurrentTime = -7.0;
        view.caption = "before";
        services.haveClock = c.haveClock;
        services.clock = c.now;

        form.MasterTimerTimer();

        const bool read = !events.empty() && events.front() == "ReadClock";
        EXPECT_EQ(read, c.readsClock);
        if (c.readsClock && c.haveClock) {
            EXPECT_TRUE(CurrentTime == c.now || (std::isnan(CurrentTime) && std::isnan(c.now)));
        } else {
            EXPECT_EQ(CurrentTime, -7.0) << "the reading must not change";
        }
        if (c.refreshes) {
            EXPECT_EQ(view.caption, TitleText(c.now));
            EXPECT_EQ(form.LastTitleTime, c.now);
        } else {
            EXPECT_EQ(view.caption, "before");
            EXPECT_TRUE(form.LastTitleTime == c.last || (std::isnan(c.last) && std::isnan(form.LastTitleTime)));
        }
    }
}

TEST_F(MainWindowModelTest, TitleHasItsExactForm) {
    const double reading = 45 * 86400.0 + 9 * 3600.0 + 15 * 60.0 + 2.125;
    EXPECT_EQ(TitleText(reading), "Corvane PCI Sniffer    Ver 1.2   045:09:15:02.125000");
    EXPECT_EQ(TitleText(-1.0), "Corvane PCI Sniffer    Ver 1.2   XXX:XX:XX:XX.XXXXXX");
    CurrentTime = reading;
    form.UpdateTitle();
    EXPECT_EQ(view.caption, TitleText(reading));
}

TEST_F(MainWindowModelTest, CloseQueryShutsDownAndLeavesTheFlag) {
    for (bool flag : {true, false}) {
        events.clear();
        bool canClose = flag;
        form.FormCloseQuery(canClose);
        EXPECT_EQ(canClose, flag);
        EXPECT_EQ(events, (Events{"ShutDown"}));
    }
}

// File > Save Bus: the dialog, then the save; a failure is said in a box,
// a cancelled dialog saves nothing.
TEST_F(MainWindowModelTest, SaveBusAsksSavesAndSaysWhyItCouldNot) {
    struct Case {
        std::string chosen, error;
        Events expected;
    };
    const Case cases[] = {
        {"", "", {"Ask Quorrin-bus.json"}},
        {"/tmp/bus.json", "", {"Ask Quorrin-bus.json", "SaveBus /tmp/bus.json"}},
        {"/tmp/bus.json", "disk full",
         {"Ask Quorrin-bus.json", "SaveBus /tmp/bus.json", "Box SAVE BUS|Could not save the bus: disk full"}},
    };
    for (const Case& c : cases) {
        events.clear();
        view.chosenFile = c.chosen;
        services.saveError = c.error;
        form.MenuFileSaveBusClick();
        EXPECT_EQ(events, c.expected) << c.chosen << " " << c.error;
    }
}

}  // namespace

TEST(FindingsCountText, SaysHowManyOfEachSeverity) {
    struct Case {
        int Errors, Warnings, Notes;
        const char* Text;
    };
    for (const Case& c : {Case{0, 0, 0, "No findings"}, Case{0, 1, 0, "1 finding: 1 warning"},
                          Case{2, 0, 1, "3 findings: 2 errors, 1 note"},
                          Case{3, 3, 2, "8 findings: 3 errors, 3 warnings, 2 notes"}})
        EXPECT_EQ(FindingsCountText({c.Errors, c.Warnings, c.Notes, {}}), c.Text) << c.Text;
}

// The count appears when a sniff ends, the list only on request; the memo
// keeps the report alone.
TEST_F(MainWindowModelTest, SniffShowsTheFindingsCountAndTheListOnRequest) {
    form.MenuViewFindingsClick();
    ASSERT_EQ(view.findingsList.size(), 1u);
    EXPECT_EQ(view.findingsList[0], "No sniff yet: press the 'Sniff The PCI Bus' button.\r\n");
    EXPECT_EQ(view.findingsCount, "");

    services.found = {1, 1, 0, {"02:00.0  error    device status: Fatal Error Detected", "03:00.0  warning  x"}};
    form.ButtonSniffClick();
    EXPECT_EQ(view.findingsCount, "2 findings: 1 error, 1 warning");
    EXPECT_EQ(view.memo, (std::vector<std::string>{"Report 1\r\nsecond line\r\n"}));
    EXPECT_EQ(view.findingsList.size(), 1u) << "the list is shown only on request";
    form.MenuViewFindingsClick();
    EXPECT_EQ(view.findingsList.back(),
              "2 findings: 1 error, 1 warning\r\n\r\n02:00.0  error    device status: Fatal Error Detected\r\n"
              "03:00.0  warning  x\r\n");

    services.found = {};
    form.ButtonSniffClick();
    EXPECT_EQ(view.findingsCount, "No findings");
    form.MenuViewFindingsClick();
    EXPECT_EQ(view.findingsList.back(), "No findings in the last sniff.\r\n");
}
