// Findings of the fuzz targets (fuzz/) on the "cmd" route.

#include "devicewebapi/devicewebapijsoncommand.h"
#include "net/webapi/parsinguri.h"

#include <gtest/gtest.h>

using Tavrix::DeviceWebApi::DeviceWebApiJsonCommand;
using Tavrix::Net::WebApi::ParsingURI;

namespace {

// The route with no recorder and no socket: the answer stays in its response.
QByteArray post(const QByteArray& body)
{
    DeviceWebApiJsonCommand route(nullptr, nullptr);
    ParsingURI uri;
    uri.exe(QStringLiteral("/cmd"));
    QByteArray bytes = body;
    route.exe(uri, bytes, nullptr);
    return route.response()->m_raw;
}

} // namespace

// A body repeating a member whose first value is an object or an array made
// Qt's parser leak that value on every request (found by fuzz_jsoncommand,
// fuzz/regressions/jsoncommand/): a client could grow the service's memory
// at will. Such bodies are refused unparsed; other bodies are unaffected.
TEST(CmdRouteFuzzRegressions, BodiesRepeatingAMemberAreBadRequests)
{
    for (const char* body : {R"({"cmd":[{}],"cmd":""})", R"({"cmd":"GetTime","data":{"a":[1,2,3]},"data":1})",
                             R"({"cmd":"GetTime","uid":1,"uid":2})", R"({"cmd":"x","\u0063md":"y"})"}) {
        const QByteArray answer = post(body);
        EXPECT_TRUE(answer.startsWith("HTTP/1.1 400 Bad Request")) << body << "\n" << answer.constData();
        EXPECT_FALSE(answer.contains("errorcode")) << body;
    }
    for (const char* body : {R"({"cmd":"GetTime","uid":3,"data":{"cmd":1,"uid":[{"uid":2}]}})",
                             R"({"cmd":"GetTime","uid":3,"data":[{"a":1},{"a":2}]})"}) {
        const QByteArray answer = post(body);
        EXPECT_TRUE(answer.startsWith("HTTP/1.1 200 OK")) << body << "\n" << answer.constData();
        EXPECT_TRUE(answer.endsWith(R"({"cmd":"GetTime","errorcode":"DEVICE_DISCONNECTED","status":"error","uid":3})"))
            << answer.constData();
    }
}
