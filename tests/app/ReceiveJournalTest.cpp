// SPDX-License-Identifier: MIT
// The receivers' journal tells the window once per outage, not once per run: a disk that fills
// up again an hour after it was cleared must be told about again.
#include "ReceiveJournal.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
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
        TReceiveJournal journal((data / "received").generic_string(), [&](const TJournalError&) { ++told; });
        const std::vector<unsigned char> block{'L', 'a', 'p', '\r'};
        const std::string steps = row.steps;
        for (std::size_t i = 0; i < steps.size(); ++i) {
            std::error_code removing;
            fs::remove_all(data, removing);
            // Windows keeps a file that is open from being removed, and the journal holds its
            // file open between groups: the outage cannot be made there once a group was kept.
            if (removing)
                GTEST_SKIP() << "the journal's open file cannot be removed here: " << removing.message();
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
