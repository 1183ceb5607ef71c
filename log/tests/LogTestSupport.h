// SPDX-License-Identifier: GPL-2.0-or-later
// Shared pieces of the log tests: a temporary start folder, a pinned clock,
// and recorders for tones and message boxes.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "log/wexerrorlog.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/testing/FileText.h"
#include "platform/testing/TempFolder.h"
#include "speaker/wexspeakerclass.h"

namespace logtest {

namespace fs = std::filesystem;

using platform::testing::ReadFile;

// The file cut into its lines, CR LF taken off; false for a line without CR.
inline std::vector<std::string> Lines(const std::string& text, bool* allEndInCrLf = nullptr) {
    std::vector<std::string> lines;
    bool crlf = true;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            crlf = false;
            lines.push_back(text.substr(start));
            break;
        }
        std::string line = text.substr(start, end - start);
        if (line.empty() || line.back() != '\r')
            crlf = false;
        else
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    if (allEndInCrLf) *allEndInCrLf = crlf;
    return lines;
}

// Checks the layout of one line (CR LF taken off): the code as "%06d", two
// blanks, the 19-character stamp "ddd:dd:dd:dd.dddddd", two blanks, the
// message. Gives the code's text and the message.
inline bool ParseRecord(const std::string& line, std::string& code, std::string& message) {
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t end = 0;
    if (end < line.size() && line[end] == '-') ++end;
    while (end < line.size() && digit(line[end])) ++end;
    code = line.substr(0, end);
    if (code.size() < 6) return false;  // "%06d": six characters at least, a sign among them
    static const char shape[] = "  ddd:dd:dd:dd.dddddd  ";
    const std::size_t shapeLength = sizeof shape - 1;
    if (line.size() < end + shapeLength) return false;
    for (std::size_t i = 0; i < shapeLength; ++i) {
        const char c = line[end + i];
        if (shape[i] == 'd' ? !digit(c) : c != shape[i]) return false;
    }
    message = line.substr(end + shapeLength);
    return true;
}

class PinnedTime : public platform::TimeSource {
public:
    PinnedTime() { previous_ = platform::SetTimeSourceForTesting(this); }
    ~PinnedTime() override { platform::SetTimeSourceForTesting(previous_); }
    platform::LocalTime Now() override { return now; }
    int64_t CounterFrequency() override { return frequency; }
    int64_t CounterValue() override { return counter; }

    platform::LocalTime now{2023, 2, 14, 9, 15, 2, 123};  // 045:09:15:02.123000
    int64_t frequency = 1000000;
    int64_t counter = 0;

private:
    platform::TimeSource* previous_;
};

class CountingSink : public ToneSink {
public:
    void Beep(unsigned frequencyHz, int durationMs) override {
        if (frequencyHz != 0 || durationMs != 0) tones.emplace_back(frequencyHz, durationMs);
    }
    void Pause(int durationMs) override { tones.emplace_back(0, durationMs); }
    std::vector<std::pair<unsigned, int>> tones;  // 0 Hz: a pause
};

struct Box {
    BoxKind kind;
    std::string caption;
    std::string text;
};

class RecordingBoxes : public MessageBoxSink {
public:
    void Show(BoxKind kind, const std::string& caption, const std::string& text) override {
        boxes.push_back({kind, caption, text});
    }
    std::vector<Box> boxes;
};

// Each test runs in a start folder of its own and leaves the log ended.
class LogTest : public testing::Test {
protected:
    void SetUp() override {
        saved_ = fs::current_path();
        temp_ = std::make_unique<platform::testing::TempFolder>("quorrin_log_");
        folder_ = temp_->Path();
        fs::current_path(folder_);
        SetToneSink(&tones_);
        SetMessageBoxSink(&boxes_);
    }
    void TearDown() override {
        EndErrorLog(false);
        DestroySpeaker();
        StartFolder.clear();
        SetToneSink(nullptr);
        SetMessageBoxSink(nullptr);
        fs::current_path(saved_);
        temp_.reset();
    }
    std::string LogFile() const { return folder_ + platform::PathSeparator + "Quorrin.Log"; }

    std::string folder_;
    CountingSink tones_;
    RecordingBoxes boxes_;

private:
    fs::path saved_;
    std::unique_ptr<platform::testing::TempFolder> temp_;
};

}  // namespace logtest
