#include "common/logtext.h"

namespace Tavrix::Common {

bool LogText::isControl(QChar c)
{
    const ushort code = c.unicode();
    return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

QString LogText::escaped(const QString& text)
{
    int first = 0;
    while (first < text.size() && !isControl(text.at(first)))
        ++first;
    if (first == text.size())
        return text;
    QString out = text.left(first);
    out.reserve(text.size() + 16);
    for (int i = first; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (!isControl(c)) {
            out += c;
            continue;
        }
        out += QStringLiteral("\\x");
        out += QString::number(c.unicode(), 16).toUpper().rightJustified(2, QLatin1Char('0'));
    }
    return out;
}

std::string LogText::escaped(const std::string& utf8)
{
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        // C1 controls are two bytes in UTF-8 (0xC2 0x80…0x9F).
        if (byte < 0x20 || byte == 0x7F || byte == 0xC2)
            return escaped(QString::fromStdString(utf8)).toStdString();
    }
    return utf8;
}

QString LogText::capped(const QString& text, int maxLength)
{
    if (text.size() <= maxLength)
        return escaped(text);
    return escaped(text.left(maxLength)) + QStringLiteral("…(+%1)").arg(text.size() - maxLength);
}

} // namespace Tavrix::Common
