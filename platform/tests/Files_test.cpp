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

#include "platform/testing/FileText.h"
#include "platform/testing/TempFolder.h"

namespace fs = std::filesystem;

namespace {

struct TempFolder : platform::testing::TempFolder {
    TempFolder() : platform::testing::TempFolder("quorrin_files_") {}
};

std::string Contents(const std::string& path) { return platform::testing::ReadFile(path); }

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

// What lies in a folder held open is reached through it: after the folder
// was renamed, and whatever the current directory is. A folder that is not
// open stands for the current directory; an absolute name for itself.
TEST(Folder, NamesAreReachedThroughTheFolderHeld) {
    TempFolder top;
    fs::create_directories(top.Path() + "/held/sub");
    std::ofstream(top.Path() + "/held/plain.txt") << "x";
    platform::Folder held = platform::Folder::Open(top.Path() + "/held");
    ASSERT_TRUE(held.IsOpen());
    EXPECT_EQ(held.Path(), top.Path() + "/held");
    fs::rename(top.Path() + "/held", top.Path() + "/renamed");
    fs::create_directories(top.Path() + "/held");  // takes the old name: not ours
    const fs::path old = fs::current_path();
    fs::current_path(top.Path());
    struct Case {
        const platform::Folder* folder;
        std::string name;
        bool directory, readable;
    };
    const Case cases[] = {
        {&held, "sub", true, true},
        {&held, "plain.txt", false, true},
        {&held, "missing", false, false},
        {&held, top.Path() + "/renamed/plain.txt", false, true},
        {&platform::InCurrentDirectory, "renamed/plain.txt", false, true},
        {&held, "", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::IsDirectory(*c.folder, c.name), c.directory) << c.name;
        EXPECT_EQ(platform::CanOpenForReading(*c.folder, c.name), c.readable) << c.name;
    }
    platform::File file = platform::File::CreateTruncate(held, "new.Log");
    ASSERT_TRUE(file.IsOpen());
    EXPECT_TRUE(file.Write("x", 1));
    EXPECT_EQ(Contents(top.Path() + "/renamed/new.Log"), "x");
    EXPECT_FALSE(fs::exists(top.Path() + "/held/new.Log"));
    const platform::Folder sub = held.Sub("sub");
    EXPECT_TRUE(sub.IsOpen());
    EXPECT_FALSE(held.Sub("plain.txt").IsOpen());
    platform::Folder moved = std::move(held);
    EXPECT_FALSE(held.IsOpen());
    EXPECT_TRUE(platform::IsDirectory(moved, "sub"));
    EXPECT_FALSE(platform::Folder::Open(top.Path() + "/missing").IsOpen());
    fs::current_path(old);
}

}  // namespace
