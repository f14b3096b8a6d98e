#pragma once

#include "net/webapi/exehandler.h"
#include "net/webapi/parsinguri.h"

namespace Tavrix::Net::WebApi {

// Base of POST handlers. A handler answers on the socket itself; the base
// answers "501 Error; Not Implemented".
class exePost : public exeHandler
{
    Q_OBJECT

public:
    using exeHandler::exeHandler;

    virtual void exe(ParsingURI& uri, QByteArray& body, QTcpSocket* socket);

    // Writes `data` to the file and builds 200, 404 (cannot open) or 500
    // (written in part); the caller writes it.
    void file_writer(const QString& path, QByteArray& data);
};

// Every POST path that is not a route.
class exePostError : public exePost
{
    Q_OBJECT

public:
    using exePost::exePost;
};

} // namespace Tavrix::Net::WebApi
