#include "net/webapi/securityheaders.h"

namespace Tavrix::Net::WebApi {

const QList<HttpHeader>& SecurityHeaders::list()
{
    static const QList<HttpHeader> headers{
        {QStringLiteral("Content-Security-Policy"), QString::fromLatin1(contentSecurityPolicy)},
        // For browsers that know no frame-ancestors.
        {QStringLiteral("X-Frame-Options"), QStringLiteral("SAMEORIGIN")},
        {QStringLiteral("X-Content-Type-Options"), QStringLiteral("nosniff")},
        {QStringLiteral("Referrer-Policy"), QStringLiteral("no-referrer")},
    };
    return headers;
}

const QByteArray& SecurityHeaders::lines()
{
    static const QByteArray bytes = [] {
        QByteArray text;
        for (const HttpHeader& header : list())
            text += header.m_name.toLatin1() + ": " + header.m_value.toLatin1() + "\r\n";
        return text;
    }();
    return bytes;
}

} // namespace Tavrix::Net::WebApi
