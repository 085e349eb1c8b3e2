// SPDX-License-Identifier: MIT
#include "ApplicationWin32.h"

#include "Exceptions.h"
#include "UiThread.h"
#include "UiThreadHost.h"

#include <windows.h>

#include <cstdio>

namespace {

// Thread messages (PostThreadMessage) are dropped by every modal loop that Windows runs for a
// message box or a common dialog, so a call posted while one is open would never run. A
// message-only window's messages are dispatched by those loops like any window's.
constexpr UINT callsQueuedMessage = WM_APP + 1;
constexpr UINT quitMessage = WM_APP + 2;
constexpr wchar_t windowClassName[] = L"TavroUiCalls";

LRESULT CALLBACK MessageWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case callsQueuedMessage:
        ProcessPendingUiCalls();
        return 0;
    case quitMessage:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

HWND CreateMessageWindow() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = MessageWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = windowClassName;
    // A second application object (after the first was destroyed) finds the class registered.
    if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return nullptr;
    return CreateWindowExW(0, windowClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, windowClass.hInstance,
                           nullptr);
}

HWND OwnerWindow(void* mainWindow) {
    HWND active = GetActiveWindow();
    return active ? active : static_cast<HWND>(mainWindow);
}

} // namespace

class TWin32Application::Host : public TUiThreadHost {
public:
    explicit Host(HWND window) : window(window) {}
    ~Host() { DestroyWindow(window); }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // A failed PostMessage (a full message queue) loses nothing: the calls stay queued and the
    // next wake-up or ProcessMessages runs them.
    void WakeUp() override { PostMessageW(window, callsQueuedMessage, 0, 0); }
    void CallRan() override {}
    void Quit() { PostMessageW(window, quitMessage, 0, 0); }

private:
    HWND window;
};

TWin32Application::TWin32Application() {
    if (ApplicationCore)
        throw Exception("An application object exists already");
    HWND window = CreateMessageWindow();
    if (!window)
        throw Exception("Cannot create the message window (error " + std::to_string(GetLastError()) + ")");
    host = std::make_unique<Host>(window);
    AttachUiThreadHost(*host);
    ApplicationCore = this;
}

TWin32Application::~TWin32Application() {
    DetachUiThreadHost();
    ApplicationCore = nullptr;
}

void TWin32Application::Terminate() {
    terminated.store(true);
    host->Quit();
}

void TWin32Application::Run() {
    if (Terminated())
        return;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void TWin32Application::ProcessMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // Left for the main loop, which is what it ends.
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    ProcessPendingUiCalls();
}

void TWin32Application::ShowException(const std::exception_ptr& error) {
    const std::string text = ExceptionMessage(error);
    try {
        if (!IsUiThread()) {
            RunOnUiThread([this, error] { ShowException(error); });
            return;
        }
        MessageBoxA(OwnerWindow(MainWindow), text.c_str(), Title.c_str(), MB_OK | MB_ICONERROR);
    } catch (...) {
        // No user-interface thread any more: the message still goes where someone can find it.
        std::fprintf(stderr, "%s\n", text.c_str());
    }
}

void TWin32Application::ShowMessage(const std::string& text) {
    try {
        if (!IsUiThread()) {
            RunOnUiThread([this, text] { ShowMessage(text); });
            return;
        }
        MessageBoxA(OwnerWindow(MainWindow), text.c_str(), Title.c_str(), MB_OK);
    } catch (...) {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
}
