// SPDX-License-Identifier: MIT
#include "SaveReplacing.h"

#include "Exceptions.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>

namespace {

constexpr int nameAttempts = 100;
constexpr std::size_t largestWrite = 1u << 30;

// RAII owner of a file handle.
class TFileHandle {
public:
    explicit TFileHandle(HANDLE handle) : handle(handle) {}
    ~TFileHandle() { Close(); }
    TFileHandle(const TFileHandle&) = delete;
    TFileHandle& operator=(const TFileHandle&) = delete;
    HANDLE get() const { return handle; }
    bool Close() {
        if (handle == INVALID_HANDLE_VALUE)
            return true;
        return CloseHandle(std::exchange(handle, INVALID_HANDLE_VALUE)) != 0;
    }

private:
    HANDLE handle;
};

} // namespace

void SaveFileReplacing(const std::filesystem::path& target, std::string_view bytes) {
    const auto fail = [&target] { return EFCreateError("Cannot create file " + target.string()); };
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    std::filesystem::path temporary;
    HANDLE created = INVALID_HANDLE_VALUE;
    // CREATE_NEW never takes over a file that exists, so a clash only costs another name.
    for (int attempt = 0; attempt < nameAttempts && created == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = folder / (L"." + target.filename().wstring() + L"." + std::to_wstring(GetCurrentProcessId()) +
                              L"-" + std::to_wstring(attempt) + L".tmp");
        created = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            throw fail();
    }
    if (created == INVALID_HANDLE_VALUE)
        throw fail();
    TFileHandle file(created);
    bool written = true;
    for (std::size_t done = 0; written && done < bytes.size();) {
        DWORD moved = 0;
        const DWORD asked = static_cast<DWORD>(std::min(bytes.size() - done, largestWrite));
        written = WriteFile(file.get(), bytes.data() + done, asked, &moved, nullptr) && moved > 0;
        done += moved;
    }
    // Flushed before it takes the old file's name: otherwise a power cut right after the rename
    // could leave the name on an empty file, the old content gone.
    if (!written || !FlushFileBuffers(file.get()) || !file.Close() ||
        !MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        file.Close();
        DeleteFileW(temporary.c_str());
        throw fail();
    }
}
