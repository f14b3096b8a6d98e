#pragma once

#include "net/webapi/exeget.h"

namespace Tavrix::Net::WebApi {

// Answers one fixed JSON file.
class exeGetConfigFile : public exeGet
{
    Q_OBJECT

public:
    explicit exeGetConfigFile(const QString& filePath, QObject* parent = nullptr);

    void exe(ParsingURI& uri, QTcpSocket* socket) override;

private:
    QString m_filePath;
};

} // namespace Tavrix::Net::WebApi
