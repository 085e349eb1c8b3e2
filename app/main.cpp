// SPDX-License-Identifier: MIT
#include "Application.h"
#include "MainForm.h"

#include <QGuiApplication>

#include <memory>

int main(int argc, char** argv) {
    // Lets Wayland desktops match the window to the installed menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.tavro.Tavro"));
    return RunApplication(argc, argv, [] {
        Application->Title = "Tavro"; // caption of the error boxes
        auto window = std::make_unique<TMainForm>();
        MainForm = window.get();
        return window;
    });
}
