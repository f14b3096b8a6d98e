#include "common/jsontext.h"

#include <QSet>
#include <QString>
#include <vector>

namespace Tavrix::Common {

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads the string that starts at the quote at `pos`; on return `pos` is past
// its closing quote. False for an unterminated string or a bad escape.
bool readString(const QByteArray& text, int& pos, QString& out)
{
    out.clear();
    int runStart = ++pos;
    auto flushRun = [&](int end) { out += QString::fromUtf8(text.constData() + runStart, end - runStart); };
    while (pos < text.size()) {
        const char c = text.at(pos);
        if (c == '"') {
            flushRun(pos);
            ++pos;
            return true;
        }
        if (c != '\\') {
            ++pos;
            continue;
        }
        flushRun(pos);
        if (pos + 1 >= text.size())
            return false;
        const char escaped = text.at(pos + 1);
        pos += 2;
        switch (escaped) {
        case '"': out += QLatin1Char('"'); break;
        case '\\': out += QLatin1Char('\\'); break;
        case '/': out += QLatin1Char('/'); break;
        case 'b': out += QLatin1Char('\b'); break;
        case 'f': out += QLatin1Char('\f'); break;
        case 'n': out += QLatin1Char('\n'); break;
        case 'r': out += QLatin1Char('\r'); break;
        case 't': out += QLatin1Char('\t'); break;
        case 'u': {
            if (pos + 4 > text.size())
                return false;
            ushort unit = 0;
            for (int i = 0; i < 4; ++i) {
                const int digit = hexDigit(text.at(pos + i));
                if (digit < 0)
                    return false;
                unit = static_cast<ushort>(unit * 16 + digit);
            }
            // Surrogate halves stay separate code units, as the parser keeps them.
            out += QChar(unit);
            pos += 4;
            break;
        }
        default: {
            // Qt's parser takes any other escaped byte as that character (a
            // byte above 0x7F sign-extended, as its char is signed), so "a\q"
            // and "aq" are one name to it: they must be one name here.
            const uint ch = static_cast<uint>(static_cast<int>(static_cast<signed char>(escaped)));
            if (ch < 0x10000) {
                out += QChar(static_cast<ushort>(ch));
            } else {
                out += QChar(static_cast<ushort>((ch >> 10) + 0xD7C0));
                out += QChar(static_cast<ushort>(ch % 0x400 + 0xDC00));
            }
            break;
        }
        }
        runStart = pos;
    }
    return false;
}

} // namespace

bool JsonText::hasRepeatedMember(const QByteArray& text)
{
    struct Level
    {
        bool isObject;
        bool expectsName;
        QSet<QString> names;
    };
    std::vector<Level> levels;
    QString string;
    int pos = 0;
    while (pos < text.size()) {
        switch (text.at(pos)) {
        case '{':
            levels.push_back({true, true, {}});
            ++pos;
            break;
        case '[':
            levels.push_back({false, false, {}});
            ++pos;
            break;
        case '}':
        case ']':
            if (!levels.empty())
                levels.pop_back();
            ++pos;
            break;
        case ',':
            if (!levels.empty() && levels.back().isObject)
                levels.back().expectsName = true;
            ++pos;
            break;
        case '"':
            if (!readString(text, pos, string))
                return false;
            if (!levels.empty() && levels.back().isObject && levels.back().expectsName) {
                Level& level = levels.back();
                level.expectsName = false;
                if (level.names.contains(string))
                    return true;
                level.names.insert(string);
            }
            break;
        default: // blanks, colons, numbers and literals
            ++pos;
            break;
        }
    }
    return false;
}

} // namespace Tavrix::Common
