// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer on Windows -- no private services: the programs
// talk to the kernel driver itself, and the stand-in driver service that a
// recorded bus is replayed through is not part of this build.
#include "platform/PrivateService.h"

#include <utility>

namespace platform {

namespace {
constexpr const char* NotHere = "replaying a recorded bus needs quorrin-driverd, which the Windows build does not have";
}

PrivateFolder::PrivateFolder(PrivateFolder&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

PrivateFolder& PrivateFolder::operator=(PrivateFolder&& other) noexcept {
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
    return *this;
}

bool PrivateFolder::Create(const std::string&, std::string& error) {
    error = NotHere;
    return false;
}

void PrivateFolder::Remove() {}

ServiceProcess::ServiceProcess(ServiceProcess&&) noexcept {}
ServiceProcess& ServiceProcess::operator=(ServiceProcess&&) noexcept { return *this; }

bool ServiceProcess::Start(const std::vector<std::string>&, const std::string&, std::string& error) {
    error = NotHere;
    return false;
}

ServiceProcess::Output ServiceProcess::ReadLine(int, std::string&) { return Output::Closed; }
bool ServiceProcess::Running() const { return false; }
int ServiceProcess::Stop(int) { return -1; }

}  // namespace platform
