// SPDX-License-Identifier: GPL-2.0-or-later
// The viewer's toolkit-free core: follows one text file by polling, and says
// what changed since the last look.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace viewlogs {

// An open file the follower reads from. Opening and sizing go through here
// so that a system's own open (with the sharing its writers expect) can be
// used instead of the standard streams.
class FollowedFile {
public:
    virtual ~FollowedFile() = default;
    virtual std::uint64_t Size() = 0;
    // Bytes actually read into `into`; fewer than `count` at the end.
    virtual std::size_t ReadAt(std::uint64_t offset, char* into, std::size_t count) = 0;
};

class FileOpener {
public:
    virtual ~FileOpener() = default;
    // Null while the file does not exist or cannot be opened.
    virtual std::unique_ptr<FollowedFile> Open(const std::string& path) = 0;
};

// std::ifstream, for systems without an opener of their own.
std::unique_ptr<FileOpener> StandardOpener();

enum class PollKind {
    Missing,    // no file: whatever was shown is gone
    Unchanged,  // nothing new
    Started,    // shown from its start (after missing, or the first look)
    Appended,   // more bytes after those shown
    Restarted,  // truncated or replaced: shown from its start again
};

struct PollResult {
    PollKind kind = PollKind::Unchanged;
    // The new text, line ends as '\n' (the carriage returns taken out).
    std::string text;
    // More bytes wait than one poll reads: poll again soon.
    bool more = false;
};

class LogFollower {
public:
    static constexpr std::size_t HeadSize = 256;
    static constexpr std::size_t DefaultChunk = 1 << 20;

    LogFollower(std::string path, std::unique_ptr<FileOpener> opener, std::size_t chunk = DefaultChunk);

    PollResult Poll();

    const std::string& Path() const { return path_; }
    bool Present() const { return present_; }
    std::uint64_t Bytes() const { return offset_; }
    std::uint64_t Lines() const { return lines_; }

private:
    void Reset();

    std::string path_;
    std::unique_ptr<FileOpener> opener_;
    std::size_t chunk_;
    bool present_ = false;
    std::uint64_t offset_ = 0;  // bytes of the file shown so far
    std::uint64_t lines_ = 0;   // line ends among them
    std::string head_;          // their first bytes, to tell a replaced file
};

// The text without its carriage returns: CR LF (also split over two reads)
// becomes '\n', and a stray CR is dropped, so the view never shows one.
std::string WithoutCarriageReturns(std::string_view bytes);

// The path a whole command line names: the program's own name (quoted or
// not) skipped, the blanks around the rest trimmed, one pair of quotes
// around it taken off. Blanks inside the path are kept.
std::string PathFromCommandLine(std::string_view line);

// What ViewLogs prints instead of showing a file when the path its command
// line names is "--help" or "--version" (a file of that name is
// "./--help"); empty for every other path.
std::string InfoAnswer(std::string_view path);

// "\n" as "\r\n", for controls that want CR LF line ends.
std::string WithCrLf(std::string_view text);

// The status line: the waiting notice, or what is shown.
std::string StatusText(const LogFollower& follower);

}  // namespace viewlogs
