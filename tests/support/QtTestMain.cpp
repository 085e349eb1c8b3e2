// SPDX-License-Identifier: MIT
#include <QApplication>

#include <gtest/gtest.h>

#include "PseudoTerminal.h"

#include <cstdlib>
#include <memory>

// One Qt application for the whole run of a Qt test program; every test makes its own
// TApplication (and window) on top. Ports opened by a test that names no lock folder of its
// own take their lock files in one of this run, never in the machine's /run/lock.
int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::unique_ptr<TempDir> lockDir;
    if (const char* given = std::getenv("TAVRO_LOCK_DIR"); given == nullptr || *given == '\0') {
        lockDir = std::make_unique<TempDir>();
        setenv("TAVRO_LOCK_DIR", lockDir->path.c_str(), 1);
    }
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
