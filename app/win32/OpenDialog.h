// SPDX-License-Identifier: MIT
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

// The file name in the system's ANSI code page, as the program's texts are; nullopt when a
// character of it has no form there (the name could not be opened again from its ANSI form).
std::optional<std::string> AnsiFileName(const std::wstring& name);

struct TOpenChoice {
    enum class TOutcome { unavailable, cancelled, chosen };
    TOutcome outcome = TOutcome::unavailable;
    std::string fileName; // ANSI, when chosen
};

// The common item dialog for opening a file: filter "*.txt" and "All files", the first one
// chosen, no default extension, starting on `lastName` (ANSI) when there is one, with each
// folder of `places` (UTF-8, as the journal names its folder) that exists at the top of its
// places. A typed name of a file that does not exist is accepted: opening it is what fails.
// Unavailable when the system has no item dialog; the caller then shows the older one. Raises
// Exception when the chosen name has no ANSI form, and when the dialog fails.
TOpenChoice ChooseFileToOpen(HWND owner, const std::string& lastName, const std::vector<std::string>& places);
