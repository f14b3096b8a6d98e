#include "net/webapi/accesspolicy.h"

#include "net/webapi/parsinghttp.h"
#include "net/webapi/parsinguri.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QUrl>

namespace Tavrix::Net::WebApi {

namespace {

int defaultPort(const QString& scheme)
{
    return scheme == QLatin1String("https") ? 443 : 80;
}

bool isLoopbackName(const QString& name)
{
    if (name == QLatin1String("localhost") || name.endsWith(QLatin1String(".localhost")))
        return true;
    const QHostAddress address(name);
    return !address.isNull() && address.isLoopback();
}

} // namespace

void AccessPolicy::setAllowedOrigins(const QStringList& origins)
{
    m_anyOrigin = false;
    m_allowedOrigins.clear();
    for (const QString& origin : origins) {
        if (origin.trimmed() == QLatin1String("*"))
            m_anyOrigin = true;
        else if (const QString normal = normalizedOrigin(origin.trimmed()); !normal.isEmpty())
            m_allowedOrigins.insert(normal);
    }
}

void AccessPolicy::setAllowedHosts(const QStringList& hosts)
{
    m_anyHost = false;
    m_allowedHosts.clear();
    for (const QString& host : hosts) {
        if (host.trimmed() == QLatin1String("*"))
            m_anyHost = true;
        else if (const QString name = hostName(host.trimmed()); !name.isEmpty())
            m_allowedHosts.insert(name);
    }
}

void AccessPolicy::setLocalHostNames(const QStringList& names)
{
    m_localNames.clear();
    for (const QString& name : names)
        m_localNames.append(hostName(name));
    m_localNamesSet = true;
}

QString AccessPolicy::hostName(const QString& host, int* port)
{
    if (port)
        *port = -1;
    QString name = host.trimmed().toLower();
    QString portText;
    if (name.startsWith(QLatin1Char('['))) {
        const int close = name.indexOf(QLatin1Char(']'));
        if (close < 0)
            return {};
        if (name.size() > close + 1) {
            if (name.at(close + 1) != QLatin1Char(':'))
                return {};
            portText = name.mid(close + 2);
        }
        name = name.mid(1, close - 1);
    } else if (name.count(QLatin1Char(':')) == 1) {
        portText = name.section(QLatin1Char(':'), 1);
        name = name.section(QLatin1Char(':'), 0, 0);
    }
    if (!portText.isEmpty()) {
        bool ok = false;
        const int number = portText.toInt(&ok);
        if (!ok || number < 0 || number > 65535)
            return {};
        if (port)
            *port = number;
    }
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    return name;
}

QString AccessPolicy::normalizedOrigin(const QString& origin)
{
    const QUrl url(origin.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return {};
    const QString host = url.host().toLower();
    const int port = url.port(defaultPort(scheme));
    QString normal = scheme + QStringLiteral("://") + (host.contains(QLatin1Char(':')) ? "[" + host + "]" : host);
    if (port != defaultPort(scheme))
        normal += QLatin1Char(':') + QString::number(port);
    return normal;
}

bool AccessPolicy::isLocalName(const QString& name) const
{
    if (!m_localNamesSet) {
        // Filled once, on the main thread, before the first request.
        auto* self = const_cast<AccessPolicy*>(this);
        const QString machine = QHostInfo::localHostName().toLower();
        const QString domain = QHostInfo::localDomainName().toLower();
        if (!machine.isEmpty())
            self->m_localNames.append(machine);
        if (!machine.isEmpty() && !domain.isEmpty())
            self->m_localNames.append(machine + "." + domain);
        self->m_localNamesSet = true;
    }
    return m_localNames.contains(name);
}

bool AccessPolicy::hostAllowed(const QString& host) const
{
    if (m_anyHost)
        return true;
    const QString name = hostName(host);
    if (name.isEmpty())
        return false;
    if (!QHostAddress(name).isNull() || name == QLatin1String("localhost") || name.endsWith(QLatin1String(".localhost")))
        return true;
    return isLocalName(name) || m_allowedHosts.contains(name);
}

bool AccessPolicy::originAllowed(const QString& origin, const QString& host) const
{
    if (m_anyOrigin)
        return true;
    const QString normal = normalizedOrigin(origin);
    if (normal.isEmpty())
        return false; // "null" and other opaque origins: sandboxed or local-file pages
    if (m_allowedOrigins.contains(normal))
        return true;
    const QUrl url(normal);
    const QString originHost = url.host().toLower();
    const int originPort = url.port(defaultPort(url.scheme()));
    // A page loaded from this service on a loopback address.
    if (isLoopbackName(originHost) && m_servicePort != 0 && originPort == m_servicePort)
        return true;
    // The service's own origin: the page came from the host the request is
    // addressed to, either from the same port (the HTTP API, or a proxy in
    // front of everything) or from the HTTP port (a WebSocket port).
    int hostPort = -1;
    const QString requestHost = hostName(host, &hostPort);
    if (requestHost.isEmpty() || requestHost != originHost)
        return false;
    if (hostPort < 0)
        hostPort = defaultPort(url.scheme());
    return originPort == hostPort || (m_servicePort != 0 && originPort == m_servicePort);
}

bool AccessPolicy::originIsListedForeign(const QString& origin, const QString& host) const
{
    if (m_anyOrigin)
        return false;
    const QString normal = normalizedOrigin(origin);
    if (normal.isEmpty() || !m_allowedOrigins.contains(normal))
        return false;
    // Listed, but also the service's own: the answer stays as it is.
    AccessPolicy unlisted = *this;
    unlisted.m_allowedOrigins.clear();
    return !unlisted.originAllowed(origin, host);
}

bool AccessPolicy::tokenMatches(const QByteArray& presented) const
{
    if (m_token.isEmpty())
        return true;
    // Every presented byte is compared, whatever the first difference.
    unsigned difference = presented.size() == m_token.size() ? 0u : 1u;
    for (int i = 0; i < presented.size(); ++i)
        difference |= static_cast<unsigned char>(presented.at(i))
                    ^ static_cast<unsigned char>(m_token.at(i % m_token.size()));
    return difference == 0;
}

QString AccessPolicy::headerValue(const ParsingHttp& request, const QString& name, bool* present)
{
    for (const HttpHeader& header : request.m_headers) {
        if (header.m_name.trimmed().compare(name, Qt::CaseInsensitive) == 0) {
            if (present)
                *present = true;
            return header.m_value;
        }
    }
    if (present)
        *present = false;
    return {};
}

AccessPolicy::EVerdict AccessPolicy::check(const ParsingHttp& request, const ParsingURI& uri, bool guarded,
                                           bool tokenFromQuery) const
{
    bool hasHost = false;
    const QString host = headerValue(request, QStringLiteral("Host"), &hasHost);
    // A request without Host (not a browser) names no host to judge.
    if (hasHost && !hostAllowed(host))
        return EVerdict::ForbiddenHost;
    if (!guarded)
        return EVerdict::Allowed;
    bool hasOrigin = false;
    const QString origin = headerValue(request, QStringLiteral("Origin"), &hasOrigin);
    if (hasOrigin && !originAllowed(origin, host))
        return EVerdict::ForbiddenOrigin;
    if (!tokenRequired())
        return EVerdict::Allowed;
    const QString authorization = headerValue(request, QStringLiteral("Authorization")).trimmed();
    if (authorization.section(QLatin1Char(' '), 0, 0).compare(QLatin1String("Bearer"), Qt::CaseInsensitive) == 0
        && tokenMatches(authorization.section(QLatin1Char(' '), 1).trimmed().toUtf8()))
        return EVerdict::Allowed;
    if (tokenFromQuery && uri.m_args.contains(QStringLiteral("token"))) {
        const QByteArray presented = QByteArray::fromPercentEncoding(uri.m_args.value(QStringLiteral("token")).toUtf8());
        if (tokenMatches(presented))
            return EVerdict::Allowed;
    }
    return EVerdict::Unauthorized;
}

bool AccessPolicy::firstRefusal(const QString& what) const
{
    if (m_refused.contains(what))
        return false;
    // Bounded: a scan of many names must not grow the service without end.
    if (int(m_refusalOrder.size()) >= rememberedRefusals) {
        m_refused.remove(m_refusalOrder.front());
        m_refusalOrder.pop_front();
    }
    m_refused.insert(what);
    m_refusalOrder.push_back(what);
    return true;
}

} // namespace Tavrix::Net::WebApi
