// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <string_view>

// Writes `bytes` as the file `target` so that a crash or a power cut at any moment leaves either
// the old file whole or the new one whole: the bytes go to a new file beside it, which is flushed
// to stable storage before it takes the target's name (MoveFileExW with write-through). Raises
// EFCreateError ("Cannot create file <target>") when any step fails; the old file is then as it
// was and no temporary file is left. For the Win32 window's Save as (Qt has QSaveFile). Windows.
void SaveFileReplacing(const std::filesystem::path& target, std::string_view bytes);
