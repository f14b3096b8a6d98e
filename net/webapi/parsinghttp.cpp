#include "net/webapi/parsinghttp.h"

namespace Tavrix::Net::WebApi {

namespace {

// Reads one line starting at `pos`; a line ends at LF or CR LF, the end of the
// data ends the last line. Returns false when no bytes are left.
bool readLine(const QByteArray& data, int& pos, QByteArray& line)
{
    if (pos >= data.size())
        return false;
    int end = data.indexOf('\n', pos);
    int next;
    if (end < 0) {
        end = data.size();
        next = end;
    } else {
        next = end + 1;
    }
    int lineEnd = end;
    if (lineEnd > pos && end < data.size() && data.at(lineEnd - 1) == '\r')
        --lineEnd;
    line = data.mid(pos, lineEnd - pos);
    pos = next;
    return true;
}

} // namespace

void ParsingHttp::disassemble()
{
    m_startLine.clear();
    m_headers.clear();
    m_body.clear();

    int pos = 0;
    QByteArray line;
    if (!readLine(m_raw, pos, line))
        return;
    m_startLine = QString::fromLocal8Bit(line);

    while (readLine(m_raw, pos, line)) {
        if (line.isEmpty()) {
            m_body = m_raw.mid(pos);
            return;
        }
        const QString text = QString::fromLocal8Bit(line);
        const int colon = text.indexOf(QLatin1Char(':'));
        if (colon <= 0)
            continue; // no name: not a header
        m_headers.append(HttpHeader{text.left(colon), text.mid(colon + 1).trimmed()});
    }
}

void ParsingHttp::assemble()
{
    m_raw.append(m_startLine.toLocal8Bit()).append("\r\n");
    for (const HttpHeader& header : qAsConst(m_headers))
        m_raw.append(header.m_name.toLocal8Bit()).append(": ").append(header.m_value.toLocal8Bit()).append("\r\n");
    m_raw.append("\r\n");
    m_raw.append(m_body);
}

void ParsingHttp::clear()
{
    m_startLine.clear();
    m_headers.clear();
    m_body.clear();
    m_raw.clear();
}

const HttpHeader* ParsingHttp::header(const QString& name) const
{
    for (const HttpHeader& header : m_headers) {
        if (header.m_name.compare(name, Qt::CaseInsensitive) == 0)
            return &header;
    }
    return nullptr;
}

QList<QString> ParsingHttp::values(const QString& name) const
{
    QList<QString> found;
    for (const HttpHeader& header : m_headers) {
        if (header.m_name.compare(name, Qt::CaseInsensitive) == 0)
            found.append(header.m_value);
    }
    return found;
}

} // namespace Tavrix::Net::WebApi
