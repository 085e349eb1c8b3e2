// SPDX-License-Identifier: MIT
// The receivers' journal tells the window once per outage, not once per run: a disk that fills
// up again an hour after it was cleared must be told about again.
#include "PseudoTerminal.h"
#include "ReceiveJournal.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

TEST(ReceiveJournalTest, FailureIsToldOncePerOutage) {
    // Each step keeps one group: 'x' while the journal's folder cannot be made, '.' while it can.
    const struct Row {
        const char* steps;
        std::vector<int> toldAfter; // reports so far, after each step
    } rows[] = {
        {"xxx", {1, 1, 1}},
        {"x.x", {1, 1, 2}},
        {"..xx..x", {0, 0, 1, 1, 1, 1, 2}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.steps);
        TempDir dir;
        const fs::path data = dir.path / "data"; // a file in its place blocks the folder
        int told = 0;
        TReceiveJournal journal((data / "received").string(), [&](const TJournalError&) { ++told; });
        const std::vector<unsigned char> block{'L', 'a', 'p', '\r'};
        const std::string steps = row.steps;
        for (std::size_t i = 0; i < steps.size(); ++i) {
            fs::remove_all(data);
            if (steps[i] == 'x')
                std::ofstream(data) << "not a folder";
            // A new slot's group sometimes, so that recovering is not one slot's business.
            TCommThreadJournal& slot = journal.Slot(static_cast<int>(i % 2));
            slot.KeepGroup(block);
            slot.BeforeConfirm();
            EXPECT_EQ(told, row.toldAfter[i]) << "after step " << i + 1;
        }
    }
}

} // namespace
