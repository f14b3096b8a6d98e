#pragma once

#include <QString>

#include <string>

namespace Tavrix::Common {

// Client input made safe to log or to pass on to every event and terminal
// client: control characters (C0, DEL, C1) become visible escapes, so that
// no escape sequence reaches a console, and no client can forge a log line
// with a line end of its own.
class LogText
{
public:
    // Longest client-given name (a command's, say) repeated to others.
    static constexpr int maxNameLength = 64;

    // `text` with every control character written as \xNN (\uNNNN above
    // 0xFF); the same string when there is none.
    static QString escaped(const QString& text);
    static std::string escaped(const std::string& utf8);
    // escaped(), then cut to `maxLength` characters with how many more
    // there were: "Name…(+1234)".
    static QString capped(const QString& text, int maxLength = maxNameLength);
    static bool isControl(QChar c);
};

} // namespace Tavrix::Common
