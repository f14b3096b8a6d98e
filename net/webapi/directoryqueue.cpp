#include "net/webapi/directoryqueue.h"

#include <QFileInfo>

namespace Tavrix::Net::WebApi {

void DirectoryQueue::append(const QString& name)
{
    std::lock_guard lock(m_mutex);
    m_names.append(name);
}

QStringList DirectoryQueue::names() const
{
    std::lock_guard lock(m_mutex);
    return m_names;
}

QString DirectoryQueue::GetDirectoryName(const QString& applicationDir, const QString& path) const
{
    std::lock_guard lock(m_mutex);
    for (const QString& name : m_names) {
        if (QFileInfo::exists(applicationDir + "/" + name + "/" + path))
            return name;
    }
    return QString();
}

void DirectoryQueue::SetLastName(const QString& name)
{
    std::lock_guard lock(m_mutex);
    for (int i = 0; i < m_names.size(); ++i) {
        if (m_names.at(i).compare(name, Qt::CaseInsensitive) == 0) {
            m_names.removeAt(i);
            break;
        }
    }
    m_names.prepend(name);
}

} // namespace Tavrix::Net::WebApi
