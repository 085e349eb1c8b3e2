// SPDX-License-Identifier: MIT
// The main window's file commands: open a text file into the view, save the view as one.
//
// Both may take seconds (a 30 MB file, a slow USB stick) while the receiver threads wait for
// their calls to run on this thread before they answer the timer. So they work in pieces of a
// few milliseconds under a TLongWork, which runs those calls between the pieces and shows a
// progress dialog when the work is long.
#include "MainForm.h"

#include "Actions.h"
#include "Exceptions.h"
#include "LongWork.h"
#include "MemoText.h"
#include "UiThread.h"

#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <atomic>
#include <thread>

namespace {

// Sizes of the pieces, each a few milliseconds of work.
constexpr qint64 readPieceBytes = 1 << 20;
constexpr std::size_t insertPieceBytes = 1 << 18;
constexpr int removePieceChars = 1 << 18;
constexpr qsizetype writePieceBytes = 1 << 20;

std::string BaseName(const std::string& fileName) {
    return QFileInfo(QFile::decodeName(fileName.c_str())).fileName().toStdString();
}

// Holds the text view's painting while its document is rebuilt, so that the user does not see
// the new text grow above the old one.
class PaintingHeld {
public:
    explicit PaintingHeld(QWidget& widget) : widget(widget) { widget.setUpdatesEnabled(false); }
    PaintingHeld(const PaintingHeld&) = delete;
    PaintingHeld& operator=(const PaintingHeld&) = delete;
    ~PaintingHeld() { widget.setUpdatesEnabled(true); }

private:
    QWidget& widget;
};

void RemoveText(QTextDocument& document, int from, int to) {
    QTextCursor cursor(&document);
    cursor.setPosition(from);
    cursor.setPosition(to, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

// The text an open has put at the front of the document, with the line end after it. Unless
// kept, it goes again: in pieces when the user cancels (TakeBack), at once on an error.
class NewText {
public:
    explicit NewText(QTextDocument& document) : document(document) {
        QTextCursor(&document).insertText(QStringLiteral("\n"));
    }
    NewText(const NewText&) = delete;
    NewText& operator=(const NewText&) = delete;
    ~NewText() {
        if (!kept)
            RemoveText(document, 0, length + 1);
    }

    int Length() const { return length; }
    void Append(const QString& piece) {
        QTextCursor cursor(&document);
        cursor.setPosition(length);
        cursor.insertText(piece);
        length += static_cast<int>(piece.size());
    }
    void TakeBack(TLongWork& work) {
        for (; length + 1 > removePieceChars; length -= removePieceChars) {
            RemoveText(document, 0, removePieceChars);
            work.Step(work.Value());
        }
    }
    void Keep() { kept = true; }

private:
    QTextDocument& document;
    int length = 0;
    bool kept = false;
};

// The lines of the document from `position` on, as the view's line list has them: the text
// after `position`, split at line ends, without an empty line after a final line end.
QStringList LinesFrom(const QTextDocument& document, int position) {
    QString text;
    QTextBlock block = document.findBlock(position);
    text += block.text().mid(position - block.position());
    for (block = block.next(); block.isValid(); block = block.next())
        text += QLatin1Char('\n') + block.text();
    QStringList lines = text.split(QLatin1Char('\n'));
    if (lines.back().isEmpty())
        lines.pop_back();
    return lines;
}

} // namespace

// The new text is written into the view's own document, above the old one, and the old text
// is then removed, in pieces (a second document swapped in would cost a single call of about
// a second for 30 MB, to lay out every line anew). Groups that arrive meanwhile are appended
// to the document's end as always and counted at once; when the open is complete their lines
// follow the file's text, and when it is cancelled the view is as it was, with them at its
// end. Nothing shown is lost either way.
void TMainForm::actFileOpenExecute() {
    if (!OpenDialog1.Execute(this))
        return;
    const std::string name = OpenDialog1.FileName;
    QFile file(QFile::decodeName(name.c_str()));
    if (!file.open(QIODevice::ReadOnly))
        throw EFOpenError("Cannot open file " + name);

    // The old text as it is now; groups that arrive from here on come after it.
    QTextDocument& document = *Memo1->document();
    const int oldLength = document.characterCount() - 1; // without the final separator
    // Lines that arrive after an old text without a final line end are appended with a line end
    // before them (they are not part of the old text's last line).
    const bool oldOpenLine = oldLength > 0 && !document.lastBlock().text().isEmpty();

    // Read no more than the view can take; the text may still end early at a zero byte.
    const qint64 readLimit = memoCapacityBytes + 1;
    const qint64 expected = std::clamp<qint64>(file.size(), 0, readLimit);
    TLongWork work(this, "Opening " + BaseName(name), static_cast<int>(2 * expected));
    QByteArray bytes;
    bytes.reserve(expected);
    while (bytes.size() < readLimit) {
        const QByteArray piece = file.read(std::min(readPieceBytes, readLimit - bytes.size()));
        if (file.error() != QFileDevice::NoError)
            throw EFOpenError("Cannot open file " + name);
        if (piece.isEmpty())
            break;
        bytes += piece;
        if (!work.Step(static_cast<int>(bytes.size())))
            return;
    }
    file.close();
    const qsizetype zero = bytes.indexOf('\0');
    const qsizetype length = zero >= 0 ? zero : bytes.size();
    if (length > memoCapacityBytes)
        throw EOutOfResources("Text exceeds memo capacity");

    const int readDone = static_cast<int>(bytes.size());
    work.SetMaximum(readDone + static_cast<int>(length) + oldLength);
    const PaintingHeld held(*Memo1->viewport());

    // A line end goes in first, and the new text above it, so that the new text's last line
    // never merges with the old text's first, and the document's last line is never new text.
    NewText added(document);
    TViewTextConverter converter;
    for (qsizetype at = 0; at < length; at += static_cast<qsizetype>(insertPieceBytes)) {
        const auto size = std::min<std::size_t>(insertPieceBytes, static_cast<std::size_t>(length - at));
        added.Append(converter.Convert(bytes.constData() + at, size));
        if (!work.Step(readDone + static_cast<int>(at + static_cast<qsizetype>(size)))) {
            added.TakeBack(work);
            return;
        }
    }
    bytes = QByteArray();
    added.Keep();
    const int newLength = added.Length();

    // The old text goes, front first, so that its last line stays until the end: a group that
    // arrives meanwhile is appended the same way as before the open began. From here on there
    // is no way back.
    work.SetCancellable(false);
    const int oldStart = newLength + 1;
    int oldLeft = oldLength;
    for (; oldLeft > removePieceChars; oldLeft -= removePieceChars) {
        RemoveText(document, oldStart, oldStart + removePieceChars);
        work.Step(work.Maximum() - oldLeft);
    }
    // What came after the old text: the lines of the groups shown meanwhile.
    QStringList arrived = LinesFrom(document, oldStart + oldLeft);
    if (oldOpenLine && !arrived.isEmpty())
        arrived.pop_front(); // the empty line before the line end they were appended with
    RemoveText(document, newLength, document.characterCount() - 1);
    AppendMemoLines(*Memo1, arrived);

    QTextCursor caret = Memo1->textCursor();
    caret.movePosition(arrived.isEmpty() ? QTextCursor::Start : QTextCursor::End);
    Memo1->setTextCursor(caret);
    Memo1->verticalScrollBar()->setValue(arrived.isEmpty() ? 0 : Memo1->verticalScrollBar()->maximum());
    Memo1->horizontalScrollBar()->setValue(0);
}

void TMainForm::actFileSaveExecute() {}

// The file holds the view's text as it is when the save begins; groups shown meanwhile are
// in the view, and in the next save. The bytes are collected here in pieces; writing them and
// flushing them to disk (seconds on a USB stick) happen on a thread of their own.
void TMainForm::actFileSaveAsExecute() {
    if (!SaveDialog1.Execute(this))
        return;
    const std::string name = SaveDialog1.FileName;
    const QTextDocument& document = *Memo1->document();
    const int lines = MemoLineCount(*Memo1);
    // Lines already complete do not change when groups are appended, so the text is collected
    // line by line; the final line end is the one the view has now.
    const bool endsWithLineEnd = lines > 0 && document.lastBlock().text().isEmpty();
    TLongWork work(this, "Saving " + BaseName(name), 2 * lines);
    QByteArray bytes;
    bytes.reserve(document.characterCount() + lines);
    QTextBlock block = document.begin();
    for (int line = 0; line < lines; ++line) {
        if (line > 0)
            bytes += "\r\n";
        bytes += block.text().toLatin1();
        if (!work.Step(line + 1))
            return;
        block = document.findBlockByNumber(line + 1); // a pump may have appended to the view
    }
    if (endsWithLineEnd)
        bytes += "\r\n";

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
                work.SetText("Saving " + BaseName(name) + " (writing to disk)");
            }
        }
    }
    if (!saved && !(stop && !committing))
        throw EFCreateError("Cannot create file " + name);
}
