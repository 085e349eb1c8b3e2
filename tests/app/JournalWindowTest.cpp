// SPDX-License-Identifier: MIT
// The window's journal of received groups, with real files: what it holds compared with what
// "Save as" writes, what a journal that cannot be written means for receiving, and where the
// open dialog offers it.
#include "WindowFixture.h"

#include <QMessageBox>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace window {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A group without records: header, then an end record with check value 0.
Bytes EmptyGroup() {
    return {0xAB, 0xC0, 0x00, 0x00, 0x0A, 0xAA, 0xAA, 0xAA, 0xAB, 0x0F, 0xF0, 0x00, 0x00, 0x00, 0x00, 0x00};
}

class JournalWindowTest : public WindowTest {
protected:
    // Sends each group to the timer's port and waits for its 0xFA.
    void Receive(int port, const std::vector<Bytes>& groups) {
        for (const Bytes& group : groups) {
            Port(port).Send(group);
            ASSERT_EQ(Collect(port, 1), Bytes{0xFA});
        }
    }
    std::string SaveAs() {
        const fs::path saved = dir.path / "saved.txt";
        SetFileDialogHook([saved](const FileDialogRequest&) { return std::optional<std::string>(saved.string()); });
        Action("actFileSaveAs").trigger();
        return ReadFile(saved);
    }
};

TEST_F(JournalWindowTest, HoldsWhatSaveAsWritesAndEveryByteRead) {
    Plug({1, 3});
    OpenWindow();
    Receive(3, {example::groupBytes, EmptyGroup(), example::groupBytes});
    ASSERT_EQ(form->GroupCount(), 3);
    const std::string journal = ReadFile(form->Journal().TextPath());
    EXPECT_FALSE(journal.empty());
    EXPECT_TRUE(journal == SaveAs()) << journal;

    Bytes sent = example::groupBytes;
    for (const Bytes& more : {EmptyGroup(), example::groupBytes})
        sent.insert(sent.end(), more.begin(), more.end());
    EXPECT_EQ(ReadFile(form->Journal().CapturePath(3)), std::string(sent.begin(), sent.end()));
    // The silent port read nothing, so it has no capture.
    EXPECT_FALSE(fs::exists(form->Journal().CapturePath(1)));
}

TEST_F(JournalWindowTest, ClearAndOpenDoNotTouchIt) {
    Plug({3});
    OpenWindow();
    Receive(3, {example::groupBytes});
    const std::string beforeClear = SaveAs();
    answers = {mrOk};
    Action("actClear").trigger();
    ASSERT_EQ(form->GroupCount(), 0);
    Receive(3, {EmptyGroup()});
    const std::string afterClear = SaveAs();
    const fs::path other = dir.path / "other.txt";
    std::ofstream(other) << "someone else's text\r\n";
    SetFileDialogHook([other](const FileDialogRequest&) { return std::optional<std::string>(other.string()); });
    Action("actFileOpen").trigger();
    ASSERT_EQ(MemoLines(), std::vector<std::string>{"someone else's text"});
    EXPECT_TRUE(ReadFile(form->Journal().TextPath()) == beforeClear + afterClear);
}

TEST_F(JournalWindowTest, UnwritableJournalKeepsReceivingAndSaysSoOnce) {
    // A data folder whose place is taken by a file: nothing can be made below it, for root too.
    const fs::path blocked = dir.path / "blocked";
    std::ofstream(blocked) << "not a folder";
    const std::string savedDataHome = std::getenv("XDG_DATA_HOME") ? std::getenv("XDG_DATA_HOME") : "";
    setenv("XDG_DATA_HOME", blocked.c_str(), 1);
    Plug({3});
    OpenWindow();
    setenv("XDG_DATA_HOME", savedDataHome.c_str(), 1);

    Receive(3, {example::groupBytes, EmptyGroup(), example::groupBytes});
    EXPECT_EQ(form->GroupCount(), 3);
    ASSERT_TRUE(WaitUntil([&] { return !boxes.empty(); }));
    QTest::qWait(300); // any second box would be posted by now
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Received groups are not being kept on disk.");
    EXPECT_EQ(boxes[0].icon, miWarning);
    EXPECT_EQ(boxes[0].buttons, mbOK);
    EXPECT_NE(boxes[0].detail.find((blocked / "tavro" / "received").string()), std::string::npos) << boxes[0].detail;
    EXPECT_NE(boxes[0].detail.find("Not a directory"), std::string::npos) << boxes[0].detail;
    EXPECT_NE(boxes[0].detail.find("\"Save as\""), std::string::npos) << boxes[0].detail;
    EXPECT_EQ(MemoLines().size(), 2 * example::reportLines.size() + 8);
}

TEST_F(JournalWindowTest, OpenDialogOffersTheJournalAmongItsPlaces) {
    Plug({3});
    OpenWindow();
    Receive(3, {EmptyGroup()}); // makes the folder
    std::vector<FileDialogRequest> requests;
    SetFileDialogHook([&](const FileDialogRequest& request) {
        requests.push_back(request);
        return std::optional<std::string>();
    });
    Action("actFileOpen").trigger();
    Action("actFileSaveAs").trigger();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].places, std::vector<std::string>{JournalFolder()});
    EXPECT_EQ(requests[0].fileName, ""); // no folder of its own to start in
    EXPECT_TRUE(requests[1].places.empty());
    EXPECT_TRUE(fs::is_directory(JournalFolder()));
}

} // namespace
} // namespace window
