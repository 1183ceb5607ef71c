// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin log -- the record calls (information, line, error, source
// location), the record stamp with its clock repairs, and message boxes.
#include <atomic>

#include "log/LogReader.h"
#include "log/wexerrorlog.h"
#include "format/NumberFormat.h"
#include "speaker/wexspeakerclass.h"

namespace {

std::atomic<MessageBoxSink*> boxSink{nullptr};

void ShowBox(BoxKind kind, const std::string& text) {
    if (MessageBoxSink* sink = boxSink.load()) {
        sink->Show(kind, kind == BoxKind::Information ? "INFO" : "ERROR", text);
    }
}

}  // namespace

void SetMessageBoxSink(MessageBoxSink* sink) {
    boxSink.store(sink);
}

Stamp TakeStamp(wexerrorlog& log) {
    Stamp stamp;
    std::unique_ptr<Ctimerclass>& clock = log.Clock();
    if (!clock) clock = std::make_unique<Ctimerclass>();
    double t = clock->GetTime();
    if (t > MaxReading) {
        clock->Rebase();
        t = clock->GetTime();
        stamp.Notes += ReinitNote;
    }
    // Written so that an undefined reading counts as broken too.
    if (!(t >= 0.000001)) {
        clock.reset();
        clock = std::make_unique<Ctimerclass>();
        clock->Rebase();
        t = clock->GetTime();
        stamp.Notes += CpuTimeNote;
    }
    int days = 0, hours = 0, minutes = 0;
    double seconds = 0.0;
    SplitTime(t, days, hours, minutes, seconds);
    // Not carried as the caption's text is: 59.9999995 s stamps as 60.000000.
    stamp.Text = SplitTimeText(days, hours, minutes, seconds);
    return stamp;
}

std::string LostNote(uint64_t lost) {
    return LostNotePrefix + std::to_string(lost);
}

void LogInfo(const std::string& message, int32_t code, bool showBox) {
    if (!ErrorLog) return;
    try {
        ErrorLog->Write(message, code);
        if (showBox) ShowBox(BoxKind::Information, message);
    } catch (...) {
    }
}

void LogInfo(const char* message, int32_t code, bool showBox) {
    try {
        LogInfo(std::string(message != nullptr ? message : ""), code, showBox);
    } catch (...) {
    }
}

void LogInfoLine(const std::string& message, int32_t code, bool showBox) {
    try {
        const std::string line = message + "\r\n";
        LogInfo(line, code, false);
        if (showBox) ShowBox(BoxKind::Information, line);
    } catch (...) {
    }
}

void LogError(const std::string& message, int32_t code, bool showBox) {
    BeepError();
    LogText(message, code);
    if (showBox) ShowBox(BoxKind::Error, message);
}

void LogSourceError(const std::string& sourcePath, uint32_t line, const std::string& functionName,
                    const std::string& message, int32_t code) {
    try {
        // Both platforms' paths: the name follows the last "\", "/" or ":".
        const auto cut = sourcePath.find_last_of("\\/:");
        const std::string fileName = cut == std::string::npos ? sourcePath : sourcePath.substr(cut + 1);
        const std::string text = "[" + fileName + ":" + DecimalText(static_cast<double>(line), 9, 0) + " " +
                                 functionName + "()] " + message;
        LogInfo(text, code, false);
    } catch (...) {
    }
}
