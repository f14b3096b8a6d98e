#include "net/webapi/directoryqueue.h"
#include "net/webapi/makeresponse.h"
#include "net/webapi/parsinghttp.h"
#include "net/webapi/parsingquery.h"
#include "net/webapi/parsinguri.h"
#include "net/webapi/securityheaders.h"

#include <gtest/gtest.h>

using namespace Tavrix::Net::WebApi;

namespace {

struct UriCase
{
    const char* target;
    const char* path;
    const char* subPath;
    const char* extension;
    const char* queryAndRemainder;
};

} // namespace

TEST(ParsingUri, SplitsTargetIntoPathSubPathExtensionAndRest)
{
    const UriCase cases[] = {
        {"/a/b.c/d", "a/b.c/d", "b.c/d", "c/d", ""},
        {"/", "", "", "", ""},
        {"/index.html", "index.html", "", "html", ""},
        {"/cmd?x=1#frag", "cmd", "", "", "x=1frag"},
        {"/x;p=1&q", "x", "", "", "p=1&q"},
        {"http://host/x/y.js?q=/a?b", "/host/x/y.js", "host/x/y.js", "js", "q=/a?b"},
        {"?only=query", "", "", "", "only=query"},
        {"", "", "", "", ""},
    };
    for (const UriCase& c : cases) {
        ParsingURI uri;
        uri.exe(c.target);
        EXPECT_EQ(uri.m_target, QString(c.target));
        EXPECT_EQ(uri.m_path, QString(c.path)) << c.target;
        EXPECT_EQ(uri.m_subPath, QString(c.subPath)) << c.target;
        EXPECT_EQ(uri.m_extension, QString(c.extension)) << c.target;
        EXPECT_EQ(uri.m_queryAndRemainder, QString(c.queryAndRemainder)) << c.target;
    }
}

TEST(ParsingUri, QueryArgumentsNeedExactlyOneEqualsSign)
{
    ParsingURI uri;
    uri.exe("/page?x=1&y=&z&a=b=c&&x=2");
    EXPECT_EQ(uri.m_args.size(), 2);
    EXPECT_EQ(uri.m_args.value("x"), "2"); // a later piece replaces the earlier value
    EXPECT_TRUE(uri.m_args.contains("y"));
    EXPECT_EQ(uri.m_args.value("y"), "");
    EXPECT_EQ(uri.m_variantArgs.value("x"), QVariant(QString("2")));
    EXPECT_FALSE(uri.m_args.contains("z"));
    EXPECT_FALSE(uri.m_args.contains("a"));
}

TEST(ParsingUri, SegmentsAndRemainderPiecesKeepEmptyParts)
{
    ParsingURI uri;
    uri.exe("/a//b;p=1&q");
    EXPECT_EQ(uri.m_segments, QStringList({"a", "", "b"}));
    EXPECT_EQ(uri.m_remainderPieces, QStringList({"p=1", "q"}));

    uri.exe("/plain");
    EXPECT_EQ(uri.m_remainderPieces, QStringList({""}));
    EXPECT_TRUE(uri.m_args.isEmpty()) << "a new target clears the old arguments";
}

TEST(ParsingHttp, DisassembleKeepsHeaderOrderTrimsValuesAndDropsNamelessLines)
{
    ParsingHttp http;
    http.m_raw = "POST /cmd HTTP/1.1\r\nHost:  a b  \r\nno colon here\r\n: nameless\r\nX-Dup: 1\nX-Dup: 2\r\n\r\n"
                 "body\r\n\r\nmore";
    http.disassemble();
    EXPECT_EQ(http.m_startLine, "POST /cmd HTTP/1.1");
    ASSERT_EQ(http.m_headers.size(), 3);
    EXPECT_EQ(http.m_headers[0].m_name, "Host");
    EXPECT_EQ(http.m_headers[0].m_value, "a b");
    EXPECT_EQ(http.m_headers[1].m_value, "1");
    EXPECT_EQ(http.m_headers[2].m_value, "2");
    EXPECT_EQ(http.m_body, QByteArray("body\r\n\r\nmore"));
}

TEST(ParsingHttp, DataEndingInsideTheHeadersGivesNoBody)
{
    ParsingHttp http;
    http.m_raw = "GET / HTTP/1.1\r\nHost: x";
    http.disassemble();
    ASSERT_EQ(http.m_headers.size(), 1);
    EXPECT_EQ(http.m_headers[0].m_value, "x");
    EXPECT_TRUE(http.m_body.isEmpty());
}

TEST(ParsingHttp, AssembleAppendsToWhatIsThere)
{
    ParsingHttp http;
    http.m_raw = "prefix|";
    http.m_startLine = "HTTP/1.1 200 OK";
    http.m_headers.append(HttpHeader{"A", "1"});
    http.m_body = "xyz";
    http.assemble();
    EXPECT_EQ(http.m_raw, QByteArray("prefix|HTTP/1.1 200 OK\r\nA: 1\r\n\r\nxyz"));
}

TEST(ParsingQuery, AcceptsOnlyThreePieceHttp11RequestLines)
{
    struct Case
    {
        const char* request;
        const char* method;
        const char* path;
    };
    const Case cases[] = {
        {"GET /a HTTP/1.1\r\n\r\n", "GET", "a"},
        {"POST /cmd HTTP/1.1 extra\r\n\r\n", "POST", "cmd"},
        {"GET /a HTTP/1.0\r\n\r\n", "", ""},
        {"GET /a\r\n\r\n", "", ""},
        {"GET  /a HTTP/1.1\r\n\r\n", "", ""},
        {"get /a http/1.1\r\n\r\n", "", ""},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        ParsingQuery query;
        query(QByteArray("PUT /old HTTP/1.1\r\n\r\n"));
        query(QByteArray(c.request));
        EXPECT_EQ(query.m_method, QString(c.method)) << c.request;
        EXPECT_EQ(query.m_uri.m_path, QString(c.path)) << c.request;
    }
}

TEST(MakeResponse, BuildsExactResponses)
{
    const QByteArray cors = "Access-Control-Allow-Origin: *\r\nAccess-Control-Allow-Headers: Content-Type\r\n" + SecurityHeaders::lines();
    MakeResponse response;
    response.ret200();
    EXPECT_EQ(response.m_raw, "HTTP/1.1 200 OK\r\n" + cors + "\r\n");
    response.ret200("json", QByteArray("{}"));
    EXPECT_EQ(response.m_raw, "HTTP/1.1 200 OK\r\n" + cors + "Content-Type: application/json\r\n\r\n{}");
    response.ret200Options();
    EXPECT_EQ(response.m_raw, "HTTP/1.1 200 OK\r\n" + cors
                                  + "Access-Control-Allow-Methods: POST, GET, OPTIONS\r\n"
                                    "Access-Control-Max-Age: 86400\r\n\r\n");
    response.retSse();
    EXPECT_EQ(response.m_raw,
              "HTTP/1.1 200 OK\r\nCache-Control: no-cache\r\nContent-Type: text/event-stream\r\n" + cors + "\r\n");
    response.ret404("/app/web/x.html");
    EXPECT_EQ(response.m_raw, "HTTP/1.1 404 Error; not found : /app/web/x.html\r\n" + cors + "\r\n");
    response.ret500();
    EXPECT_EQ(response.m_raw, "HTTP/1.1 500 Error; Internal Server Error\r\n" + cors + "\r\n");
    response.ret501();
    EXPECT_EQ(response.m_raw, "HTTP/1.1 501 Error; Not Implemented\r\n" + cors + "\r\n");
    response.retError("400 Bad Request");
    EXPECT_EQ(response.m_raw, "HTTP/1.1 400 Bad Request\r\n" + cors + "\r\n");
}

TEST(MakeResponse, ContentTypeTableFallsBackToPlainText)
{
    // The types the UI's own files need (browsers refuse a script or style
    // sheet of another type under nosniff), then the fallback.
    const std::pair<const char*, const char*> cases[] = {
        {"html", "text/html; charset=utf8;"},
        {"js", "text/javascript; charset=utf8;"},
        {"css", "text/css; charset=utf8;"},
        {"json", "application/json"},
        {"png", "text/plain; charset=utf8;"},
        {"HTML", "text/plain; charset=utf8;"},
        {"", "text/plain; charset=utf8;"},
    };
    for (const auto& [extension, type] : cases)
        EXPECT_EQ(MakeResponse::contentType(extension), QString(type)) << extension;
}

TEST(DirectoryQueue, SetLastNameMovesTheNameToTheFrontIgnoringCase)
{
    DirectoryQueue queue;
    queue.append("web");
    queue.append("html");
    queue.append("extra");
    queue.SetLastName("HTML");
    EXPECT_EQ(queue.names(), QStringList({"HTML", "web", "extra"}));
    queue.SetLastName("new");
    EXPECT_EQ(queue.names(), QStringList({"new", "HTML", "web", "extra"}));
}
