#include "common/simplelogger.h"

#include <QString>
#include <QTime>
#include <cstdio>

namespace Tavrix::Common {

namespace {

std::string temporaryPathFor(const std::string& path)
{
    const size_t slash = path.find_last_of("/\\");
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::string dir = path.substr(0, nameStart);
    const std::string name = path.substr(nameStart);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        return dir + name + "_temp";
    return dir + name.substr(0, dot) + "_temp" + name.substr(dot);
}

} // namespace

SimpleLogger::SimpleLogger(const std::string& path, unsigned long maxSize, unsigned long cutSize)
    : m_path(path)
    , m_maxSize(maxSize)
    , m_cutSize(std::min<uint64_t>(cutSize, maxSize))
    , m_tempPath(temporaryPathFor(path))
    , m_fileInfo(QString::fromStdString(path))
{
}

std::string SimpleLogger::timeStamp()
{
    return QTime::currentTime().toString("hh:mm:ss.zzz").toStdString();
}

void SimpleLogger::write(const std::string& text)
{
    const std::string stamp = timeStamp();
    std::lock_guard<std::mutex> lock(m_mutex);

    m_fileInfo.refresh();
    if (m_fileInfo.exists()) {
        m_lastSize = static_cast<uint64_t>(m_fileInfo.size());
        if (m_lastSize + text.size() + stamp.size() + 3 > m_maxSize)
            createTruncatedFileCopy();
    } else {
        m_lastSize = 0;
    }

    m_out.open(m_path, std::ios::out | std::ios::app | std::ios::binary);
    if (m_out.is_open()) {
        m_out << stamp << ' ' << text << '\n';
        m_out.flush();
    }
    m_out.close();
    m_out.clear();
}

void SimpleLogger::createTruncatedFileCopy()
{
    std::ifstream in(m_path, std::ios::in | std::ios::binary);
    if (!in.is_open())
        return;

    std::string line;
    if (m_cutSize > 0) {
        while (std::getline(in, line)) {
            const std::streamoff position = in.tellg();
            if (position < 0 || static_cast<uint64_t>(position) >= m_cutSize)
                break;
        }
    }

    std::ofstream temp(m_tempPath, std::ios::out | std::ios::app | std::ios::binary);
    while (in && std::getline(in, line))
        temp << line << '\n';
    temp.close();
    in.close();

    if (std::remove(m_path.c_str()) == 0)
        std::rename(m_tempPath.c_str(), m_path.c_str());
}

} // namespace Tavrix::Common
