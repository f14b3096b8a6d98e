#pragma once

#include "net/webapi/makeresponse.h"

#include <QObject>

class QTcpSocket;

namespace Tavrix::Net::WebApi {

// What the GET and POST handlers share: the response a handler builds and
// the way it is sent.
class exeHandler : public QObject
{
    Q_OBJECT

public:
    explicit exeHandler(QObject* parent = nullptr);

    MakeResponse* response() const { return m_makeResponse; }

    // Writes the built response and closes the connection once it is sent.
    void sentResponse(QTcpSocket* socket);

protected:
    MakeResponse m_response;
    MakeResponse* m_makeResponse = &m_response;
};

} // namespace Tavrix::Net::WebApi
