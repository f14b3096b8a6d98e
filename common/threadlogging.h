#pragma once

#include <functional>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>

namespace Tavrix::Common {

// A streambuf whose put area is a fixed caller-owned buffer: writing past its
// capacity fails instead of allocating.
class Membuf : public std::streambuf
{
public:
    Membuf(char* buffer, std::size_t capacity);
    void rewind();
    std::size_t size() const { return static_cast<std::size_t>(pptr() - pbase()); }
    const char* start() const { return m_start; }
    std::size_t capacity() const { return m_capacity; }

private:
    char* m_start;
    std::size_t m_capacity;
};

// Fixed-size text log written by the USB thread without allocating and
// drained by the main thread. Each << is one critical section.
class ThreadLogging
{
public:
    static constexpr std::size_t bufferSize = 10000;

    ThreadLogging();
    ThreadLogging(const ThreadLogging&) = delete;
    ThreadLogging& operator=(const ThreadLogging&) = delete;

    ThreadLogging& operator<<(char c);
    // Appends the text and one space; a null pointer appends nothing and marks
    // the stream failed until the next drain.
    ThreadLogging& operator<<(const char* text);

    // Takes everything written so far and rewinds the buffer.
    std::string take();
    // Called (by the writing thread, outside the lock) when text lands in an
    // empty buffer: the reader drains when there is something to drain
    // instead of looking on a timer. Set before any writer starts.
    void setOnFirstText(std::function<void()> notify) { m_onFirstText = std::move(notify); }
    bool failed();

private:
    char m_buffer[bufferSize];
    Membuf m_membuf;
    std::ostream m_stream;
    std::mutex m_mutex;
    std::function<void()> m_onFirstText;
};

} // namespace Tavrix::Common
