// SPDX-License-Identifier: MIT
// The Qt window's side of open and save as (the rules are the behaviour's): the file dialogs,
// long work, walking the view's lines, rebuilding its text in pieces and replacing a file.
//
// Both may take seconds (a 30 MB file, a slow USB stick) while the receiver threads wait for
// their calls to run on this thread before they answer the timer. So they work in pieces of a
// few milliseconds under a TLongWork, which runs those calls between the pieces and shows a
// progress dialog when the work is long.
#include "MainForm.h"

#include "Actions.h"
#include "LongWork.h"
#include "MemoText.h"
#include "UiThread.h"

#include <QFile>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <atomic>
#include <functional>
#include <optional>
#include <thread>

namespace {

// Sizes of the pieces, each a few milliseconds of work.
constexpr std::size_t insertPieceBytes = 1 << 18;
constexpr qsizetype writePieceBytes = 1 << 20;
constexpr int linesPerPiece = 4096;

// The view's long work is the framework's.
class QtWork : public TViewWork {
public:
    QtWork(QWidget* owner, const std::string& text, int maximum) : work(owner, text, maximum) {}
    bool Step(int value) override { return work.Step(value); }
    void SetMaximum(int maximum) override { work.SetMaximum(maximum); }
    void SetText(const std::string& text) override { work.SetText(text); }

    TLongWork work;
};

// Work of this view is always made by its BeginLongWork.
TLongWork& LongWorkOf(TViewWork& work) {
    return static_cast<QtWork&>(work).work;
}

// Hands `take` each of the view's first `lines` lines in order, and calls `work.Step` with
// `progressBase` plus the lines taken so far after every piece of them. A pump may append
// groups to the view, so after each one the walk finds its place again by line number. Returns
// false when the work was cancelled.
bool WalkMemoLines(const QPlainTextEdit& memo, int lines, TLongWork& work, int progressBase,
                   const std::function<void(const QString& line)>& take) {
    QTextBlock block = memo.document()->begin();
    for (int line = 0; line < lines; ++line) {
        take(block.text());
        if ((line + 1) % linesPerPiece != 0) {
            block = block.next();
            continue;
        }
        if (!work.Step(progressBase + line + 1))
            return false;
        block = memo.document()->findBlockByNumber(line + 1);
    }
    return true;
}

// Holds the text view's painting while its document is rebuilt, so that the user does not see
// the text come and go.
class PaintingHeld {
public:
    explicit PaintingHeld(QWidget& widget) : widget(widget) { widget.setUpdatesEnabled(false); }
    PaintingHeld(const PaintingHeld&) = delete;
    PaintingHeld& operator=(const PaintingHeld&) = delete;
    ~PaintingHeld() { widget.setUpdatesEnabled(true); }

private:
    QWidget& widget;
};

// Lines [from, to) of the view.
QStringList MemoLines(const QPlainTextEdit& memo, int from, int to) {
    QStringList lines;
    for (QTextBlock block = memo.document()->findBlockByNumber(from); block.isValid() && from < to;
         block = block.next(), ++from)
        lines << block.text();
    return lines;
}

// Writes a text into the emptied view in pieces, while groups may be appended to the view's
// end between them. A line end goes in first and the text in front of it, so the groups come
// after it; Finish takes the line end out again and puts the groups' lines after the text, as
// the view appends lines.
class PieceWriter {
public:
    explicit PieceWriter(QPlainTextEdit& memo) : memo(memo), document(*memo.document()) {
        QTextCursor(&document).insertText(QStringLiteral("\n"));
    }

    void Write(const QString& piece) {
        QTextCursor cursor(&document);
        cursor.setPosition(length);
        cursor.insertText(piece);
        length += static_cast<int>(piece.size());
    }
    // The lines of the groups appended since the writer began.
    QStringList Arrived() const {
        QStringList lines;
        for (QTextBlock block = document.findBlock(length + 1); block.isValid(); block = block.next())
            lines << block.text();
        if (!lines.isEmpty() && lines.back().isEmpty())
            lines.pop_back(); // the line after the last line end
        return lines;
    }
    // Appends `earlier` and the lines that arrived meanwhile to the text written; returns all
    // of them.
    QStringList Finish(QStringList earlier) {
        earlier += Arrived();
        QTextCursor cursor(&document);
        cursor.setPosition(length);
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cursor.removeSelectedText(); // a line end and a few groups: small
        AppendMemoLines(memo, earlier);
        return earlier;
    }

private:
    QPlainTextEdit& memo;
    QTextDocument& document;
    int length = 0;
};

} // namespace

std::optional<std::string> TMainForm::ChooseFile(TFileDialog dialog) {
    TOpenDialog& chooser = dialog == TFileDialog::save ? SaveDialog1 : OpenDialog1;
    if (!chooser.Execute(this))
        return std::nullopt;
    return chooser.FileName;
}

std::unique_ptr<TViewWork> TMainForm::BeginLongWork(const std::string& text, int maximum) {
    return std::make_unique<QtWork>(this, text, maximum);
}

bool TMainForm::WalkLines(int lines, TViewWork& work, int progressBase,
                          const std::function<void(const std::string& line)>& take) {
    return WalkMemoLines(*Memo1, lines, LongWorkOf(work), progressBase,
                         [&](const QString& line) { take(line.toLatin1().toStdString()); });
}

bool TMainForm::EndsWithLineEnd() const {
    return Memo1->document()->lastBlock().text().isEmpty();
}

// The text goes into the view's own document in pieces. (A second document swapped in would
// cost one call of about a second for 30 MB to lay out every line anew, and removing much text
// from a large document costs a copy of all of it on every removal; emptying it is quick.)
// Groups that arrive meanwhile are shown and counted at once; when the open completes their
// lines follow the new text, and a cancelled open puts the old text back in pieces, with them
// after it.
void TMainForm::ReplaceText(std::string bytes, int oldLines, bool oldEndsWithLineEnd, TViewWork& viewWork,
                            int readDone) {
    TLongWork& work = LongWorkOf(viewWork);
    const qsizetype length = static_cast<qsizetype>(bytes.size());
    work.SetMaximum(readDone + oldLines + static_cast<int>(length));

    // The old text, to put back if the user cancels.
    QString oldText;
    int taken = 0;
    if (!WalkMemoLines(*Memo1, oldLines, work, readDone, [&](const QString& line) {
            oldText += line;
            if (++taken < oldLines || oldEndsWithLineEnd)
                oldText += QLatin1Char('\n');
        }))
        return;

    if (!work.Step(readDone + oldLines))
        return;

    const PaintingHeld held(*Memo1->viewport());
    const QStringList arrivedBefore = MemoLines(*Memo1, oldLines, MemoLineCount(*Memo1));
    Memo1->clear();
    std::optional<PieceWriter> writer(*Memo1);
    TViewTextConverter converter;
    bool cancelled = false;
    for (qsizetype at = 0; at < length && !cancelled; at += static_cast<qsizetype>(insertPieceBytes)) {
        const auto size = std::min<std::size_t>(insertPieceBytes, static_cast<std::size_t>(length - at));
        writer->Write(converter.Convert(bytes.data() + at, size));
        cancelled = !work.Step(readDone + oldLines + static_cast<int>(at + static_cast<qsizetype>(size)));
    }
    bytes = std::string();
    QStringList arrived;
    if (cancelled) {
        // Back as it was, with the groups of the meantime after it; this cannot be cancelled.
        const QStringList arrivedWhileOpening = writer->Arrived();
        writer.reset();
        Memo1->clear();
        work.SetCancellable(false);
        PieceWriter back(*Memo1);
        for (qsizetype at = 0; at < oldText.size(); at += static_cast<qsizetype>(insertPieceBytes)) {
            back.Write(oldText.mid(at, static_cast<qsizetype>(insertPieceBytes)));
            work.Step(work.Value());
        }
        arrived = back.Finish(arrivedBefore + arrivedWhileOpening);
    } else {
        arrived = writer->Finish(arrivedBefore);
    }

    QTextCursor caret = Memo1->textCursor();
    caret.movePosition(arrived.isEmpty() ? QTextCursor::Start : QTextCursor::End);
    Memo1->setTextCursor(caret);
    Memo1->verticalScrollBar()->setValue(arrived.isEmpty() ? 0 : Memo1->verticalScrollBar()->maximum());
    Memo1->horizontalScrollBar()->setValue(0);
}

void TMainForm::actFileSaveExecute() {}

// The bytes are written and flushed to disk (seconds on a USB stick) on a thread of their own.
TWriteResult TMainForm::WriteFileReplacing(const std::string& name, const std::string& text, TViewWork& viewWork,
                                           int progressBase) {
    TLongWork& work = LongWorkOf(viewWork);
    const QByteArray bytes = QByteArray::fromRawData(text.data(), static_cast<qsizetype>(text.size()));
    const int lines = progressBase;
    std::atomic<bool> stop{false};
    std::atomic<bool> committing{false};
    std::atomic<bool> done{false};
    std::atomic<qsizetype> written{0};
    bool saved = false;
    {
        // Written to a temporary file beside the target, flushed to disk and renamed over it: a
        // full disk or a crash leaves the old file as it was, never half written.
        const std::jthread writer([&] {
            try {
                QSaveFile file(QFile::decodeName(name.c_str()));
                file.setDirectWriteFallback(false);
                bool ok = file.open(QIODevice::WriteOnly);
                for (qsizetype at = 0; ok && at < bytes.size() && !stop; at += writePieceBytes) {
                    const qsizetype size = std::min(writePieceBytes, bytes.size() - at);
                    ok = file.write(bytes.constData() + at, size) == size;
                    written = at + size;
                }
                if (ok && !stop) {
                    committing = true;
                    WakeUiThread();
                    saved = file.commit();
                }
            } catch (...) {
                saved = false;
            }
            done = true;
            WakeUiThread();
        });
        bool commitShown = false;
        const auto writeProgress = [&] {
            return lines + static_cast<int>(written * lines / std::max<qsizetype>(1, bytes.size()));
        };
        while (!done) {
            work.WaitUntil([&] { return done || (work.Cancelled() && !stop) || (committing && !commitShown); },
                           writeProgress);
            if (work.Cancelled())
                stop = true;
            if (committing && !commitShown) {
                // Flushing to disk cannot be interrupted: once it has begun the save completes.
                commitShown = true;
                work.SetCancellable(false);
                work.SetText(work.Text() + " (writing to disk)");
            }
        }
    }
    if (saved)
        return TWriteResult::written;
    return stop && !committing ? TWriteResult::cancelled : TWriteResult::failed;
}
