#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace Tavrix::Net::WebApi {

struct HttpHeader
{
    QString m_name;
    QString m_value;
};

// One HTTP message: a parsed request or a response under construction.
class ParsingHttp
{
public:
    virtual ~ParsingHttp() = default;

    // m_raw -> start line, headers, body.
    void disassemble();
    // Start line, headers, body -> appended to m_raw (not cleared first).
    void assemble();
    void clear();

    // The first header with this name in any letter case (HTTP header names
    // are case-insensitive), or null.
    const HttpHeader* header(const QString& name) const;
    // The values of every header with this name in any letter case, in order.
    QList<QString> values(const QString& name) const;

    QString m_startLine;
    QList<HttpHeader> m_headers;
    QByteArray m_body;
    QByteArray m_raw;
};

} // namespace Tavrix::Net::WebApi
