// SPDX-License-Identifier: MIT
#include "MainFormBehaviour.h"

#include "Exceptions.h"
#include "PortSlotList.h"
#include "PrintLayout.h"
#include "TextRules.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace {

constexpr std::size_t textBufferReserve = 65536;

} // namespace

TMainFormBehaviour::TMainFormBehaviour(TMainFormView& view, std::string journalFolder) : view(view) {
    textBuffer.reserve(textBufferReserve);
    // A receiver that cannot keep a group tells the window without waiting for the user; the
    // box comes up on this thread once the group is shown.
    receiveJournal = std::make_unique<TReceiveJournal>(std::move(journalFolder), [this](const TJournalError& error) {
        this->view.PostToWindow([this, error] { ShowJournalFailure(error); });
    });
    slotNames = CurrentPortSlotNames();
    for (int slot = 0; slot < portCount; ++slot)
        commThreads[static_cast<std::size_t>(slot)] = std::make_unique<TCommThread>(
            static_cast<TCommThreadHost&>(*this), SlotName(slotNames, slot), defaultBaudRate, &receiveJournal->Slot(slot));
    // While listening, ports that could not be opened are tried again when the system's ports
    // change, so that an adapter plugged in after the start, or plugged back in, is listened to
    // as well; and one that another program held, when that program lets it go.
    portWatch = std::make_unique<TPortWatch>(WatchedPortRoots(), [this] { this->view.PostToWindow([this] { Rescan(); }); });
}

TMainFormBehaviour::~TMainFormBehaviour() {
    portWatch.reset(); // its calls reach this object
    StopThreads();
}

// ---- Received groups ----

void TMainFormBehaviour::ReceiveGroupText(const std::vector<unsigned char>& groupText) {
    textBuffer.assign(groupText.begin(), groupText.end());
    DisplayGroupText();
}

void TMainFormBehaviour::DisplayGroupText() {
    if (textBuffer.size() > displayedBlockLimit)
        textBuffer.erase(textBuffer.begin(), textBuffer.end() - static_cast<std::ptrdiff_t>(keptBlockBytes));
    groupLines = SplitLines(reinterpret_cast<const char*>(textBuffer.data()), textBuffer.size());
    view.AppendLines(groupLines);
    ++groupCount;
    view.SetCounterText("   " + std::to_string(groupCount) + " group(s) received data");
}

void TMainFormBehaviour::ShowJournalFailure(const TJournalError& error) {
    if (view.Terminating())
        return;
    const std::string folder = receiveJournal->Journal().Folder();
    std::string detail = "Folder: " + folder + "\nReason: " + error.Reason();
    if (!error.path.empty() && error.path != folder)
        detail += " (" + error.path + ")";
    detail += "\n\nGroups are still shown and confirmed to the timer, and each new group tries the folder "
              "again. Use \"Save as\" to keep them.";
    view.ShowMessage({"Received groups are not being kept on disk.",
                      {},
                      TViewButtons::ok,
                      TViewIcon::warning,
                      TViewAnswer::ok,
                      detail});
}

// ---- Connection ----

void TMainFormBehaviour::ListenOnNewPorts() {
    if (!listening || portChosen || view.Terminating())
        return;
    NameClosedSlots();
    bool held = false;
    for (auto& thread : commThreads)
        if (!thread->IsPortOpen() && !thread->GetPort().GetPortName().empty()) {
            thread->StartComm();
            held = held || thread->GetPort().OpenRefusedInUse();
        }
    // A program that holds a port may let it go without a trace the watch can see.
    if (held && portWatch)
        portWatch->RetryLater();
    UpdateAnyPortOpen();
}

std::string TMainFormBehaviour::SlotName(const std::vector<std::string>& names, int slot) {
    return static_cast<std::size_t>(slot) < names.size() ? names[static_cast<std::size_t>(slot)] : std::string();
}

void TMainFormBehaviour::NameClosedSlots() {
    // Where the system's list of ports changed (Windows), a slot whose port is closed takes the
    // name the list has for it now, so that an adapter plugged in since is found; an open port
    // keeps its slot and name. A slot the list did not change keeps what the settings gave it.
    const std::vector<std::string> before = slotNames;
    slotNames = CurrentPortSlotNames();
    for (int slot = 0; slot < portCount; ++slot)
        if (SlotName(slotNames, slot) != SlotName(before, slot))
            commThreads[static_cast<std::size_t>(slot)]->RenamePort(SlotName(slotNames, slot));
}

bool TMainFormBehaviour::Rescan() {
    const int before = OpenPortCount();
    ListenOnNewPorts();
    return OpenPortCount() != before;
}

void TMainFormBehaviour::StopThreads() {
    // Ask every thread to end before waiting for any: they end in parallel, and a thread
    // blocked in a call to this thread is released by the waits, which keep running such calls
    // (they do nothing now, as the application is terminating). Paused threads end at once.
    for (auto& thread : commThreads)
        if (thread)
            thread->Terminate();
    for (auto& thread : commThreads)
        if (thread)
            thread->WaitFor();
    for (auto& thread : commThreads)
        thread.reset();
}

int TMainFormBehaviour::OpenPortCount() const {
    return static_cast<int>(
        std::count_if(commThreads.begin(), commThreads.end(), [](const auto& t) { return t->IsPortOpen(); }));
}

bool TMainFormBehaviour::UpdateAnyPortOpen() {
    anyPortOpen = OpenPortCount() != 0;
    return anyPortOpen;
}

void TMainFormBehaviour::actConnectExecute() {
    for (;;) {
        NameClosedSlots();
        for (auto& thread : commThreads)
            if (!portChosen && !thread->GetPort().GetPortName().empty())
                thread->StartComm();
        if (UpdateAnyPortOpen()) {
            listening = true;
            if (portWatch && std::any_of(commThreads.begin(), commThreads.end(),
                                         [](const auto& t) { return t->GetPort().OpenRefusedInUse(); }))
                portWatch->RetryLater();
            return;
        }
        // Below the question, why each port that exists could not be opened (most often: the
        // user may not use serial ports yet).
        const TViewAnswer answer = view.ShowMessage({"No COM port can be opened. Retry?", "Retry",
                                                     TViewButtons::retryCancel, TViewIcon::question, TViewAnswer::retry,
                                                     DescribeUnopenableSlots(slotNames)});
        if (answer == TViewAnswer::cancel) {
            view.Terminate();
            return;
        }
    }
}

void TMainFormBehaviour::actDisconnectExecute() {
    for (auto& thread : commThreads)
        thread->StopComm();
    portChosen = false;
    listening = false;
    UpdateAnyPortOpen();
}

void TMainFormBehaviour::SelectPort(TCommThread* thread) {
    if (portChosen)
        return;
    portChosen = true;
    for (auto& other : commThreads)
        if (other.get() != thread)
            other->StopComm();
}

void TMainFormBehaviour::PortFailed(TCommThread* thread) {
    // The thread's port died under it (adapter pulled, hub glitch). Close it, so that the status
    // line stops claiming data comes from it, and go back to listening on every port, quietly:
    // the timer is found again once it is plugged back in, however often that happens, and
    // nothing waits for the user meanwhile. A group cut short is not lost: it was not
    // confirmed, so the timer sends it again.
    thread->StopComm();
    portChosen = false;
    ListenOnNewPorts();
    UpdateAnyPortOpen();
}

TStatusTexts TMainFormBehaviour::actStatusBar1Update() const {
    std::string ports;
    // Which device each open slot has, for the user who has several adapters plugged in:
    // "COM3: /dev/ttyUSB0 (FTDI FT232R USB UART, serial A10K3XYZ)", one line per slot.
    std::string devices;
    bool recognised = false;
    for (int slot = 0; slot < portCount; ++slot) {
        const TCommThread& thread = *commThreads[static_cast<std::size_t>(slot)];
        if (thread.IsPortOpen()) {
            // The slot's name in the system's list ("COM1".."COM16" on Linux, whatever port the
            // settings put on it; the port's own name on Windows).
            const std::string label = SlotName(slotNames, slot);
            ports += " " + label;
            const std::string description = thread.GetPort().GetDeviceDescription();
            devices += (devices.empty() ? "" : "\n") + label + ": " + thread.GetPort().GetDeviceName() +
                       (description.empty() ? "" : " (" + description + ")");
        }
        recognised = recognised || thread.IsDeviceRecognised();
    }
    TStatusTexts texts;
    texts.panels[0] = "Opened Com Port:  " + ports;
    if (recognised)
        texts.panels[1] = "Receive data from " + ports + "," +
                          " baud rate = " + std::to_string(commThreads[0]->GetPort().GetBaudRate()) + "bps";
    texts.toolTip = devices;
    return texts;
}

void TMainFormBehaviour::actSettingExecute() {
    const TCommPort& port = commThreads[0]->GetPort();
    const std::optional<TPortSettings> chosen = view.AskPortSettings(port.GetPortName(), port.GetBaudRate());
    if (chosen)
        commThreads[0]->ApplySettings(chosen->baudRate, chosen->portName);
}

// ---- Document ----

void TMainFormBehaviour::actClearExecute() {
    if (view.ShowMessage({"Are you sure to clear data?",
                          "Clear data ?",
                          TViewButtons::okCancel,
                          TViewIcon::question,
                          TViewAnswer::cancel,
                          {}}) != TViewAnswer::ok)
        return;
    view.ClearText();
    groupCount = 0;
    view.SetCounterText({});
}

namespace {

// Pieces of a file read at a time, each a few milliseconds of work.
constexpr std::size_t readPieceBytes = 1 << 20;

std::string BaseName(const std::string& fileName) {
    return std::filesystem::path(fileName).filename().string();
}

} // namespace

// The file's text replaces the view's; what the view cannot show is refused before the view
// changes. Reading stops at the capacity and at the text's first zero byte.
void TMainFormBehaviour::actFileOpenExecute() {
    const std::optional<std::string> name = view.ChooseFile(TFileDialog::open);
    if (!name)
        return;
    std::error_code error;
    std::ifstream file;
    if (!std::filesystem::is_directory(*name, error))
        file.open(*name, std::ios::binary);
    if (!file.is_open())
        throw EFOpenError("Cannot open file " + *name);

    const std::int64_t readLimit = memoCapacityBytes + 1;
    const auto size = std::filesystem::file_size(*name, error);
    const std::int64_t expected = error ? 0 : std::min<std::int64_t>(static_cast<std::int64_t>(size), readLimit);
    // Groups may arrive while the file is read; the old text is what the view has now.
    const int oldLines = view.LineCount();
    const bool oldEndsWithLineEnd = oldLines > 0 && view.EndsWithLineEnd();
    const std::unique_ptr<TViewWork> work =
        view.BeginLongWork("Opening " + BaseName(*name), static_cast<int>(2 * expected) + oldLines);
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(expected));
    std::vector<char> piece(readPieceBytes);
    TTextFileScan scan;
    while (static_cast<std::int64_t>(bytes.size()) < readLimit && !scan.Ended()) {
        const auto wanted = std::min<std::int64_t>(readPieceBytes, readLimit - static_cast<std::int64_t>(bytes.size()));
        file.read(piece.data(), wanted);
        const auto got = static_cast<std::size_t>(file.gcount());
        if (file.bad() || (got == 0 && !file.eof()))
            throw EFOpenError("Cannot open file " + *name);
        if (got == 0)
            break;
        bytes.append(piece.data(), got);
        scan.Feed(piece.data(), got);
        if (scan.TextBytes() > memoCapacityBytes)
            throw EOutOfResources("Text exceeds memo capacity");
        if (scan.OverlongLine() != 0)
            throw EFOpenError(OverlongLineMessage(*name, scan.OverlongLine()));
        if (!work->Step(static_cast<int>(bytes.size())))
            return;
        if (file.eof())
            break;
    }
    file.close();
    const int readDone = static_cast<int>(bytes.size());
    bytes.resize(static_cast<std::size_t>(scan.TextBytes()));
    view.ReplaceText(std::move(bytes), oldLines, oldEndsWithLineEnd, *work, readDone);
}

// The file holds the view's text as it is when the save begins, lines ended by CR LF and a
// final CR LF when the view ends with a line end; groups shown meanwhile are in the view, and
// in the next save.
void TMainFormBehaviour::actFileSaveAsExecute() {
    const std::optional<std::string> name = view.ChooseFile(TFileDialog::save);
    if (!name)
        return;
    // Lines already complete do not change when groups are appended, so the text is collected
    // line by line; the final line end is the one the view has now.
    const int lines = view.LineCount();
    const bool endsWithLineEnd = lines > 0 && view.EndsWithLineEnd();
    const std::unique_ptr<TViewWork> work = view.BeginLongWork("Saving " + BaseName(*name), 2 * lines);
    std::string bytes;
    bool first = true;
    if (!view.WalkLines(lines, *work, 0, [&](const std::string& line) {
            if (!first)
                bytes += "\r\n";
            first = false;
            bytes += line;
        }))
        return;
    if (endsWithLineEnd)
        bytes += "\r\n";
    if (!work->Step(lines))
        return;
    if (view.WriteFileReplacing(*name, bytes, *work, lines) == TWriteResult::failed)
        throw EFCreateError("Cannot create file " + *name);
}

// Groups keep arriving while a long view prints, and the receivers wait for each to be shown
// before they answer the timer: the work runs their calls between lines. A group shown
// meanwhile is appended to the view, so it is printed too (the line count is read again before
// every line).
void TMainFormBehaviour::actPrintExecute() {
    const std::unique_ptr<TViewPrintJob> job = view.BeginPrint();
    if (!job)
        return;
    TPrintLayout layout(job->PageWidth(), job->PageHeight());
    const std::unique_ptr<TViewWork> work = view.BeginLongWork(PrintingPageText(layout.Page()), view.LineCount());
    for (int line = 0; line < view.LineCount(); ++line) {
        const TPrintLayout::TPlace place = layout.Next(job->LineHeight());
        if (place.newPage) {
            job->NewPage();
            work->SetText(PrintingPageText(layout.Page()));
        }
        job->DrawLine(line, place.rect);
        work->SetMaximum(view.LineCount());
        if (!work->Step(line + 1))
            break;
    }
}
