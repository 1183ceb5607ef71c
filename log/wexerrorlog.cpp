// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin log -- the log file of a run: its path, its lock, the line layout,
// and the start and end of logging.
#include "log/wexerrorlog.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/Process.h"
#include "speaker/wexspeakerclass.h"

std::string StartFolder;
bool ProgramClosing = false;
std::unique_ptr<wexerrorlog> ErrorLog;

namespace {

constexpr std::size_t LineBufferSize = 16384;

// The file name of `path` without folder and extension, for the lock name.
std::string BaseNameOf(const std::string& path) {
    // Either separator and a drive end the folder part on Windows; a name with
    // a separator in it would not be a valid lock name there.
    std::size_t start = path.size();
    while (start > 0 && !platform::IsFolderBreak(path[start - 1])) --start;
    std::string name = path.substr(start);
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos) name.resize(dot);
    return name;
}

// The log's path as the start folder's descriptor reaches it: the part after
// the start folder and its separators, or the whole path where it does not
// lie below the start folder (a sub-folder text without a leading separator).
std::string NameInStartFolder(const std::string& path) {
    const std::size_t folder = StartFolder.size();
    if (folder == 0 || path.compare(0, folder, StartFolder) != 0 || path.size() <= folder ||
        !(platform::IsFolderBreak(path[folder]) || platform::IsFolderBreak(StartFolder.back())))
        return path;
    std::size_t start = folder;
    while (start < path.size() && platform::IsFolderBreak(path[start])) ++start;
    return path.substr(start);
}

// The "\" that callers write in sub-folder texts is this platform's separator.
std::string WithPlatformSeparators(std::string text) {
    for (char& c : text) {
        if (c == '\\') c = platform::PathSeparator;
    }
    return text;
}

// Unlocks the log on every way out of Write.
class LockHeld {
public:
    explicit LockHeld(wexerrorlog& log) : log_(log) {}
    ~LockHeld() { log_.Unlock(); }
    LockHeld(const LockHeld&) = delete;
    LockHeld& operator=(const LockHeld&) = delete;

private:
    wexerrorlog& log_;
};

}  // namespace

wexerrorlog::wexerrorlog(const char* path)
    : wexerrorlog(platform::Folder::Current(), path != nullptr ? path : "ErrorLog.Log",
                  path != nullptr ? path : "ErrorLog.Log") {}

wexerrorlog::wexerrorlog(platform::Folder folder, const std::string& name, const std::string& path)
    : folder_(std::move(folder)), name_(name), path_(path) {
    clock_ = std::make_unique<Ctimerclass>();
    clock_->Rebase();
    line_.reserve(LineBufferSize);
    lock_ = std::make_unique<platform::NamedMutex>("ERRORLOGGING_" + BaseNameOf(path_) +
                                                   std::to_string(platform::CurrentProcessId()));
    Unlock();  // not owned yet, so this does nothing
    // The file exists, empty, from here on; the previous run's log is gone.
    platform::File::CreateTruncate(folder_, name_).Close();
}

wexerrorlog::~wexerrorlog() = default;

const std::string& wexerrorlog::LockName() const {
    static const std::string none;
    return lock_ ? lock_->Name() : none;
}

// A writer holds the lock for one record, microseconds; on two busy cores a
// holder may yet wait long for the processor. A wait that gave up after one
// fixed time would drop records of a log that is merely busy, so a writer
// waits on while the lock keeps changing hands, and gives up only on a lock
// that stood still (a holder that never lets go).
bool wexerrorlog::Lock() {
    if (!lock_) return false;
    uint64_t seen = turns_.load();
    int still = 0;
    for (;;) {
        const platform::WaitResult result = lock_->Wait(LockWaitMs);
        if (result == platform::WaitResult::Acquired) return true;
        if (result == platform::WaitResult::Abandoned) {
            // An abandoned lock is ours now: this record counts as failed, but
            // the lock is handed back, or no thread could ever log again.
            Unlock();
            return false;
        }
        if (result != platform::WaitResult::Timeout) return false;
        const uint64_t now = turns_.load();
        if (now != seen) {
            seen = now;
            still = 0;
        } else if (++still * LockWaitMs >= StandstillLimitMs) {
            return false;
        }
    }
}

void wexerrorlog::Unlock() {
    if (lock_ && lock_->Release()) turns_.fetch_add(1);
}

void wexerrorlog::Write(std::string message, int32_t code) {
    if (!Lock()) {
        lost_.fetch_add(1);
        return;
    }
    LockHeld held(*this);
    try {
        if (!file_.IsOpen()) {
            file_ = platform::File::CreateTruncate(folder_, name_);
            if (!file_.IsOpen()) {
                lost_.fetch_add(1);  // the next record tries again
                return;
            }
        }
        const Stamp stamp = TakeStamp(*this);
        const uint64_t lost = lost_.load();
        const std::string lostNote = lost > 0 ? LostNote(lost) : std::string();
        char prefix[32];
        std::snprintf(prefix, sizeof prefix, "%06d  ", static_cast<int>(code));
        // The message counts as a C string: it ends at its first zero byte.
        const std::size_t messageLength = std::strlen(message.c_str());
        // The line grows past its usual 16 KiB when the message needs it, so a
        // long record is neither cut nor written past its buffer.
        line_.clear();
        line_.reserve(std::strlen(prefix) + stamp.Text.size() + 2 + messageLength + stamp.Notes.size() +
                      lostNote.size() + 2);
        line_ += prefix;
        line_ += stamp.Text;
        line_ += "  ";
        line_.append(message.data(), messageLength);
        line_ += stamp.Notes;
        line_ += lostNote;
        line_ += "\r\n";
        // Only a line that is down takes the count of lost records with it.
        if (file_.Write(line_.data(), line_.size())) {
            lost_.fetch_sub(lost);
        } else {
            lost_.fetch_add(1);
        }
    } catch (...) {
        // Out of memory for the line: the record is dropped.
        line_.clear();
        lost_.fetch_add(1);
    }
}

void wexerrorlog::CloseFile() {
    file_.Close();
}

bool MakeLogPath(const char* baseName, const char* subFolder, std::string& path) {
    path.clear();
    if (baseName == nullptr) return false;
    // Without the start folder, or with a path the system could not take
    // whole, there is no log: a shortened path would name some other file.
    if (StartFolder.empty()) return false;
    std::string built;
    const std::string inStartFolder = StartFolder + platform::PathSeparator + baseName + ".Log";
    if (subFolder != nullptr) {
        const std::string folder = StartFolder + WithPlatformSeparators(subFolder);
        built = platform::IsDirectory(folder) ? folder + baseName + ".Log" : inStartFolder;
    } else {
        built = inStartFolder;
    }
    if (built.size() > platform::MaxPathLength) return false;
    path = built;
    return true;
}

const platform::Folder& StartFolderHandle() {
    return ErrorLog ? ErrorLog->Folder() : platform::InCurrentDirectory;
}

void StartErrorLog(bool isLibrary, const char* version, const char* baseName, const char* subFolder) {
    try {
        // The current directory is read whole or not at all (empty when it
        // is too long for a path), never cut short.
        StartFolder = platform::GetCurrentDir();
        platform::Folder start = platform::Folder::Current();
        ProgramClosing = false;
        std::string path;
        if (MakeLogPath(baseName, subFolder, path)) {
            ErrorLog = std::make_unique<wexerrorlog>(std::move(start), NameInStartFolder(path), path);
        }
        const std::string versionText = version != nullptr ? version : "";
        if (isLibrary) {
            LogText("--------------------DLL START----------------------", 0);
            LogText("DLL Version " + versionText, 0);
        } else {
            LogText("------------------PROGRAM START--------------------", 0);
            LogText("Program Version " + versionText, 0);
        }
    } catch (...) {
        // Out of memory while starting: the run goes on without a log.
    }
    CreateSpeaker();
}

void EndErrorLog(bool isLibrary) {
    const char* banner = isLibrary ? "--------------------DLL END----------------------"
                                   : "------------------PROGRAM END--------------------";
    DestroySpeaker();
    LogText(banner, 0);
    if (ErrorLog) {
        ErrorLog->CloseFile();
        ErrorLog.reset();
    }
}

void LogText(const std::string& message, int32_t code) {
    try {
        if (ErrorLog) ErrorLog->Write(message, code);
    } catch (...) {
        // No memory for the message's copy: the record is dropped.
    }
}

void LogText(const char* message, int32_t code) {
    try {
        LogText(std::string(message != nullptr ? message : ""), code);
    } catch (...) {
    }
}
