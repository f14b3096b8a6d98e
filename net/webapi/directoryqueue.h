#pragma once

#include <mutex>
#include <QString>
#include <QStringList>

namespace Tavrix::Net::WebApi {

// The web directories in lookup order; the directory of the last index page
// request comes first.
class DirectoryQueue
{
public:
    void append(const QString& name);
    QStringList names() const;

    // The first directory (in queue order) holding `path`, or empty text.
    QString GetDirectoryName(const QString& applicationDir, const QString& path) const;
    // Moves `name` to the front, replacing an entry equal ignoring case.
    void SetLastName(const QString& name);

private:
    mutable std::mutex m_mutex;
    QStringList m_names;
};

} // namespace Tavrix::Net::WebApi
