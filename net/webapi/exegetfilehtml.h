#pragma once

#include "net/webapi/exeget.h"
#include "net/webapi/staticfilecache.h"

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
    bool buildAnswer(ParsingURI& uri) override;
    bool guarded() const override { return false; }

    // Defaults to the executable's directory.
    void setApplicationDirectory(const QString& directory);
    QString applicationDirectory() const;

    // True for paths that could name a file outside the web directories:
    // ".." segments (also percent-encoded), back-slashes and NUL bytes.
    static bool climbsOut(const QString& path);

    const StaticFileCache& cache() const { return m_cache; }
    // How long a file must be left alone before its bytes are kept; tests
    // shorten it to see the cache at work on files they just wrote.
    void setCacheSettleTime(qint64 ns) { m_cache = StaticFileCache(StaticFileCache::defaultMaxFileBytes, StaticFileCache::defaultMaxTotalBytes, ns); }

private:
    DirectoryQueue* m_directories;
    QString m_defaultDirectory;
    mutable QString m_applicationDirectory;
    mutable QByteArray m_nativeApplicationDirectory; // in the file system's encoding
    // Files are judged (paths, links) on every request; only their bytes are kept.
    StaticFileCache m_cache;
};

} // namespace Tavrix::Net::WebApi
