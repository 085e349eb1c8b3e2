// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QStringList>

#include <cstddef>

class QPlainTextEdit;

// The text view holds the program's document: 8-bit text (every byte one Latin-1 character,
// so bytes 0x80-0xFF come back out unchanged), one block per line. A text that ends with a
// line end has an empty last block, which is not counted as a line.

// Splits 8-bit text into lines. A line ends at CR, at LF or at CR LF; a last line without a
// line end is still a line; a line end at the very end adds no empty line; a zero byte ends
// the text.
QStringList SplitTextLines(const char* data, std::size_t size);

// Appends lines after the view's last line, as the text view's own line list does: when the
// text ends with a line end, each line is followed by one; otherwise each is preceded by one.
void AppendMemoLines(QPlainTextEdit& memo, const QStringList& lines);

// Lines of the view, not counting an empty line after a final line end.
int MemoLineCount(const QPlainTextEdit& memo);

// The whole text as 8-bit bytes, lines separated by CR LF, with a final CR LF exactly when the
// text ends with a line end.
QByteArray MemoTextBytes(const QPlainTextEdit& memo);

// The text of the given lines as the view holds it ('\n' between lines).
QString JoinLines(const QStringList& lines, bool endsWithLineEnd);

// Turns 8-bit text into the view's form ('\n' between lines) piece by piece, as SplitTextLines
// and JoinLines do for the whole: every CR, LF or CR LF becomes one '\n', also a CR LF cut
// between two pieces. The caller ends the text at its first zero byte.
class TViewTextConverter {
public:
    QString Convert(const char* data, std::size_t size);

private:
    bool afterCr = false; // the last piece ended with CR: an LF first in this one belongs to it
};
