// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin windriver -- starting, waiting for and stopping the private
// service that replays a recorded bus.
#include "windriver/ReplayService.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace {

constexpr const char* FolderPrefix = "quorrin-replay-";
constexpr const char* ServicePrefix = "quorrin-driverd: ";
constexpr std::size_t MaxSocketPath = 107;  // sun_path without its terminator

std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(ServicePrefix, 0) == 0) line.erase(0, std::string(ServicePrefix).size());
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : "; ") + line;
    return text;
}

}  // namespace

bool ReplayService::Start(const std::string& program, const std::string& busFile, std::string& error,
                          int readyTimeoutMs) {
    Stop();
    std::error_code failed;
    busFile_ = std::filesystem::absolute(busFile, failed).lexically_normal().string();
    if (failed) busFile_ = busFile;
    if (!std::ifstream(busFile_, std::ios::binary)) {
        error = busFile + ": cannot be read";
        return false;
    }
    if (!folder_.Create(FolderPrefix, error)) {
        error = "cannot replay " + busFile + ": " + error;
        return false;
    }
    socket_ = folder_.Path() + "/windrvr6";
    if (socket_.size() > MaxSocketPath) {
        error = "cannot replay " + busFile + ": the runtime folder's path is too long for a socket (" + socket_ + ")";
        Stop();
        return false;
    }
    const std::string errors = folder_.Path() + "/errors";
    if (!process_.Start({program, "--bus", busFile_, "--socket", socket_}, errors, error)) {
        error = "cannot replay " + busFile + ": " + error + " (quorrin-driverd is needed to replay a bus)";
        Stop();
        return false;
    }
    std::string line;
    const platform::ServiceProcess::Output output = process_.ReadLine(readyTimeoutMs, line);
    if (output != platform::ServiceProcess::Output::Line || line != "ready") {
        const bool silent = output == platform::ServiceProcess::Output::TimedOut;
        process_.Stop();
        notes_ = Lines(errors);
        error = silent ? "cannot replay " + busFile + ": quorrin-driverd did not answer within " +
                             std::to_string(readyTimeoutMs) + " ms"
                       : "cannot replay " + (notes_.empty() ? busFile + ": quorrin-driverd ended at once" : Joined(notes_));
        Stop();
        return false;
    }
    notes_ = Lines(errors);
    return true;
}

void ReplayService::Stop() {
    process_.Stop();
    folder_.Remove();
    socket_.clear();
    notes_.clear();
}
