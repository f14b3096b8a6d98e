#pragma once

#include "net/webapi/makeresponse.h"
#include "net/webapi/parsinguri.h"

#include <QObject>

class QTcpSocket;

namespace Tavrix::Net::WebApi {

// Base of POST handlers. A handler answers on the socket itself; the base
// answers "501 Error; Not Implemented".
class exePost : public QObject
{
    Q_OBJECT

public:
    explicit exePost(QObject* parent = nullptr);

    virtual void exe(ParsingURI& uri, QByteArray& body, QTcpSocket* socket);

    MakeResponse* response() const { return m_makeResponse; }

    // Writes `data` to the file and builds 200, 404 (cannot open) or 500
    // (written in part); the caller writes it.
    void file_writer(const QString& path, QByteArray& data);

    // Writes the built response and closes the connection once it is sent.
    void sentResponse(QTcpSocket* socket);

protected:
    MakeResponse m_response;
    MakeResponse* m_makeResponse = &m_response;
};

// Every POST path that is not a route.
class exePostError : public exePost
{
    Q_OBJECT

public:
    using exePost::exePost;
};

} // namespace Tavrix::Net::WebApi
