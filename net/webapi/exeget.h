#pragma once

#include "net/webapi/exehandler.h"
#include "net/webapi/parsinguri.h"

namespace Tavrix::Net::WebApi {

// Base of GET handlers. A handler answers on the socket itself; the base
// answers "501 Error; Not Implemented".
class exeGet : public exeHandler
{
    Q_OBJECT

public:
    using exeHandler::exeHandler;

    virtual void exe(ParsingURI& uri, QTcpSocket* socket);
    // True for a route that also answers every path below its key.
    virtual bool servesSubpaths() const { return false; }
    // False for the pages of the UI, which every browser may load; routes
    // that act or hand out data meet the origin check and the access token.
    virtual bool guarded() const { return true; }

    // Builds the whole answer into response() without a connection, for a
    // server that writes it and closes the connection itself; false (and
    // nothing done) when this handler needs the socket to answer.
    virtual bool buildAnswer(ParsingURI& uri);

    // Builds the 200 answer with the file's contents, or the 404 answer with
    // the full path; the caller writes it.
    void file_reader(const QString& path, const QString& extension);

    // Answers 200 with the regular file at `path` (never through a symbolic
    // link) as its body, read from disk a piece at a time as the client
    // takes it, so that no download is ever held whole in memory; then
    // closes the connection. False, with nothing written, when the file
    // cannot be opened.
    bool sendFile(QTcpSocket* socket, const QString& path, const QString& extension);
};

// Requests that cannot be served at all.
class exeGetError : public exeGet
{
    Q_OBJECT

public:
    using exeGet::exeGet;

    bool guarded() const override { return false; }
};

// Writes the bytes of `response` and asks the socket to close once they are
// sent. A socket that is already gone gets nothing. A request from an
// allowed foreign origin gets that origin named in the CORS headers.
void writeAndClose(QTcpSocket* socket, const MakeResponse& response);
// The same without closing, for a response whose body follows (a file sent
// piece by piece); false when the socket is gone.
bool write(QTcpSocket* socket, const MakeResponse& response);

} // namespace Tavrix::Net::WebApi
