// SPDX-License-Identifier: GPL-2.0-or-later
// The viewer's core: polling one file.
#include "viewlogs/core/LogFollower.h"

#include <algorithm>
#include <fstream>

namespace viewlogs {

namespace {

class StreamFile : public FollowedFile {
public:
    explicit StreamFile(std::ifstream in) : in_(std::move(in)) {}

    std::uint64_t Size() override {
        in_.clear();
        in_.seekg(0, std::ios::end);
        const auto end = in_.tellg();
        return end < 0 ? 0 : static_cast<std::uint64_t>(end);
    }

    std::size_t ReadAt(std::uint64_t offset, char* into, std::size_t count) override {
        in_.clear();
        in_.seekg(static_cast<std::streamoff>(offset));
        if (!in_) return 0;
        in_.read(into, static_cast<std::streamsize>(count));
        return static_cast<std::size_t>(in_.gcount());
    }

private:
    std::ifstream in_;
};

class StreamOpener : public FileOpener {
public:
    std::unique_ptr<FollowedFile> Open(const std::string& path) override {
        std::ifstream in(path, std::ios::binary);
        if (!in) return nullptr;
        return std::make_unique<StreamFile>(std::move(in));
    }
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

std::unique_ptr<FileOpener> StandardOpener() {
    return std::make_unique<StreamOpener>();
}

LogFollower::LogFollower(std::string path, std::unique_ptr<FileOpener> opener, std::size_t chunk)
    : path_(std::move(path)), opener_(std::move(opener)), chunk_(std::max<std::size_t>(chunk, 1)) {}

void LogFollower::Reset() {
    offset_ = 0;
    lines_ = 0;
    head_.clear();
}

PollResult LogFollower::Poll() {
    PollResult result;
    const std::unique_ptr<FollowedFile> file = opener_->Open(path_);
    if (!file) {
        present_ = false;
        Reset();
        result.kind = PollKind::Missing;
        return result;
    }
    std::string head(HeadSize, '\0');
    head.resize(file->ReadAt(0, head.data(), head.size()));
    const std::uint64_t size = file->Size();
    // Shorter than what is shown, or other first bytes: a new file.
    if (!present_ || size < offset_ || head.compare(0, head_.size(), head_) != 0) {
        result.kind = present_ ? PollKind::Restarted : PollKind::Started;
        present_ = true;
        Reset();
    }
    if (size > offset_) {
        std::string more(static_cast<std::size_t>(std::min<std::uint64_t>(size - offset_, chunk_)), '\0');
        more.resize(file->ReadAt(offset_, more.data(), more.size()));
        offset_ += more.size();
        if (head_.size() < HeadSize)
            head_ = head.substr(0, static_cast<std::size_t>(std::min<std::uint64_t>(offset_, HeadSize)));
        result.text = WithoutCarriageReturns(more);
        lines_ += static_cast<std::uint64_t>(std::count(result.text.begin(), result.text.end(), '\n'));
        result.more = offset_ < size;
        if (result.kind == PollKind::Unchanged && !more.empty()) result.kind = PollKind::Appended;
    }
    return result;
}

std::string WithoutCarriageReturns(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (const char c : bytes)
        if (c != '\r') text += c;
    return text;
}

std::string PathFromCommandLine(std::string_view line) {
    std::size_t at = 0;
    while (at < line.size() && IsBlank(line[at])) ++at;
    // A quoted name ends at its closing quote, as the C runtime's argv[0].
    if (at < line.size() && line[at] == '"') {
        const std::size_t close = line.find('"', at + 1);
        at = close == std::string_view::npos ? line.size() : close + 1;
    } else {
        while (at < line.size() && !IsBlank(line[at])) ++at;
    }
    std::string_view rest = line.substr(at);
    while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
    while (!rest.empty() && IsBlank(rest.back())) rest.remove_suffix(1);
    if (rest.size() >= 2 && rest.front() == '"' && rest.back() == '"') rest = rest.substr(1, rest.size() - 2);
    return std::string(rest);
}

std::string InfoAnswer(std::string_view path) {
    if (path == "--version") return "ViewLogs " QUORRIN_VERSION "\n";
    if (path != "--help") return std::string();
    return "usage: ViewLogs FILE\n"
           "  Shows the log FILE read-only and follows it as it grows; Quorrin's\n"
           "  View > Error Log starts it. The whole command line is the path.\n"
           "  --help     this text\n"
           "  --version  the program's name and version\n";
}

std::string WithCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (const char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

std::string StatusText(const LogFollower& follower) {
    if (!follower.Present())
        return "The file " + follower.Path() + " does not exist. It is shown as soon as it appears.";
    return follower.Path() + "  (" + std::to_string(follower.Lines()) + " lines, " +
           std::to_string(follower.Bytes()) + " bytes)";
}

}  // namespace viewlogs
