#pragma once

#include "net/webapi/exeget.h"

#include <QJsonArray>
#include <QString>
#include <functional>

namespace Tavrix::Net::WebApi {

// The signal recordings kept as files in one directory.
//   GET /recordings, /recordings/   the list as JSON: [{name, size, start, duration}]
//   GET /recordings/latest          the newest complete recording
//   GET /recordings/<name>          that recording; 404 for anything else
// Anything with a query is not served (501). Which names are recordings and
// what the list holds is the recorder's business, given as two functions.
class exeGetRecordings : public exeGet
{
    Q_OBJECT

public:
    // `pathOf` gives the full path of a complete recording by name (or
    // "latest"), empty for anything else; `list` gives the list.
    exeGetRecordings(std::function<QString(const QString&)> pathOf, std::function<QJsonArray()> list,
                     QObject* parent = nullptr);
    // The list given as its JSON text: a long list costs no JSON objects.
    exeGetRecordings(std::function<QString(const QString&)> pathOf, std::function<QByteArray()> listJson,
                     QObject* parent = nullptr);

    void exe(ParsingURI& uri, QTcpSocket* socket) override;
    bool servesSubpaths() const override { return true; }

private:
    std::function<QString(const QString&)> m_pathOf;
    std::function<QJsonArray()> m_list;
    std::function<QByteArray()> m_listJson;
};

} // namespace Tavrix::Net::WebApi
