// SPDX-License-Identifier: MIT
#include "PseudoTerminal.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

// One Qt application for the whole run of a Qt test program; every test makes its own
// TApplication (and window) on top. The window keeps a journal of what it receives and takes
// lock files for its ports: both go to folders of this run, never to the user's own, also when
// a test program is run by hand.
int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const TempDir dataHome;
    const TempDir lockDir;
    setenv("XDG_DATA_HOME", dataHome.path.c_str(), 1);
    setenv("TAVRO_LOCK_DIR", lockDir.path.c_str(), 1);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
