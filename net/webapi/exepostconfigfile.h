#pragma once

#include "net/webapi/exepost.h"

namespace Tavrix::Net::WebApi {

// Replaces one fixed file with the request body.
class exePostConfigFile : public exePost
{
    Q_OBJECT

public:
    explicit exePostConfigFile(const QString& filePath, QObject* parent = nullptr);

    void exe(ParsingURI& uri, QByteArray& body, QTcpSocket* socket) override;

private:
    QString m_filePath;
};

} // namespace Tavrix::Net::WebApi
