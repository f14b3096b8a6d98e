#pragma once

#include "net/webapi/exeget.h"

#include <QJsonArray>
#include <QString>

namespace Tavrix::Net::WebApi {

// The memory read-outs kept as files in one directory.
//   GET /flash            asks for a new read-out (signalSetFlash), 200
//   GET /flash/           the complete read-outs as JSON, newest first:
//                         [{name, size, start, duration}] (duration null)
//   GET /flash/latest     the newest complete read-out file
//   GET /flash/<name>     that read-out file ("readout-*.bin"), 404 otherwise
// Anything with a query is not served (501).
class exeGetFlash : public exeGet
{
    Q_OBJECT

public:
    explicit exeGetFlash(QObject* parent = nullptr);
    exeGetFlash(QString directory, QObject* parent = nullptr);

    void exe(ParsingURI& uri, QTcpSocket* socket) override;
    bool servesSubpaths() const override { return true; }

    const QString& directory() const { return m_directory; }
    QJsonArray list() const;

signals:
    void signalSetFlash();

private:
    // Full path of a complete read-out; empty for an unknown or unsafe name.
    QString readoutPath(const QString& name) const;

    QString m_directory;
};

} // namespace Tavrix::Net::WebApi
