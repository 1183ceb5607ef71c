// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin test support -- a fresh folder under the system's temporary folder,
// removed again with everything in it. Portable: the tests of both systems
// use it.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace platform::testing {

class TempFolder {
public:
    explicit TempFolder(const std::string& prefix) {
        namespace fs = std::filesystem;
        static std::atomic<unsigned> serial{0};
        std::random_device entropy;
        const fs::path base = fs::temp_directory_path();
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string name = prefix + std::to_string(entropy()) + "_" + std::to_string(serial++);
            std::error_code error;
            // create_directory is false for a name that exists: another run's, never ours to take.
            if (fs::create_directory(base / name, error)) {
                path_ = fs::canonical(base / name).string();
                return;
            }
        }
        throw std::runtime_error("no temporary folder could be made under " + base.string());
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

}  // namespace platform::testing
