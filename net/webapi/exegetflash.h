#pragma once

#include "net/webapi/exeget.h"

namespace Tavrix::Net::WebApi {

// Asks for the flash read-out; takes no query.
class exeGetFlash : public exeGet
{
    Q_OBJECT

public:
    using exeGet::exeGet;

    void exe(ParsingURI& uri, QTcpSocket* socket) override;

signals:
    void signalSetFlash();
};

} // namespace Tavrix::Net::WebApi
