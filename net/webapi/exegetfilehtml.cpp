#include "net/webapi/exegetfilehtml.h"

#include "common/jterminal.h"
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
    buildAnswer(uri);
    sentResponse(socket);
}

bool exeGetFileHtml::buildAnswer(ParsingURI& uri)
{
    QString path = uri.m_path;
    QString extension = uri.m_extension;
    QString directory = m_defaultDirectory;
    const QString appDir = applicationDirectory();
    std::printf("exeGetFileHtml (1): %s\n", path.toLocal8Bit().constData());
    std::printf("exeGetFileHtml (2): %s\n", appDir.toLocal8Bit().constData());
    std::fflush(stdout);

    const bool indexPage = path.isEmpty();
    if (indexPage) {
        path = QStringLiteral("index.html");
        extension = QStringLiteral("html");
        if (m_directories)
            m_directories->SetLastName(m_defaultDirectory);
    } else if (climbsOut(path)) {
        // Refused before any file system access, with the answer of a missing file.
        const QString refused = appDir + "/" + directory + "/" + path;
        Common::JTerminal('1') << "refused file path" << refused.toLocal8Bit().constData();
        m_makeResponse->ret404(refused);
        return true;
    }

    // Served at once when the web directory holds the file under the names
    // asked for, without links: one lstat() per component both finds the
    // directory and tells the cache whether its bytes are still the file's.
    // Everything else (links, odd paths, missing or unreadable files) takes
    // the full way below, which judges and answers it.
    const QByteArray nativePath = QFile::encodeName(path);
    struct stat info{};
    const auto probe = [&](const QString& name, QByteArray& native) {
        native = m_nativeApplicationDirectory;
        native += '/';
        native += QFile::encodeName(name);
        const int rootLength = native.size();
        native += '/';
        native += nativePath;
        return walkBelow(native, rootLength, info);
    };
    QByteArray native;
    EWalk walk = EWalk::Missing;
    if (m_directories && !indexPage) {
        // Which directory holds the file, in queue order, as GetDirectoryName
        // decides it: a file that exists, links followed.
        for (const QString& name : m_directories->names()) {
            walk = probe(name, native);
            if (walk == EWalk::Plain
                || (walk == EWalk::Unusual && QFileInfo::exists(appDir + "/" + name + "/" + path))) {
                directory = name;
                break;
            }
            walk = EWalk::Missing;
        }
    } else {
        walk = probe(directory, native);
    }
    if (walk == EWalk::Plain) {
        QByteArray contents;
        if (m_cache.read(native, info, contents)) {
            m_makeResponse->ret200(extension, contents);
            return true;
        }
    }

    const QString filePath = appDir + "/" + directory + "/" + path;
    // A symbolic link inside the web directory may point anywhere: what is
    // served is judged by where it really is, and read from there.
    const QString root = QFileInfo(appDir + "/" + directory).canonicalFilePath();
    // Only links, odd paths and missing or unreadable files come here: the
    // plain case was served above without realpath().
    const QString real = root.isEmpty() ? QString() : QFileInfo(root + "/" + path).canonicalFilePath();
    if (!real.isEmpty()) {
        if (!real.startsWith(root + QLatin1Char('/'))) {
            Common::JTerminal('1') << "refused file outside the web directory" << filePath.toLocal8Bit().constData();
            m_makeResponse->ret404(filePath);
            return true;
        }
    }
    const QString readPath = real.isEmpty() ? filePath : real;
    QByteArray contents;
    if (m_cache.read(readPath, contents)) {
        m_makeResponse->ret200(extension, contents);
    } else {
        m_makeResponse->ret404(readPath);
        Common::JTerminal('1') << "file read error" << readPath.toLocal8Bit().constData();
    }
    // A refusal names the path as requested, not where it led.
    if (!real.isEmpty() && real != filePath && m_makeResponse->m_startLine.startsWith(QLatin1String("HTTP/1.1 404")))
        m_makeResponse->ret404(filePath);
    return true;
}

} // namespace Tavrix::Net::WebApi
