#include "net/webapi/makeresponse.h"

#include "net/webapi/securityheaders.h"

namespace Tavrix::Net::WebApi {

const QMap<QString, QString>& MakeResponse::getMapExt()
{
    static const QMap<QString, QString> table{
        {"html", "text/html; charset=utf8;"},
        {"json", "application/json"},
        {"js", "text/javascript; charset=utf8;"},
        {"css", "text/css; charset=utf8;"},
        {"txt", "text/plain; charset=utf8;"},
        {"bin", "application/octet-stream;"},
    };
    return table;
}

QString MakeResponse::contentType(const QString& extension)
{
    const QMap<QString, QString>& table = getMapExt();
    const auto it = table.constFind(extension);
    return it != table.constEnd() ? it.value() : table.value(QStringLiteral("txt"));
}

void MakeResponse::start(const QString& status)
{
    clear();
    m_startLine = QStringLiteral("HTTP/1.1 ") + status;
    // Paths echoed into the status line must not be able to end it early.
    m_startLine.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
}

void MakeResponse::addCorsHeaders()
{
    m_headers.append(HttpHeader{"Access-Control-Allow-Origin", "*"});
    m_headers.append(HttpHeader{"Access-Control-Allow-Headers", "Content-Type"});
    // Every answer goes through here, so every answer carries them.
    m_headers.append(SecurityHeaders::list());
}

void MakeResponse::ret200()
{
    start(QStringLiteral("200 OK"));
    addCorsHeaders();
    assemble();
}

void MakeResponse::ret200(const QString& extension, const QByteArray& body)
{
    start(QStringLiteral("200 OK"));
    addCorsHeaders();
    m_headers.append(HttpHeader{"Content-Type", contentType(extension)});
    m_body = body;
    assemble();
}

void MakeResponse::ret200Options()
{
    start(QStringLiteral("200 OK"));
    addCorsHeaders();
    m_headers.append(HttpHeader{"Access-Control-Allow-Methods", "POST, GET, OPTIONS"});
    m_headers.append(HttpHeader{"Access-Control-Max-Age", "86400"});
    assemble();
}

void MakeResponse::retSse()
{
    start(QStringLiteral("200 OK"));
    m_headers.append(HttpHeader{"Cache-Control", "no-cache"});
    m_headers.append(HttpHeader{"Content-Type", "text/event-stream"});
    addCorsHeaders();
    assemble();
}

void MakeResponse::ret404(const QString& path)
{
    start(QStringLiteral("404 Error; not found : ") + path);
    addCorsHeaders();
    assemble();
}

void MakeResponse::ret500()
{
    start(QStringLiteral("500 Error; Internal Server Error"));
    addCorsHeaders();
    assemble();
}

void MakeResponse::ret501()
{
    start(QStringLiteral("501 Error; Not Implemented"));
    addCorsHeaders();
    assemble();
}

void MakeResponse::ret401()
{
    start(QStringLiteral("401 Unauthorized"));
    addCorsHeaders();
    m_headers.append(HttpHeader{"WWW-Authenticate", "Bearer"});
    assemble();
}

void MakeResponse::ret403()
{
    start(QStringLiteral("403 Forbidden"));
    addCorsHeaders();
    assemble();
}

void MakeResponse::retError(const QString& status)
{
    start(status);
    addCorsHeaders();
    assemble();
}

} // namespace Tavrix::Net::WebApi
