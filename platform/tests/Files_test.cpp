// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the file helpers: current directory, directory and readability
// checks, and the created-or-truncated log file with its writes.
#include "platform/Files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class TempFolder {
public:
    TempFolder() {
        char pattern[] = "/tmp/quorrin_files_XXXXXX";
        path_ = ::mkdtemp(pattern);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(Files, TheCurrentDirectoryCanBeReadAndChanged) {
    TempFolder folder;
    const std::string before = platform::GetCurrentDir();
    ASSERT_FALSE(before.empty());
    ASSERT_TRUE(platform::SetCurrentDir(folder.Path()));
    EXPECT_EQ(platform::GetCurrentDir(), fs::canonical(folder.Path()).string());
    EXPECT_FALSE(platform::SetCurrentDir(""));
    EXPECT_FALSE(platform::SetCurrentDir(folder.Path() + "/missing"));
    EXPECT_EQ(platform::GetCurrentDir(), fs::canonical(folder.Path()).string());
    ASSERT_TRUE(platform::SetCurrentDir(before));
    EXPECT_TRUE(platform::SelectDrive('C'));
}

TEST(Files, DirectoriesAndReadableFilesAreToldApart) {
    TempFolder folder;
    const std::string file = folder.Path() + "/plain.txt";
    std::ofstream(file) << "x";
    struct Case {
        std::string path;
        bool directory;
        bool readable;
    };
    const Case cases[] = {
        {folder.Path(), true, true}, {folder.Path() + "/", true, true},
        {file, false, true},         {folder.Path() + "/missing", false, false},
        {"", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::IsDirectory(c.path), c.directory) << c.path;
        EXPECT_EQ(platform::CanOpenForReading(c.path), c.readable) << c.path;
    }
}

TEST(File, CreatesOrTruncatesAndWritesAtItsPosition) {
    TempFolder folder;
    const std::string path = folder.Path() + "/log.Log";
    std::ofstream(path) << "the previous run's log";
    platform::File file = platform::File::CreateTruncate(path);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(Contents(path), "");
    EXPECT_TRUE(file.Write("one\r\n", 5));
    // Another reader sees each record as soon as it has been written.
    EXPECT_EQ(Contents(path), "one\r\n");
    EXPECT_TRUE(file.Write("two\r\n", 5));
    platform::File moved = std::move(file);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(file.Write("lost", 4));
    EXPECT_TRUE(moved.Write("three\r\n", 7));
    moved.Close();
    EXPECT_FALSE(moved.IsOpen());
    EXPECT_EQ(Contents(path), "one\r\ntwo\r\nthree\r\n");
}

TEST(File, APathThatCannotBeCreatedGivesNoFile) {
    TempFolder folder;
    EXPECT_FALSE(platform::File::CreateTruncate(folder.Path() + "/missing/log.Log").IsOpen());
    EXPECT_FALSE(platform::File::CreateTruncate("").IsOpen());
    EXPECT_FALSE(platform::File::CreateTruncate(folder.Path()).IsOpen());  // a folder
}

}  // namespace
