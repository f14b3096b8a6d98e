#pragma once

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

// A throw-away directory tree of configuration files for parser and start-up
// tests.
class TempConfigTree
{
public:
    TempConfigTree() { m_dir.setAutoRemove(true); }

    QString path() const { return m_dir.path(); }
    QString path(const QString& relative) const { return m_dir.filePath(relative); }

    void write(const QString& relative, const QByteArray& content) const
    {
        const QString full = m_dir.filePath(relative);
        QDir().mkpath(QFileInfo(full).absolutePath());
        QFile file(full);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(content);
    }

    void mkdir(const QString& relative) const { QDir().mkpath(m_dir.filePath(relative)); }

private:
    QTemporaryDir m_dir;
};
