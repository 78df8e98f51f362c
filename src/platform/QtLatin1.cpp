#include "QtLatin1.h"

QString fromLatin1(std::string_view text)
{
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

std::string toLatin1(const QString& text)
{
    return text.toLatin1().toStdString();
}

std::optional<std::string> toLatin1Exact(const QString& text)
{
    std::string bytes;
    bytes.reserve(std::size_t(text.size()));
    for (QChar c : text) {
        if (c.unicode() > 0xFF)
            return std::nullopt;
        bytes.push_back(static_cast<char>(c.unicode()));
    }
    return bytes;
}
