// Texts are bytes in the system; the window shows each byte as one Latin-1
// character, so a text goes through the window unchanged.
#pragma once

#include <QString>

#include <string>

inline QString FromBytes(const std::string& text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// Characters beyond Latin-1 (typed by the user) become '?'.
inline std::string ToBytes(const QString& text)
{
    const QByteArray bytes = text.toLatin1();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}
