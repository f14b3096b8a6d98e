// The HTTP side: a request as it arrives on a connection, through the
// message parser, the request line and the target (path, query, remainder),
// and the file route's check of the path it is about to open.
//
// Input: the raw request bytes.

#include "fuzzsupport.h"

#include "net/webapi/exegetfilehtml.h"
#include "net/webapi/parsinghttp.h"
#include "net/webapi/parsingquery.h"
#include "net/webapi/parsinguri.h"

#include <QDir>

using namespace Tavrix::Net::WebApi;

namespace {

// A message put together from parsed parts reads back as the same parts:
// the service builds its answers this way and clients read them.
void checkRoundTrip(const ParsingHttp& parsed)
{
    ParsingHttp rebuilt;
    rebuilt.m_startLine = parsed.m_startLine;
    rebuilt.m_headers = parsed.m_headers;
    rebuilt.m_body = parsed.m_body;
    rebuilt.assemble();

    ParsingHttp again;
    again.m_raw = rebuilt.m_raw;
    again.disassemble();
    FUZZ_CHECK(again.m_startLine == parsed.m_startLine);
    FUZZ_CHECK(again.m_headers.size() == parsed.m_headers.size());
    for (int i = 0; i < parsed.m_headers.size(); ++i) {
        FUZZ_CHECK(again.m_headers.at(i).m_name == parsed.m_headers.at(i).m_name);
        FUZZ_CHECK(again.m_headers.at(i).m_value == parsed.m_headers.at(i).m_value);
    }
    FUZZ_CHECK(again.m_body == parsed.m_body);
}

void checkUri(const ParsingURI& uri)
{
    // The route key never keeps the separators that end it.
    FUZZ_CHECK(!uri.m_path.contains(QLatin1Char('?')));
    FUZZ_CHECK(!uri.m_path.contains(QLatin1Char('#')));
    FUZZ_CHECK(!uri.m_path.contains(QLatin1Char(';')));
    FUZZ_CHECK(uri.m_path.endsWith(uri.m_subPath));
    FUZZ_CHECK(!uri.m_segments.isEmpty());
    for (auto it = uri.m_args.cbegin(); it != uri.m_args.cend(); ++it)
        FUZZ_CHECK(!it.key().contains(QLatin1Char('&')) && !it.value().contains(QLatin1Char('=')));

    // A path the file route accepts stays inside the directory it serves.
    if (!exeGetFileHtml::climbsOut(uri.m_path)) {
        const QString root = QStringLiteral("/srv/dastel/web");
        const QString resolved = QDir::cleanPath(root + "/" + uri.m_path);
        FUZZ_CHECK(resolved == root || resolved.startsWith(root + "/"));
    }
}

} // namespace

FUZZ_QUIET_INITIALIZE()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));

    ParsingQuery query;
    query(bytes);
    checkRoundTrip(query.m_http);
    if (!query.m_method.isEmpty())
        checkUri(query.m_uri);
    query.m_http.header(QStringLiteral("Content-Length"));

    // The target parser on any text, not only what survives a request line.
    ParsingURI uri;
    uri.exe(QString::fromUtf8(bytes));
    checkUri(uri);
    return 0;
}
