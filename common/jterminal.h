#pragma once

#include <QDebug>
#include <QString>
#include <memory>

namespace Tavrix::Common {

// One log line: a debug stream whose first character is the colour digit
// ('0' ordinary, '1' error, '2' start/end, '3' notice). The line is handed to
// the message handler when the stream is destroyed.
class JTerminal
{
public:
    explicit JTerminal(bool enabled = true);
    JTerminal(char colour, bool enabled = true);
    ~JTerminal();
    JTerminal(const JTerminal&) = delete;
    JTerminal& operator=(const JTerminal&) = delete;

    template<typename T>
    JTerminal& operator<<(const T& value)
    {
        if (m_enabled)
            *m_stream << value;
        return *this;
    }

    JTerminal& operator<<(const std::string& value)
    {
        if (m_enabled)
            *m_stream << value.c_str();
        return *this;
    }

private:
    bool m_enabled;
    QString m_text;
    std::unique_ptr<QDebug> m_stream;
};

} // namespace Tavrix::Common
