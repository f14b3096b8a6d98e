#pragma once

#include <QFileInfo>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>

namespace Tavrix::Common {

// A size-bounded, time-stamped error log file. When a write would push the
// file past the maximum size, about `cutSize` bytes of the oldest whole lines
// are dropped first. Safe to call from several threads.
class SimpleLogger
{
public:
    SimpleLogger(const std::string& path, unsigned long maxSize, unsigned long cutSize);

    void write(const std::string& text);
    void createTruncatedFileCopy();

    const std::string& path() const { return m_path; }
    const std::string& temporaryPath() const { return m_tempPath; }

    static std::string timeStamp();

private:
    std::mutex m_mutex;
    std::string m_path;
    std::ofstream m_out;
    uint64_t m_maxSize;
    uint64_t m_cutSize;
    uint64_t m_lastSize = 0;
    std::string m_tempPath;
    QFileInfo m_fileInfo;
};

} // namespace Tavrix::Common
