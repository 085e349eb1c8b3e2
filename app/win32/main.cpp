// SPDX-License-Identifier: MIT
#include "ApplicationWin32.h"
#include "BehaviourCommands.h"
#include "Exceptions.h"
#include "Journal.h"
#include "MainForm.h"

#include <windows.h>

#include <exception>
#include <memory>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    try {
        TWin32Application application;
        application.Title = "Tavro";
        TMainForm window(application);
        window.Attach(MakeBehaviourCommands(window, JournalFolder()));
        window.Run();
        return 0;
    } catch (...) {
        MessageBoxA(nullptr, ExceptionMessage(std::current_exception()).c_str(), "Tavro", MB_OK | MB_ICONERROR);
        return 1;
    }
}
