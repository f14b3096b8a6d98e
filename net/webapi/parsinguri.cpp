#include "net/webapi/parsinguri.h"

namespace Tavrix::Net::WebApi {

void ParsingURI::exe(const QString& target)
{
    clear();
    m_target = target;

    enum class EPart { Skip, Path, Query, Remainder };
    EPart part = EPart::Skip;
    QString query;
    QString remainder;
    for (const QChar c : target) {
        switch (part) {
        case EPart::Skip:
            if (c == QLatin1Char('/'))
                part = EPart::Path;
            else if (c == QLatin1Char('?'))
                part = EPart::Query;
            else if (c == QLatin1Char('#') || c == QLatin1Char(';'))
                part = EPart::Remainder;
            break;
        case EPart::Path:
            if (c == QLatin1Char('?'))
                part = EPart::Query;
            else if (c == QLatin1Char('#') || c == QLatin1Char(';'))
                part = EPart::Remainder;
            else
                m_path.append(c);
            break;
        case EPart::Query:
            if (c == QLatin1Char('#') || c == QLatin1Char(';'))
                part = EPart::Remainder;
            else
                query.append(c);
            break;
        case EPart::Remainder:
            remainder.append(c);
            break;
        }
    }

    m_segments = m_path.split(QLatin1Char('/'), Qt::KeepEmptyParts);
    m_subPath = m_path.mid(m_segments.first().size() + 1);
    const QStringList dotted = m_path.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (dotted.size() >= 2)
        m_extension = dotted.last();
    Args(query);
    m_remainderPieces = remainder.split(QLatin1Char('&'), Qt::KeepEmptyParts);
    m_queryAndRemainder = query + remainder;
}

void ParsingURI::clear()
{
    m_target.clear();
    m_path.clear();
    m_subPath.clear();
    m_extension.clear();
    m_queryAndRemainder.clear();
    m_segments.clear();
    m_args.clear();
    m_variantArgs.clear();
    m_remainderPieces.clear();
}

void ParsingURI::Args(const QString& query)
{
    m_args.clear();
    m_variantArgs.clear();
    const QStringList pieces = query.split(QLatin1Char('&'), Qt::KeepEmptyParts);
    for (const QString& piece : pieces)
        insertArgs(piece);
}

void ParsingURI::insertArgs(const QString& piece)
{
    const QStringList parts = piece.split(QLatin1Char('='), Qt::KeepEmptyParts);
    if (parts.size() != 2)
        return;
    m_args.insert(parts.at(0), parts.at(1));
    m_variantArgs.insert(parts.at(0), QVariant(parts.at(1)));
}

} // namespace Tavrix::Net::WebApi
