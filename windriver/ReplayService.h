// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin windriver -- a recorded machine replayed through a private
// quorrin-driverd: started as this user on a socket in a folder of the
// user's runtime folder, for this process alone, and stopped with it. The
// recording is a bus file, a saved sniff (quorrin-sniff --save-bus) or the
// text of lspci -vv -xxx; the service tells them apart.
#pragma once

#include <string>
#include <vector>

#include "platform/PrivateService.h"

class ReplayService {
public:
    static constexpr int DefaultReadyTimeoutMs = 20000;

    ReplayService() = default;
    ~ReplayService() { Stop(); }
    ReplayService(const ReplayService&) = delete;
    ReplayService& operator=(const ReplayService&) = delete;

    // Starts `program` (quorrin-driverd) on `busFile` and waits for it to
    // answer. False with a message for the user in `error` when it does not
    // come up: the program is missing, the file cannot be read or does not
    // fit its format (the service's own words, with the line), or it stays
    // silent.
    bool Start(const std::string& program, const std::string& busFile, std::string& error,
               int readyTimeoutMs = DefaultReadyTimeoutMs);
    // The service's socket, for SetDriverDevice.
    const std::string& Socket() const { return socket_; }
    // The recording's path as the service read it (absolute).
    const std::string& BusFile() const { return busFile_; }
    // What the service said about the recording: its kind and size, and what
    // it cannot replay (lspci gives no PLX EEPROM words).
    const std::vector<std::string>& Notes() const { return notes_; }
    bool Running() const { return process_.Running(); }
    void Stop();

private:
    platform::PrivateFolder folder_;
    platform::ServiceProcess process_;
    std::string socket_;
    std::string busFile_;
    std::vector<std::string> notes_;
};
