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
    std::lock_guard lock(m_mutex);
    m_stream << c;
    return *this;
}

ThreadLogging& ThreadLogging::operator<<(const char* text)
{
    std::lock_guard lock(m_mutex);
    if (text == nullptr) {
        m_stream.setstate(std::ios::badbit);
        return *this;
    }
    m_stream << text << ' ';
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
