// SPDX-License-Identifier: MIT
#include "TaskDialog.h"

#include <commctrl.h>

namespace {

std::wstring Wide(const std::string& text) {
    if (text.empty())
        return {};
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

using TTaskDialogIndirect = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);

// Looked up rather than imported: with common controls 5 (no manifest) the import would stop
// the program from starting at all.
TTaskDialogIndirect TaskDialogFunction() {
    const HMODULE controls = GetModuleHandleA("comctl32.dll");
    if (!controls)
        return nullptr;
    return reinterpret_cast<TTaskDialogIndirect>(
        reinterpret_cast<void*>(GetProcAddress(controls, "TaskDialogIndirect")));
}

} // namespace

std::optional<int> ShowTaskDialog(HWND owner, const TViewMessage& message, const std::string& caption) {
    const TTaskDialogIndirect taskDialog = TaskDialogFunction();
    if (!taskDialog)
        return std::nullopt;
    const std::wstring title = Wide(caption), text = Wide(message.text), detail = Wide(message.detail);
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof config;
    config.hwndParent = owner;
    config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_EXPANDED_BY_DEFAULT | TDF_POSITION_RELATIVE_TO_WINDOW;
    config.pszWindowTitle = title.c_str();
    config.pszContent = text.c_str();
    if (!detail.empty())
        config.pszExpandedInformation = detail.c_str();
    if (message.icon == TViewIcon::warning) {
        config.pszMainIcon = TD_WARNING_ICON;
    } else {
        // The task dialog has no question icon of its own.
        config.dwFlags |= TDF_USE_HICON_MAIN;
        config.hMainIcon = LoadIconA(nullptr, MAKEINTRESOURCEA(32514)); // IDI_QUESTION
    }
    switch (message.buttons) {
    case TViewButtons::ok:
        config.dwCommonButtons = TDCBF_OK_BUTTON;
        config.nDefaultButton = IDOK;
        break;
    case TViewButtons::okCancel:
        config.dwCommonButtons = TDCBF_OK_BUTTON | TDCBF_CANCEL_BUTTON;
        config.nDefaultButton = message.defaultAnswer == TViewAnswer::cancel ? IDCANCEL : IDOK;
        break;
    case TViewButtons::retryCancel:
        config.dwCommonButtons = TDCBF_RETRY_BUTTON | TDCBF_CANCEL_BUTTON;
        config.nDefaultButton = message.defaultAnswer == TViewAnswer::cancel ? IDCANCEL : IDRETRY;
        break;
    }
    int button = 0;
    if (FAILED(taskDialog(&config, &button, nullptr, nullptr)))
        return std::nullopt;
    if (button == IDCANCEL && message.buttons == TViewButtons::ok)
        return IDOK;
    return button;
}
