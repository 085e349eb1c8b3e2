// SPDX-License-Identifier: MIT
#include "ApplicationWin32.h"
#include "BehaviourCommands.h"
#include "Exceptions.h"
#include "Journal.h"
#include "MainForm.h"
#include "SingleInstance.h"
#include "UiThread.h"

#include <windows.h>

#include <atomic>
#include <exception>
#include <memory>

namespace {

std::atomic<HWND> shownWindow{nullptr};

void BringToFront(HWND window) {
    if (IsIconic(window))
        ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    try {
        // A second start for the same journal hands over to the first one and opens nothing.
        TSingleInstance instance(JournalFolder());
        if (!instance.IsFirst())
            return 0;
        TWin32Application application;
        application.Title = "Tavro"; // caption of the error boxes
        instance.OnRaise([] {
            PostToUiThread([] {
                if (HWND window = shownWindow.load())
                    BringToFront(window);
            });
        });
        TMainForm window(application);
        shownWindow = window.Handle();
        window.AddOpenPlace(JournalFolder());
        window.Attach(MakeBehaviourCommands(window, JournalFolder()));
        window.Run();
        shownWindow = nullptr;
        return 0;
    } catch (...) {
        MessageBoxA(nullptr, ExceptionMessage(std::current_exception()).c_str(), "Tavro", MB_OK | MB_ICONERROR);
        return 1;
    }
}
