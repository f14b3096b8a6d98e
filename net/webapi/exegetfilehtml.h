#pragma once

#include "net/webapi/exeget.h"
#include "net/webapi/staticfilecache.h"

#include <sys/stat.h>

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
    // What a request asks for: the index page stands for the empty path.
    struct Request
    {
        QString path;
        QString extension;
        bool indexPage = false;
        bool climbsOut = false;
    };
    // Where it was found: the web directory that holds it and, when every
    // component of its path is a plain name without links (`plain`), the
    // path in the file system's encoding and the file's lstat().
    struct Located
    {
        QString directory;
        QByteArray native;
        struct stat info{};
        bool plain = false;
    };

    // The whole answer: true when it was sent already (a file too large to
    // keep, streamed from disk), false when it is built in the response for
    // the caller to write. Without a socket, a file to stream is left
    // unanswered (true).
    bool answer(ParsingURI& uri, QTcpSocket* socket);
    Request requestOf(const ParsingURI& uri);
    Located locate(const Request& request) const;
    // False (logged) when the file really lies outside its web directory;
    // else the path to read it from in `readPath`.
    bool judgeRealPath(const QString& filePath, const QString& directory, const QString& path,
                       QString& readPath) const;
    // Builds the answer from the kept bytes or the file; a file that cannot
    // be read is answered as missing under the path asked for.
    void readKept(const QString& readPath, const QString& filePath, const QString& extension);
    bool stream(const QString& path, const QString& extension, QTcpSocket* socket);

    DirectoryQueue* m_directories;
    QString m_defaultDirectory;
    mutable QString m_applicationDirectory;
    mutable QByteArray m_nativeApplicationDirectory; // in the file system's encoding
    // Files are judged (paths, links) on every request; only their bytes are kept.
    StaticFileCache m_cache;
};

} // namespace Tavrix::Net::WebApi
