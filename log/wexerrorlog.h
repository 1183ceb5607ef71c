// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin log -- the per-run log file, its lock, the line layout, the start and
// end banners, and the record calls every other part of the program uses.
// Logging never fails its caller: a record that cannot be written is dropped.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Files.h"
#include "platform/NamedMutex.h"
#include "timing/TimeUnit.h"

// The current directory when the log was started: the log's folder, the
// folder every logging call makes current again, and where the viewer and the
// driver install script are looked for. Empty before the log starts.
extern std::string StartFolder;

// Set when the program begins to close; cleared by StartErrorLog.
extern bool ProgramClosing;

class wexerrorlog {
public:
    explicit wexerrorlog(const char* path);
    ~wexerrorlog();
    wexerrorlog(const wexerrorlog&) = delete;
    wexerrorlog& operator=(const wexerrorlog&) = delete;

    bool Lock();  // waits at most 100 ms
    void Unlock();
    void Write(std::string message, int32_t code);
    void CloseFile();

    const std::string& Path() const { return path_; }
    const std::string& LockName() const;
    // The last record's complete line, CR LF included.
    const std::string& LastLine() const { return line_; }

    // Used by TakeStamp, under the lock: the clock may be rebased or replaced.
    std::unique_ptr<Ctimerclass>& Clock() { return clock_; }

private:
    std::unique_ptr<platform::NamedMutex> lock_;
    std::unique_ptr<Ctimerclass> clock_;
    platform::File file_;
    std::string path_;
    std::string line_;
};

extern std::unique_ptr<wexerrorlog> ErrorLog;

void StartErrorLog(bool isLibrary, const char* version, const char* baseName, const char* subFolder);
void EndErrorLog(bool isLibrary);
void LogText(const std::string& message, int32_t code);
void LogText(const char* message, int32_t code);  // nullptr is an empty message
bool MakeLogPath(const char* baseName, const char* subFolder, std::string& path);

// The stamp of one record and the notes of the clock repairs it made.
struct Stamp {
    std::string Text;   // 19 characters
    std::string Notes;  // empty, or the repair notes
};
Stamp TakeStamp(wexerrorlog& log);

void LogInfo(const std::string& message, int32_t code, bool showBox);
void LogInfo(const char* message, int32_t code, bool showBox);  // nullptr is an empty message
void LogInfoLine(const std::string& message, int32_t code, bool showBox);
void LogError(const std::string& message, int32_t code, bool showBox);
void LogSourceError(const std::string& sourcePath, uint32_t line, const std::string& functionName,
                    const std::string& message, int32_t code);

// Message boxes are shown by whichever front end is running; with none set,
// no box is shown.
enum class BoxKind { Information, Error };
class MessageBoxSink {
public:
    virtual ~MessageBoxSink() = default;
    // Blocks until the user has dismissed the box.
    virtual void Show(BoxKind kind, const std::string& caption, const std::string& text) = 0;
};
void SetMessageBoxSink(MessageBoxSink* sink);
