// SPDX-License-Identifier: MIT
#pragma once

#include "MainFormView.h"

#include <windows.h>

#include <optional>
#include <string>

// `message` in a task dialog owned by `owner`, its detail in the dialog's expanded area (shown
// at first; the user may fold it away). The button that closed it (IDOK, IDCANCEL, IDRETRY;
// Escape and the close box give IDCANCEL, or IDOK when OK is the only button), or nullopt when
// the system has no task dialog (common controls before version 6): then a message box is
// the way. Texts are ANSI.
std::optional<int> ShowTaskDialog(HWND owner, const TViewMessage& message, const std::string& caption);
