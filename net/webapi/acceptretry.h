#pragma once

class QTcpServer;

namespace Tavrix::Net::WebApi {

// QTcpServer stops accepting for good after an accept error that is not
// temporary (no descriptor left, no memory), and a service whose listener
// stopped never answers again. After such an error `server` logs it and
// accepts again `retryMs` later.
void keepAcceptingAfterErrors(QTcpServer* server, int retryMs = 200);

} // namespace Tavrix::Net::WebApi
