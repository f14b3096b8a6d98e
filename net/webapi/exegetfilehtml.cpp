#include "net/webapi/exegetfilehtml.h"

#include "common/jterminal.h"
#include "common/logtext.h"
#include "net/webapi/directoryqueue.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <sys/stat.h>

namespace Tavrix::Net::WebApi {

namespace {

enum class EWalk { Missing, Plain, Unusual };

// lstat() of every component of `native` after its first `rootLength` bytes
// (the web directory, whose own links are followed as the directory names
// them now). Plain when each is a name that is no symbolic link, with the
// last one's lstat() in `info`: then the file is inside the web directory
// as named, and realpath() could tell nothing more. Missing when one is not
// there; Unusual (a link, an empty, "." or ".." part) leaves it to realpath().
EWalk walkBelow(QByteArray& native, int rootLength, struct stat& info)
{
    char* const data = native.data();
    const int end = native.size();
    for (int start = rootLength + 1;;) {
        int stop = start;
        while (stop < end && data[stop] != '/')
            ++stop;
        const int length = stop - start;
        if (length == 0 || (length == 1 && data[start] == '.')
            || (length == 2 && data[start] == '.' && data[start + 1] == '.'))
            return EWalk::Unusual;
        // Cut at the component in place: no copy of the path per component.
        if (stop < end)
            data[stop] = '\0';
        const int failed = ::lstat(data, &info);
        if (stop < end)
            data[stop] = '/';
        if (failed != 0)
            return EWalk::Missing;
        if (S_ISLNK(info.st_mode))
            return EWalk::Unusual;
        if (stop == end)
            return EWalk::Plain;
        start = stop + 1;
    }
}

} // namespace

exeGetFileHtml::exeGetFileHtml(DirectoryQueue* directories, const QString& defaultDirectory, QObject* parent)
    : exeGet(parent)
    , m_directories(directories)
    , m_defaultDirectory(defaultDirectory)
{
}

void exeGetFileHtml::setApplicationDirectory(const QString& directory)
{
    m_applicationDirectory = directory;
    m_nativeApplicationDirectory = QFile::encodeName(directory);
}

QString exeGetFileHtml::applicationDirectory() const
{
    // The executable stays where it started: asked once, not per request.
    if (m_applicationDirectory.isEmpty()) {
        m_applicationDirectory = QCoreApplication::applicationDirPath();
        m_nativeApplicationDirectory = QFile::encodeName(m_applicationDirectory);
    }
    return m_applicationDirectory;
}

bool exeGetFileHtml::climbsOut(const QString& path)
{
    // The file system does not decode, but a proxy or a later change might:
    // judge the decoded form too.
    const QString decoded = QString::fromUtf8(QByteArray::fromPercentEncoding(path.toUtf8()));
    for (const QString& form : {path, decoded}) {
        if (form.contains(QLatin1Char('\\')) || form.contains(QChar(0)))
            return true;
        const QStringList segments = form.split(QLatin1Char('/'));
        for (const QString& segment : segments) {
            if (segment == QLatin1String(".."))
                return true;
        }
    }
    return false;
}

void exeGetFileHtml::exe(ParsingURI& uri, QTcpSocket* socket)
{
    if (answer(uri, socket))
        return;
    sentResponse(socket);
}

bool exeGetFileHtml::buildAnswer(ParsingURI& uri)
{
    // A file too large to keep is streamed, which needs the socket.
    return !answer(uri, nullptr);
}

bool exeGetFileHtml::answer(ParsingURI& uri, QTcpSocket* socket)
{
    const Request request = requestOf(uri);
    if (request.climbsOut) {
        // Refused before any file system access, with the answer of a missing file.
        const QString refused = m_applicationDirectory + "/" + m_defaultDirectory + "/" + request.path;
        Common::JTerminal('1') << "refused file path" << refused.toLocal8Bit().constData();
        m_makeResponse->ret404(refused);
        return false;
    }
    const Located found = locate(request);
    if (found.plain) {
        if (found.info.st_size <= m_cache.maxFileBytes()) {
            QByteArray contents;
            if (m_cache.read(found.native, found.info, contents)) {
                m_makeResponse->ret200(request.extension, contents);
                return false;
            }
        } else {
            return stream(QFile::decodeName(found.native), request.extension, socket);
        }
    }
    const QString filePath = m_applicationDirectory + "/" + found.directory + "/" + request.path;
    QString readPath;
    if (!judgeRealPath(filePath, found.directory, request.path, readPath)) {
        m_makeResponse->ret404(filePath);
        return false;
    }
    if (QFileInfo(readPath).size() > m_cache.maxFileBytes())
        return stream(readPath, request.extension, socket);
    readKept(readPath, filePath, request.extension);
    return false;
}

exeGetFileHtml::Request exeGetFileHtml::requestOf(const ParsingURI& uri)
{
    Request request{uri.m_path, uri.m_extension, false, false};
    applicationDirectory(); // fills the cached forms of the directory
    std::printf("exeGetFileHtml (1): %s\n", Common::LogText::escaped(request.path).toLocal8Bit().constData());
    std::printf("exeGetFileHtml (2): %s\n", m_applicationDirectory.toLocal8Bit().constData());
    std::fflush(stdout);
    request.indexPage = request.path.isEmpty();
    if (request.indexPage) {
        request.path = QStringLiteral("index.html");
        request.extension = QStringLiteral("html");
        if (m_directories)
            m_directories->SetLastName(m_defaultDirectory);
    } else {
        request.climbsOut = climbsOut(request.path);
    }
    return request;
}

exeGetFileHtml::Located exeGetFileHtml::locate(const Request& request) const
{
    // Found at once when the web directory holds the file under the names
    // asked for, without links: one lstat() per component both finds the
    // directory and tells the cache whether its bytes are still the file's.
    // Everything else (links, odd paths, missing or unreadable files) is
    // judged by where it really is.
    Located found;
    found.directory = m_defaultDirectory;
    const QByteArray nativePath = QFile::encodeName(request.path);
    EWalk walk = EWalk::Missing;
    const auto probe = [&](const QString& name) {
        found.native = m_nativeApplicationDirectory;
        found.native += '/';
        found.native += QFile::encodeName(name);
        const int rootLength = found.native.size();
        found.native += '/';
        found.native += nativePath;
        return walkBelow(found.native, rootLength, found.info);
    };
    if (m_directories && !request.indexPage) {
        // Which directory holds the file, in queue order, as GetDirectoryName
        // decides it: a file that exists, links followed.
        for (const QString& name : m_directories->names()) {
            walk = probe(name);
            if (walk == EWalk::Plain
                || (walk == EWalk::Unusual
                    && QFileInfo::exists(m_applicationDirectory + "/" + name + "/" + request.path))) {
                found.directory = name;
                found.plain = walk == EWalk::Plain;
                return found;
            }
        }
        return found;
    }
    found.plain = probe(found.directory) == EWalk::Plain;
    return found;
}

bool exeGetFileHtml::judgeRealPath(const QString& filePath, const QString& directory, const QString& path,
                                   QString& readPath) const
{
    // A symbolic link inside the web directory may point anywhere: what is
    // served is judged by where it really is, and read from there.
    const QString root = QFileInfo(m_applicationDirectory + "/" + directory).canonicalFilePath();
    const QString real = root.isEmpty() ? QString() : QFileInfo(root + "/" + path).canonicalFilePath();
    if (!real.isEmpty() && !real.startsWith(root + QLatin1Char('/'))) {
        Common::JTerminal('1') << "refused file outside the web directory" << filePath.toLocal8Bit().constData();
        return false;
    }
    readPath = real.isEmpty() ? filePath : real;
    return true;
}

void exeGetFileHtml::readKept(const QString& readPath, const QString& filePath, const QString& extension)
{
    QByteArray contents;
    if (m_cache.read(readPath, contents)) {
        m_makeResponse->ret200(extension, contents);
        return;
    }
    Common::JTerminal('1') << "file read error" << readPath.toLocal8Bit().constData();
    // A refusal names the path as requested, not where it led.
    m_makeResponse->ret404(filePath);
}

bool exeGetFileHtml::stream(const QString& path, const QString& extension, QTcpSocket* socket)
{
    if (!socket)
        return true;
    if (sendFile(socket, path, extension))
        return true;
    Common::JTerminal('1') << "file read error" << path.toLocal8Bit().constData();
    m_makeResponse->ret404(path);
    return false;
}

} // namespace Tavrix::Net::WebApi
