#include "ui/DisplayText.h"

#include <QStringDecoder>

QString FromBytes(const std::string& text)
{
    const QByteArrayView bytes(text.data(), static_cast<qsizetype>(text.size()));
    // A leading byte-order mark is part of the text, not a hint to drop.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString decoded = utf8.decode(bytes);
    if (!utf8.hasError()) return decoded;
    return QString::fromLatin1(bytes);
}

std::string ToBytes(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

std::string BytesBehind(const QString& shown, const std::string& original)
{
    if (shown == FromBytes(original)) return original;
    return ToBytes(shown);
}
