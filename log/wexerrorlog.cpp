// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin log -- the log file of a run: its path, its lock, the line layout,
// and the start and end of logging.
#include "log/wexerrorlog.h"

#include <cstdio>
#include <cstring>

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

// The "\" that callers write in sub-folder texts is this platform's separator.
std::string WithPlatformSeparators(std::string text) {
    for (char& c : text) {
        if (c == '\\') c = platform::PathSeparator;
    }
    return text;
}

}  // namespace

void MakeStartFolderCurrent() {
    if (StartFolder.empty()) return;
    if (StartFolder.size() > 2 && StartFolder[1] == ':') {
        char letter = StartFolder[0];
        if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
        platform::SelectDrive(letter);
    }
    platform::SetCurrentDir(StartFolder);  // a failure leaves the record to be written all the same
}

namespace {

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

wexerrorlog::wexerrorlog(const char* path) {
    clock_ = std::make_unique<Ctimerclass>();
    clock_->Rebase();
    path_ = path != nullptr ? path : "ErrorLog.Log";
    line_.reserve(LineBufferSize);
    lock_ = std::make_unique<platform::NamedMutex>("ERRORLOGGING_" + BaseNameOf(path_) +
                                                   std::to_string(platform::CurrentProcessId()));
    Unlock();  // not owned yet, so this does nothing
    // The file exists, empty, from here on; the previous run's log is gone.
    platform::File::CreateTruncate(path_).Close();
}

wexerrorlog::~wexerrorlog() = default;

const std::string& wexerrorlog::LockName() const {
    static const std::string none;
    return lock_ ? lock_->Name() : none;
}

bool wexerrorlog::Lock() {
    if (!lock_) return false;
    const platform::WaitResult result = lock_->Wait(100);
    if (result == platform::WaitResult::Abandoned) {
        // An abandoned lock is ours now: this record counts as failed, but the
        // lock is handed back, or no thread could ever log again.
        lock_->Release();
        return false;
    }
    return result == platform::WaitResult::Acquired;
}

void wexerrorlog::Unlock() {
    if (lock_) lock_->Release();
}

void wexerrorlog::Write(std::string message, int32_t code) {
    if (!Lock()) return;
    LockHeld held(*this);
    try {
        if (!file_.IsOpen()) {
            file_ = platform::File::CreateTruncate(path_);
            if (!file_.IsOpen()) return;  // the next record tries again
        }
        const Stamp stamp = TakeStamp(*this);
        char prefix[32];
        std::snprintf(prefix, sizeof prefix, "%06d  ", static_cast<int>(code));
        // The message counts as a C string: it ends at its first zero byte.
        const std::size_t messageLength = std::strlen(message.c_str());
        // The line grows past its usual 16 KiB when the message needs it, so a
        // long record is neither cut nor written past its buffer.
        line_.clear();
        line_.reserve(std::strlen(prefix) + stamp.Text.size() + 2 + messageLength + stamp.Notes.size() + 2);
        line_ += prefix;
        line_ += stamp.Text;
        line_ += "  ";
        line_.append(message.data(), messageLength);
        line_ += stamp.Notes;
        line_ += "\r\n";
        file_.Write(line_.data(), line_.size());
    } catch (...) {
        // Out of memory for the line: the record is dropped.
        line_.clear();
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

void StartErrorLog(bool isLibrary, const char* version, const char* baseName, const char* subFolder) {
    try {
        // The current directory is read whole or not at all (empty when it
        // is too long for a path), never cut short.
        StartFolder = platform::GetCurrentDir();
        ProgramClosing = false;
        std::string path;
        if (MakeLogPath(baseName, subFolder, path)) {
            ErrorLog = std::make_unique<wexerrorlog>(path.c_str());
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
    MakeStartFolderCurrent();
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
