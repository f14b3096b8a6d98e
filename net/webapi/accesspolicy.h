#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

#include <deque>

namespace Tavrix::Net::WebApi {

class ParsingHttp;
class ParsingURI;

// Who may drive the recorder: the checks every HTTP request and WebSocket
// handshake passes before anything runs. A browser always names the page's
// origin, so a request with a foreign Origin is a foreign web page acting
// through a user's browser; requests without Origin (native clients, curl)
// only meet the Host check and the access token.
class AccessPolicy
{
public:
    enum class EVerdict { Allowed, ForbiddenHost, ForbiddenOrigin, Unauthorized };

    // The HTTP port: pages loaded from it may open the WebSocket ports.
    void setServicePort(quint16 port) { m_servicePort = port; }
    quint16 servicePort() const { return m_servicePort; }
    // Origins of web apps served elsewhere; "*" allows every origin.
    void setAllowedOrigins(const QStringList& origins);
    // Host names besides IP literals, localhost and this machine's names;
    // "*" allows every name.
    void setAllowedHosts(const QStringList& hosts);
    // This machine's names; filled from the system unless set.
    void setLocalHostNames(const QStringList& names);
    // An empty token means no token is asked for.
    void setAccessToken(const QByteArray& token) { m_token = token; }
    bool tokenRequired() const { return !m_token.isEmpty(); }

    // `host` is a Host header value ("name", "name:port", "[::1]:port").
    bool hostAllowed(const QString& host) const;
    // `host` is the request's Host header (empty when it has none).
    bool originAllowed(const QString& origin, const QString& host) const;
    // True when the origin is allowed only because it is listed: the
    // answer then names it in Access-Control-Allow-Origin.
    bool originIsListedForeign(const QString& origin, const QString& host) const;
    // Compares in time that depends on the presented token's length only.
    bool tokenMatches(const QByteArray& presented) const;

    // The whole decision for one request. `guarded` is false for the static
    // UI, which only meets the Host check. The token is taken from
    // "Authorization: Bearer …" or, for WebSocket handshakes that browsers
    // cannot give headers, from the query argument "token".
    EVerdict check(const ParsingHttp& request, const ParsingURI& uri, bool guarded, bool tokenFromQuery) const;

    // True the first time a refused origin or host is seen, so that a page
    // retrying in a loop does not flood the log. The last
    // rememberedRefusals names are remembered; a scan of more names forgets
    // the oldest first, so the memory stays bounded and a name just refused
    // is never logged twice in a row.
    bool firstRefusal(const QString& what) const;
    static constexpr int rememberedRefusals = 1000;

    // A header's value by name, ignoring letter case; empty when absent.
    static QString headerValue(const ParsingHttp& request, const QString& name, bool* present = nullptr);
    // "http://Example.org:80/" -> "http://example.org"; empty when it is no origin.
    static QString normalizedOrigin(const QString& origin);
    // The name part of a Host value, lower case, without brackets or port.
    static QString hostName(const QString& host, int* port = nullptr);

    // The socket property that carries an allowed foreign origin to the
    // code that writes the answer.
    static constexpr const char* allowOriginProperty = "dastelAllowOrigin";

private:
    bool isLocalName(const QString& name) const;

    quint16 m_servicePort = 0;
    bool m_anyOrigin = false;
    QSet<QString> m_allowedOrigins;
    bool m_anyHost = false;
    QSet<QString> m_allowedHosts;
    QStringList m_localNames;
    bool m_localNamesSet = false;
    QByteArray m_token;
    mutable QSet<QString> m_refused;
    mutable std::deque<QString> m_refusalOrder; // oldest first
};

} // namespace Tavrix::Net::WebApi
