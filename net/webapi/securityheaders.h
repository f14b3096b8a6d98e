#pragma once

#include "net/webapi/parsinghttp.h"

#include <QByteArray>
#include <QList>

namespace Tavrix::Net::WebApi {

// Headers every HTTP answer of the service carries, whatever port or path
// it comes from: no page of another site may frame the UI (a framed UI's
// requests would carry the UI's own origin), no script but the UI's own
// files runs in it, no answer is sniffed into another type, and no address
// of the UI (with its query) leaves for another site.
class SecurityHeaders
{
public:
    // The script policy is 'self' only: the pages load every script from a
    // file. Styles may be inline (the log terminal's page keeps its own);
    // the streams are WebSockets on the ports beside the UI's, which 'self'
    // does not cover.
    static constexpr const char* contentSecurityPolicy =
        "default-src 'self'; script-src 'self'; style-src 'self' 'unsafe-inline'; img-src 'self' data:; "
        "connect-src 'self' ws: wss:; object-src 'none'; base-uri 'self'; form-action 'self'; "
        "frame-ancestors 'self'";

    static const QList<HttpHeader>& list();
    // The same as header lines, each ended by CRLF, for answers written raw.
    static const QByteArray& lines();
};

} // namespace Tavrix::Net::WebApi
