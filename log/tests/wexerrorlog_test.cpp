// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the log file: where it goes, that it starts empty and replaces the
// last run's, the byte layout of every line, the banners, the lock, the
// start and end rules, long lines and many writers at once.
#include "log/wexerrorlog.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <set>
#include <thread>

#include "log/LogReader.h"
#include "log/tests/LogTestSupport.h"
#include "platform/Process.h"

using namespace logtest;

namespace {

const char Start[] = "------------------PROGRAM START--------------------";
const char End[] = "------------------PROGRAM END--------------------";
const std::string Stamp0 = "045:09:15:02.123000";  // PinnedTime's moment
const std::string Sep(1, platform::PathSeparator);
const std::string Root = platform::PathSeparator == '\\' ? "C:\\" : "/";

TEST_F(LogTest, StartCreatesTheLogInTheStartFolderWithBannerAndVersion) {
    ProgramClosing = true;
    StartErrorLog(false, "1.2", "Quorrin", "\\");
    EXPECT_EQ(StartFolder, folder_);
    EXPECT_FALSE(ProgramClosing);
    ASSERT_TRUE(ErrorLog);
    EXPECT_EQ(ErrorLog->Path(), LogFile());
    EXPECT_TRUE(Speaker);
    bool crlf = false;
    const auto lines = Lines(ReadFile(LogFile()), &crlf);
    EXPECT_TRUE(crlf);
    ASSERT_EQ(lines.size(), 2u);
    std::string code, message;
    ASSERT_TRUE(ParseRecord(lines[0], code, message)) << lines[0];
    EXPECT_EQ(code, "000000");
    EXPECT_EQ(message, Start);
    ASSERT_TRUE(ParseRecord(lines[1], code, message)) << lines[1];
    EXPECT_EQ(code, "000000");
    EXPECT_EQ(message, "Program Version 1.2");
}

TEST_F(LogTest, TheLibraryFormsOfTheBanners) {
    StartErrorLog(true, "7.0", "Quorrin", "/");
    EndErrorLog(true);
    const auto lines = Lines(ReadFile(LogFile()));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].substr(8 + 19 + 2), "--------------------DLL START----------------------");
    EXPECT_EQ(lines[1].substr(8 + 19 + 2), "DLL Version 7.0");
    EXPECT_EQ(lines[2].substr(8 + 19 + 2), "--------------------DLL END----------------------");
}

TEST_F(LogTest, EachRunReplacesThePreviousLog) {
    std::ofstream(LogFile()) << std::string(5000, 'x') << "\r\n";
    StartErrorLog(false, "1.2", "Quorrin", "/");
    const std::string text = ReadFile(LogFile());
    EXPECT_EQ(text.find('x'), std::string::npos);
    EXPECT_EQ(Lines(text).size(), 2u);
}

TEST_F(LogTest, TheFileIsEmptyAsSoonAsTheLogObjectExists) {
    const std::string path = folder_ + "/Direct.Log";  // either separator on Windows
    std::ofstream(path) << "old";
    wexerrorlog log(path.c_str());
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(ReadFile(path), "");
    EXPECT_EQ(log.LockName(), "ERRORLOGGING_Direct" + std::to_string(platform::CurrentProcessId()));
}

TEST_F(LogTest, WithoutAPathTheLogIsErrorLogInTheCurrentDirectory) {
    wexerrorlog log(nullptr);
    EXPECT_EQ(log.Path(), "ErrorLog.Log");
    EXPECT_TRUE(fs::exists(folder_ + "/ErrorLog.Log"));
    EXPECT_EQ(log.LockName(), "ERRORLOGGING_ErrorLog" + std::to_string(platform::CurrentProcessId()));
}

TEST_F(LogTest, EveryLineHasTheLayoutToTheByte) {
    PinnedTime time;
    StartErrorLog(false, "1.2", "Quorrin", "/");
    struct Case {
        std::string message;
        int32_t code;
        std::string expected;
    };
    const Case cases[] = {
        {"hello", 0, "000000  " + Stamp0 + "  hello\r\n"},
        {"", 0, "000000  " + Stamp0 + "  \r\n"},
        {"ends in a line\r\n", 1, "000001  " + Stamp0 + "  ends in a line\r\n\r\n"},
        {"x", 5000, "005000  " + Stamp0 + "  x\r\n"},
        {"x", 1234567, "1234567  " + Stamp0 + "  x\r\n"},
        {"x", -1, "-00001  " + Stamp0 + "  x\r\n"},
        {"x", INT32_MIN, "-2147483648  " + Stamp0 + "  x\r\n"},
        {std::string("stops\0here", 10), 255, "000255  " + Stamp0 + "  stops\r\n"},
    };
    std::string expectedFile = ReadFile(LogFile());
    for (const Case& c : cases) {
        LogText(c.message, c.code);
        EXPECT_EQ(ErrorLog->LastLine(), c.expected);
        expectedFile += c.expected;
    }
    EXPECT_EQ(ReadFile(LogFile()), expectedFile);
}

TEST_F(LogTest, RecordsOutsideTheLogsLifeLeaveNoTrace) {
    LogText("before the start", 0);
    LogInfo("before the start", 0, true);
    EXPECT_FALSE(fs::exists(LogFile()));
    StartErrorLog(false, "1.2", "Quorrin", "/");
    EndErrorLog(false);
    EXPECT_FALSE(ErrorLog);
    EXPECT_FALSE(Speaker);
    const std::string ended = ReadFile(LogFile());
    const auto lines = Lines(ended);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2].substr(8 + 19 + 2), End);
    LogText("after the end", 0);
    LogInfoLine("after the end", 0, false);
    LogSourceError("a.cpp", 1, "F", "after the end", 255);
    EndErrorLog(false);  // a second end finds no log
    EXPECT_EQ(ReadFile(LogFile()), ended);
    EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(LogTest, TheSubFolderIsUsedOnlyWhenItExists) {
    struct Case {
        const char* subFolder;
        bool makeLogs;
        std::string expected;
    };
    const Case cases[] = {
        {"\\logs\\", true, Sep + "logs" + Sep + "Quorrin.Log"},
        {"/logs/", true, "/logs/Quorrin.Log"},  // kept as given on Windows, where "/" separates too
        {"\\logs\\", false, Sep + "Quorrin.Log"},
        {"\\", false, Sep + "Quorrin.Log"},
        {nullptr, false, Sep + "Quorrin.Log"},
        {"", false, "Quorrin.Log"},  // the start folder itself names a folder: joined without a separator
    };
    for (const Case& c : cases) {
        std::error_code ignored;
        fs::remove_all(folder_ + "/logs", ignored);
        if (c.makeLogs) fs::create_directory(folder_ + "/logs");
        StartErrorLog(false, "1.2", "Quorrin", c.subFolder);
        ASSERT_TRUE(ErrorLog);
        EXPECT_EQ(ErrorLog->Path(), folder_ + c.expected) << (c.subFolder ? c.subFolder : "(none)");
        const std::string path = ErrorLog->Path();
        EXPECT_TRUE(fs::exists(path));
        EndErrorLog(false);
        fs::remove(path);  // the empty sub-folder's log lies beside the start folder
    }
}

TEST_F(LogTest, MakeLogPathBuildsNoPathItCannotKeepWhole) {
    std::string path = "stale";
    StartFolder = folder_;
    EXPECT_FALSE(MakeLogPath(nullptr, "\\", path));
    EXPECT_EQ(path, "");
    ASSERT_TRUE(MakeLogPath("Quorrin", "\\", path));
    EXPECT_EQ(path, folder_ + Sep + "Quorrin.Log");

    // Root as start folder: plain joining gives a doubled separator, which
    // the system reads as the same file.
    StartFolder = Root;
    ASSERT_TRUE(MakeLogPath("Quorrin", "\\", path));
    EXPECT_EQ(path, Root + Sep + "Quorrin.Log");

    StartFolder.clear();  // the current directory could not be read
    EXPECT_FALSE(MakeLogPath("Quorrin", "/", path));
    EXPECT_EQ(path, "");

    StartFolder = "/" + std::string(platform::MaxPathLength - 13, 'd');
    ASSERT_TRUE(MakeLogPath("Quorrin", nullptr, path));  // exactly at the limit
    EXPECT_EQ(path.size(), platform::MaxPathLength);
    StartFolder += "d";
    EXPECT_FALSE(MakeLogPath("Quorrin", nullptr, path));
    EXPECT_EQ(path, "");
}

TEST_F(LogTest, AStartWithoutABaseNameRunsOnWithoutALog) {
    StartErrorLog(false, "1.2", nullptr, "/");
    EXPECT_FALSE(ErrorLog);
    EXPECT_EQ(StartFolder, folder_);
    EXPECT_TRUE(Speaker);
    LogText("ignored", 0);
    EXPECT_TRUE(fs::is_empty(folder_));
}

// The current directory is the whole process's: logging leaves it alone,
// and the records land in the start folder's log wherever it points.
TEST_F(LogTest, LoggingLeavesTheCurrentDirectoryAlone) {
    StartErrorLog(false, "1.2", "Quorrin", "/");
    fs::create_directory(folder_ + "/elsewhere");
    struct Case {
        const char* what;
        void (*log)();
    };
    const Case cases[] = {
        {"LogText", [] { LogText("x", 0); }},
        {"LogInfo", [] { LogInfo("x", 0, false); }},
        {"LogInfoLine", [] { LogInfoLine("x", 0, false); }},
        {"LogError", [] { LogError("x", 0, false); }},
        {"LogSourceError", [] { LogSourceError("a", 1, "F", "x", 255); }},
    };
    const std::string elsewhere = (fs::path(folder_) / "elsewhere").string();
    std::size_t records = ReadLogRecords(ReadFile(LogFile())).size();
    for (const Case& c : cases) {
        fs::current_path(elsewhere);
        c.log();
        EXPECT_EQ(fs::current_path().string(), elsewhere) << c.what;
        EXPECT_EQ(ReadLogRecords(ReadFile(LogFile())).size(), ++records) << c.what;
    }
    EXPECT_FALSE(fs::exists(elsewhere + "/Quorrin.Log"));
}

// The folder is held from the start: a log first opened after its folder
// was renamed still lands in it, not in whatever took its name.
TEST_F(LogTest, TheLogIsOpenedThroughItsFolderHeldOpen) {
    if (platform::PathSeparator == '\\') GTEST_SKIP() << "Windows holds a folder by its path";
    fs::create_directory(folder_ + "/start");
    fs::current_path(folder_ + "/start");
    wexerrorlog log(platform::Folder::Current(), "Late.Log", folder_ + "/start/Late.Log");
    fs::current_path(folder_);
    fs::rename(folder_ + "/start", folder_ + "/renamed");
    fs::create_directory(folder_ + "/start");
    log.Write("kept", 0);
    EXPECT_FALSE(fs::exists(folder_ + "/start/Late.Log"));
    const auto lines = Lines(ReadFile(folder_ + "/renamed/Late.Log"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(8 + 19 + 2), "kept");
}

// A lock that stands still (held, no record written) costs the record, and
// the next one written says so.
TEST_F(LogTest, ARecordIsDroppedWhileTheLockIsHeldElsewhere) {
    StartErrorLog(false, "1.2", "Quorrin", "/");
    const std::string before = ReadFile(LogFile());
    std::atomic<bool> held{false}, done{false};
    std::thread holder([&] {
        platform::NamedMutex same(ErrorLog->LockName());
        ASSERT_EQ(same.Wait(1000), platform::WaitResult::Acquired);
        held = true;
        while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        same.Release();
    });
    while (!held) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    LogText("dropped", 0);
    done = true;
    holder.join();
    EXPECT_EQ(ReadFile(LogFile()), before);
    EXPECT_EQ(ErrorLog->LostRecords(), 1u);
    LogText("written", 0);
    EXPECT_EQ(ReadFile(LogFile()).substr(before.size() + 8 + 19 + 2), "written" + LostNote(1) + "\r\n");
    EXPECT_EQ(ErrorLog->LostRecords(), 0u);
    LogText("and the next", 0);
    EXPECT_EQ(ErrorLog->LastLine().substr(8 + 19 + 2), "and the next\r\n");
}

TEST_F(LogTest, ALockAbandonedByAnEndedThreadCostsOneRecordOnly) {
    StartErrorLog(false, "1.2", "Quorrin", "/");
    std::thread([name = ErrorLog->LockName()] {
        platform::NamedMutex same(name);
        ASSERT_EQ(same.Wait(0), platform::WaitResult::Acquired);
    }).join();  // ends holding it
    LogText("dropped", 0);
    std::thread([] { LogText("from another thread", 0); }).join();
    const std::string text = ReadFile(LogFile());
    EXPECT_EQ(text.find("dropped"), std::string::npos);
    EXPECT_NE(text.find("from another thread" + LostNote(1) + "\r\n"), std::string::npos);
}

TEST_F(LogTest, AFileThatCannotBeOpenedDropsRecordsUntilItCan) {
    const std::string folder = folder_ + "/later";
    const std::string path = folder + "/Late.Log";
    wexerrorlog log(path.c_str());
    log.Write("dropped", 0);
    EXPECT_FALSE(fs::exists(path));
    fs::create_directory(folder);
    log.Write("kept", 0);
    const auto lines = Lines(ReadFile(path));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(8 + 19 + 2), "kept" + LostNote(1));
}

TEST_F(LogTest, AMessageFarLongerThanTheLineBufferLandsWhole) {
    StartErrorLog(false, "1.2", "Quorrin", "/");
    std::string message(1 << 20, ' ');
    for (std::size_t i = 0; i < message.size(); ++i) message[i] = static_cast<char>('a' + i % 26);
    LogText(message, 7);
    const auto lines = Lines(ReadFile(LogFile()));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2].substr(0, 8), "000007  ");
    EXPECT_EQ(lines[2].substr(8 + 19 + 2), message);
    EXPECT_EQ(ErrorLog->LastLine().size(), 8 + 19 + 2 + message.size() + 2);
}

TEST_F(LogTest, ManyWritersGiveWholeLinesNoneLostNoneMixed) {
    StartErrorLog(false, "1.2", "Quorrin", "/");
    constexpr int Threads = 4;
    constexpr int Records = 1500;
    std::vector<std::thread> writers;
    for (int t = 0; t < Threads; ++t) {
        writers.emplace_back([t] {
            // Long enough that a mixed write would show.
            const std::string filler(200, static_cast<char>('A' + t));
            for (int i = 0; i < Records; ++i) {
                LogText("writer " + std::to_string(t) + " record " + std::to_string(i) + " " + filler, t);
            }
        });
    }
    for (auto& writer : writers) writer.join();
    bool crlf = false;
    const auto lines = Lines(ReadFile(LogFile()), &crlf);
    EXPECT_TRUE(crlf);
    ASSERT_EQ(lines.size(), 2u + Threads * Records);
    std::set<std::pair<int, int>> seen;
    for (std::size_t n = 2; n < lines.size(); ++n) {
        std::string code, message;
        ASSERT_TRUE(ParseRecord(lines[n], code, message)) << lines[n];
        // "writer W record I " and 200 copies of the writer's letter.
        int writer = -1, index = -1, consumed = 0;
        ASSERT_EQ(std::sscanf(message.c_str(), "writer %d record %d %n", &writer, &index, &consumed), 2)
            << message;
        ASSERT_TRUE(writer >= 0 && writer < Threads) << message;
        EXPECT_EQ(message.substr(consumed), std::string(200, static_cast<char>('A' + writer))) << message;
        EXPECT_EQ(std::stoi(code), writer);
        EXPECT_TRUE(seen.insert({writer, index}).second) << message;
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(Threads * Records));
    EXPECT_EQ(ErrorLog->LostRecords(), 0u);
}

// Writers that each hold the lock longer than one wait of it: the waiters
// go on waiting while the lock changes hands, and no record is lost.
TEST_F(LogTest, WritersSlowerThanOneLockWaitLoseNothing) {
    class SlowCounter : public platform::TimeSource {
    public:
        SlowCounter() { previous_ = platform::SetTimeSourceForTesting(this); }
        ~SlowCounter() override { platform::SetTimeSourceForTesting(previous_); }
        platform::LocalTime Now() override { return {2023, 2, 14, 9, 15, 2, 123}; }
        int64_t CounterFrequency() override { return 1000; }
        int64_t CounterValue() override {
            // Read under the log lock, for every stamp.
            std::this_thread::sleep_for(std::chrono::milliseconds(wexerrorlog::LockWaitMs * 6 / 10));
            return 0;
        }

    private:
        platform::TimeSource* previous_;
    };
    SlowCounter slow;
    StartErrorLog(false, "1.2", "Quorrin", "/");
    constexpr int Threads = 4;
    constexpr int Records = 3;
    std::vector<std::thread> writers;
    for (int t = 0; t < Threads; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < Records; ++i) LogText("slow " + std::to_string(t), t);
        });
    }
    for (auto& writer : writers) writer.join();
    EXPECT_EQ(ErrorLog->LostRecords(), 0u);
    const std::string text = ReadFile(LogFile());
    EXPECT_EQ(Lines(text).size(), 2u + Threads * Records);
    EXPECT_EQ(text.find(">>>>"), std::string::npos);
}

TEST_F(LogTest, TheLogsClocksReleaseTheirTimerPeriods) {
    const int before = platform::TimerPeriodRequests();
    StartErrorLog(false, "1.2", "Quorrin", "/");
    EXPECT_GT(platform::TimerPeriodRequests(), before);
    EndErrorLog(false);
    EXPECT_EQ(platform::TimerPeriodRequests(), before);
}

}  // namespace
