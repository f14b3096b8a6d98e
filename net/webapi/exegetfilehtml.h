#pragma once

#include "net/webapi/exeget.h"

namespace Tavrix::Net::WebApi {

class DirectoryQueue;

// Serves static files from the web directories below the application
// directory; the empty path is the default directory's index page.
class exeGetFileHtml : public exeGet
{
    Q_OBJECT

public:
    exeGetFileHtml(DirectoryQueue* directories, const QString& defaultDirectory, QObject* parent = nullptr);

    void exe(ParsingURI& uri, QTcpSocket* socket) override;
    bool guarded() const override { return false; }

    // Defaults to the executable's directory.
    void setApplicationDirectory(const QString& directory) { m_applicationDirectory = directory; }
    QString applicationDirectory() const;

    // True for paths that could name a file outside the web directories:
    // ".." segments (also percent-encoded), back-slashes and NUL bytes.
    static bool climbsOut(const QString& path);

private:
    DirectoryQueue* m_directories;
    QString m_defaultDirectory;
    QString m_applicationDirectory;
};

} // namespace Tavrix::Net::WebApi
