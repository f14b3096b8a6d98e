#include "net/webapi/parsingquery.h"

#include <QStringList>

namespace Tavrix::Net::WebApi {

void ParsingQuery::operator()(const QByteArray& bytes)
{
    m_http.clear();
    m_http.m_raw = bytes;
    m_http.disassemble();

    const QStringList pieces = m_http.m_startLine.split(QLatin1Char(' '), Qt::KeepEmptyParts);
    if (pieces.size() >= 3 && pieces.at(2) == QLatin1String("HTTP/1.1")) {
        m_method = pieces.at(0);
        m_uri.exe(pieces.at(1));
    } else {
        m_method.clear();
        m_uri.clear();
    }
}

} // namespace Tavrix::Net::WebApi
