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

// Where `path` below the resolved web root `root` really is, or empty text
// when it does not exist: what realpath() of root/path gives. realpath()
// reads every component from "/" down; here only the components below the
// root are looked at, and realpath() decides as soon as one of them is a
// symbolic link or not a plain name.
QString resolveBelow(const QString& root, const QString& path)
{
    QString walked = root;
    for (const QString& part : path.split(QLatin1Char('/'))) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return QFileInfo(root + "/" + path).canonicalFilePath();
        walked += QLatin1Char('/') + part;
        struct stat info{};
        if (::lstat(QFile::encodeName(walked).constData(), &info) != 0)
            return QString();
        if (S_ISLNK(info.st_mode))
            return QFileInfo(root + "/" + path).canonicalFilePath();
    }
    return walked;
}

} // namespace

exeGetFileHtml::exeGetFileHtml(DirectoryQueue* directories, const QString& defaultDirectory, QObject* parent)
    : exeGet(parent)
    , m_directories(directories)
    , m_defaultDirectory(defaultDirectory)
{
}

QString exeGetFileHtml::applicationDirectory() const
{
    return m_applicationDirectory.isEmpty() ? QCoreApplication::applicationDirPath() : m_applicationDirectory;
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

    if (path.isEmpty()) {
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
    } else if (m_directories) {
        const QString found = m_directories->GetDirectoryName(appDir, path);
        if (!found.isEmpty())
            directory = found;
    }

    const QString filePath = appDir + "/" + directory + "/" + path;
    // A symbolic link inside the web directory may point anywhere: what is
    // served is judged by where it really is, and read from there.
    const QString root = QFileInfo(appDir + "/" + directory).canonicalFilePath();
    const QString real = root.isEmpty() ? QString() : resolveBelow(root, path);
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
