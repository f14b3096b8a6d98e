#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace Tavrix::Net::WebApi {

// The request target of a request line. Nothing is percent-decoded.
class ParsingURI
{
public:
    void exe(const QString& target);
    void clear();
    void Args(const QString& query);
    void insertArgs(const QString& piece);

    QString m_target;
    // After the first '/' up to the first '?', '#' or ';'; the route key.
    QString m_path;
    // The path without its first segment.
    QString m_subPath;
    QString m_extension;
    QString m_queryAndRemainder;
    QStringList m_segments;
    QMap<QString, QString> m_args;
    QMap<QString, QVariant> m_variantArgs;
    QStringList m_remainderPieces;
};

} // namespace Tavrix::Net::WebApi
