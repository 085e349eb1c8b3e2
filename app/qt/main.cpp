// SPDX-License-Identifier: MIT
#include "Application.h"
#include "Journal.h"
#include "MainForm.h"
#include "SingleInstance.h"
#include "UiThread.h"

#include <QGuiApplication>

#include <cstdio>
#include <memory>

int main(int argc, char** argv) {
    // A second start for the same journal hands over to the first one and opens nothing.
    TSingleInstance instance(JournalFolder());
    if (!instance.IsFirst()) {
        std::fputs("Tavro is running already; its window was brought to the front.\n", stderr);
        return 0;
    }
    instance.OnRaise([] {
        PostToUiThread([] {
            if (MainForm)
                MainForm->BringToFront();
        });
    });
    // Lets Wayland desktops match the window to the installed menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.tavro.Tavro"));
    return RunApplication(argc, argv, [] {
        Application->Title = "Tavro"; // caption of the error boxes
        auto window = std::make_unique<TMainForm>();
        MainForm = window.get();
        return window;
    });
}
