#pragma once

#include "net/webapi/parsinghttp.h"
#include "net/webapi/parsinguri.h"

namespace Tavrix::Net::WebApi {

// A received request: message, method and target.
class ParsingQuery
{
public:
    // Parses one request from `bytes`. Only HTTP/1.1 request lines are
    // accepted; otherwise the method and the target stay empty.
    void operator()(const QByteArray& bytes);

    ParsingHttp m_http;
    QString m_method;
    ParsingURI m_uri;
};

} // namespace Tavrix::Net::WebApi
