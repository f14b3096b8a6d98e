#include "common/jterminal.h"

namespace Tavrix::Common {

JTerminal::JTerminal(bool enabled)
    : JTerminal('0', enabled)
{
}

JTerminal::JTerminal(char colour, bool enabled)
    : m_enabled(enabled)
{
    if (!m_enabled)
        return;
    m_stream = std::make_unique<QDebug>(&m_text);
    const char digit[2] = {colour, '\0'};
    *m_stream << digit;
}

JTerminal::~JTerminal()
{
    if (!m_enabled)
        return;
    m_stream.reset(); // flushes into m_text
    if (m_text.endsWith(QLatin1Char(' ')))
        m_text.chop(1);
    qt_message_output(QtInfoMsg, QMessageLogContext(), m_text);
}

} // namespace Tavrix::Common
