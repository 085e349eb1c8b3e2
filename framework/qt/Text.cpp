// SPDX-License-Identifier: MIT
#include "Text.h"

#include <QStringDecoder>

QString DisplayText(const std::string& text) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QByteArrayView bytes(text.data(), static_cast<qsizetype>(text.size()));
    QString decoded = utf8(bytes);
    if (!utf8.hasError())
        return decoded;
    return QString::fromLatin1(bytes);
}
