// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- a helper service that one process starts for
// itself alone: a folder of the user's own for its socket, and the service's
// process, whose "ready" line is awaited and which ends with us.
#pragma once

#include <string>
#include <vector>

namespace platform {

// A fresh folder of this user's own in the user's runtime folder
// ($XDG_RUNTIME_DIR, /run/user/UID, else /tmp/quorrin-UID), named `prefix`
// and six random characters, removed with the files in it when the object
// goes. Folders of the same prefix that a process which has since ended left
// behind are removed first: a folder is held (locked) for as long as its
// object lives, so a free one belongs to nobody.
class PrivateFolder {
public:
    PrivateFolder() = default;
    ~PrivateFolder() { Remove(); }
    PrivateFolder(PrivateFolder&& other) noexcept;
    PrivateFolder& operator=(PrivateFolder&& other) noexcept;
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    // False with the reason in `error` (not on Windows: there is no need).
    bool Create(const std::string& prefix, std::string& error);
    const std::string& Path() const { return path_; }
    void Remove();

private:
    int fd_ = -1;  // the folder, locked while we hold it
    std::string path_;
};

// A program started with its standard output on a pipe of ours, its
// standard error into a file and nothing else inherited. It is sent SIGTERM
// when the thread that started it ends (a crash of ours included), and is
// named through a pidfd, so ending it never reaches a process that took its
// id since.
class ServiceProcess {
public:
    ServiceProcess() = default;
    ~ServiceProcess() { Stop(); }
    ServiceProcess(ServiceProcess&& other) noexcept;
    ServiceProcess& operator=(ServiceProcess&& other) noexcept;
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // argv[0] is the program's path. `errorFile` is created afresh (never
    // through a link) for its standard error. False when it could not be
    // started, with the reason in `error`.
    bool Start(const std::vector<std::string>& argv, const std::string& errorFile, std::string& error);
    // The next line of its standard output, without the line end; or that
    // none came within timeoutMs, or that it closed its output (it ended).
    enum class Output { Line, TimedOut, Closed };
    Output ReadLine(int timeoutMs, std::string& line);
    bool Running() const;
    // SIGTERM, then SIGKILL after graceMs; reaps it. Its exit status, or -1
    // when it was ended by a signal, was not running or never started.
    int Stop(int graceMs = 2000);

private:
    int pidfd_ = -1;
    int pid_ = -1;
    int out_ = -1;
    std::string pending_;  // output read past the last line handed out
};

}  // namespace platform
