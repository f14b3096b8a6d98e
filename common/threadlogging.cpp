#include "common/threadlogging.h"


namespace Tavrix::Common {

Membuf::Membuf(char* buffer, std::size_t capacity)
    : m_start(buffer)
    , m_capacity(capacity)
{
    setp(m_start, m_start + m_capacity);
}

void Membuf::rewind()
{
    setp(m_start, m_start + m_capacity);
}

ThreadLogging::ThreadLogging()
    : m_membuf(m_buffer, bufferSize)
    , m_stream(&m_membuf)
{
}

ThreadLogging& ThreadLogging::operator<<(char c)
{
    bool first = false;
    {
        std::lock_guard lock(m_mutex);
        first = m_membuf.size() == 0;
        m_stream << c;
    }
    if (first && m_onFirstText)
        m_onFirstText();
    return *this;
}

ThreadLogging& ThreadLogging::operator<<(const char* text)
{
    bool first = false;
    {
        std::lock_guard lock(m_mutex);
        if (text == nullptr) {
            m_stream.setstate(std::ios::badbit);
            return *this;
        }
        first = m_membuf.size() == 0;
        m_stream << text << ' ';
    }
    if (first && m_onFirstText)
        m_onFirstText();
    return *this;
}

std::string ThreadLogging::take()
{
    std::lock_guard lock(m_mutex);
    std::string text(m_membuf.start(), m_membuf.size());
    m_membuf.rewind();
    m_stream.clear();
    return text;
}

bool ThreadLogging::failed()
{
    std::lock_guard lock(m_mutex);
    return m_stream.fail();
}

} // namespace Tavrix::Common
