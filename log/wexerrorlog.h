// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin log -- the per-run log file, its lock, the line layout, the start and
// end banners, and the record calls every other part of the program uses.
// Logging never fails its caller: a record that cannot be written is dropped,
// and the next record written says how many were.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Files.h"
#include "platform/NamedMutex.h"
#include "timing/TimeUnit.h"

// The current directory when the log was started: the log's folder, and
// where the viewer and the driver install script are looked for. Empty
// before the log starts. Logging never changes the current directory: the
// log holds the folder open and writes through it.
extern std::string StartFolder;

// Set when the program begins to close; cleared by StartErrorLog.
extern bool ProgramClosing;

class wexerrorlog {
public:
    // The file `path` names from the current directory as it is now; without
    // a path "ErrorLog.Log" there.
    explicit wexerrorlog(const char* path);
    // The file `name` in `folder` (an absolute name stands for itself);
    // `path` is its full name, as Path() gives it.
    wexerrorlog(platform::Folder folder, const std::string& name, const std::string& path);
    ~wexerrorlog();
    wexerrorlog(const wexerrorlog&) = delete;
    wexerrorlog& operator=(const wexerrorlog&) = delete;

    // Waits its turn while other records are being written; fails when the
    // lock has stood still for StandstillLimitMs (held, and no record done),
    // or was abandoned by a thread that ended holding it.
    bool Lock();
    void Unlock();
    void Write(std::string message, int32_t code);
    void CloseFile();

    const std::string& Path() const { return path_; }
    const std::string& LockName() const;
    // The folder the log was opened in, held open for the log's life.
    const platform::Folder& Folder() const { return folder_; }
    // The last record's complete line, CR LF included.
    const std::string& LastLine() const { return line_; }
    // Records dropped since the last one written.
    uint64_t LostRecords() const { return lost_.load(); }

    // Used by TakeStamp, under the lock: the clock may be rebased or replaced.
    std::unique_ptr<Ctimerclass>& Clock() { return clock_; }

    static constexpr int LockWaitMs = 100;
    static constexpr int StandstillLimitMs = 1000;

private:
    std::unique_ptr<platform::NamedMutex> lock_;
    std::unique_ptr<Ctimerclass> clock_;
    platform::Folder folder_;
    std::string name_;
    platform::File file_;
    std::string path_;
    std::string line_;
    std::atomic<uint64_t> turns_{0};  // lock holds ended: the lock is moving
    std::atomic<uint64_t> lost_{0};
};

extern std::unique_ptr<wexerrorlog> ErrorLog;

// The start folder held open while the log exists; without a log one that
// is not open, which stands for the current directory (never changed after
// start-up, so still the start folder).
const platform::Folder& StartFolderHandle();

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
// The note a record carries after the clock's when records were lost since
// the last one written.
std::string LostNote(uint64_t lost);
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
