// SPDX-License-Identifier: MIT
#include "MemoText.h"

#include "TextRules.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

QStringList SplitTextLines(const char* data, std::size_t size) {
    QStringList lines;
    for (const std::string& line : SplitLines(data, size))
        lines.append(QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size())));
    return lines;
}

QString JoinLines(const QStringList& lines, bool endsWithLineEnd) {
    QString text = lines.join(QLatin1Char('\n'));
    if (endsWithLineEnd && !lines.isEmpty())
        text += QLatin1Char('\n');
    return text;
}

void AppendMemoLines(QPlainTextEdit& memo, const QStringList& lines) {
    if (lines.isEmpty())
        return;
    QTextDocument& doc = *memo.document();
    const bool endsWithLineEnd = doc.lastBlock().text().isEmpty();
    QTextCursor cursor(&doc);
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    if (endsWithLineEnd)
        cursor.insertText(JoinLines(lines, true));
    else
        cursor.insertText(QLatin1Char('\n') + JoinLines(lines, false));
    cursor.endEditBlock();
}

int MemoLineCount(const QPlainTextEdit& memo) {
    const QTextDocument& doc = *memo.document();
    return doc.blockCount() - (doc.lastBlock().text().isEmpty() ? 1 : 0);
}

QByteArray MemoTextBytes(const QPlainTextEdit& memo) {
    // Block by block: the document's own plain-text export turns no-break spaces (0xA0) into
    // spaces, which would change the user's bytes.
    QString text;
    text.reserve(memo.document()->characterCount() * 2);
    for (QTextBlock block = memo.document()->begin(); block.isValid(); block = block.next()) {
        if (block != memo.document()->begin())
            text += QLatin1String("\r\n");
        text += block.text();
    }
    return text.toLatin1();
}

QString TViewTextConverter::Convert(const char* data, std::size_t size) {
    QString text(static_cast<qsizetype>(size), Qt::Uninitialized);
    QChar* out = text.data();
    for (std::size_t i = 0; i < size; ++i) {
        const auto c = static_cast<unsigned char>(data[i]);
        const bool lfOfCrLf = afterCr && c == '\n';
        afterCr = c == '\r';
        if (lfOfCrLf)
            continue;
        *out++ = c == '\r' ? QChar(u'\n') : QChar(c);
    }
    text.truncate(out - text.constData());
    return text;
}
