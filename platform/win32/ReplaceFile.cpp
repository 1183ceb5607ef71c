// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin platform layer -- a file replaced at once through a temporary file
// in its folder and MoveFileEx, which replaces an existing file.
#include "platform/ReplaceFile.h"

#include <windows.h>

namespace platform {

namespace {

bool Fail(std::string& error, const std::string& what) {
    error = what + ": Windows error " + std::to_string(::GetLastError());
    return false;
}

}  // namespace

bool ReplaceFileContents(const std::string& path, const std::string& contents, std::string& error) {
    const std::size_t cut = path.find_last_of("\\/:");
    const std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
    if (name.empty()) {
        error = path + ": not a file name";
        return false;
    }
    const std::string temporary = path.substr(0, cut == std::string::npos ? 0 : cut + 1) + "." + name + ".tmp-" +
                                  std::to_string(::GetCurrentProcessId());
    HANDLE file = ::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (file == INVALID_HANDLE_VALUE) return Fail(error, temporary);
    DWORD written = 0;
    const bool ok = ::WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr) &&
                    written == contents.size() && ::FlushFileBuffers(file);
    ::CloseHandle(file);
    if (!ok || !::MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD saved = ::GetLastError();
        ::DeleteFileA(temporary.c_str());
        ::SetLastError(saved);
        return Fail(error, path);
    }
    return true;
}

}  // namespace platform
