// SPDX-License-Identifier: GPL-2.0-or-later
// The follower against real files in the temporary folder: what each poll
// reports as the file appears, grows, is cut, replaced and removed.
#include "viewlogs/core/LogFollower.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using viewlogs::LogFollower;
using viewlogs::PollKind;

namespace {

class TempFolder {
public:
    TempFolder() {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        path_ = fs::temp_directory_path() / ("quorrin follower " + std::string(info->name()));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    fs::path File(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

void Write(const fs::path& path, const std::string& bytes, std::ios::openmode mode) {
    std::ofstream out(path, std::ios::binary | mode);
    ASSERT_TRUE(out) << path;
    out << bytes;
}

enum class Act { None, Create, Append, Remove, Replace };

struct Step {
    Act act;
    std::string bytes;
    PollKind kind;
    std::string text;
    std::uint64_t lines;
};

struct Story {
    const char* name;
    std::vector<Step> steps;
};

void Apply(const TempFolder& dir, const fs::path& path, const Step& step) {
    switch (step.act) {
        case Act::None:
            break;
        case Act::Create:
            Write(path, step.bytes, std::ios::out | std::ios::trunc);
            break;
        case Act::Append:
            Write(path, step.bytes, std::ios::out | std::ios::app);
            break;
        case Act::Remove:
            fs::remove(path);
            break;
        case Act::Replace: {
            const fs::path other = dir.File("next");
            Write(other, step.bytes, std::ios::out | std::ios::trunc);
            fs::remove(path);
            fs::rename(other, path);
            break;
        }
    }
}

}  // namespace

TEST(ViewLogsFollower, ReportsEachChangeOfTheFile) {
    const std::string longHead(300, 'h');
    const std::vector<Story> stories = {
        {"missing, then appears and grows",
         {{Act::None, "", PollKind::Missing, "", 0},
          {Act::None, "", PollKind::Missing, "", 0},
          {Act::Create, "one\r\n", PollKind::Started, "one\n", 1},
          {Act::None, "", PollKind::Unchanged, "", 1},
          {Act::Append, "two\r\nthree\r\n", PollKind::Appended, "two\nthree\n", 3}}},
        {"an empty file is shown, then its first bytes",
         {{Act::Create, "", PollKind::Started, "", 0}, {Act::Append, "x\r\n", PollKind::Appended, "x\n", 1}}},
        {"a record in two pieces, its line end split",
         {{Act::Create, "thr", PollKind::Started, "thr", 0},
          {Act::Append, "ee\r", PollKind::Appended, "ee", 0},
          {Act::Append, "\nfour\r\n", PollKind::Appended, "\nfour\n", 2}}},
        {"truncated and rewritten shorter with the same first bytes",
         {{Act::Create, "run one\r\nmore of it\r\n", PollKind::Started, "run one\nmore of it\n", 2},
          {Act::Create, "run\r\n", PollKind::Restarted, "run\n", 1}}},
        {"truncated to nothing",
         {{Act::Create, "old\r\n", PollKind::Started, "old\n", 1},
          {Act::Create, "", PollKind::Restarted, "", 0},
          {Act::Append, "new\r\n", PollKind::Appended, "new\n", 1}}},
        {"replaced by a longer file with other first bytes",
         {{Act::Create, "short\r\n", PollKind::Started, "short\n", 1},
          {Act::Replace, "another run entirely, longer\r\n", PollKind::Restarted,
           "another run entirely, longer\n", 1}}},
        {"other bytes beyond the first 256 do not count as a new file",
         {{Act::Create, longHead + "\r\n", PollKind::Started, longHead + "\n", 1},
          {Act::Append, "tail\r\n", PollKind::Appended, "tail\n", 2}}},
        {"removed while shown, then created again",
         {{Act::Create, "first\r\n", PollKind::Started, "first\n", 1},
          {Act::Remove, "", PollKind::Missing, "", 0},
          {Act::Create, "first\r\n", PollKind::Started, "first\n", 1}}},
    };
    for (const Story& story : stories) {
        SCOPED_TRACE(story.name);
        TempFolder dir;
        const fs::path path = dir.File("Quorrin.Log");
        LogFollower follower(path.string(), viewlogs::StandardOpener());
        std::uint64_t bytes = 0;
        for (std::size_t i = 0; i < story.steps.size(); ++i) {
            SCOPED_TRACE("step " + std::to_string(i));
            const Step& step = story.steps[i];
            Apply(dir, path, step);
            const viewlogs::PollResult polled = follower.Poll();
            EXPECT_EQ(polled.kind, step.kind);
            EXPECT_EQ(polled.text, step.text);
            EXPECT_FALSE(polled.more);
            EXPECT_EQ(follower.Lines(), step.lines);
            EXPECT_EQ(follower.Present(), step.kind != PollKind::Missing);
            const std::uint64_t size = fs::exists(path) ? fs::file_size(path) : 0;
            EXPECT_EQ(follower.Bytes(), size);
            if (step.kind == PollKind::Appended) {
                EXPECT_GT(follower.Bytes(), bytes);
            }
            bytes = follower.Bytes();
        }
    }
}

TEST(ViewLogsFollower, ReadsALongFileAPieceAtATime) {
    TempFolder dir;
    const fs::path path = dir.File("Quorrin.Log");
    Write(path, "0123456789", std::ios::out | std::ios::trunc);
    LogFollower follower(path.string(), viewlogs::StandardOpener(), 4);
    struct Piece {
        PollKind kind;
        std::string text;
        bool more;
    };
    const std::vector<Piece> pieces = {
        {PollKind::Started, "0123", true},
        {PollKind::Appended, "4567", true},
        {PollKind::Appended, "89", false},
        {PollKind::Unchanged, "", false},
    };
    for (const Piece& piece : pieces) {
        const viewlogs::PollResult polled = follower.Poll();
        EXPECT_EQ(polled.kind, piece.kind);
        EXPECT_EQ(polled.text, piece.text);
        EXPECT_EQ(polled.more, piece.more);
    }
    EXPECT_EQ(follower.Bytes(), 10u);
}

TEST(ViewLogsFollower, StatusSaysWhetherTheFileIsThereAndHowMuchIsShown) {
    TempFolder dir;
    const fs::path path = dir.File("Quorrin.Log");
    LogFollower follower(path.string(), viewlogs::StandardOpener());
    follower.Poll();
    EXPECT_EQ(viewlogs::StatusText(follower),
              "The file " + path.string() + " does not exist. It is shown as soon as it appears.");
    Write(path, "a\r\nb\r\n", std::ios::out | std::ios::trunc);
    follower.Poll();
    EXPECT_EQ(viewlogs::StatusText(follower), path.string() + "  (2 lines, 6 bytes)");
}

TEST(ViewLogsCommandLine, ThePathIsEverythingAfterTheProgramName) {
    struct Case {
        const char* line;
        const char* path;
    };
    const Case cases[] = {
        {"ViewLogs.exe C:\\Quorrin\\Quorrin.Log", "C:\\Quorrin\\Quorrin.Log"},
        {"ViewLogs.exe C:\\Program Files\\Quorrin\\Quorrin.Log", "C:\\Program Files\\Quorrin\\Quorrin.Log"},
        {"\"C:\\My Tools\\ViewLogs.exe\" C:\\a b\\Quorrin.Log", "C:\\a b\\Quorrin.Log"},
        {"\"C:\\My Tools\\ViewLogs.exe\"C:\\x.log", "C:\\x.log"},
        {"  ViewLogs.exe \t  C:\\x.log  \t", "C:\\x.log"},
        {"ViewLogs.exe \"C:\\a b\\x.log\"", "C:\\a b\\x.log"},
        {"ViewLogs.exe C:\\two  blanks.log", "C:\\two  blanks.log"},
        {"ViewLogs.exe", ""},
        {"\"C:\\unclosed quote", ""},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(viewlogs::PathFromCommandLine(c.line), c.path) << c.line;
}

TEST(ViewLogsCommandLine, OnlyTheWholeLineAsksForHelpOrVersion) {
    EXPECT_EQ(viewlogs::InfoAnswer("--version"), "ViewLogs " QUORRIN_VERSION "\n");
    EXPECT_EQ(viewlogs::InfoAnswer("--help").rfind("usage: ViewLogs FILE\n", 0), 0u);
    // Paths that merely contain the words are files to show.
    for (const char* path : {"./--help", "--help x", "--Help", "-h", "x --version", ""})
        EXPECT_EQ(viewlogs::InfoAnswer(path), "") << path;
}

TEST(ViewLogsLineEnds, CarriageReturnsOutAndBackIn) {
    struct Case {
        const char* bytes;
        const char* plain;
        const char* crlf;
    };
    const Case cases[] = {
        {"a\r\nb\r\n", "a\nb\n", "a\r\nb\r\n"},    {"a\rb", "ab", "ab"},
        {"\r\n\r\n", "\n\n", "\r\n\r\n"},          {"no end", "no end", "no end"},
        {"lf only\n", "lf only\n", "lf only\r\n"},
    };
    for (const Case& c : cases) {
        const std::string plain = viewlogs::WithoutCarriageReturns(c.bytes);
        EXPECT_EQ(plain, c.plain) << c.bytes;
        EXPECT_EQ(viewlogs::WithCrLf(plain), c.crlf) << c.bytes;
    }
}
